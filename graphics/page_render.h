// Drawing a page of a compiled interactive composition the way a player
// draws it: each button overlap group shows one button, that button's
// first object for its state is decoded and coloured through the page's
// palette, and a later object replaces the pixels of an earlier one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "graphics/composition.h"
#include "graphics/object_coding.h"
#include "graphics/segments.h"
#include "platform/image.h"

namespace zv {

// What a page shows: `button` (a button id, -1 for none) in `state`
// (CBdButton::kNormal, kSelected, kActivated), every other shown button in
// its normal state.
struct SPageView {
  int page = 0;  // page id of the composition
  int button = -1;
  int state = 0;
  // The frame of that button's animation in `state`, from 0 (its objects
  // from start to end); past the last, the last.
  int frame = 0;
  // Colour under the plane; alpha 0 leaves the plane as it is (transparent
  // where no object draws).
  SColor background{0, 0, 0, 0};
  // A picture under the plane instead (Argb32 of the video's size, such as
  // the first frame of the menu's background clip); null for none.
  const CPicture* backdrop = nullptr;
};

// A compiled display set, its objects decoded once, so that one page can be
// drawn many times (after moving buttons, in another state) cheaply.
class CCompiledPage {
 public:
  // Parses the composition and decodes every object and palette; false
  // with `error` when one does not decode.
  bool Load(const CDsData& ds, std::string& error);

  const SInteractiveComposition& Composition() const { return ic_; }
  SInteractiveComposition& Composition() { return ic_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  const SIgPage* FindPage(int pageId) const;
  // The button a BOG shows when `button` is not one of its own: its
  // default, or none (-1).
  static int ShownButton(const SBog& bog, int button);
  // The frames of the button's animation in `state`; 1 for a still.
  static int FrameCount(const SButton& b, int state);

  // The page drawn as the player draws it, as an Argb32 picture of the
  // video's size; false with `error` for a page the composition lacks.
  bool Draw(const SPageView& view, CPicture& out, std::string& error) const;

 private:
  struct SObject {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
  };
  const SObject* Object(const SButton& b, int state, int frame = 0) const;

  SInteractiveComposition ic_;
  int width_ = 0, height_ = 0;
  std::map<int, SObject> objects_;
  std::map<int, std::vector<SColor>> palettes_;  // by palette id, RGBA
};

}  // namespace zv
