#include "platform/byte_source.h"

#include <sys/stat.h>

#include <atomic>

namespace zv {

namespace {
std::atomic<ByteSourceOpener> g_opener{nullptr};
}

void SetByteSourceOpener(ByteSourceOpener opener) { g_opener = opener; }
ByteSourceOpener GetByteSourceOpener() { return g_opener; }

bool SplitTrackPath(const std::string& path, std::string& container, int& stream, std::string& ext) {
  const size_t hash = path.rfind('#');
  if (hash == std::string::npos || hash == 0) return false;
  const size_t dot = path.find('.', hash);
  if (dot == std::string::npos || dot == hash + 1 || dot - hash > 4 || dot + 1 >= path.size()) return false;
  int n = 0;
  for (size_t i = hash + 1; i < dot; ++i) {
    if (path[i] < '0' || path[i] > '9') return false;
    n = n * 10 + (path[i] - '0');
  }
  for (size_t i = dot + 1; i < path.size(); ++i)
    if (!((path[i] >= 'a' && path[i] <= 'z') || (path[i] >= '0' && path[i] <= '9'))) return false;
  container = path.substr(0, hash);
  stream = n;
  ext = path.substr(dot);
  return true;
}

std::string TrackPath(const std::string& container, int stream, const std::string& ext) {
  return container + "#" + std::to_string(stream) + ext;
}

bool IsTrackPath(const std::string& path) {
  std::string container, ext;
  int stream = 0;
  struct stat st;
  return SplitTrackPath(path, container, stream, ext) && ::stat(path.c_str(), &st) != 0 &&
         ::stat(container.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace zv
