// Ready-made page effects over the effect model: a fade and a slide of one
// picture, expanded into windows, effects, composition objects and palettes
// that the page's sequences hold like any others.
#pragma once

#include <cstdint>
#include <string>

#include "graphics/menu_model.h"

namespace zv {

enum class EffectSide { kLeft, kRight, kTop, kBottom };

struct SEffectForm {
  enum Kind { kFade, kSlide } kind = kFade;
  EffectSide side = EffectSide::kLeft;  // slides only
  CGraphicObject* graphic = nullptr;
  int32_t x = 0, y = 0;       // where the picture stands when fully shown
  uint32_t duration = 0;      // the whole effect, 90 kHz ticks
  int32_t steps = 8;          // effects it is made of, 1..kMaxFormSteps
};

inline constexpr int32_t kMaxFormSteps = 64;

// "left", "right", "top" or "bottom", in any letter case.
bool ParseEffectSide(const std::string& text, EffectSide& out);

// The page's own palette; a page without one first gets one made from the
// pictures of its buttons and effects and `extra` (effects need a palette
// of the epoch to refer to, and the page's objects are coded with it).
// Null when the pictures give no palette.
CErgbPalette* EnsurePagePalette(CPage& page, CEpoch& epoch, const CGraphicObject* extra = nullptr);

// Replaces the page's in-effects (`in`) or out-effects with `form`: the
// picture appears (in) or goes (out). A fade shows it in one window with the
// page palette's alpha scaled step by step (the palettes join the epoch); a
// slide reveals it from `side` (in) or withdraws it towards `side` (out)
// through a window over its place. The fade palettes the replaced effects
// used are removed. False with `error` when the form cannot be made (the
// page is then unchanged).
bool ApplyEffectForm(CPage& page, bool in, const SEffectForm& form, std::string& error);

// Clears the page's in- or out-effects, with the palettes only they used.
void ClearEffects(CPage& page, bool in);

// Palettes of the epoch that no page and no effect refers to any more and
// that were made for effects; removed.
void DropEffectPalettes(CEpoch& epoch, const std::vector<CErgbPalette*>& candidates);

}  // namespace zv
