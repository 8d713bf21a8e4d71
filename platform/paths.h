// Path helpers. Paths are handled with '/'; a '\\' in a stored project path
// (a project made on Windows) is read as a separator. Paths keep the disc
// format's 260-character limit as a check.
#pragma once

#include <cstdint>
#include <string>

namespace zv {

constexpr size_t kMaxPath = 260;

// "\\" -> "/".
std::string NormalizeSeparators(const std::string& path);
bool IsRelativePath(const std::string& path);
// Relative path from `fromFolder` to `to`, "./"-prefixed when inside it;
// empty when no relative path can be formed.
std::string RelativePathFrom(const std::string& fromFolder, const std::string& to);
// Combines a folder and a (relative or absolute) path; normalises "." and "..".
std::string CombinePath(const std::string& folder, const std::string& path);
// Absolute and lexically normal, written with '/'; the path as given when
// the working folder cannot be read.
std::string AbsolutePath(const std::string& path);
std::string FolderOf(const std::string& path);      // without trailing '/'
std::string FileNameOf(const std::string& path);    // last component
std::string ExtensionOf(const std::string& path);   // ".ext" or "", as written
std::string RenameExtension(const std::string& path, const std::string& ext);
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Modification time in nanoseconds since the epoch; 0 if the file is missing.
int64_t FileTimeNs(const std::string& path);
int64_t FileSize(const std::string& path);  // -1 if missing
// True when `path` is within the length limit; otherwise sets `error`.
bool CheckPathLength(const std::string& path, std::string& error);
std::string TempFolder();
// A hash of the file's real path (of the path as written when it cannot be
// resolved), the same on every run.
uint64_t RealPathHash(const std::string& path);
// Where a file derived from `path` (a cache kept beside it) goes when the
// stream's folder cannot take it: the temporary folder, under the file's
// name with a hash of its real path, so that streams of one name in
// different folders never share a file, then `suffix`; short enough that
// ".tmp~" and a process id still fit in a name.
std::string DerivedPathInTemp(const std::string& path, const std::string& suffix);
// The program's folder for caches it can do without ($XDG_CACHE_HOME or
// ~/.cache, then "zelvane"); empty when neither is set. Not created here.
std::string UserCacheFolder();
// Creates `path` and any missing parents, readable by the user alone;
// false when it is not a folder afterwards.
bool MakePrivateFolders(const std::string& path);
bool EqualsNoCase(const std::string& a, const std::string& b);
// The same file by identity (device and inode), whatever the spelling of
// the paths; paths that cannot be looked at are compared as written.
bool IsSameFileIdentity(const std::string& a, const std::string& b);
std::string ToLower(std::string s);

}  // namespace zv
