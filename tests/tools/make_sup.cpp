// zv_make_sup: writes a presentation-graphics stream file (".sup" framing)
// from indexed PNG pictures, one display set showing each picture from its
// start time and one clearing it at its end time. Used by the fixture
// script; the pictures come from an independent tool.
//
//   zv_make_sup OUT.sup WIDTH HEIGHT FRAMERATECODE PNG:START_MS:END_MS:X:Y...
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/object_coding.h"
#include "graphics/segments.h"
#include "platform/file.h"
#include "platform/image.h"

using namespace zv;

namespace {

// Decoding starts this long (90 kHz) before a display set is shown.
constexpr uint32_t kDecodeLead = 9000;

struct Event {
  std::string png;
  uint32_t start = 0, end = 0;  // ms
  uint16_t x = 0, y = 0;
};

bool ParseEvent(const std::string& arg, Event& e) {
  std::vector<std::string> f;
  size_t at = 0;
  for (size_t c; (c = arg.find(':', at)) != std::string::npos; at = c + 1) f.push_back(arg.substr(at, c - at));
  f.push_back(arg.substr(at));
  if (f.size() != 5) return false;
  e.png = f[0];
  e.start = static_cast<uint32_t>(std::stoul(f[1]));
  e.end = static_cast<uint32_t>(std::stoul(f[2]));
  e.x = static_cast<uint16_t>(std::stoul(f[3]));
  e.y = static_cast<uint16_t>(std::stoul(f[4]));
  return e.end > e.start && e.start * 90 >= kDecodeLead;
}

void Time(CSegmentBase& s, uint32_t pts, uint32_t dts) {
  s.m_nPts = pts;
  s.m_nDts = dts;
}

int Fail(const std::string& m) {
  std::fprintf(stderr, "zv_make_sup: %s\n", m.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return Fail("usage: zv_make_sup OUT.sup WIDTH HEIGHT FRAMERATECODE PNG:START_MS:END_MS:X:Y...");
  const SVideoDescriptor video{static_cast<uint16_t>(std::atoi(argv[2])), static_cast<uint16_t>(std::atoi(argv[3])),
                               static_cast<uint8_t>(std::atoi(argv[4])), 0};
  File out;
  if (!out.Open(argv[1], File::kCreate)) return Fail(out.Error());
  uint16_t number = 0;
  for (int i = 5; i < argc; ++i) {
    Event e;
    if (!ParseEvent(argv[i], e)) return Fail(std::string("bad event ") + argv[i]);
    CPicture pic;
    std::string error;
    if (!DecodeImageFile(e.png, pic, error)) return Fail(error);
    auto indexed = ToIndexedImage(pic);
    if (!indexed) return Fail(e.png + ": cannot be indexed");
    CErgbPalette palette;
    // The top-left colour is the background: fully transparent.
    if (PaletteFromImage(palette, 0.0, *indexed) <= 0) return Fail(e.png + ": no palette");
    const SWindow window{0, e.x, e.y, static_cast<uint16_t>(indexed->width), static_cast<uint16_t>(indexed->height)};

    const uint32_t show = e.start * 90, clear = e.end * 90;
    CDsData ds;
    ds.m_pcs = std::make_unique<CPcs>();
    ds.m_pcs->m_composition.video = video;
    ds.m_pcs->m_composition.number = number++;
    ds.m_pcs->m_composition.state = 2;  // Epoch Start
    SCompositionObject o;
    o.x = e.x;
    o.y = e.y;
    ds.m_pcs->m_objects.push_back(o);
    Time(*ds.m_pcs, show, show - kDecodeLead);
    ds.m_wds = std::make_unique<CWds>();
    ds.m_wds->m_windows.push_back(window);
    Time(*ds.m_wds, show, show - kDecodeLead);
    auto pds = std::make_unique<CPds>();
    PaletteToPds(*pds, palette, ColorMatrixForHeight(video.height));
    Time(*pds, show - kDecodeLead, 0);
    ds.m_pds.push_back(std::move(pds));
    const std::vector<uint8_t> data = EncodeObject(*indexed);
    FragmentObject(data.data(), data.size(), 0, ds.m_ods);
    for (auto& ods : ds.m_ods) Time(*ods, show - kDecodeLead / 2, show - kDecodeLead);
    ds.m_end = std::make_unique<CEs>();
    Time(*ds.m_end, show - kDecodeLead / 2, 0);
    if (!WriteDisplaySet(out, ds, true, nullptr, error)) return Fail(error);

    // The clearing set: the same window, no objects.
    CDsData off;
    off.m_pcs = std::make_unique<CPcs>();
    off.m_pcs->m_composition.video = video;
    off.m_pcs->m_composition.number = number++;
    off.m_pcs->m_composition.state = 0;  // Normal
    Time(*off.m_pcs, clear, clear - kDecodeLead);
    off.m_wds = std::make_unique<CWds>();
    off.m_wds->m_windows.push_back(window);
    Time(*off.m_wds, clear, clear - kDecodeLead);
    off.m_end = std::make_unique<CEs>();
    Time(*off.m_end, clear - kDecodeLead / 2, 0);
    if (!WriteDisplaySet(out, off, true, nullptr, error)) return Fail(error);
  }
  if (!out.Close()) return Fail(out.Error());
  return 0;
}
