#include "model/object_path.h"

#include "graphics/menu_model.h"
#include "model/menu.h"
#include "platform/paths.h"

namespace zv {

namespace {

template <class Group>
void AddChildren(std::vector<std::pair<std::string, CNamedObject*>>& out, const Group& group) {
  for (size_t i = 0; i < group.GetCount(); ++i) out.emplace_back(group.GetAt(i)->m_strName, group.GetAt(i));
}

}  // namespace

std::vector<std::pair<std::string, CNamedObject*>> ChildrenOf(CZvObject& project, CNamedObject* obj) {
  std::vector<std::pair<std::string, CNamedObject*>> out;
  if (!obj || obj == &project) {
    out.emplace_back(project.m_logos.m_strName, &project.m_logos);
    out.emplace_back(project.m_topMenu.m_strName, &project.m_topMenu);
    AddChildren(out, project.m_movies);
    out.emplace_back(project.m_trailers.m_strName, &project.m_trailers);
    out.emplace_back(project.m_movies.m_strName, &project.m_movies);
  } else if (auto* film = dynamic_cast<CFilmObject*>(obj)) {
    AddChildren(out, film->m_stories);
    AddChildren(out, film->m_menus);
    AddChildren(out, film->m_playlists);
    out.emplace_back(film->m_stories.m_strName, &film->m_stories);
    out.emplace_back(film->m_menus.m_strName, &film->m_menus);
    out.emplace_back(film->m_playlists.m_strName, &film->m_playlists);
  } else if (auto* movies = dynamic_cast<CGofObject*>(obj)) {
    AddChildren(out, *movies);
  } else if (auto* stories = dynamic_cast<CGosObject*>(obj)) {
    AddChildren(out, *stories);
  } else if (auto* menus = dynamic_cast<CGoigObject*>(obj)) {
    AddChildren(out, *menus);
  } else if (auto* playlists = dynamic_cast<CGoplObject*>(obj)) {
    AddChildren(out, *playlists);
  } else if (auto* ig = dynamic_cast<CIgObject*>(obj)) {
    AddChildren(out, *ig);
  } else if (auto* epoch = dynamic_cast<CEpoch*>(obj)) {
    AddChildren(out, *epoch);
    out.emplace_back(epoch->m_graphics.m_strName, &epoch->m_graphics);
  } else if (auto* graphics = dynamic_cast<CGoFolder*>(obj)) {
    for (size_t i = 0; i < graphics->GetCount(); ++i) out.emplace_back(graphics->GetAt(i)->m_strName, graphics->GetAt(i));
    for (size_t i = 0; i < graphics->GetFolderCount(); ++i)
      out.emplace_back(graphics->GetFolderAt(i)->m_strName, graphics->GetFolderAt(i));
  } else if (auto* ds = dynamic_cast<CDisplaySet*>(obj)) {
    AddChildren(out, *ds);
  } else if (auto* page = dynamic_cast<CPage*>(obj)) {
    AddChildren(out, *page);
  } else if (auto* bog = dynamic_cast<CBog*>(obj)) {
    AddChildren(out, *bog);
  } else if (auto* playlist = dynamic_cast<CPlObject*>(obj)) {
    for (size_t i = 0; i < playlist->GetCount(); ++i)
      out.emplace_back("PI#" + std::to_string(i + 1), playlist->GetAt(i));
  }
  return out;
}

CNamedObject* FindObject(CZvObject& project, const std::string& path, std::string& error) {
  CNamedObject* current = &project;
  std::string walked;
  size_t start = 0;
  std::string p = path;
  while (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) {
    error = "no object name given";
    return nullptr;
  }
  while (start <= p.size()) {
    size_t slash = p.find('/', start);
    std::string part = p.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    auto children = ChildrenOf(project, current);
    CNamedObject* found = nullptr;
    for (const auto& [name, child] : children)
      if (name == part) {
        found = child;
        break;
      }
    if (!found)
      for (const auto& [name, child] : children)
        if (!name.empty() && EqualsNoCase(name, part)) {
          found = child;
          break;
        }
    if (!found) {
      error = "no object \"" + part + "\"" + (walked.empty() ? std::string() : " in \"" + walked + "\"");
      if (children.empty()) {
        error += "; \"" + walked + "\" has no children";
      } else {
        error += "; it has:";
        for (const auto& [name, child] : children) error += " \"" + name + "\"";
      }
      return nullptr;
    }
    current = found;
    walked += (walked.empty() ? "" : "/") + part;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return current;
}

CFilmObject* FilmOf(CNamedObject* obj) {
  for (CNamedObject* o = obj; o; o = o->m_pParent)
    if (auto* film = dynamic_cast<CFilmObject*>(o)) return film;
  return nullptr;
}

bool DeleteObject(CZvObject& project, CNamedObject* obj) {
  if (!obj) return false;
  CNamedObject* parent = obj->m_pParent;
  if (auto* story = dynamic_cast<CStoryObject*>(obj)) {
    CFilmObject* film = FilmOf(story);
    if (!film || film->m_stories.IndexOf(story) < 0) return false;
    // Play items of a deleted story would play nothing: they go with it.
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
      CPlObject* pl = film->m_playlists.GetAt(i);
      for (size_t k = pl->GetCount(); k-- > 0;)
        if (pl->GetAt(k)->m_pStory == story) pl->RemoveAt(k);
    }
    film->m_stories.RemoveAt(static_cast<size_t>(film->m_stories.IndexOf(story)));
  } else if (auto* menu = dynamic_cast<CZvIgObject*>(obj)) {
    CFilmObject* film = FilmOf(menu);
    if (!film || film->m_menus.IndexOf(menu) < 0) return false;
    for (size_t i = 0; i < film->m_playlists.GetCount(); ++i)
      if (film->m_playlists.GetAt(i)->m_pMenu == menu) film->m_playlists.GetAt(i)->SetMenu(nullptr);
    film->m_menus.RemoveAt(static_cast<size_t>(film->m_menus.IndexOf(menu)));
  } else if (auto* pl = dynamic_cast<CPlObject*>(obj)) {
    CFilmObject* film = FilmOf(pl);
    if (!film || film->m_playlists.IndexOf(pl) < 0) return false;
    film->m_playlists.RemoveAt(static_cast<size_t>(film->m_playlists.IndexOf(pl)));
  } else if (auto* pi = dynamic_cast<CPiObject*>(obj)) {
    auto* owner = dynamic_cast<CPlObject*>(parent);
    if (!owner || owner->IndexOf(pi) < 0) return false;
    owner->RemoveAt(static_cast<size_t>(owner->IndexOf(pi)));
  } else if (auto* button = dynamic_cast<CBdButton*>(obj)) {
    auto* bog = dynamic_cast<CBog*>(parent);
    if (!bog || bog->IndexOf(button) < 0) return false;
    if (CPage* page = bog->Page()) page->ForgetButton(button);
    else if (bog->m_defaultButton.p == button) bog->m_defaultButton.Clear();
    bog->RemoveAt(static_cast<size_t>(bog->IndexOf(button)));
  } else if (auto* bog = dynamic_cast<CBog*>(obj)) {
    auto* page = dynamic_cast<CPage*>(parent);
    if (!page || page->IndexOf(bog) < 0) return false;
    for (size_t i = 0; i < bog->GetCount(); ++i) page->ForgetButton(bog->GetAt(i));
    page->RemoveAt(static_cast<size_t>(page->IndexOf(bog)));
  } else if (auto* page = dynamic_cast<CPage*>(obj)) {
    auto* ds = dynamic_cast<CDisplaySet*>(parent);
    if (!ds || ds->IndexOf(page) < 0) return false;
    ds->RemoveAt(static_cast<size_t>(ds->IndexOf(page)));
  } else if (parent == &project.m_movies && project.m_movies.IndexOf(obj) >= 0) {
    project.m_movies.RemoveAt(static_cast<size_t>(project.m_movies.IndexOf(obj)));
  } else {
    return false;
  }
  return true;
}

}  // namespace zv
