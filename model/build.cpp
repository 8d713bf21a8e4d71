#include "model/build.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

#include "bdnav/id_bdmv.h"
#include "bdnav/index_bdmv.h"
#include "bdnav/movie_objects.h"
#include "bdnav/sound_bdmv.h"
#include "model/navigation.h"
#include "model/project.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "verify/check.h"

namespace zv {

namespace fs = std::filesystem;

const char* const kMsgHasNoVideo = "has no video! ";
const char* const kMsgOverwrite = "%s\n exists, overwrite ? ";
const char* const kMsgCannotCreateRoot = "Cannot create %s ! ";
const char* const kMsgCannotDelete = "Cannot delete %s !";
const char* const kMsgCannotCreateTree = "Cannot create directory: %s !";
const char* const kMsgCannotCreateBuild = "Can not create directory: %s! ";
const char* const kMsgBuiltOk = "\"%s\" built sucessfully! ";
const char* const kMsgStopBuild = "Really want to stop current build? ";

namespace {

// Fills the one "%s" of a message text.
std::string Format(const char* text, const std::string& arg) {
  std::string s = text;
  size_t at = s.find("%s");
  if (at != std::string::npos) s.replace(at, 2, arg);
  return s;
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsRealDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(path, ec));
}

// An existing folder (a link to one will do) or a newly made one.
bool EnsureFolder(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return true;
  fs::create_directory(path, ec);
  return !ec && fs::is_directory(path, ec);
}

std::string Numbered(int32_t n, const char* ext) {
  char name[32];
  std::snprintf(name, sizeof name, "%05d.%s", static_cast<int>(n), ext);
  return name;
}

// The clips this build wrote: every played story with an enabled track and
// every menu with its own clip. A story that nobody plays keeps its number
// but writes nothing, so an old file of that number is stale too.
std::vector<std::string> WrittenClips(CZvObject& project, int32_t count, const char* ext) {
  std::vector<std::string> keep;
  for (CFilmObject* film : project.Films()) {
    for (size_t i = 0; i < film->m_stories.GetCount(); ++i) {
      const CStoryObject* story = film->m_stories.GetAt(i);
      if (story->m_nClipNumber >= 0 && story->m_nClipNumber < count && !story->m_vecUses.empty())
        keep.push_back(Numbered(story->m_nClipNumber, ext));
    }
    for (size_t i = 0; i < film->m_menus.GetCount(); ++i) {
      const CZvIgObject* menu = film->m_menus.GetAt(i);
      if (!menu->IsEmpty() && menu->m_nClipNumber >= 0 && menu->m_nClipNumber < count)
        keep.push_back(Numbered(menu->m_nClipNumber, ext));
    }
  }
  return keep;
}

std::vector<std::string> KeepList(int32_t count, const char* ext) {
  std::vector<std::string> keep;
  for (int32_t i = 0; i < count; ++i) keep.push_back(Numbered(i, ext));
  return keep;
}

// The file and its backup copy, each written beside and renamed into place
// so a failed write never leaves a short file under the final name.
bool WriteWithBackup(const std::string& folder, const std::string& name, const std::vector<uint8_t>& bytes,
                     IPrompt& prompt) {
  std::string error;
  for (const std::string& path : {folder + name, folder + "BACKUP/" + name}) {
    if (!WriteFileAtomic(path, bytes.data(), bytes.size(), error)) {
      prompt.Message(error);
      return false;
    }
  }
  return true;
}

// Players look the sound file up by exactly this name.
const char* const kDiscSoundName = "sound.bdmv";
// The name earlier builds gave it.
const char* const kOldSoundName = "Sound.bdmv";

// Copies the sound file with its modification time, so IsSameFile
// recognises the copy next time. Only bytes that read as a sound file go
// into the disc: they are checked as copied, so a file changed since the
// project was opened is caught too.
bool CopySoundFile(const std::string& from, const std::string& to, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(from, bytes, error)) return false;
  std::string why;
  if (!CSoundBdmv().Parse(bytes.data(), bytes.size(), &why)) {
    error = Format(kMsgWrongSoundFormat, from) + "\n" + why;
    return false;
  }
  if (!WriteFileAtomic(to, bytes.data(), bytes.size(), error)) return false;
  std::error_code ec;
  fs::last_write_time(to, fs::last_write_time(from, ec), ec);
  if (ec) {
    error = File::ErrorText("write", to, ec.value());
    return false;
  }
  return true;
}

