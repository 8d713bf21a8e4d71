// `zelvane dump` for index.bdmv, MovieObject.bdmv and id.bdmv: the dump
// comes from the reader's own walk over the file.
#include <strings.h>

#include <algorithm>
#include <filesystem>

#include "app/dump.h"
#include "bdnav/id_bdmv.h"
#include "bdnav/index_bdmv.h"
#include "bdnav/movie_objects.h"
#include "platform/bytes.h"
#include "platform/file.h"

namespace zvapp {

namespace {

// By the file's type indicator, or by its name so that a damaged file still
// reaches its reader and gets a precise error.
bool Matches(const std::string& path, const std::vector<uint8_t>& head, const char* name, const char* type) {
  if (head.size() >= 4 && std::equal(head.begin(), head.begin() + 4, type)) return true;
  return strcasecmp(std::filesystem::path(path).filename().c_str(), name) == 0;
}

int DumpWith(const std::string& path, bool json, const char* type,
             void (*dump)(const uint8_t*, size_t, zv::SDumpNode&)) {
  std::vector<uint8_t> data;
  std::string error;
  if (!zv::ReadWholeFile(path, data, error)) return Fail(error);
  zv::SDumpNode root;
  try {
    dump(data.data(), data.size(), root);
  } catch (const zv::FormatError& e) {
    return Fail("\"" + path + "\": " + e.what());
  }
  return PrintDumpTree(path, type, root, json);
}

int DumpIndexFile(const std::string& path, bool json) {
  return DumpWith(path, json, "index.bdmv", zv::DumpIndexBytes);
}
int DumpMovieObjectFile(const std::string& path, bool json) {
  return DumpWith(path, json, "MovieObject.bdmv", zv::DumpMovieObjectsBytes);
}
int DumpIdFile(const std::string& path, bool json) { return DumpWith(path, json, "id.bdmv", zv::DumpIdBytes); }

}  // namespace

ZV_DUMPER("index.bdmv", [](const std::string& p, const std::vector<uint8_t>& h) { return Matches(p, h, "index.bdmv", "INDX"); },
          DumpIndexFile, "INDX");
ZV_DUMPER("MovieObject.bdmv",
          [](const std::string& p, const std::vector<uint8_t>& h) { return Matches(p, h, "MovieObject.bdmv", "MOBJ"); },
          DumpMovieObjectFile, "MOBJ");
ZV_DUMPER("id.bdmv", [](const std::string& p, const std::vector<uint8_t>& h) { return Matches(p, h, "id.bdmv", "BDID"); },
          DumpIdFile, "BDID");

}  // namespace zvapp
