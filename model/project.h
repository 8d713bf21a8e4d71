// The disc project: logos, top menu, movies and trailers, each a film with
// its stories, menus and playlists, plus the optional button-sound file; and
// the ".zvpj" project file that stores it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bdnav/sound_bdmv.h"
#include "model/menu.h"
#include "named/containers.h"
#include "model/playlist.h"
#include "model/story.h"
#include "platform/progress.h"
#include "platform/prompt.h"

namespace zv {

enum FilmType : uint8_t { kFilmLogos = 0, kFilmTopMenu = 1, kFilmMovie = 2, kFilmTrailers = 3 };

class CFilmObject : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CFilmObject)

 public:
  CFilmObject();

  uint8_t m_nFilmType = kFilmMovie;
  uint16_t m_nReserved = 0;  // stored unchanged
  CGosObject m_stories;
  CGoigObject m_menus;
  CGoplObject m_playlists;

  // Replaces the film's content with the default content of `type`.
  void SetFilmType(uint8_t type);
  // A new menu with the settings a menu of this film type starts with.
  CZvIgObject* CreateMenu(const std::string& baseName = {});

  void Serialize(CArchive& ar) override;
  void Reset() override;
  void CopyFrom(const CNamedObject& src) override;
  // Messages of sources that cannot be reopened go to `prompt` when given.
  bool ReloadSources(const Progress& progress, IPrompt* prompt = nullptr);
};

class CGofObject : public CGroupObject<CFilmObject> {
 public:
  const char* DefaultBaseName() const override { return "Movie"; }
  bool ReloadSources(const Progress& progress, IPrompt* prompt = nullptr);
};

class CZvObject : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CZvObject)

 public:
  CZvObject();

  bool m_bLoadFailed = false;  // the last load was refused (old format)
  std::string m_strSoundPath;  // absolute; empty = none
  std::unique_ptr<CSoundBdmv> m_pSound;  // the parsed sound file; null when none (or not opened yet)
  CFilmObject m_logos;
  CFilmObject m_topMenu;
  CGofObject m_movies;
  CFilmObject m_trailers;

  // The default project: logos, top menu, one movie, trailers.
  void InitNew();
  void Serialize(CArchive& ar) override;
  void Reset() override;
  // Re-opens every source after a load; true when anything had to change.
  // Messages go to `prompt`.
  bool ReloadSources(const Progress& progress, IPrompt& prompt);
  // An empty path removes the sound file. Otherwise the file is read and
  // parsed; only a sound file replaces the current one. A file that cannot
  // be read shows its system error, one that does not parse "%s: wrong file
  // format! "; both fail and leave the project as it was.
  bool LoadSoundFile(const std::string& path, IPrompt& prompt);
  // Sounds in the parsed sound file (0 without one).
  size_t SoundCount() const { return m_pSound ? m_pSound->Count() : 0; }

  // The films in build order: logos, top menu, movies, trailers.
  std::vector<CFilmObject*> Films();
};

constexpr uint32_t kProjectMagic = 0x5A56504A;
constexpr uint8_t kProjectFormat = 0;
constexpr uint8_t kProjectHeaderVersion = 1;
constexpr uint8_t kProjectVersion = 2;
extern const char* const kMsgOldProject;  // "Old project file is not supported! "

// The bytes of the project file at `projectPath` (paths are stored relative
// to it).
std::vector<uint8_t> StoreProject(CZvObject& project, const std::string& projectPath);
// Loads a project from bytes. A foreign magic gives an empty project and
// kOk. On failure (kFailed) `message` says why and the project is emptied.
int LoadProject(const std::vector<uint8_t>& bytes, const std::string& projectPath, CZvObject& project,
                std::string& message);

// Writes beside the file and renames over it when complete.
int SaveProjectFile(const std::string& path, CZvObject& project, std::string& message);
// Reads and loads the project file without reopening its sources. A file
// without the project magic is refused (kFailed), so a command never saves a
// project over a file of another kind.
int ReadProjectFile(const std::string& path, CZvObject& project, std::string& message);
// ReadProjectFile, then ReloadSources; `modified` tells whether reloading
// changed the project.
int OpenProjectFile(const std::string& path, CZvObject& project, IPrompt& prompt, const Progress& progress,
                    bool& modified, std::string& message);

}  // namespace zv