void ClearPerBuildNumbers(CFilmObject& film) {
  for (size_t i = 0; i < film.m_stories.GetCount(); ++i) film.m_stories.GetAt(i)->m_nClipNumber = -1;
  for (size_t i = 0; i < film.m_menus.GetCount(); ++i) film.m_menus.GetAt(i)->m_nClipNumber = -1;
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i) {
    film.m_playlists.GetAt(i)->m_nPlaylistNumber = -1;
    film.m_playlists.GetAt(i)->m_nTitleNumber = -1;
  }
}

// The staging tree: the build writes below OUTFOLDER/Zelvane/TEMP, in the
// same layout as the disc, and only a build that succeeded moves its files
// into DISC. Until then the previous disc stays as it was.
const char* const kStagingFolders[] = {"DISC/BDMV/STREAM",         "DISC/BDMV/CLIPINF",       "DISC/BDMV/PLAYLIST",
                                       "DISC/BDMV/AUXDATA",        "DISC/BDMV/BACKUP/CLIPINF", "DISC/BDMV/BACKUP/PLAYLIST",
                                       "DISC/CERTIFICATE/BACKUP"};
// Moved first, each folder's files as they are.
const char* const kDataFolders[] = {"STREAM", "CLIPINF", "BACKUP/CLIPINF", "PLAYLIST", "BACKUP/PLAYLIST", "AUXDATA"};
// Moved last, below DISC: a disc is only taken as one once these are there.
const char* const kNavigationFiles[] = {"BDMV/MovieObject.bdmv", "BDMV/BACKUP/MovieObject.bdmv", "BDMV/index.bdmv",
                                        "BDMV/BACKUP/index.bdmv", "CERTIFICATE/BACKUP/id.bdmv", "CERTIFICATE/id.bdmv"};

// When the disc's STREAM folder is a link to another file system, clips are
// staged in this folder inside it: the final move stays a rename, and the
// clips never need room on the disk that holds TEMP.
const char* const kStreamStagingName = ".zelvane-temp";

// ".../Zelvane" from ".../Zelvane/DISC/BDMV/".
std::string RootOfBdmv(const std::string& bdmvWithSlash) {
  std::string root = WithoutSlash(bdmvWithSlash);
  for (int i = 0; i < 2; ++i) root = FolderOf(root);
  return root;
}

// Removes a folder of the build's own, never through a link: a link found
// in its place is removed and what it points to is left alone.
bool RemoveOwnFolder(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  if (!fs::exists(st)) return true;
  if (fs::is_directory(st)) return DeleteFolderTree(path, true);
  return fs::remove(path, ec) && !ec;
}

// Empties TEMP (a real folder of its own: a link or file there is replaced)
// and removes a staging folder left in a linked STREAM folder.
bool CleanStaging(const std::string& root) {
  bool ok = RemoveOwnFolder(root + "/DISC/BDMV/STREAM/" + kStreamStagingName);
  const std::string temp = root + "/TEMP";
  if (IsRealDirectory(temp)) return DeleteFolderTree(temp, false) && ok;
  ok = RemoveOwnFolder(temp) && ok;
  std::error_code ec;
  fs::create_directory(temp, ec);
  return !ec && IsRealDirectory(temp) && ok;
}

// Creates the staging tree below TEMP; false with the folder that failed.
bool CreateStaging(const std::string& root, std::string& failed) {
  const std::string stage = root + "/TEMP/";
  for (const char* name : kStagingFolders) {
    std::error_code ec;
    fs::create_directories(stage + name, ec);
    if (ec || !IsRealDirectory(stage + name)) return failed = stage + name, false;
  }
  struct stat real {}, temp {};
  const std::string stream = root + "/DISC/BDMV/STREAM";
  if (::stat(stream.c_str(), &real) != 0 || ::stat((stage + "DISC/BDMV").c_str(), &temp) != 0)
    return failed = stream, false;
  if (real.st_dev == temp.st_dev) return true;
  const std::string inside = stream + "/" + kStreamStagingName;
  std::error_code ec;
  fs::create_directory(inside, ec);
  if (ec || !IsRealDirectory(inside)) return failed = inside, false;
  fs::remove(stage + "DISC/BDMV/STREAM", ec);
  fs::create_directory_symlink(inside, stage + "DISC/BDMV/STREAM", ec);
  if (ec) return failed = stage + "DISC/BDMV/STREAM", false;
  return true;
}

