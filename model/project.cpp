#include "model/project.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "named/source.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace zv {

const char* const kMsgOldProject = "Old project file is not supported! ";

ZV_IMPLEMENT_DYNCREATE(CFilmObject, 1)

CFilmObject::CFilmObject() {
  m_stories.m_pParent = this;
  m_menus.m_pParent = this;
  m_playlists.m_pParent = this;
}

CZvIgObject* CFilmObject::CreateMenu(const std::string& baseName) {
  CZvIgObject* menu = m_menus.CreateChild(baseName);
  if (m_nFilmType == kFilmTopMenu) {
    menu->SetPopup(false, 0);
    menu->m_bCommandMode = false;
  } else {
    menu->SetPopup(true, 8);
  }
  return menu;
}

void CFilmObject::SetFilmType(uint8_t type) {
  m_nFilmType = type;
  Reset();
  CPlObject* playlist = m_playlists.CreateChild();
  switch (type) {
    case kFilmLogos:
      m_stories.CreateChild();
      playlist->m_bHasTitle = false;
      playlist->m_nPlayMode = kSeparate;
      break;
    case kFilmTopMenu:
      m_stories.CreateChild("Background AV")->SetName("Background AV");
      playlist->m_bHasTitle = false;
      playlist->SetMenu(CreateMenu());
      break;
    case kFilmMovie:
      m_stories.CreateChild();
      playlist->SetMenu(CreateMenu());
      break;
    case kFilmTrailers:
      playlist->m_nPlayMode = kSeparate;
      break;
    default:
      break;
  }
  AddStoriesToPlaylist(*playlist, m_stories);
}

// Name, id, a reserved word, the film type, then the three groups.
void CFilmObject::Serialize(CArchive& ar) {
  if (ar.IsLoading()) Reset();
  CNamedObject::Serialize(ar);
  ar.Word(m_nReserved);
  ar.Byte(m_nFilmType);
  m_stories.Serialize(ar);
  m_menus.Serialize(ar);
  m_playlists.Serialize(ar);
}

void CFilmObject::Reset() {
  m_stories.Reset();
  m_menus.Reset();
  m_playlists.Reset();
}

void CFilmObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  auto* s = dynamic_cast<const CFilmObject*>(&src);
  if (!s || s == this) return;
  m_nFilmType = s->m_nFilmType;
  m_nReserved = s->m_nReserved;
  m_stories.Copy(s->m_stories);
  m_menus.Copy(s->m_menus);
  m_playlists.Copy(s->m_playlists);
  m_stories.m_pParent = m_menus.m_pParent = m_playlists.m_pParent = this;
  // The copied items still point at the source film's stories and menus.
  m_playlists.ReloadSources(m_stories, m_menus);
}

bool CFilmObject::ReloadSources(const Progress& progress, IPrompt* prompt) {
  // Without a user to tell, the parsers' messages go nowhere.
  ScriptedPrompt quiet;
  bool changed = m_stories.ReloadSources(progress, prompt ? *prompt : quiet);
  changed |= m_menus.ReloadSources(progress);
  changed |= m_playlists.ReloadSources(m_stories, m_menus);
  return changed;
}

bool CGofObject::ReloadSources(const Progress& progress, IPrompt* prompt) {
  bool changed = false;
  for (size_t i = 0; i < GetCount(); ++i) changed |= GetAt(i)->ReloadSources(progress, prompt);
  return changed;
}

// ---------------------------------------------------------------------------

ZV_IMPLEMENT_DYNCREATE(CZvObject, 1)

CZvObject::CZvObject() {
  for (CNamedObject* part : {static_cast<CNamedObject*>(&m_logos), static_cast<CNamedObject*>(&m_topMenu),
                             static_cast<CNamedObject*>(&m_movies), static_cast<CNamedObject*>(&m_trailers)})
    part->m_pParent = this;
  m_logos.m_nFilmType = kFilmLogos;
  m_topMenu.m_nFilmType = kFilmTopMenu;
  m_trailers.m_nFilmType = kFilmTrailers;
}

void CZvObject::InitNew() {
  Reset();
  SetName("Disc");
  m_logos.SetFilmType(kFilmLogos);
  m_logos.SetName("Logos");
  m_topMenu.SetFilmType(kFilmTopMenu);
  m_topMenu.SetName("Top Menu");
  m_movies.SetName("Movies");
  m_movies.CreateChild("Movie")->SetFilmType(kFilmMovie);
  m_trailers.SetFilmType(kFilmTrailers);
  m_trailers.SetName("Trailers");
}

void CZvObject::Serialize(CArchive& ar) {
  if (ar.IsLoading()) Reset();
  CNamedObject::Serialize(ar);
  uint8_t version = kProjectVersion;
  ar.Byte(version);
  if (ar.IsLoading() && version < kProjectVersion) {
    m_bLoadFailed = true;
    return;
  }
  ar.Path(m_strSoundPath);
  m_logos.Serialize(ar);
  m_topMenu.Serialize(ar);
  m_movies.Serialize(ar);
  m_trailers.Serialize(ar);
}

void CZvObject::Reset() {
  m_strSoundPath.clear();
  m_pSound.reset();
  m_logos.Reset();
  m_topMenu.Reset();
  m_movies.Reset();
  m_trailers.Reset();
}

