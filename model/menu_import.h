// Importing a design into a menu: an interactive-graphics stream file (IES,
// or a headed IG stream), or a menu description file that places pictures
// as buttons on pages. Either way the menu takes over the imported model
// and keeps its own settings (pop-up and time-out, stream model).
#pragma once

#include <string>

#include "model/menu.h"

namespace zv {

// Messages of the menu description import.
extern const char* const kMsgImportOk;         // "Import OK"
extern const char* const kMsgFileOpenError;    // "File open error! "
extern const char* const kMsgWrongFileFormat;  // "Wrong file format! "

// Reads the stream at `path` into a new model, drops its empty parts (BOGs
// without a button showing a picture, then pages, display sets and epochs
// left empty), and hands it to `menu`, which re-applies its settings and
// gives the buttons of a BOG the type a button's name names ("Title",
// " page "...). False with `error` when the file cannot be read; the menu is
// then unchanged.
bool ImportIesIntoMenu(CZvIgObject& menu, const std::string& path, std::string& error);

// Hands `model` (read from or written to the stream at `path`) to `menu`
// as ImportIesIntoMenu does: empty parts dropped, the menu's settings
// re-applied, types from button names. `model` is left empty.
void AdoptDesign(CZvIgObject& menu, CIgObject& model, const std::string& path);

// Each BOG with a button whose name (blanks trimmed, any letter case) is a
// button type's, other than "Image Only", gives every one of its buttons
// that type; the last such button in the BOG decides.
void ButtonTypesFromNames(CIgObject& ig);

// What `menu import-psd` does with a layered design: converts it into the
// IES file beside it (ConvertedStreamPath) unless that stream is newer and
// `force` is not given, and hands the result to `menu` like AdoptDesign,
// the design's names and the types they name included. A design converted
// now keeps the menu's frame rate (the first when the menu has none); a
// stream reused has lost the names. Returns kOk, kCancelled (through
// `progress`) or kFailed with `error`; the menu is unchanged unless kOk.
// A side file that cannot be written (or a file of the user's in its
// place) fails the import; `warning` is left empty.
int ImportPsdIntoMenu(CZvIgObject& menu, const std::string& design, bool force, const Progress& progress,
                      std::string& error, std::string& warning);

// Builds the menu described by the XML file at `path` (see the README's
// "Menus from pictures") and hands it to `menu` like ImportIesIntoMenu.
// False with `error` ("File open error! ..." or "Wrong file format! " and
// the line and element at fault); the menu is then unchanged.
bool ImportMenuDescription(CZvIgObject& menu, const std::string& path, std::string& error);

}  // namespace zv