// Moves a finished file into the disc. A rename replaces whatever has that
// name (a link is replaced, what it points to stays as it was); across file
// systems the file is copied to a new name beside the destination first.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return error = File::ErrorText("write", to, errno), false;
  const std::string tmp = to + ".zelvane~" + std::to_string(::getpid());
  File in, out;
  bool ok = in.Open(from, File::kRead) && out.Open(tmp, File::kCreateNew);
  std::vector<uint8_t> buf(1 << 20);
  while (ok) {
    const int64_t n = in.Read(buf.data(), buf.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = out.Write(buf.data(), static_cast<size_t>(n));
  }
  if (!ok) error = !in.Error().empty() ? in.Error() : out.Error();
  if (ok && !out.Close()) ok = false, error = out.Error();
  if (ok && ::rename(tmp.c_str(), to.c_str()) != 0) ok = false, error = File::ErrorText("write", to, errno);
  if (!ok) {
    out.Close();
    ::unlink(tmp.c_str());
    return false;
  }
  ::unlink(from.c_str());
  return true;
}

// The disc's sound file goes when the project no longer has one; the name
// earlier builds used goes always, unless it is the current file itself (a
// file system that ignores letter case). Only regular files are deleted.
bool PurgeSoundFiles(const std::string& auxdata, bool keep, std::string& error) {
  const std::string current = auxdata + kDiscSoundName, old = auxdata + kOldSoundName;
  std::vector<std::string> stale;
  if (!keep) stale.push_back(current);
  std::error_code ec;
  if (!keep || !fs::equivalent(old, current, ec)) stale.push_back(old);
  for (const std::string& p : stale) {
    std::error_code e;
    if (!fs::is_regular_file(fs::symlink_status(p, e))) continue;
    if (!fs::remove(p, e) || e) return error = Format(kMsgCannotDelete, p), false;
  }
  return true;
}

// Moves the staged files into the disc: clips, clip information, playlists
// and the sound file, then the purge of stale files, then the navigation
// files and the certificate. Everything that could refuse (a folder where a
// file belongs) is checked before the first file moves.
bool CommitStaging(const std::string& root, CZvObject& project, const SBuildCounts& counts, IPrompt& prompt) {
  const std::string stage = root + "/TEMP/DISC/", disc = root + "/DISC/";
  std::vector<std::pair<std::string, std::string>> moves;
  for (const char* folder : kDataFolders) {
    const std::string from = stage + "BDMV/" + folder;
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code e;
      if (!fs::is_regular_file(fs::symlink_status(it->path(), e))) continue;
      const std::string name = it->path().filename().string();
      moves.emplace_back(from + "/" + name, disc + "BDMV/" + folder + "/" + name);
    }
    if (ec) {
      prompt.Message(File::ErrorText("read", from, ec.value()));
      return false;
    }
  }
  const size_t dataMoves = moves.size();
  for (const char* file : kNavigationFiles) moves.emplace_back(stage + file, disc + file);
  for (const auto& [from, to] : moves) {
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(to, ec))) {
      prompt.Message(File::ErrorText("write", to, EISDIR));
      return false;
    }
  }
  std::string error;
  for (size_t i = 0; i < dataMoves; ++i)
    if (!MoveIntoPlace(moves[i].first, moves[i].second, error)) return prompt.Message(error), false;

  // A stale file left in place would show up on the disc: failing to delete
  // one fails the build.
  const std::string bdmv = disc + "BDMV/";
  const std::vector<std::tuple<const char*, std::vector<std::string>, const char*>> purges = {
      {"STREAM", WrittenClips(project, counts.clips, "m2ts"), "m2ts"},
      {"CLIPINF", WrittenClips(project, counts.clips, "clpi"), "clpi"},
      {"BACKUP/CLIPINF", WrittenClips(project, counts.clips, "clpi"), "clpi"},
      {"PLAYLIST", KeepList(counts.playlists, "mpls"), "mpls"},
      {"BACKUP/PLAYLIST", KeepList(counts.playlists, "mpls"), "mpls"}};
  for (const auto& [folder, keep, ext] : purges) {
    if (!PurgeFolder(bdmv + folder, keep, ext, error)) return prompt.Message(error), false;
  }
  if (!PurgeSoundFiles(bdmv + "AUXDATA/", !project.m_strSoundPath.empty(), error))
    return prompt.Message(error), false;
  for (size_t i = dataMoves; i < moves.size(); ++i)
    if (!MoveIntoPlace(moves[i].first, moves[i].second, error)) return prompt.Message(error), false;
  return true;
}