bool CZvObject::LoadSoundFile(const std::string& path, IPrompt& prompt) {
  if (path.empty()) {
    m_strSoundPath.clear();
    m_pSound.reset();
    return true;
  }
  std::string error;
  if (!CheckPathLength(path, error)) {
    prompt.Message(error);
    return false;
  }
  File f;
  if (!f.Open(path, File::kRead)) {
    prompt.Message(f.Error());
    return false;
  }
  auto sound = std::make_unique<CSoundBdmv>();
  std::string why;
  if (!sound->Read(f, &why)) {
    // A read error is the system's; anything else is the file's content.
    if (!f.Error().empty()) {
      prompt.Message(f.Error());
    } else {
      std::string text = kMsgWrongSoundFormat;
      text.replace(text.find("%s"), 2, path);
      prompt.Message(text + "\n" + why);
    }
    return false;
  }
  m_strSoundPath = path;
  m_pSound = std::move(sound);
  return true;
}

bool CZvObject::ReloadSources(const Progress& progress, IPrompt& prompt) {
  bool changed = false;
  if (!m_strSoundPath.empty() && !LoadSoundFile(m_strSoundPath, prompt)) {
    m_strSoundPath.clear();
    changed = true;
  }
  for (CFilmObject* film : Films()) changed |= film->ReloadSources(progress, &prompt);
  return changed;
}

std::vector<CFilmObject*> CZvObject::Films() {
  std::vector<CFilmObject*> films{&m_logos, &m_topMenu};
  for (size_t i = 0; i < m_movies.GetCount(); ++i) films.push_back(m_movies.GetAt(i));
  films.push_back(&m_trailers);
  return films;
}

// ---------------------------------------------------------------------------

// Stored paths are relative to the project file, so it needs a full path.
static std::string FullPath(const std::string& path) { return AbsolutePath(NormalizeSeparators(path)); }

// Through a symbolic link the project lives in its real folder, and the
// paths it stores are relative to that folder; it is opened from there too.
static std::string RealFilePath(const std::string& path) {
  const std::string full = FullPath(path);
  if (char* real = ::realpath(full.c_str(), nullptr)) {
    std::string r = real;
    std::free(real);
    return r;
  }
  // Not there yet: the real folder and the name.
  if (char* real = ::realpath(FolderOf(full).c_str(), nullptr)) {
    std::string r = std::string(real) + "/" + FileNameOf(full);
    std::free(real);
    return r;
  }
  return full;
}

std::vector<uint8_t> StoreProject(CZvObject& project, const std::string& projectPath) {
  ArchiveOut out;
  CCommonFileHeader(kProjectMagic, kProjectFormat, kProjectHeaderVersion).Store(out);
  CArchive ar(out, projectPath);
  project.Serialize(ar);
  return std::move(out.Bytes());
}

int LoadProject(const std::vector<uint8_t>& bytes, const std::string& projectPath, CZvObject& project,
                std::string& message) {
  project.Reset();
  project.m_strName.clear();
  project.m_nId = -1;
  project.m_bLoadFailed = false;
  try {
    ArchiveIn in(bytes);
    CCommonFileHeader header;
    header.m_nMagic = in.U32();
    if (header.m_nMagic != kProjectMagic) return kOk;  // not ours: an empty project
    header.m_nFormat = in.U8();
    header.m_nVersion = in.U8();
    header.m_nReserved = in.U32();
    CArchive ar(in, projectPath);
    project.Serialize(ar);
  } catch (const ArchiveError& e) {
    project.Reset();
    message = e.what();
    return kFailed;
  }
  if (project.m_bLoadFailed) {
    project.Reset();
    message = kMsgOldProject;
    return kFailed;
  }
  return kOk;
}

int SaveProjectFile(const std::string& path, CZvObject& project, std::string& message) {
  if (!CheckPathLength(path, message)) return kFailed;
  std::vector<uint8_t> bytes = StoreProject(project, RealFilePath(path));
  if (!WriteFileAtomic(path, bytes.data(), bytes.size(), message)) return kFailed;
  return kOk;
}

int ReadProjectFile(const std::string& path, CZvObject& project, std::string& message) {
  if (!CheckPathLength(path, message)) return kFailed;
  // A file of another kind would load as an empty project and the next save
  // would overwrite it; its head is enough to refuse it (it may be a large
  // stream given by mistake).
  {
    File f;
    uint8_t head[4] = {};
    if (!f.Open(path, File::kRead)) {
      message = f.Error();
      return kFailed;
    }
    const int64_t got = f.Read(head, sizeof head);
    if (got < 0) {
      message = f.Error();
      return kFailed;
    }
    if (got < 4 || (head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24) != kProjectMagic) {
      message = "\"" + path + "\" is not a project file";
      return kFailed;
    }
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, message)) return kFailed;
  return LoadProject(bytes, RealFilePath(path), project, message);
}

int OpenProjectFile(const std::string& path, CZvObject& project, IPrompt& prompt, const Progress& progress,
                    bool& modified, std::string& message) {
  modified = false;
  if (ReadProjectFile(path, project, message) != kOk) return kFailed;
  modified = project.ReloadSources(progress, prompt);
  return kOk;
}

}  // namespace zv
