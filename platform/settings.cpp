#include "platform/settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/file.h"

namespace zv {

std::string Settings::DefaultPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/zelvane/settings.ini";
}

static std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

bool Settings::Load(const std::string& path) {
  path_ = path;
  general_.clear();
  other_.clear();
  warning_.clear();
  // Opened without blocking and only as a regular file, so that a named pipe
  // in its place cannot hang every command.
  std::vector<uint8_t> bytes;
  {
    File f;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return false;
    if (!f.Open(path, File::kRead)) {
      warning_ = "the settings file was ignored: " + f.Error();
      return false;
    }
    // Settings are a few lines; a huge file is not ours.
    const int64_t len = f.Length();
    if (len < 0 || len > (1 << 20)) {
      warning_ = "the settings file was ignored: \"" + path + "\" is too large";
      return false;
    }
    bytes.resize(static_cast<size_t>(len));
    if (!f.ReadExact(bytes.data(), bytes.size())) {
      warning_ = "the settings file was ignored: " + f.Error();
      return false;
    }
  }
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  bool inGeneral = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (!t.empty() && t.front() == '[' && t.back() == ']') {
      inGeneral = t == "[General]";
      if (!inGeneral) other_ += line + "\n";
      continue;
    }
    if (!inGeneral) {
      if (!other_.empty()) other_ += line + "\n";
      continue;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos || t[0] == ';' || t[0] == '#') continue;
    general_[Trim(t.substr(0, eq))] = Trim(t.substr(eq + 1));
  }
  return true;
}

bool Settings::Save(const std::string& path, std::string& error) const {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error = "Cannot write \"" + path + "\": Not a regular file";
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ostringstream out;
  out << "[General]\n";
  for (const auto& [k, v] : general_) out << k << "=" << v << "\n";
  if (!other_.empty()) out << other_;
  std::string s = out.str();
  return WriteFileAtomic(path, s.data(), s.size(), error);
}

std::string Settings::Get(const std::string& key, const std::string& def) const {
  auto it = general_.find(key);
  return it == general_.end() ? def : it->second;
}

void Settings::Set(const std::string& key, const std::string& value) { general_[key] = value; }

std::string Settings::OutFolder() const { return Get("OutFolder"); }
void Settings::SetOutFolder(const std::string& folder) { Set("OutFolder", folder); }

uint32_t Settings::BgColor() const {
  std::string v = Get("BG Color");
  if (v.empty()) return 0x808000;
  char* end = nullptr;
  unsigned long n = std::strtoul(v.c_str(), &end, 0);
  if (end == v.c_str()) return 0x808000;
  return static_cast<uint32_t>(n);
}

void Settings::SetBgColor(uint32_t rgb) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06X", rgb);
  Set("BG Color", buf);
}

}  // namespace zv