// Empties the staging tree on every way out of the build, so a cancelled or
// failed build leaves TEMP as empty as a finished one.
class StagingCleanup {
 public:
  explicit StagingCleanup(std::string root) : root_(std::move(root)) {}
  ~StagingCleanup() { CleanStaging(root_); }
  StagingCleanup(const StagingCleanup&) = delete;
  StagingCleanup& operator=(const StagingCleanup&) = delete;

 private:
  std::string root_;
};

// Closes the dialog on every way out of BuildDisc.
class DialogSession {
 public:
  explicit DialogSession(ITaskDialog& dialog) : dialog_(dialog), progress_(dialog.Open()) {}
  ~DialogSession() { dialog_.Close(); }
  const Progress& progress() const { return progress_; }

 private:
  ITaskDialog& dialog_;
  Progress progress_;
};

// Passes progress on and remembers whether the dialog asked to stop, so a
// stop that lands in a step reporting only failure still ends the build as
// cancelled.
class StopLatch {
 public:
  explicit StopLatch(const Progress& inner) : inner_(inner) {}
  Progress Callback() { return Progress{&StopLatch::Thunk, this}; }
  bool Stopped() const { return stopped_; }

 private:
  static int Thunk(void* ctx, const SProgressInfo* info) {
    auto* self = static_cast<StopLatch*>(ctx);
    if (!self->inner_.Report(*info)) self->stopped_ = true;
    return self->stopped_ ? 0 : 1;
  }
  Progress inner_;
  bool stopped_ = false;
};

}  // namespace

std::string LogLine(const std::string& text) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M:%S", &tm);
  return "[" + std::string(clock) + "]: " + text;
}

std::string OutputRoot(const std::string& outFolder) { return WithSlash(NormalizeSeparators(outFolder)) + "Zelvane"; }

bool ValidateFilm(CFilmObject& film, IPrompt& prompt) {
  const std::string label = film.m_strName + ":";
  if (!FilmHasContent(film)) {
    // A menu needs a video to be shown over.
    if (film.m_menus.GetCount() > 0 && !film.m_menus.GetAt(0)->IsEmpty()) {
      prompt.Message(label + " " + kMsgHasNoVideo);
      return false;
    }
    return true;
  }
  for (size_t i = 0; i < film.m_stories.GetCount(); ++i)
    if (!film.m_stories.GetAt(i)->CheckTrackCounts(label, prompt)) return false;
  for (size_t i = 0; i < film.m_menus.GetCount(); ++i)
    if (!film.m_menus.GetAt(i)->ValidateForBuild(label, prompt)) return false;
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i)
    if (!ValidatePlaylist(*film.m_playlists.GetAt(i), label, prompt)) return false;
  return true;
}

