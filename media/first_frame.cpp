#include "media/first_frame.h"

#include <vector>

#include "media/frame_at.h"

namespace zv {

bool DecodeFirstFrame(const std::string& path, int width, int height, CPicture& out, std::string& error) {
  std::vector<CPicture> pictures;
  if (DecodeFramesAt(path, {0}, width, height, pictures, {}, error) != kOk || pictures.empty()) return false;
  out = std::move(pictures.front());
  return true;
}

}  // namespace zv
