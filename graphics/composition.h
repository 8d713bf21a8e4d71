// The interactive composition carried in the ICS fragments of a display
// set: pages, effect sequences, button overlap groups and buttons, as plain
// records with one syntax description each (graphics/segment_syntax.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/segments.h"

namespace zv {

struct SEffect {
  uint32_t duration = 0;  // 24 bits, 90 kHz ticks
  uint8_t paletteIdRef = 0;
  std::vector<SCompositionObject> objects;
};

struct SEffectSequence {
  std::vector<SWindow> windows;
  std::vector<SEffect> effects;
};

using SNavCommand = std::array<uint8_t, 12>;

struct SButtonState {
  uint16_t startObjectId = 0xFFFF;
  uint16_t endObjectId = 0xFFFF;
};

struct SButton {
  uint16_t id = 0;
  uint16_t numericValue = 0xFFFF;
  bool autoAction = false;
  uint16_t x = 0, y = 0;
  uint16_t up = 0, down = 0, left = 0, right = 0;
  SButtonState normal;
  bool normalRepeat = false;
  uint8_t selectedSound = 0xFF;
  SButtonState selected;
  bool selectedRepeat = false;
  uint8_t activatedSound = 0xFF;
  SButtonState activated;
  std::vector<SNavCommand> commands;
};

struct SBog {
  uint16_t defaultButtonIdRef = 0xFFFF;
  std::vector<SButton> buttons;
};

struct SIgPage {
  uint8_t id = 0;
  uint8_t version = 0;
  std::array<uint8_t, 8> umt{};
  SEffectSequence inEffects;
  SEffectSequence outEffects;
  uint8_t animationFrameRateCode = 0;
  uint16_t defaultSelectedButtonId = 0xFFFF;
  uint16_t defaultActivatedButtonId = 0xFFFF;
  uint8_t paletteIdRef = 0;
  std::vector<SBog> bogs;
};

struct SInteractiveComposition {
  uint32_t length = 0;  // 24 bits: bytes after the field; set by the writer
  uint8_t streamModel = 1;  // 0 multiplexed with the video, 1 not
  uint8_t userInterfaceModel = 0;  // 0 always on, 1 pop-up
  uint64_t compositionTimeOutPts = 0;  // 33 bits, stream model 0 only
  uint64_t selectionTimeOutPts = 0;
  uint32_t userTimeOutDuration = 0;  // 24 bits
  std::vector<SIgPage> pages;
};

// The composition as bytes (its length field measured first), and back;
// ParseComposition throws FormatError.
std::vector<uint8_t> WriteComposition(SInteractiveComposition& ic);
SInteractiveComposition ParseComposition(const uint8_t* p, size_t n);
void DumpComposition(const uint8_t* p, size_t n, struct SDumpNode& root);

// Cuts a composition into ICS fragments (at most `maxFragment` bytes each,
// by default all a segment can carry) sharing the given descriptors.
void FragmentComposition(const std::vector<uint8_t>& bytes, const CIcs& model, std::vector<std::unique_ptr<CIcs>>& out,
                         size_t maxFragment = 0xFFFF - 9);

}  // namespace zv