int PrepareOutputFolder(const std::string& rootIn, bool deleteOldTrees, IPrompt& prompt, CFileLock* lock) {
  const std::string root = WithoutSlash(NormalizeSeparators(rootIn));
  std::error_code ec;
  if (fs::exists(fs::symlink_status(root, ec))) {
    if (prompt.Ask(Format(kMsgOverwrite, root)) != Answer::Yes) return kCancelled;
  } else {
    // The folder given on the command line may be new as well.
    fs::create_directories(root, ec);
    if (ec || !fs::is_directory(root, ec)) {
      // The reason goes with the text: a user can act on "Permission denied".
      const int err = ec ? ec.value() : ENOTDIR;
      prompt.Message(Format(kMsgCannotCreateRoot, root) + "\n" + File::ErrorText("create", root, err));
      return kFailed;
    }
  }
  if (lock) {
    std::string error;
    if (!lock->Lock(root, error)) {
      prompt.Message(error);
      return kFailed;
    }
  }
  if (deleteOldTrees) {
    for (const char* name : {"DISC", "TEMP"}) {
      const std::string folder = root + "/" + name;
      if (IsRealDirectory(folder) && !DeleteFolderTree(folder, true)) {
        prompt.Message(Format(kMsgCannotDelete, folder));
        return kFailed;
      }
    }
  }
  return CreateOutputTree(root, prompt) ? kOk : kFailed;
}

bool CreateOutputTree(const std::string& rootIn, IPrompt& prompt) {
  const std::string root = WithoutSlash(NormalizeSeparators(rootIn));
  const std::string bdmv = root + "/DISC/BDMV/";
  std::vector<std::string> folders = {root, root + "/DISC", root + "/TEMP", root + "/DISC/BDMV",
                                      root + "/DISC/CERTIFICATE"};
  for (const char* name : {"STREAM", "CLIPINF", "PLAYLIST", "BDJO", "JAR", "AUXDATA", "META", "BACKUP"})
    folders.push_back(bdmv + name);
  for (const char* name : {"CLIPINF", "PLAYLIST", "BDJO", "JAR"}) folders.push_back(bdmv + "BACKUP/" + name);
  folders.push_back(root + "/DISC/CERTIFICATE/BACKUP");

  for (const std::string& folder : folders) {
    // The build stages its files in TEMP: whatever an earlier, killed build
    // left there goes now. (BACKUP keeps the previous disc's copies until
    // this build's replace them.)
    if (folder == root + "/TEMP") {
      if (!CleanStaging(root)) {
        prompt.Message(Format(kMsgCannotDelete, folder));
        return false;
      }
      continue;
    }
    if (!EnsureFolder(folder)) {
      prompt.Message(Format(kMsgCannotCreateTree, folder));
      return false;
    }
  }
  return true;
}

bool DeleteFolderTree(const std::string& folder, bool removeItself) {
  std::error_code ec;
  // Entries can only be deleted from a writable folder.
  fs::permissions(folder, fs::perms::owner_write | fs::perms::owner_exec | fs::perms::owner_read,
                  fs::perm_options::add, ec);
  bool ok = true;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
  if (ec) ok = false;
  for (const fs::path& entry : entries) {
    std::error_code e;
    if (fs::is_directory(fs::symlink_status(entry, e))) {
      ok = DeleteFolderTree(entry.string(), true) && ok;
    } else if (!fs::remove(entry, e) || e) {
      ok = false;
    }
  }
  if (removeItself) {
    std::error_code e;
    if (!fs::remove(folder, e) || e) ok = false;
  }
  return ok;
}

bool IsDiscFileName(const std::string& lowerName, const std::string& ext) {
  if (lowerName.size() != 6 + ext.size() || lowerName[5] != '.' || lowerName.compare(6, ext.size(), ext) != 0)
    return false;
  return std::all_of(lowerName.begin(), lowerName.begin() + 5, [](char c) { return c >= '0' && c <= '9'; });
}

bool PurgeFolder(const std::string& folder, const std::vector<std::string>& keep, const std::string& ext,
                 std::string& error) {
  std::error_code ec;
  // A linked folder is purged inside, by name; nothing below it is entered.
  if (!fs::exists(folder, ec)) return true;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e;
    // Links, folders, pipes and devices are never the disc's.
    if (!fs::is_regular_file(fs::symlink_status(it->path(), e))) continue;
    const std::string lower = ToLower(it->path().filename().string());
    if (!IsDiscFileName(lower, ext)) continue;
    if (std::find(keep.begin(), keep.end(), lower) == keep.end()) stale.push_back(it->path());
  }
  if (ec) {
    error = Format(kMsgCannotDelete, folder);
    return false;
  }
  for (const fs::path& p : stale) {
    std::error_code e;
    if (!fs::remove(p, e) || e) {
      error = Format(kMsgCannotDelete, p.generic_string());
      return false;
    }
  }
  return true;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_size == sb.st_size && sa.st_mtim.tv_sec == sb.st_mtim.tv_sec &&
         sa.st_mtim.tv_nsec == sb.st_mtim.tv_nsec;
}

