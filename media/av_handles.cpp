#include "media/av_handles.h"

namespace zv::av {

std::string ErrorText(int err) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(err, buf, sizeof buf) < 0) return "error " + std::to_string(err);
  return buf;
}

Input OpenInput(const std::string& path, std::string& why) {
  // The library logs to stderr by default; the engine reports through its
  // own results instead.
  av_log_set_level(AV_LOG_QUIET);
  AVFormatContext* raw = nullptr;
  int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (err < 0) {
    why = ErrorText(err);
    return nullptr;
  }
  Input in(raw);
  err = avformat_find_stream_info(in.get(), nullptr);
  if (err < 0) {
    why = ErrorText(err);
    return nullptr;
  }
  return in;
}

}  // namespace zv::av
