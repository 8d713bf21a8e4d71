#include "edit/commands.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "chapters/chapters.h"
#include "edit/properties.h"
#include "graphics/menu_model.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "model/story.h"
#include "platform/paths.h"

namespace zvedit {

namespace {

zv::CEpoch* FirstEpoch(zv::CIgObject& menu) {
  if (menu.GetCount() == 0) menu.AddEpoch();
  zv::CEpoch* e = menu.GetAt(0);
  if (e->GetCount() == 0) e->AddDisplaySet();
  return e;
}

}  // namespace

zv::CFilmObject* AddMovie(zv::CZvObject& project) {
  zv::CFilmObject* movie = project.m_movies.CreateChild();
  movie->SetFilmType(zv::kFilmMovie);
  return movie;
}

zv::CPlObject* AddTitle(zv::CFilmObject& film) {
  zv::CPlObject* pl = film.m_playlists.CreateChild();
  zv::AddStoriesToPlaylist(*pl, film.m_stories);
  return pl;
}

zv::CStoryObject* AddClip(zv::CFilmObject& film) { return film.m_stories.CreateChild(); }

zv::CZvIgObject* AddMenu(zv::CFilmObject& film) { return film.CreateMenu(); }

zv::CPiObject* AddPlayItem(zv::CZvObject& project, zv::CPlObject& pl, const std::string& clip, std::string& error) {
  zv::CFilmObject* film = zv::FilmOf(&pl);
  std::string clipPath = clip;
  if (clipPath.find('/') == std::string::npos) clipPath = film->m_strName + "/" + clipPath;
  zv::CNamedObject* obj = zv::FindObject(project, clipPath, error);
  if (!obj) return nullptr;
  auto* story = dynamic_cast<zv::CStoryObject*>(obj);
  if (!story) return error = "\"" + clip + "\" is not a clip", nullptr;
  if (zv::FilmOf(story) != film)
    return error = "\"" + clip + "\" is not a clip of \"" + film->m_strName + "\"; a title plays clips of its own film",
           nullptr;
  zv::CPiObject* item = pl.Add(std::make_unique<zv::CPiObject>());
  zv::LinkStory(*item, story);
  return item;
}

zv::CPage* AddPage(zv::CNamedObject& obj, const std::string& path, std::string& where, std::string& error) {
  auto* ds = dynamic_cast<zv::CDisplaySet*>(&obj);
  where = path;
  if (auto* menu = dynamic_cast<zv::CZvIgObject*>(&obj)) {
    zv::CEpoch* epoch = FirstEpoch(*menu);
    ds = epoch->GetAt(0);
    where += "/" + epoch->m_strName + "/" + ds->m_strName;
  }
  if (!ds) return error = "\"" + path + "\" is not a menu or a display set", nullptr;
  if (ds->GetCount() >= 255) return error = "a display set holds at most 255 pages", nullptr;
  return ds->AddPage();
}

zv::CBog* AddBog(zv::CNamedObject& obj, const std::string& path, std::string& error) {
  auto* page = dynamic_cast<zv::CPage*>(&obj);
  if (!page) return error = "\"" + path + "\" is not a page", nullptr;
  if (page->GetCount() >= 255) return error = "a page holds at most 255 BOGs", nullptr;
  return page->AddBog();
}

zv::CBdButton* AddButton(zv::CNamedObject& obj, const std::string& path, std::string& error) {
  auto* bog = dynamic_cast<zv::CBog*>(&obj);
  if (!bog) return error = "\"" + path + "\" is not a BOG", nullptr;
  if (bog->GetCount() >= 255) return error = "a BOG holds at most 255 buttons", nullptr;
  zv::CBdButton* b = bog->AddButton();
  if (!b) error = "all 8160 button ids of the page are in use";
  return b;
}

zv::CGraphicObject* AddGraphic(zv::CNamedObject& obj, const std::string& path, const std::string& file,
                               std::string& error) {
  auto* menu = dynamic_cast<zv::CZvIgObject*>(&obj);
  if (!menu) return error = "\"" + path + "\" is not a menu", nullptr;
  zv::CEpoch* epoch = FirstEpoch(*menu);
  zv::CNamedPtrCollection all;
  zv::GatherGraphics(*epoch, all);
  int32_t id = 0;
  for (size_t i = 0; i < all.GetCount(); ++i) id = std::max(id, all.GetAt(i)->m_nId + 1);
  if (id > 0xFFFE) return error = "the epoch has no graphic id left", nullptr;
  auto g = std::make_unique<zv::CGraphicObject>();
  const std::string full = zv::AbsolutePath(file);
  if (!zv::CheckPathLength(full, error)) return nullptr;
  if (std::string why; !g->SetImageFile(full, &why))
    return error = "\"" + file + "\" is not a picture that can be read: " + why, nullptr;
  g->m_nId = id;
  std::string name = zv::FileNameOf(full);
  for (int n = 2; FindGraphic(epoch, name); ++n) name = zv::FileNameOf(full) + "#" + std::to_string(n);
  g->SetName(name);
  return epoch->m_graphics.Add(std::move(g));
}

// True for hh:mm:ss:ff and hh:mm:ss.mmm text that ParseTimecode accepts.
bool IsTimecode(const std::string& t) {
  auto digit = [&](size_t i, char hi) { return t[i] >= '0' && t[i] <= hi; };
  if (t.size() != 11 && t.size() != 12) return false;
  if (t[2] != ':' || t[5] != ':') return false;
  if (!digit(0, '9') || !digit(1, '9') || !digit(3, '5') || !digit(4, '9') || !digit(6, '5') || !digit(7, '9'))
    return false;
  // Frames 40-59 exist at 50 and 59.94 fps; the item's rate decides later.
  if (t.size() == 11) return t[8] == ':' && digit(9, '5') && digit(10, '9');
  return (t[8] == '.' || t[8] == ':' || t[8] == ';') && digit(9, '9') && digit(10, '9') && digit(11, '9');
}

size_t AddChapter(zv::CPiObject& item, int code, const std::string& time, const std::string& name, std::string& error) {
  if (time != "end" && !IsTimecode(time))
    return error = "\"" + time + "\" is not a timecode (hh:mm:ss:ff or hh:mm:ss.mmm) or \"end\"", 0;
  if (!item.m_pStory) return error = zv::kMsgSelectClipFirst, 0;
  // A frame field past the last frame of a second would silently move the
  // chapter into the next second.
  const int framesPerSecond = static_cast<int>(std::ceil(zv::FpsOfCode(code)));
  if (time.size() == 11 && std::stoi(time.substr(9)) >= framesPerSecond)
    return error = "\"" + time + "\": a second has frames 00 to " + std::to_string(framesPerSecond - 1) + " at " +
                   zv::FpsNameOfCode(code) + " fps",
           0;
  item.m_chapters.m_nFpsCode = static_cast<uint8_t>(code);
  zv::CChapterPoint p;
  p.time = time == "end" ? -1 : zv::ParseTimecode(time, zv::FpsOfCode(code));
  p.name = name;
  return item.m_chapters.InsertInTimeOrder(p) + 1;
}

bool RemoveChapter(zv::CPiObject& item, size_t number, const std::string& path, std::string& error) {
  zv::CChapters& chapters = item.m_chapters;
  if (number < 1 || number > chapters.m_points.size())
    return error = "\"" + path + "\" has " + std::to_string(chapters.m_points.size()) + " chapters", false;
  chapters.m_points.erase(chapters.m_points.begin() + static_cast<std::ptrdiff_t>(number - 1));
  return true;
}

bool Delete(zv::CZvObject& project, zv::CNamedObject* obj, const std::string& path, std::string& error) {
  if (zv::DeleteObject(project, obj)) return true;
  error = "\"" + path + "\" cannot be deleted";
  return false;
}

}  // namespace zvedit