SBuildCounts AssignNumbers(CZvObject& project) {
  SBuildCounts n;
  int32_t title = 1;
  for (CFilmObject* film : project.Films()) {
    ClearPerBuildNumbers(*film);
    if (!FilmHasContent(*film)) continue;
    for (size_t i = 0; i < film->m_stories.GetCount(); ++i) {
      CStoryObject* story = film->m_stories.GetAt(i);
      if (story->HasEnabledTrack()) story->m_nClipNumber = n.clips++;
    }
    for (size_t i = 0; i < film->m_menus.GetCount(); ++i) {
      CZvIgObject* menu = film->m_menus.GetAt(i);
      if (!menu->IsEmpty()) menu->m_nClipNumber = n.clips++;
    }
    // Only movies and trailers become titles of the index; numbering the
    // logos or the top menu would shift every title a button jumps to.
    const bool titles = film != &project.m_logos && film != &project.m_topMenu;
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
      CPlObject* pl = film->m_playlists.GetAt(i);
      const int32_t count = PlaylistCount(*pl);
      if (count == 0) continue;
      pl->m_nPlaylistNumber = n.playlists;
      n.playlists += count;
      if (titles && pl->m_bHasTitle) {
        pl->m_nTitleNumber = title;
        title += count;
      }
    }
  }
  n.titles = title - 1;
  return n;
}

int BuildFilm(CFilmObject& film, const std::string& bdmvPath, const Progress& progress, IPrompt& prompt) {
  if (!FilmHasContent(film)) return kOk;
  if (!progress.Item(LogLine("Processing " + film.m_strName + ":"))) return kCancelled;
  film.m_stories.ClearBuildLists();
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i) PreparePlaylist(*film.m_playlists.GetAt(i));
  if (int rc = film.m_stories.BuildStories(bdmvPath, progress, prompt)) return rc;
  for (size_t i = 0; i < film.m_menus.GetCount(); ++i) {
    CZvIgObject* menu = film.m_menus.GetAt(i);
    if (menu->IsEmpty()) continue;
    if (!progress.Item(LogLine("Muxing " + menu->m_strName + ":"))) return kCancelled;
    const int rc = menu->BuildMenu(bdmvPath, film.m_strName + ":", progress, prompt);
    if (rc == kCancelled) return rc;
    if (rc != kOk) return kFailed;
  }
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i)
    if (!WritePlaylists(*film.m_playlists.GetAt(i), bdmvPath, prompt, progress)) return kFailed;
  return kOk;
}

bool WriteNavigationFiles(const std::string& bdmvPathIn, CZvObject& project, int32_t clipCount, int32_t playlistCount,
                          IPrompt& prompt, const std::string& installedBdmv) {
  const std::string path = WithSlash(bdmvPathIn);
  INDEX_BDMV index;
  MOVIE_OBJECTS mobj;
  if (!GenerateNavigation(project, index, mobj)) {
    prompt.Message("Cannot generate the disc navigation");
    return false;
  }
  std::vector<uint8_t> indexBytes, mobjBytes;
  try {
    indexBytes = EncodeIndex(index);
    mobjBytes = EncodeMovieObjects(mobj);
  } catch (const std::out_of_range& e) {
    prompt.Message(std::string("Cannot generate the disc navigation: ") + e.what());
    return false;
  }
  if (!WriteWithBackup(path, "index.bdmv", indexBytes, prompt)) return false;
  if (!WriteWithBackup(path, "MovieObject.bdmv", mobjBytes, prompt)) return false;

  if (!project.m_strSoundPath.empty()) {
    const std::string dest = path + "AUXDATA/" + kDiscSoundName;
    const std::string installed =
        installedBdmv.empty() ? dest : WithSlash(installedBdmv) + "AUXDATA/" + kDiscSoundName;
    std::string error;
    if (!IsSameFile(project.m_strSoundPath, installed) && !CopySoundFile(project.m_strSoundPath, dest, error)) {
      prompt.Message(error);
      return false;
    }
  }
  (void)clipCount;
  (void)playlistCount;
  return true;
}

