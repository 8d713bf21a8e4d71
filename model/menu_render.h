// A menu page as the disc will show it: the menu compiled the way the build
// compiles it (its build copy, with the invisible buttons the build adds),
// ready to be drawn by page, button and state.
#pragma once

#include <string>

#include "graphics/page_render.h"
#include "model/menu.h"
#include "platform/progress.h"

namespace zv {

// A menu without a video format takes the one of its film's primary video
// track, as the build does. False with `error` (naming the menu as `name`)
// when there is none of a known size and rate.
bool EnsureMenuVideoFormat(CMenuIgObject& menu, const std::string& name, std::string& error);

// Compiles the menu's first display set as the build does into `out`. The
// menu's own model is unchanged. False with `error` (the compilation's
// error lines) when it does not compile.
bool CompileMenuPages(CMenuIgObject& menu, CCompiledPage& out, std::string& error, const Progress& log = {});

// The id that `page` of the menu's own first display set has in the
// compiled composition (after the build's front page); -1 when the page is
// not there.
int CompiledPageId(const CMenuIgObject& menu, const CPage& page);

// The page of the menu's first display set named `name`; null when none.
CPage* FindMenuPage(const CMenuIgObject& menu, const std::string& name);

}  // namespace zv
