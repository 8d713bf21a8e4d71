// Which buttons of a compiled menu page a viewer can select.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/composition.h"

namespace zv {

// The buttons of `page` that draw something and that no arrow key leads to
// from the page's default selected button (or, with none, from the BOGs'
// default buttons), in id order. An auto-action button acts at once: the
// buttons its SetButtonPage commands select are reached through it, and
// one that selects a button held in a register could reach any, so then
// none is listed; nor when nothing starts the walk.
std::vector<uint16_t> UnreachableButtons(const SIgPage& page);

}  // namespace zv