// The navigation and menu rules of `check` over the disc as written, into
// the log: a finding is the author's to judge, the disc stays.
static void LogDiscCheck(const std::string& disc, const Progress& progress) {
  SCheckOptions options;
  options.clips = false;
  SCheckReport report;
  std::string error;
  if (CheckDisc(disc, options, report, error) != kOk) {
    progress.Item(LogLine("Cannot check the disc: " + error));
    return;
  }
  for (const SFinding& f : report.findings) progress.Item("  " + FindingText(f));
  progress.Item(LogLine("Checked navigation and menus: " + std::to_string(report.Count(Severity::kError)) + " errors, " +
                        std::to_string(report.Count(Severity::kWarning)) + " warnings"));
}

int BuildDisc(CZvObject& project, const std::string& bdmvPathIn, IPrompt& prompt, ITaskDialog& dialog) {
  const std::string path = WithSlash(NormalizeSeparators(bdmvPathIn));
  for (const char* name : {"STREAM", "CLIPINF", "PLAYLIST", "BACKUP", "BACKUP/CLIPINF", "BACKUP/PLAYLIST"}) {
    if (!EnsureFolder(path + name)) {
      prompt.Message(Format(kMsgCannotCreateBuild, path + name));
      return kFailed;
    }
  }
  const std::string root = RootOfBdmv(path);
  StagingCleanup cleanup(root);
  std::string failed;
  if (!CleanStaging(root) || !CreateStaging(root, failed)) {
    prompt.Message(Format(kMsgCannotCreateBuild, failed.empty() ? root + "/TEMP" : failed));
    return kFailed;
  }
  const std::string stage = root + "/TEMP/DISC/BDMV/";
  const SBuildCounts counts = AssignNumbers(project);

  DialogSession session(dialog);
  StopLatch latch(session.progress());
  const Progress progress = latch.Callback();
  if (!progress.Item(LogLine("Start to build..."))) return kCancelled;
  for (CFilmObject* film : project.Films()) {
    // A step that saw the stop may only know that it did not finish.
    if (int rc = BuildFilm(*film, stage, progress, prompt)) return latch.Stopped() ? kCancelled : rc;
  }
  if (!progress.Item(LogLine("Finalizing..."))) return kCancelled;
  if (!WriteNavigationFiles(stage, project, counts.clips, counts.playlists, prompt, path) ||
      !WriteCertificate(root + "/TEMP/DISC", prompt))
    return kFailed;
  // The last chance to stop with the previous disc untouched.
  if (!progress.Hide()) return kCancelled;
  if (!CommitStaging(root, project, counts, prompt)) return kFailed;
  LogDiscCheck(root + "/DISC", progress);
  return kOk;
}

bool WriteCertificate(const std::string& discPathIn, IPrompt& prompt) {
  const std::string cert = WithSlash(NormalizeSeparators(discPathIn)) + "CERTIFICATE/";
  return WriteWithBackup(cert, "id.bdmv", EncodeId(ID_BDMV{}), prompt);
}

int BuildProject(CZvObject& project, const std::string& outFolder, IPrompt& prompt, ITaskDialog& dialog,
                 Settings* settings) {
  try {
    for (CFilmObject* film : project.Films())
      if (!ValidateFilm(*film, prompt)) return kFailed;

    const std::string folder = WithSlash(NormalizeSeparators(outFolder));
    if (settings) {
      settings->SetOutFolder(folder);
      std::string error;
      // Losing the remembered folder is no reason to stop the build.
      if (!settings->Save(error)) prompt.Message(error);
    }
    const std::string root = OutputRoot(folder);
    // One build at a time in a folder: two would mix their files.
    CFileLock lock;
    if (int rc = PrepareOutputFolder(root, false, prompt, &lock)) return rc;
    return BuildDisc(project, root + "/DISC/BDMV/", prompt, dialog);
  } catch (const std::exception& e) {
    prompt.Message(std::string("Build failed: ") + e.what());
    return kFailed;
  }
}

}  // namespace zv
