// User settings: $XDG_CONFIG_HOME/zelvane/settings.ini (default
// ~/.config/zelvane/settings.ini), section [General].
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zv {

class Settings {
 public:
  static std::string DefaultPath();
  // Loads the file if it exists; a missing file gives the defaults. A path
  // that is not a regular file (a named pipe, a device) is not read, and
  // not replaced by Save: the defaults apply and Warning() says why.
  bool Load(const std::string& path = DefaultPath());
  const std::string& Warning() const { return warning_; }
  bool Save(const std::string& path, std::string& error) const;
  bool Save(std::string& error) const { return Save(path_.empty() ? DefaultPath() : path_, error); }

  std::string OutFolder() const;
  void SetOutFolder(const std::string& folder);
  uint32_t BgColor() const;  // default 0x808000
  void SetBgColor(uint32_t rgb);

  std::string Get(const std::string& key, const std::string& def = {}) const;
  void Set(const std::string& key, const std::string& value);

 private:
  std::string path_;
  std::map<std::string, std::string> general_;
  std::string other_;  // sections other than [General], kept as they were
  std::string warning_;
};

}  // namespace zv
