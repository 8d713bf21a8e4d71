// Where a file derived from a source file is cached: beside the source, or,
// when the source's folder cannot take it, in the temporary folder under a
// name that carries a hash of the source's real path (the same on every
// run, so the file is found again; sources of one name in different folders
// do not share it).
#pragma once

#include <cstdint>
#include <string>

namespace zv {

// `sourcePath` + `suffix`.
std::string CachePathBeside(const std::string& sourcePath, const std::string& suffix);
// TempFolder()/NAME~HASH + `suffix`, the name shortened so that the
// ".tmp~PID" a file is written under still fits in a name.
std::string CachePathInTemp(const std::string& sourcePath, const std::string& suffix);

// 64-bit FNV-1a hash of the real path of `path` (the absolute path when it
// cannot be resolved).
uint64_t RealPathHash(const std::string& path);

}  // namespace zv
