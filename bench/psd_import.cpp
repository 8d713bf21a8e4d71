// Menu import from a layered design: a 1920x1080 document with a
// full-screen background and one page of 20 buttons in three states
// (360x120 pictures with soft edges and noisy gradients, well over 255
// colours per page), read from a file and built into a menu model, against
// a target of 2 s.
// Usage: bench_psd_import [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "graphics/psd_file.h"
#include "graphics/psd_import.h"
#include "platform/file.h"

namespace {

struct Out {
  std::vector<uint8_t> b;
  void U8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) { U8(v >> 8), U8(v); }
  void U32(uint32_t v) { U16(v >> 16), U16(v); }
  void Str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
  void Bytes(const std::vector<uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); }
};

// PackBits: runs of 3 or more equal bytes, literals otherwise.
std::vector<uint8_t> PackRow(const uint8_t* p, size_t n) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(p[i]);
      i += run;
      continue;
    }
    size_t lit = 0;
    while (i + lit < n && lit < 128 && !(i + lit + 2 < n && p[i + lit] == p[i + lit + 1] && p[i + lit] == p[i + lit + 2]))
      ++lit;
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), p + i, p + i + lit);
    i += lit;
  }
  return out;
}

struct Layer {
  std::string name;
  int32_t section = 0;
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  std::vector<std::vector<uint8_t>> planes;  // alpha, red, green, blue
};

std::vector<uint8_t> Channel(const Layer& l, size_t plane) {
  const int w = l.right - l.left, h = l.bottom - l.top;
  Out o;
  o.U16(1);
  if (w <= 0 || h <= 0) return o.b;
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < h; ++y) rows.push_back(PackRow(l.planes[plane].data() + static_cast<size_t>(y) * w, w));
  for (const auto& r : rows) o.U16(static_cast<uint32_t>(r.size()));
  for (const auto& r : rows) o.Bytes(r);
  return o.b;
}

Layer Picture(const std::string& name, int x, int y, int w, int h, uint32_t seed, int hue) {
  Layer l{name, 0, x, y, x + w, y + h, std::vector<std::vector<uint8_t>>(4, std::vector<uint8_t>(static_cast<size_t>(w) * h))};
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const size_t k = static_cast<size_t>(j) * w + i;
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 29) - 4;
      // A rounded button: transparent corners, a soft edge.
      const int dx = std::max({0, 20 - i, i - (w - 21)}), dy = std::max({0, 20 - j, j - (h - 21)});
      const int d = dx * dx + dy * dy;
      l.planes[0][k] = d >= 400 ? 0 : d >= 300 ? static_cast<uint8_t>((400 - d) * 255 / 100) : 255;
      l.planes[1][k] = static_cast<uint8_t>(std::clamp(hue + i * 120 / w + noise, 0, 255));
      l.planes[2][k] = static_cast<uint8_t>(std::clamp(255 - hue + j * 100 / h + noise, 0, 255));
      l.planes[3][k] = static_cast<uint8_t>(std::clamp((i + j) * 200 / (w + h) + noise, 0, 255));
    }
  return l;
}

Layer Group(const std::string& name, int32_t section) { return Layer{name, section, 0, 0, 0, 0, {}}; }

