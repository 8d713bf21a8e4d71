// Reading the test client's play log and the interactive-graphics planes
// it writes (Y, Cr, Cb, T per pixel), and comparing a plane with the RGBA
// picture a player should show.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/image.h"
#include "support/test_support.h"

namespace zvtest {

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Runs `disc` in the test client from first play with `args` (its keys and
// options) until the player repeats itself, and returns its lines; the IG
// planes go to `overlays` when one is named.
inline std::vector<std::string> PlayDisc(const std::string& disc, const std::vector<std::string>& args,
                                         const std::string& overlays = {}) {
  std::vector<std::string> all = {ZV_BDCLIENT, "play", "--max-reads", "20000", "--stop-on-repeat"};
  all.insert(all.end(), args.begin(), args.end());
  if (!overlays.empty()) {
    std::filesystem::create_directories(overlays);
    all.insert(all.end(), {"--overlay-dir", overlays});
  }
  all.push_back(disc);
  const RunResult r = Run(all);
  EXPECT_EQ(r.status, 0) << r.err << r.out;
  return Lines(r.out);
}

inline bool StartsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

// Index of the first line at or after `from` equal to `line`; -1 if none.
inline long Find(const std::vector<std::string>& lines, const std::string& line, long from = 0) {
  for (size_t i = static_cast<size_t>(std::max(from, 0L)); i < lines.size(); ++i)
    if (lines[i] == line) return static_cast<long>(i);
  return -1;
}

// The plane shown once the player has reacted to what happened at line
// `from`: the file of the last IG flush before the next key press; empty
// when nothing was drawn.
inline std::string Shown(const std::vector<std::string>& lines, long from) {
  std::string file;
  for (size_t i = static_cast<size_t>(from) + 1; i < lines.size() && !StartsWith(lines[i], "press "); ++i)
    if (StartsWith(lines[i], "overlay ig flush 1920 1080 ")) file = lines[i].substr(lines[i].rfind(' ') + 1);
  return file;
}

inline std::vector<uint8_t> ReadPlane(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A picture file as RGBA bytes; empty with `error` set when it cannot be
// read.
inline std::vector<uint8_t> RgbaOf(const std::string& path, std::string& error) {
  zv::CPicture pic;
  if (!zv::DecodeImageFile(path, pic, error)) return {};
  std::vector<uint8_t> out(static_cast<size_t>(pic.width) * static_cast<size_t>(pic.height) * 4u);
  for (int y = 0; y < pic.height; ++y)
    for (int x = 0; x < pic.width; ++x) {
      const zv::SColor c = pic.At(x, y);
      uint8_t* p = &out[(static_cast<size_t>(y) * static_cast<size_t>(pic.width) + static_cast<size_t>(x)) * 4];
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
    }
  return out;
}

// The colour of one plane pixel (Y, Cr, Cb; studio range, BT.709 as for
// every HD plane), unclamped.
inline void PlaneRgb(const uint8_t* p, double rgb[3]) {
  const double l = 1.164 * (p[0] - 16), cr = p[1] - 128, cb = p[2] - 128;
  rgb[0] = l + 1.793 * cr;
  rgb[1] = l - 0.533 * cr - 0.213 * cb;
  rgb[2] = l + 2.112 * cb;
}

// How far a composed plane (Y, Cr, Cb, T per pixel, studio-range BT.709)
// is from the expected RGBA plane. Edge pixels that are partly transparent
// in the pictures may go either way in a palette without such shades.
struct Distance {
  size_t transparency = 0;  // pixels transparent in one and opaque in the other
  double mean = 0;          // mean colour difference where both are opaque
};

inline Distance Compare(const std::vector<uint8_t>& drawn, const std::vector<uint8_t>& want) {
  Distance d;
  if (drawn.size() != want.size()) return {want.size() / 4, 255};
  double sum = 0;
  size_t n = 0;
  for (size_t i = 0; i < want.size(); i += 4) {
    const uint8_t* p = &drawn[i];
    const uint8_t* w = &want[i];
    if (w[3] > 5 && w[3] < 250) continue;
    const bool opaque = w[3] >= 250;
    if (opaque != (p[3] >= 250)) {
      ++d.transparency;
      continue;
    }
    if (!opaque) continue;
    double rgb[3];
    PlaneRgb(p, rgb);
    int worst = 0;
    for (int k = 0; k < 3; ++k)
      worst = std::max(worst, static_cast<int>(std::lround(std::abs(std::clamp(rgb[k], 0.0, 255.0) - w[k]))));
    sum += worst;
    ++n;
  }
  d.mean = n ? sum / static_cast<double>(n) : 255;
  return d;
}

// The palette tolerance of the menu tests: a few pixels of rounded corners
// may fall either way, colours stay within a few steps on average.
inline bool WithinPaletteTolerance(const Distance& d) { return d.transparency <= 200 && d.mean <= 4.0; }

}  // namespace zvtest
