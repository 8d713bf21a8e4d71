#include "app/encode_options.h"

#include <cmath>
#include <cstdlib>

namespace zvapp {

namespace {

bool ReadNumber(const std::string& text, double& out) {
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && std::isfinite(out);
}

}  // namespace

bool ReadEncodeOptions(const Args& args, zvedit::SEncodeRequest& r, std::string& error) {
  r.encode = args.Has("--encode");
  r.options.format = args.Value("--format");
  const std::string quality = args.Value("--quality");
  const std::string bitrate = args.Value("--bitrate");
  const std::string duration = args.Value("--duration");
  double v = 0;
  if (!quality.empty()) {
    if (!ReadNumber(quality, v) || v < 0 || v > 51 || v != std::floor(v)) {
      error = "--quality: \"" + quality + "\" is not a number from 0 (best) to 51";
      return false;
    }
    r.options.quality = static_cast<int>(v);
  }
  if (!bitrate.empty()) {
    // kbit/s, or with M (Mbit/s)
    std::string digits = bitrate;
    double scale = 1;
    if (digits.back() == 'M' || digits.back() == 'm') {
      digits.pop_back();
      scale = 1000;
    } else if (digits.back() == 'k' || digits.back() == 'K') {
      digits.pop_back();
    }
    if (!ReadNumber(digits, v) || v * scale < 100 || v * scale > 40000) {
      error = "--bitrate: \"" + bitrate + "\" is not a rate from 100 to 40000 kbit/s (e.g. 15000 or 15M)";
      return false;
    }
    r.options.bitrateKbps = static_cast<int>(std::lround(v * scale));
  }
  if (!quality.empty() && !bitrate.empty()) {
    error = "--quality and --bitrate exclude each other";
    return false;
  }
  if (!duration.empty()) {
    if (!ReadNumber(duration, v) || v <= 0 || v > 3600) {
      error = "--duration: \"" + duration + "\" is not a number of seconds (up to 3600)";
      return false;
    }
    r.options.stillSeconds = v;
  }
  std::string why;
  if (!zv::CheckVideoEncodeOptions(r.options, why)) {
    error = "--format: " + why;
    return false;
  }
  return true;
}

}  // namespace zvapp
