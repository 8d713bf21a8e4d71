#include "transcode/video_format.h"

#include <algorithm>
#include <cmath>

namespace zv {

namespace {

struct SRate {
  const char* text;
  uint32_t num, den;
};
constexpr SRate kRates[] = {{"23.976", 24000, 1001}, {"24", 24, 1}, {"25", 25, 1},
                            {"29.97", 30000, 1001}, {"50", 50, 1}, {"59.94", 60000, 1001}};

struct SNamed {
  const char* name;
  uint32_t width, height;
  const char* rate;
  ScanMode scan;
  bool wide;
};
// Every size, scan and rate the disc takes, as the analysis checks them
// (1080 progressive at 25 and 29.97 is coded as interlaced with
// progressive pictures).
constexpr SNamed kTargets[] = {
    {"1080p23.976", 1920, 1080, "23.976", ScanMode::kProgressive, true},
    {"1080p24", 1920, 1080, "24", ScanMode::kProgressive, true},
    {"1080i25", 1920, 1080, "25", ScanMode::kFakeInterlaced, true},
    {"1080i29.97", 1920, 1080, "29.97", ScanMode::kFakeInterlaced, true},
    {"720p23.976", 1280, 720, "23.976", ScanMode::kProgressive, true},
    {"720p24", 1280, 720, "24", ScanMode::kProgressive, true},
    {"720p50", 1280, 720, "50", ScanMode::kProgressive, true},
    {"720p59.94", 1280, 720, "59.94", ScanMode::kProgressive, true},
    {"576i25", 720, 576, "25", ScanMode::kFakeInterlaced, true},
    {"576i25-4:3", 720, 576, "25", ScanMode::kFakeInterlaced, false},
    {"480i29.97", 720, 480, "29.97", ScanMode::kFakeInterlaced, true},
    {"480i29.97-4:3", 720, 480, "29.97", ScanMode::kFakeInterlaced, false},
};

const SRate* RateOf(const char* text) {
  for (const SRate& r : kRates)
    if (std::string(r.text) == text) return &r;
  return nullptr;
}

SVideoTarget Make(const SNamed& n) {
  SVideoTarget t;
  t.name = n.name;
  t.width = n.width;
  t.height = n.height;
  const SRate* r = RateOf(n.rate);
  t.fpsNum = r->num;
  t.fpsDen = r->den;
  t.scan = n.scan;
  t.wide = n.wide;
  if (n.width == 720) {
    // The ratios of the standard's aspect_ratio_idc 2 to 5.
    if (n.height == 576) {
      t.sarIdc = n.wide ? 4 : 2;
      t.sarNum = n.wide ? 16 : 12;
    } else {
      t.sarIdc = n.wide ? 5 : 3;
      t.sarNum = n.wide ? 40 : 10;
    }
    t.sarDen = n.height == 480 && n.wide ? 33 : 11;
  }
  return t;
}

SVideoTarget Named(const std::string& name) {
  SVideoTarget t;
  ParseVideoTarget(name, t);
  return t;
}

double DisplayAspect(const SVideoSourceInfo& s) {
  const double sar = s.sarNum > 0 && s.sarDen > 0 ? static_cast<double>(s.sarNum) / s.sarDen : 1.0;
  return s.height > 0 ? s.width * sar / s.height : 16.0 / 9.0;
}

}  // namespace

const std::vector<std::string>& VideoTargetNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const SNamed& n : kTargets) v.push_back(n.name);
    return v;
  }();
  return names;
}

bool ParseVideoTarget(const std::string& name, SVideoTarget& out) {
  for (const SNamed& n : kTargets)
    if (name == n.name) {
      out = Make(n);
      return true;
    }
  return false;
}

SVideoTarget ChooseVideoTarget(const SVideoSourceInfo& s) {
  // The disc rate nearest the source's (by ratio): 30 and 60 become 29.97
  // and 59.94, 15 becomes 23.976 with repeated frames.
  const SRate* rate = &kRates[3];
  if (s.fps > 0) {
    double best = 1e9;
    for (const SRate& r : kRates) {
      const double d = std::fabs(std::log(s.fps * r.den / r.num));
      if (d < best - 1e-9) {
        best = d;
        rate = &r;
      }
    }
  }
  const std::string fr = rate->text;
  const bool film = fr == "23.976" || fr == "24";
  const bool high = fr == "50" || fr == "59.94";
  if (s.height > 720 || s.width > 1280) {
    if (high) return Named("720p" + fr);
    return Named((film ? "1080p" : "1080i") + fr);
  }
  if (s.height > 576 || s.width > 720) {
    if (film || high) return Named("720p" + fr);
    return Named("1080i" + fr);
  }
  if (high) return Named("720p" + fr);
  if (film) return Named("1080p" + fr);
  // Nearer 4:3 than 16:9 by ratio: the 4:3 flavour.
  const bool wide = DisplayAspect(s) > std::sqrt(4.0 / 3.0 * 16.0 / 9.0);
  return Named((fr == "25" ? "576i25" : "480i29.97") + std::string(wide ? "" : "-4:3"));
}

double RetimeFactor(double sourceFps, const SVideoTarget& t) {
  if (t.fpsDen != 1001 || sourceFps <= 0) return 1.0;
  const double nominal = static_cast<double>(t.fpsNum) / 1000.0;  // 24, 30 or 60
  return std::fabs(sourceFps - nominal) < nominal * 0.0007 ? 1.001 : 1.0;
}

SActiveArea FitPicture(const SVideoSourceInfo& s, const SVideoTarget& t) {
  const double targetSar = static_cast<double>(t.sarNum) / t.sarDen;
  const double targetAspect = t.width * targetSar / t.height;
  const double aspect = DisplayAspect(s);
  SActiveArea a;
  auto even = [](double v) { return static_cast<uint32_t>(std::lround(v / 2.0)) * 2; };
  if (std::fabs(aspect - targetAspect) < 0.01) {
    a.width = t.width;
    a.height = t.height;
  } else if (aspect > targetAspect) {
    a.width = t.width;
    a.height = std::min(t.height, std::max(2u, even(t.width * targetSar / aspect)));
  } else {
    a.height = t.height;
    a.width = std::min(t.width, std::max(2u, even(t.height * aspect / targetSar)));
  }
  a.x = (t.width - a.width) / 2 & ~1u;
  a.y = (t.height - a.height) / 2 & ~1u;
  return a;
}

}  // namespace zv
