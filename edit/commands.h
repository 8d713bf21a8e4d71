// The object commands both shells offer: adding films' children, menu
// parts and graphics, and deleting. Each changes the project in memory and
// returns the new object, or null with `error` (the whole message, naming
// the object by `path` as the user gave it); the shell saves.
#pragma once

#include <string>

#include "model/menu.h"
#include "model/project.h"

namespace zvedit {

zv::CFilmObject* AddMovie(zv::CZvObject& project);
// A title playing every clip of the film.
zv::CPlObject* AddTitle(zv::CFilmObject& film);
zv::CStoryObject* AddClip(zv::CFilmObject& film);
zv::CZvIgObject* AddMenu(zv::CFilmObject& film);
// A play item of `title` playing `clip`, named within the title's film or by
// its whole path. A title may play a clip more than once.
zv::CPiObject* AddPlayItem(zv::CZvObject& project, zv::CPlObject& title, const std::string& clip, std::string& error);

// A page of a menu (its first display set, `where` then gains the epoch and
// display set) or of a display set.
zv::CPage* AddPage(zv::CNamedObject& menuOrSet, const std::string& path, std::string& where, std::string& error);
zv::CBog* AddBog(zv::CNamedObject& page, const std::string& path, std::string& error);
zv::CBdButton* AddButton(zv::CNamedObject& bog, const std::string& path, std::string& error);
// A picture file for buttons to show, named by its file name.
zv::CGraphicObject* AddGraphic(zv::CNamedObject& menu, const std::string& path, const std::string& file,
                               std::string& error);

// Chapters of a play item. IsTimecode: hh:mm:ss:ff or hh:mm:ss.mmm text
// that the chapter list takes. AddChapter puts TIME ("end" or a timecode)
// into the list in time order at the frame rate `fpsCode` and returns its
// number from 1, or 0 with `error`. RemoveChapter takes the number.
bool IsTimecode(const std::string& text);
size_t AddChapter(zv::CPiObject& item, int fpsCode, const std::string& time, const std::string& name,
                  std::string& error);
bool RemoveChapter(zv::CPiObject& item, size_t number, const std::string& path, std::string& error);

bool Delete(zv::CZvObject& project, zv::CNamedObject* obj, const std::string& path, std::string& error);

}  // namespace zvedit
