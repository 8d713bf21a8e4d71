// Files and structure: the folder tree, names, every navigation and clip
// information file read with the system's own readers, BACKUP copies and
// the pairing of clips with their clip information.
#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <type_traits>

#include "bdnav/id_bdmv.h"
#include "bdnav/sound_bdmv.h"
#include "platform/file.h"
#include "verify/check_context.h"

namespace zv::check {

namespace {

namespace fs = std::filesystem;

// "00001" from "00001.mpls" when the name is five digits and `ext`.
bool FiveDigitName(const std::string& file, const std::string& ext, std::string& stem) {
  if (file.size() != 5 + ext.size() || file.compare(5, std::string::npos, ext) != 0) return false;
  for (size_t i = 0; i < 5; ++i)
    if (!std::isdigit(static_cast<unsigned char>(file[i]))) return false;
  stem = file.substr(0, 5);
  return true;
}

// The files of a folder by name; empty when it is missing.
std::vector<std::string> FilesOf(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Reads `rel` and runs `parse` on its bytes; a read or parse failure is a
// finding naming the file and the reader's words (section path and field).
bool ReadAndParse(const SDisc& disc, const std::string& rel, CFindings& out,
                  const std::function<void(const std::vector<uint8_t>&)>& parse) {
  std::vector<uint8_t> bytes;
  std::string err;
  if (!ReadWholeFile(disc.Path(rel), bytes, err)) {
    out.Add("files.parse", rel, "", err);
    return false;
  }
  try {
    parse(bytes);
  } catch (const std::exception& e) {
    out.Add("files.parse", rel, "", e.what());
    return false;
  }
  return true;
}

// Throws the reader's error of a record with a Parse(data, size, &error).
template <class Record>
void ParseOrThrow(Record& rec, const std::vector<uint8_t>& bytes) {
  std::string err;
  bool ok;
  if constexpr (std::is_same_v<decltype(rec.Parse(bytes.data(), bytes.size(), &err)), bool>)
    ok = rec.Parse(bytes.data(), bytes.size(), &err);
  else
    ok = rec.Parse(bytes.data(), bytes.size(), &err) == kOk;
  if (!ok) throw std::runtime_error(err.empty() ? "refused by the reader" : err);
}

void CompareBackup(const SDisc& disc, const std::string& rel, const std::string& backupRel, CFindings& out) {
  std::vector<uint8_t> a, b;
  std::string err;
  if (!ReadWholeFile(disc.Path(rel), a, err)) return;  // reported by the parse rule
  if (!ReadWholeFile(disc.Path(backupRel), b, err)) {
    out.Add("files.backup", backupRel, "", "missing or unreadable: the backup copy of " + rel);
    return;
  }
  if (a != b) out.Add("files.backup", backupRel, "", "differs from " + rel);
}

}  // namespace

void CheckFiles(SDisc& disc, CFindings& out) {
  const fs::path bdmv = fs::path(disc.root) / "BDMV";
  std::error_code ec;
  if (!fs::is_directory(bdmv, ec)) {
    out.Add("files.tree", "BDMV", "", "no BDMV folder");
    return;
  }
  for (const char* f : {"index.bdmv", "MovieObject.bdmv"})
    if (!fs::is_regular_file(bdmv / f, ec)) out.Add("files.tree", std::string("BDMV/") + f, "", "missing");
  for (const char* f : {"PLAYLIST", "CLIPINF", "STREAM"})
    if (!fs::is_directory(bdmv / f, ec)) out.Add("files.tree", std::string("BDMV/") + f, "", "folder missing");

  // Navigation files.
  if (fs::is_regular_file(bdmv / "index.bdmv", ec)) {
    INDEX_BDMV index;
    if (ReadAndParse(disc, "BDMV/index.bdmv", out, [&](const auto& b) { ParseIndex(b.data(), b.size(), index); }))
      disc.index = std::move(index);
    CompareBackup(disc, "BDMV/index.bdmv", "BDMV/BACKUP/index.bdmv", out);
  }
  if (fs::is_regular_file(bdmv / "MovieObject.bdmv", ec)) {
    MOVIE_OBJECTS mobj;
    if (ReadAndParse(disc, "BDMV/MovieObject.bdmv", out,
                     [&](const auto& b) { ParseMovieObjects(b.data(), b.size(), mobj); }))
      disc.movieObjects = std::move(mobj);
    CompareBackup(disc, "BDMV/MovieObject.bdmv", "BDMV/BACKUP/MovieObject.bdmv", out);
  }
  if (fs::exists(bdmv / "AUXDATA" / "sound.bdmv", ec)) {
    ReadAndParse(disc, "BDMV/AUXDATA/sound.bdmv", out, [&](const auto& b) {
      CSoundBdmv sound;
      ParseOrThrow(sound, b);
    });
  }
  const fs::path cert = fs::path(disc.root) / "CERTIFICATE" / "id.bdmv";
  if (!fs::is_regular_file(cert, ec)) {
    out.Add("files.certificate", "CERTIFICATE/id.bdmv", "", "missing");
  } else {
    ReadAndParse(disc, "CERTIFICATE/id.bdmv", out, [&](const auto& b) {
      ID_BDMV id;
      ParseId(b.data(), b.size(), id);
    });
    if (fs::exists(fs::path(disc.root) / "CERTIFICATE" / "BACKUP", ec))
      CompareBackup(disc, "CERTIFICATE/id.bdmv", "CERTIFICATE/BACKUP/id.bdmv", out);
  }

  // Playlists and clip information, each with its backup.
  std::string stem;
  for (const auto& name : FilesOf(bdmv / "PLAYLIST")) {
    const std::string rel = "BDMV/PLAYLIST/" + name;
    if (!FiveDigitName(name, ".mpls", stem)) {
      out.Add("files.name", rel, "", "not a playlist name (five digits and .mpls)");
      continue;
    }
    disc.playlistFiles.insert(stem);
    PlaylistFile pl;
    if (ReadAndParse(disc, rel, out, [&](const auto& b) { ParseOrThrow(pl, b); })) disc.playlists.emplace(stem, std::move(pl));
    CompareBackup(disc, rel, "BDMV/BACKUP/PLAYLIST/" + name, out);
  }
  for (const auto& name : FilesOf(bdmv / "CLIPINF")) {
    const std::string rel = "BDMV/CLIPINF/" + name;
    if (!FiveDigitName(name, ".clpi", stem)) {
      out.Add("files.name", rel, "", "not a clip information name (five digits and .clpi)");
      continue;
    }
    disc.clipInfoFiles.insert(stem);
    ClipInformationFile ci;
    if (ReadAndParse(disc, rel, out, [&](const auto& b) { ParseOrThrow(ci, b); })) disc.clips.emplace(stem, std::move(ci));
    CompareBackup(disc, rel, "BDMV/BACKUP/CLIPINF/" + name, out);
  }
  for (const auto& name : FilesOf(bdmv / "STREAM")) {
    if (!FiveDigitName(name, ".m2ts", stem)) {
      out.Add("files.name", "BDMV/STREAM/" + name, "", "not a clip name (five digits and .m2ts)");
      continue;
    }
    disc.streamFiles.insert(stem);
  }

  for (const auto& s : disc.streamFiles)
    if (!disc.clipInfoFiles.count(s)) out.Add("files.clip-pair", StreamPath(s), "", "no clip information " + ClipInfoPath(s));
  for (const auto& s : disc.clipInfoFiles)
    if (!disc.streamFiles.count(s)) out.Add("files.clip-pair", ClipInfoPath(s), "", "no clip " + StreamPath(s));
}

}  // namespace zv::check
