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

}  // namespace zv
