// Addressing model objects by their names in the project tree, for example
// "Movie#1/Title#1/PI#1", "Top Menu/IG#1" or, inside a menu,
// "IG#1/Epoch#1/DisplaySet#1/Page#1/Bog#1/Button#1". Play items have no names of
// their own and are addressed as "PI#n" (1-based).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "model/project.h"

namespace zv {

// The addressable children of `obj` (the project itself when null), each
// with the name it is addressed by.
std::vector<std::pair<std::string, CNamedObject*>> ChildrenOf(CZvObject& project, CNamedObject* obj);

// Resolves a '/'-separated path. An exact name wins over one that differs
// only in letter case. On failure returns null and `error` lists the names
// that exist where the lookup stopped.
CNamedObject* FindObject(CZvObject& project, const std::string& path, std::string& error);

// The film that holds `obj` (or `obj` itself when it is a film), or null.
CFilmObject* FilmOf(CNamedObject* obj);

// The Delete command: removes a movie, clip (story), menu, title, play item,
// menu page, BOG or button, with what refers to it (play items of a deleted
// story, a title's link to a deleted menu, a page's references to deleted
// buttons). False, with nothing changed, for an object that cannot be
// deleted (a film group, the project's fixed films, ...). `obj` is freed.
bool DeleteObject(CZvObject& project, CNamedObject* obj);

}  // namespace zv
