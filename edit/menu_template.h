// The look of generated menus: a template is a small "key = value" file
// (templates/NAME.ini) giving sizes, positions, colours and fonts, so a new
// look needs no code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "subtitles/text_draw.h"

namespace zvedit {

struct SBox {
  int x = 0, y = 0, w = 0, h = 0;
};

struct SMenuTemplate {
  std::string name;
  uint32_t background = 0x101820;   // the page colour when no picture is given
  int backgroundDim = 55;           // percent of a picture's brightness kept
  int backgroundBlur = 12;          // pixels
  zv::STextLook text;               // normal look of a label
  uint32_t selectedText = 0xFFFFFF;
  uint32_t activatedText = 0x000000;
  uint32_t normalBar = 0x000000;    // bar behind a label
  int normalBarOpacity = 0;         // 0..255; 0 no bar
  uint32_t selectedBar = 0x3060A0;
  uint32_t activatedBar = 0xF0C040;
  int barOpacity = 230;
  int barRadius = 12;
  uint32_t chosenMark = 0xF0C040;   // the current audio or subtitle choice
  int buttonWidth = 640;
  int buttonHeight = 72;
  int gap = 14;
  int columns = 1;                  // of list buttons
  bool alignLeft = false;           // labels start at the left of the bar
  SBox area{320, 200, 1280, 640};   // where list buttons go
  SBox popupArea{160, 800, 1600, 200};
  int navY = 930;                   // the row of Back / Previous / Next
  int navWidth = 300;
  int thumbWidth = 320;
  int thumbHeight = 180;
  int thumbTop = 160;               // the top of the chapter grid
  int thumbColumns = 4;
  int thumbRows = 2;
  int thumbBorder = 6;
  int thumbTextSize = 28;
  uint32_t thumbFrame = 0x404040;
};

// Reads a template from `text`; false with `error` naming the line at fault.
bool ParseMenuTemplate(const std::string& text, SMenuTemplate& out, std::string& error);

// The folders searched for templates, in order: `extra` (given by the
// shell: beside the program), then the one the program was built with.
std::vector<std::string> TemplateFolders(const std::vector<std::string>& extra);
// Names of the templates found (file stems), sorted, without repeats.
std::vector<std::string> TemplateNames(const std::vector<std::string>& folders);
// Loads NAME.ini from the first folder holding it; false with `error`
// ("no template \"NAME\"" and the names there are, or what is wrong in it).
bool LoadMenuTemplate(const std::string& name, const std::vector<std::string>& folders, SMenuTemplate& out,
                      std::string& error);

}  // namespace zvedit
