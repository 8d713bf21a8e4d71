// Menus made from the project itself: a top menu with one button per title,
// chapter pages of thumbnails, audio and subtitle pages, and a pop-up menu
// per movie with the same pages for that movie. Everything made is the
// ordinary menu model (pages, button groups, typed buttons whose commands
// the build generates), so every later edit, check and build applies.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "edit/source_display.h"
#include "model/project.h"
#include "platform/prompt.h"

namespace zvedit {

struct SGenerateOptions {
  std::string templateName = "classic";
  // Folders searched for NAME.ini before the one the program was built with.
  std::vector<std::string> templateFolders;
  // Which pages to make; the top menu's title buttons always exist.
  bool titles = true;
  bool chapters = true;
  bool audio = true;
  bool subtitles = true;
  bool popups = true;      // a pop-up menu for each movie
  bool thumbnails = true;  // chapter buttons show their picture
  // A picture for the top menu's background; empty: the first movie's
  // picture blurred and darkened, else the template's colour.
  std::string background;
  // Where the pictures of the buttons and the background are written
  // (created when missing); must be given.
  std::string pictureFolder;
  // Videos decoded and menus drawn at once; 0: one per core. The pictures
  // and menus made are the same whatever the number.
  int threads = 0;
  // The menu made the top menu; null: the top menu film's first menu.
  zv::CZvIgObject* topMenu = nullptr;
};

struct SGenerateReport {
  int menus = 0;
  int pages = 0;
  int buttons = 0;
  std::string backgroundPicture;  // written into the picture folder
  bool backgroundAdded = false;   // it became the top menu's background clip
  std::vector<std::string> notes; // what was left out and why
  std::vector<std::string> pictures;  // every file written into the picture folder
  // How long each step took, in order (seconds), for benchmarks.
  std::vector<std::pair<std::string, double>> times;
};

// Reads "titles,chapters,audio,subtitles" (any of them, any order) into
// the page flags of `options`; false with `error` naming a word that is not
// one of them.
bool ParseMenuPages(const std::string& list, SGenerateOptions& options, std::string& error);

// Replaces the top menu's and (with `popups`) every movie's first menu by
// generated ones. The top menu's background story gets the background
// picture as a still clip when it has no stream yet (through AddSources:
// `display` shows that step's progress and takes the notes). Progress and
// cancel go through display.Callback().
// kOk; kCancelled; kFailed with `error` saying why (an unknown template, a
// project without titles, a picture that cannot be read or written, a menu
// that breaks a decoder limit). Unless kOk the project's menus are as they
// were.
int GenerateMenus(zv::CZvObject& project, const SGenerateOptions& options, ISourceDisplay& display,
                  zv::IPrompt& prompt, SGenerateReport& report, std::string& error);

// The name of a language in that language ("Deutsch" for "deu" or "ger");
// the code itself when it is not in the table.
std::string LanguageName(const std::string& code);

}  // namespace zvedit
