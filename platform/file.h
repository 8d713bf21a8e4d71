// A small seekable binary file over POSIX calls. Every failure keeps the
// system's error text, worded "Cannot open "PATH": <reason>" and the same for
// create, read and write, so callers can show it as it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv {

class IByteSource;

class File {
 public:
  // kOverwrite creates the file or opens it read-write as it is: a writer
  // that replaces a large file writes over its pages and blocks in place
  // (far cheaper than freeing and allocating them again) and sets the final
  // length with Truncate.
  // kCreateNew makes a new file and fails when the name is taken, by a
  // symbolic link too: nothing already there is ever written through.
  enum Mode { kRead, kCreate /* truncate or create, read-write */, kReadWrite, kOverwrite, kCreateNew };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& o) noexcept;
  File& operator=(File&& o) noexcept;

  bool Open(const std::string& path, Mode mode);
  // Flushes nothing (no user-space buffer); reports a close error.
  bool Close();
  bool IsOpen() const { return fd_ >= 0 || src_ != nullptr; }

  // Reads up to n bytes; returns the count read (short only at end of file),
  // or -1 with Error() set.
  int64_t Read(void* buf, size_t n);
  // Reads exactly n bytes or fails ("Cannot read ...", also at end of file).
  bool ReadExact(void* buf, size_t n);
  // ReadExact at an absolute position, in one call; the file position is
  // left where it was.
  bool ReadExactAt(int64_t pos, void* buf, size_t n);
  // The same without recording an error, so that several threads (a
  // read-ahead worker and its owner) may read the file at once: 0 when all
  // n bytes were read, else the errno, or -1 at the end of the file.
  int ReadExactAtShared(int64_t pos, void* buf, size_t n) const;
  // Writes all n bytes or fails (disk full is a failure, never silent).
  bool Write(const void* buf, size_t n);
  bool Seek(int64_t pos);
  int64_t Tell() const;
  int64_t Length() const;
  bool Truncate(int64_t len);

  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }
  // The open descriptor (-1 when closed), for mapping the file; still owned
  // by this object.
  int Descriptor() const { return fd_; }

  static std::string ErrorText(const char* verb, const std::string& path, int err);

 private:
  bool Fail(const char* verb, int err);
  int fd_ = -1;
  // A container's track read as its elementary stream (no descriptor).
  std::shared_ptr<IByteSource> src_;
  int64_t pos_ = 0;
  std::string path_;
  std::string error_;
};

// Whole-file helpers.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error);
// Writes to a temporary file beside `path` and renames it over `path` only
// when every byte is on disk, so a failed write never loses the old file.
// A symbolic link is followed (or, with kReplace, replaced itself and its
// target left alone), and the permissions of the replaced file stay.
enum class AtLink { kFollow, kReplace };
bool WriteFileAtomic(const std::string& path, const void* data, size_t n, std::string& error,
                     AtLink atLink = AtLink::kFollow);
bool WriteWholeFile(const std::string& path, const void* data, size_t n, std::string& error);

// Creates a new, empty file beside `path` under a name no other process
// uses (hidden, with the process id and a counter) and returns that name;
// a writer fills it and renames it over `path` when done, so two writers
// never share a temporary file. Empty with `error` set when it cannot.
std::string CreateTempBeside(const std::string& path, std::string& error);

// Removes what runs that were killed left behind: regular files in `folder`
// named `prefix` + a process id + `rest`, where the process no longer runs.
// `rest` is empty, or ".N.tmp" with any counter N when `counted`.
void RemoveTempsOfDeadRuns(const std::string& folder, const std::string& prefix, bool counted);
// The same for the temporary names CreateTempBeside gives for `path`.
void RemoveDeadTempsBeside(const std::string& path);

}  // namespace zv