std::vector<uint8_t> Design() {
  std::vector<Layer> top;  // top of the layer panel first
  top.push_back(Group("IG:Menu", 1));
  top.push_back(Group("DS:Main", 1));
  top.push_back(Group("P:Home", 1));
  for (int b = 0; b < 20; ++b) {
    const int x = 60 + (b % 4) * 460, y = 60 + (b / 4) * 200;
    top.push_back(Group("BOG:G" + std::to_string(b), 1));
    top.push_back(Group("B:Button " + std::to_string(b), 1));
    top.push_back(Picture("N:1", x, y, 360, 120, 1000u + b, 40));
    top.push_back(Picture("S:1", x, y, 360, 120, 2000u + b, 200));
    top.push_back(Picture("A:1", x + 4, y + 4, 352, 112, 3000u + b, 120));
    top.push_back(Group("</Layer group>", 3));
    top.push_back(Group("</Layer group>", 3));
  }
  for (int i = 0; i < 3; ++i) top.push_back(Group("</Layer group>", 3));
  top.push_back(Picture("Background", 0, 0, 1920, 1080, 7u, 90));

  Out info;
  info.U16(static_cast<uint32_t>(top.size()));
  std::vector<std::vector<std::vector<uint8_t>>> data;
  for (auto it = top.rbegin(); it != top.rend(); ++it) {
    const Layer& l = *it;
    std::vector<std::vector<uint8_t>> chans;
    for (size_t c = 0; c < 4; ++c) chans.push_back(l.planes.empty() ? std::vector<uint8_t>{0, 0} : Channel(l, c));
    info.U32(static_cast<uint32_t>(l.top)), info.U32(static_cast<uint32_t>(l.left));
    info.U32(static_cast<uint32_t>(l.bottom)), info.U32(static_cast<uint32_t>(l.right));
    info.U16(4);
    const int16_t ids[4] = {-1, 0, 1, 2};
    for (size_t c = 0; c < 4; ++c) info.U16(static_cast<uint16_t>(ids[c])), info.U32(static_cast<uint32_t>(chans[c].size()));
    info.Str("8BIMnorm"), info.U8(255), info.U8(0), info.U8(0), info.U8(0);
    Out extra;
    extra.U32(0), extra.U32(0);
    const size_t padded = (l.name.size() + 1 + 3) / 4 * 4;
    extra.U8(static_cast<uint32_t>(l.name.size())), extra.Str(l.name);
    for (size_t p = l.name.size() + 1; p < padded; ++p) extra.U8(0);
    if (l.section) extra.Str("8BIMlsct"), extra.U32(4), extra.U32(static_cast<uint32_t>(l.section));
    info.U32(static_cast<uint32_t>(extra.b.size()));
    info.Bytes(extra.b);
    data.push_back(std::move(chans));
  }
  for (const auto& chans : data)
    for (const auto& c : chans) info.Bytes(c);

  Out f;
  f.Str("8BPS"), f.U16(1), f.U32(0), f.U16(0), f.U16(3), f.U32(1080), f.U32(1920), f.U16(8), f.U16(3);
  f.U32(0), f.U32(0);
  f.U32(static_cast<uint32_t>(info.b.size() + 4)), f.U32(static_cast<uint32_t>(info.b.size()));
  f.Bytes(info.b);
  f.U16(0);  // a merged picture is not read by the import
  return f.b;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  if (runs < 1) runs = 1;
  const std::string path = "/tmp/zelvane-bench-design-" + std::to_string(::getpid()) + ".psd";
  const std::vector<uint8_t> bytes = Design();
  std::string error;
  if (!zv::WriteWholeFile(path, bytes.data(), bytes.size(), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  std::vector<double> times;
  size_t graphics = 0, colours = 0;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    zv::CPsdFile psd;
    std::string fileError, detail;
    if (zv::ParsePsdFile(path, psd, fileError, &detail) != zv::kOk) {
      std::fprintf(stderr, "parse failed: %s%s\n", fileError.c_str(), detail.c_str());
      std::remove(path.c_str());
      return 2;
    }
    zv::CIgObject ig;
    const int rc = zv::BuildMenuFromPsd(ig, psd);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    if (rc != zv::kPsdImportOk) {
      std::fprintf(stderr, "import failed: %s\n", zv::PsdImportMessage(rc));
      std::remove(path.c_str());
      return 2;
    }
    graphics = ig.GetAt(0)->m_graphics.GetCount();
    colours = ig.GetAt(0)->m_palettes.GetAt(0)->GetCount();
  }
  std::remove(path.c_str());
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2], target = 2000.0;
  std::printf("psd import: 1920x1080 design, %zu KB, 20 buttons, %zu graphics, %zu colours; median %.0f ms (best %.0f), "
              "target %.0f ms: %s\n",
              bytes.size() / 1024, graphics, colours, median, times.front(), target, median < target ? "ok" : "TOO SLOW");
  return median < target ? 0 : 1;
}
