#include "platform/paths.h"

#include "platform/byte_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace zv {

std::string NormalizeSeparators(const std::string& path) {
  std::string s = path;
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

bool IsRelativePath(const std::string& path) {
  std::string s = NormalizeSeparators(path);
  if (s.empty()) return true;
  if (s[0] == '/') return false;
  // "C:/..." from a Windows project is absolute too.
  if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') return false;
  return true;
}

std::string RelativePathFrom(const std::string& fromFolder, const std::string& to) {
  if (fromFolder.empty() || to.empty() || IsRelativePath(to) || IsRelativePath(fromFolder)) return {};
  fs::path base = fs::path(fromFolder).lexically_normal();
  fs::path target = fs::path(to).lexically_normal();
  fs::path rel = target.lexically_relative(base);
  if (rel.empty()) return {};
  std::string s = rel.generic_string();
  if (s.rfind("..", 0) != 0) s = "./" + s;
  return s;
}

std::string CombinePath(const std::string& folder, const std::string& path) {
  std::string p = NormalizeSeparators(path);
  if (!IsRelativePath(p) || folder.empty()) return fs::path(p).lexically_normal().generic_string();
  std::string s = (fs::path(NormalizeSeparators(folder)) / p).lexically_normal().generic_string();
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().generic_string();
}

std::string FolderOf(const std::string& path) {
  std::string s = NormalizeSeparators(path);
  size_t k = s.find_last_of('/');
  if (k == std::string::npos) return ".";
  if (k == 0) return "/";
  return s.substr(0, k);
}

std::string FileNameOf(const std::string& path) {
  std::string s = NormalizeSeparators(path);
  size_t k = s.find_last_of('/');
  return k == std::string::npos ? s : s.substr(k + 1);
}

std::string ExtensionOf(const std::string& path) {
  std::string name = FileNameOf(path);
  size_t k = name.find_last_of('.');
  if (k == std::string::npos || k == 0) return {};
  return name.substr(k);
}

std::string RenameExtension(const std::string& path, const std::string& ext) {
  std::string e = ExtensionOf(path);
  return path.substr(0, path.size() - e.size()) + ext;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FileTimeNs(const std::string& path) {
  struct stat st;
  // A container's track has the container's time and size.
  if (IsTrackPath(path)) return FileTimeNs(path.substr(0, path.rfind('#')));
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

bool CheckPathLength(const std::string& path, std::string& error) {
  if (path.size() < kMaxPath) return true;
  error = "Path is too long (" + std::to_string(path.size()) + " characters, the limit is " +
          std::to_string(kMaxPath - 1) + "): \"" + path + "\"";
  return false;
}

std::string TempFolder() {
  std::error_code ec;
  fs::path p = fs::temp_directory_path(ec);
  if (ec) return "/tmp";
  return p.generic_string();
}

std::string UserCacheFolder() {
  // Relative values are to be ignored, as the XDG base directories say.
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/zelvane";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/zelvane";
  return {};
}

bool MakePrivateFolders(const std::string& path) {
  if (path.empty()) return false;
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = at == std::string::npos ? path : path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  return IsDirectory(path);
}

std::string ToLower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EqualsNoCase(const std::string& a, const std::string& b) { return ToLower(a) == ToLower(b); }

bool IsSameFileIdentity(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return a == b;
}

}  // namespace zv
