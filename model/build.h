// The Build command: checks the project, prepares the output tree below
// OUTFOLDER/Zelvane, numbers clips, playlists and titles, builds the films
// in the order logos, top menu, movies, trailers, and writes the navigation
// files, their BACKUP copies and the certificate.
//
// Output tree below the root:
//   DISC/BDMV/{index.bdmv, MovieObject.bdmv}
//   DISC/BDMV/{STREAM, CLIPINF, PLAYLIST, BDJO, JAR, AUXDATA, META}
//   DISC/BDMV/AUXDATA/sound.bdmv (the project's sound file, when it has one)
//   DISC/BDMV/BACKUP/{index.bdmv, MovieObject.bdmv, CLIPINF, PLAYLIST, BDJO, JAR}
//   DISC/CERTIFICATE/{id.bdmv, BACKUP/id.bdmv}
//   TEMP
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "platform/prompt.h"

namespace zv {

class CFileLock;
class CFilmObject;
class CZvObject;
class Settings;

// The build's texts, shown as they stand.
extern const char* const kMsgHasNoVideo;         // "has no video! " (after "%s " with the film's label)
extern const char* const kMsgOverwrite;          // "%s\n exists, overwrite ? "
extern const char* const kMsgCannotCreateRoot;   // "Cannot create %s ! "
extern const char* const kMsgCannotDelete;       // "Cannot delete %s !"
extern const char* const kMsgCannotCreateTree;   // "Cannot create directory: %s !"
extern const char* const kMsgCannotCreateBuild;  // "Can not create directory: %s! "
extern const char* const kMsgBuiltOk;            // "\"%s\" built sucessfully! "
extern const char* const kMsgStopBuild;          // "Really want to stop current build? "

// The build's progress window: open while the films and the navigation files
// are built. The shell shows it on the terminal; tests record it.
class ITaskDialog {
 public:
  virtual ~ITaskDialog() = default;
  virtual Progress Open() = 0;
  virtual void Close() = 0;
};

struct SBuildCounts {
  int32_t clips = 0;
  int32_t playlists = 0;
  int32_t titles = 0;
};

// FOLDER + the five-digit number + EXT ("BDMV/STREAM/00012.m2ts").
std::string ClipFilePath(const std::string& folder, int32_t number, const char* ext);

// "[HH:MM:SS]: text" in local time, the form of every build log line.
std::string LogLine(const std::string& text);

// The output root for a chosen folder: the folder plus "Zelvane", with '/'.
std::string OutputRoot(const std::string& outFolder);

// The first failing check shows its message and fails the film.
bool ValidateFilm(CFilmObject& film, IPrompt& prompt);

// Asks before reusing an existing root (only Yes goes on: anything else
// gives kCancelled), creates a missing one, takes `lock` on it when given
// (failing with the lock's message when another build holds it),
// optionally deletes old DISC and TEMP trees, then CreateOutputTree. kOk,
// kCancelled or kFailed.
int PrepareOutputFolder(const std::string& root, bool deleteOldTrees, IPrompt& prompt, CFileLock* lock = nullptr);
// Creates the missing folders of the tree and empties TEMP (a link there is
// replaced by a folder). The previous disc's files all stay.
bool CreateOutputTree(const std::string& root, IPrompt& prompt);
// Deletes the folder's contents, and the folder too when `removeItself`.
// Symbolic links are deleted, never followed. False if anything stayed.
bool DeleteFolderTree(const std::string& folder, bool removeItself);
// True for the names the disc owns in a folder of `ext` files: five digits,
// a dot and the extension ("00012.m2ts"), in lower case.
bool IsDiscFileName(const std::string& lowerName, const std::string& ext);
// Deletes every regular file of `folder` whose lower-cased name the disc
// owns (IsDiscFileName with `ext`) and is not in `keep` (lower-case names).
// Other files, links, sub-folders and special files stay; a linked folder
// is purged inside. False with `error` naming the first file that could not
// be deleted.
bool PurgeFolder(const std::string& folder, const std::vector<std::string>& keep, const std::string& ext,
                 std::string& error);
// Both exist with equal sizes and modification times.
bool IsSameFile(const std::string& a, const std::string& b);

// Clip numbers from 0 (stories with an enabled track, then non-empty menus),
// playlist numbers from 0 and title numbers from 1, for films with content
// in build order; everything else gets -1. Returns the counts.
SBuildCounts AssignNumbers(CZvObject& project);

// Builds the films, the navigation files and the certificate for the disc
// at `bdmvPath` (".../Zelvane/DISC/BDMV/"). Everything is written below
// ".../Zelvane/TEMP" first and moved into the disc only when all of it
// succeeded, navigation files last; a cancel or failure before that leaves
// the previous disc as it was. TEMP is empty again on every way out.
int BuildDisc(CZvObject& project, const std::string& bdmvPath, IPrompt& prompt, ITaskDialog& dialog);
// 0 built, otherwise the result of the failing or cancelled step.
int BuildFilm(CFilmObject& film, const std::string& bdmvPath, const Progress& progress, IPrompt& prompt);
// index.bdmv, MovieObject.bdmv and their backups, and the sound file,
// into `bdmvPath`. The sound file is not copied when the one at
// `installedBdmv` (the disc the files will be moved into; `bdmvPath` when
// empty) is already the same.
bool WriteNavigationFiles(const std::string& bdmvPath, CZvObject& project, int32_t clipCount, int32_t playlistCount,
                          IPrompt& prompt, const std::string& installedBdmv = {});
// id.bdmv in DISC/CERTIFICATE and its backup.
bool WriteCertificate(const std::string& discPath, IPrompt& prompt);

// The whole command: validation, OutFolder setting (when `settings` is
// given), preparation, BuildDisc and the certificate. kOk, kCancelled or
// kFailed; every failure has shown its message.
int BuildProject(CZvObject& project, const std::string& outFolder, IPrompt& prompt, ITaskDialog& dialog,
                 Settings* settings);

}  // namespace zv
