// `zelvane dump` for index.bdmv, MovieObject.bdmv and id.bdmv.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/dump.h"
#include "app/json.h"
#include "bdnav/id_bdmv.h"
#include "bdnav/index_bdmv.h"
#include "bdnav/movie_objects.h"
#include "bdnav/nav_dump.h"
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

// Reads and parses the file; prints the error and returns false on failure.
template <class Rec>
bool Load(const std::string& path, Rec& rec, size_t (*parse)(const uint8_t*, size_t, Rec&), int& rc) {
  std::vector<uint8_t> data;
  std::string error;
  if (!zv::ReadWholeFile(path, data, error)) {
    rc = Fail(error);
    return false;
  }
  try {
    parse(data.data(), data.size(), rec);
  } catch (const zv::FormatError& e) {
    rc = Fail("\"" + path + "\": " + e.what());
    return false;
  }
  return true;
}

// The same frame as the other dumps: {"file", "type", "content"}.
void BeginDump(Json& j, const std::string& path, const char* type) {
  j.BeginObject().Key("file").Str(path).Key("type").Str(type).Key("content").BeginObject();
}

int Print(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) return Fail("Cannot write the dump");
  return kExitOk;
}

void EntryJson(Json& j, const zv::TI& e, bool isTitle) {
  j.BeginObject();
  j.Key("ObjectType").Int(e.objectType);
  if (isTitle) j.Key("TitleAccessType").Int(e.accessType);
  if (e.objectType == 1) {
    j.Key("HDMV_TitlePlaybackType").Int(e.playbackType);
    j.Key("MovieObjectID").Int(e.movieObjectId);
  } else {
    j.Key("BDJ_TitlePlaybackType").Int(e.playbackType);
    j.Key("BDJO_FileName").Str(zv::navdump::Printable(e.bdjName));
  }
  j.EndObject();
}

int DumpIndexFile(const std::string& path, bool json) {
  zv::INDEX_BDMV x;
  int rc = kExitOk;
  if (!Load(path, x, zv::ParseIndex, rc)) return rc;
  if (!json) return Print(zv::DumpIndex(x));
  Json j;
  BeginDump(j, path, "index.bdmv");
  j.Key("TypeIndicator").Str(zv::navdump::Printable(x.typeIndicator));
  j.Key("Version").Str(zv::navdump::Printable(x.version));
  j.Key("IndexsStartAddress").Int(x.indexesStartAddress);
  j.Key("ExtensionDataStartAddress").Int(x.extensionDataStartAddress);
  j.Key("AppInfoBDMV").BeginObject();
  j.Key("Flags").Int(x.appInfo[0]);
  j.Key("VideoFormat").Int(x.appInfo[1] >> 4);
  j.Key("FrameRate").Int(x.appInfo[1] & 0x0F);
  j.Key("ContentProviderUserData").Str(zv::navdump::HexBytes(x.appInfo.data() + 2, x.appInfo.size() - 2));
  j.EndObject();
  j.Key("FirstPlayback");
  EntryJson(j, x.firstPlayback, false);
  j.Key("TopMenu");
  EntryJson(j, x.topMenu, false);
  j.Key("Titles").BeginArray();
  for (const auto& t : x.titles) EntryJson(j, t, true);
  j.EndArray();
  j.Key("ExtensionData").Int(static_cast<int64_t>(x.extensionData.size()));
  j.EndObject().EndObject();
  return Print(j.Text() + "\n");
}

int DumpMovieObjectFile(const std::string& path, bool json) {
  zv::MOVIE_OBJECTS x;
  int rc = kExitOk;
  if (!Load(path, x, zv::ParseMovieObjects, rc)) return rc;
  if (!json) return Print(zv::DumpMovieObjects(x));
  Json j;
  BeginDump(j, path, "MovieObject.bdmv");
  j.Key("TypeIndicator").Str(zv::navdump::Printable(x.typeIndicator));
  j.Key("Version").Str(zv::navdump::Printable(x.version));
  j.Key("ExtensionDataStartAddress").Int(x.extensionDataStartAddress);
  j.Key("MovieObjects").BeginArray();
  for (const auto& m : x.objects) {
    j.BeginObject();
    j.Key("ResumeIntentionFlag").Bool(m.resumeIntention);
    j.Key("MenuCallMask").Bool(m.menuCallMask);
    j.Key("TitleSearchMask").Bool(m.titleSearchMask);
    j.Key("Commands").BeginArray();
    for (const auto& c : m.commands) {
      j.BeginObject();
      j.Key("text").Str(zv::CommandText(c));
      j.Key("bytes").Str(zv::navdump::HexBytes(c.bytes.data(), c.bytes.size()));
      j.EndObject();
    }
    j.EndArray();
    j.EndObject();
  }
  j.EndArray();
  j.Key("ExtensionData").Int(static_cast<int64_t>(x.extensionData.size()));
  j.EndObject().EndObject();
  return Print(j.Text() + "\n");
}

int DumpIdFile(const std::string& path, bool json) {
  zv::ID_BDMV x;
  int rc = kExitOk;
  if (!Load(path, x, zv::ParseId, rc)) return rc;
  if (!json) return Print(zv::DumpId(x));
  Json j;
  BeginDump(j, path, "id.bdmv");
  j.Key("TypeIndicator").Str(zv::navdump::Printable(x.typeIndicator));
  j.Key("Version").Str(zv::navdump::Printable(x.version));
  j.Key("Data").Str(zv::navdump::HexBytes(x.body.data(), x.body.size()));
  j.EndObject().EndObject();
  return Print(j.Text() + "\n");
}

}  // namespace

ZV_DUMPER("index.bdmv", [](const std::string& p, const std::vector<uint8_t>& h) { return Matches(p, h, "index.bdmv", "INDX"); },
          DumpIndexFile, "INDX");
ZV_DUMPER("MovieObject.bdmv",
          [](const std::string& p, const std::vector<uint8_t>& h) { return Matches(p, h, "MovieObject.bdmv", "MOBJ"); },
          DumpMovieObjectFile, "MOBJ");
ZV_DUMPER("id.bdmv", [](const std::string& p, const std::vector<uint8_t>& h) { return Matches(p, h, "id.bdmv", "BDID"); },
          DumpIdFile, "BDID");

}  // namespace zvapp
