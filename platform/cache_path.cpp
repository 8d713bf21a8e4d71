#include "platform/cache_path.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/paths.h"

namespace zv {

namespace {
constexpr size_t kMaxFileName = 255;  // bytes of one name in a folder
}

std::string CachePathBeside(const std::string& sourcePath, const std::string& suffix) { return sourcePath + suffix; }

std::string CachePathInTemp(const std::string& sourcePath, const std::string& suffix) {
  char hex[18];
  std::snprintf(hex, sizeof hex, "~%016llx", static_cast<unsigned long long>(RealPathHash(sourcePath)));
  std::string name = FileNameOf(sourcePath);
  // Shortened to leave room for the hash and for the ".tmp~PID" of the
  // name the file is written under before it is renamed.
  constexpr size_t kHash = 17, kWriting = 12;
  if (name.size() + kHash + suffix.size() + kWriting > kMaxFileName)
    name = name.substr(0, std::min<size_t>(200, kMaxFileName - kHash - suffix.size() - kWriting));
  return TempFolder() + "/" + name + hex + suffix;
}

uint64_t RealPathHash(const std::string& path) {
  std::string real;
  if (char* r = ::realpath(path.c_str(), nullptr)) {
    real = r;
    std::free(r);
  } else {
    std::error_code ec;
    real = std::filesystem::absolute(path, ec).string();
    if (ec) real = path;
  }
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : real) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

}  // namespace zv
