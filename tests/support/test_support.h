// Helpers shared by the tests: temporary folders, fixtures, running programs.
#pragma once

#include <string>
#include <vector>
#include <cstdint>

namespace zvtest {

// True in the AddressSanitizer build, where memory figures are the
// sanitizer's more than the program's.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

// A fresh folder under the temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Absolute path of a committed fixture under tests/data.
std::string DataPath(const std::string& name);
// Copies a fixture into `folder` (analysis writes beside the stream) and
// returns the copy's path.
std::string CopyFixture(const std::string& name, const std::string& folder);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  long peakKb = 0;  // the most memory it held, where the runner measures it
};
// Runs argv[0] with the arguments, stdin from /dev/null unless `input` given.
RunResult Run(const std::vector<std::string>& argv, const std::string& input = {});
// True when the program can be found on PATH.
bool HaveProgram(const std::string& name);

}  // namespace zvtest
