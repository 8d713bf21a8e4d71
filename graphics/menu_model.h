// The menu model: the IG object with its epochs, each epoch's display sets
// (with their graphics and palette folders), pages, button overlap groups
// and buttons, and how each maps onto the interactive composition.
#pragma once

#include <cstdint>
#include <array>
#include <string>
#include <vector>

#include "bdnav/navcmd.h"
#include "graphics/composition.h"
#include "graphics/effects.h"
#include "graphics/graphic_object.h"
#include "graphics/model_ref.h"
#include "graphics/segments.h"
#include "named/containers.h"
#include "platform/progress.h"

namespace zv {
class File;
}

namespace zv {

class CPage;
class CBog;

// The graphics a button shows in one state, its sound and repeat flag.
struct CButtonStateInfo {
  CModelRef<CGraphicObject> m_start;
  CModelRef<CGraphicObject> m_end;
  uint8_t m_nSoundId = 0xFF;
  bool m_bRepeat = false;

  void Serialize(CArchive& ar);
  bool HasGraphics() const { return m_start.p || m_end.p; }
};

class CBdButton;

// Directional neighbours: buttons of the same page.
struct CNeighborInfo {
  CModelRef<CBdButton> up, down, left, right;
  CModelRef<CBdButton>* All() { return &up; }
  const CModelRef<CBdButton>* All() const { return &up; }
};

class CBdButton : public CNamedObject {
 public:
  CBdButton() : CNamedObject("Button") {}

  enum State { kNormal = 0, kSelected = 1, kActivated = 2 };
  static constexpr const char* kStateNames[3] = {"Normal", "Selected", "Action"};

  uint8_t m_nButtonType = 0;  // 0: commands edited by the user
  std::array<uint32_t, 4> m_params{};  // the type's choices; 0xFFFFFFFF none
  // The project object the type's choices resolve to (a page, a title, a
  // trailer). Not stored: it is resolved again from the parameters.
  CNamedObject* m_pTypeLink = nullptr;
  uint16_t m_nNumericValue = 0xFFFF;
  bool m_bAutoAction = false;
  // Added by the build (an invisible helper, never stored): the author is
  // not told about its missing graphics.
  bool m_bMadeByBuild = false;
  uint16_t m_nX = 0, m_nY = 0;
  CNeighborInfo m_neighbors;
  std::array<CButtonStateInfo, 3> m_states;
  CNavCmds m_commands;

  // Any type but 1 drops the commands.
  void SetButtonType(uint8_t type);
  // The first graphic of normal, selected, activated (start, then end);
  // null for a button without graphics.
  const CGraphicObject* SizeGraphic() const;
  int Width() const;
  int Height() const;
  // Whether the graphic with `id` is one of the states' graphics or lies
  // between a state's start and end.
  bool UsesGraphic(int32_t id) const;

  void RefreshIds();
  SButton ToRecord() const;
  // Ids only; the owner resolves them. A 64-command button carrying the type
  // convention gets its type and parameters back.
  void FromRecord(const SButton& b);
  size_t ParseBytes(const uint8_t* src, size_t size, void* context) override;
  size_t WriteBytes(uint8_t* dst, size_t capacity, void* context) override;

  void Serialize(CArchive& ar) override;
  void CopyFrom(const CNamedObject& src) override;
};

// A button overlap group: of its buttons one is shown at a time.
class CBog : public CNamedPtrArray<CBdButton> {
 public:
  CBog() : CNamedPtrArray<CBdButton>("Bog") {}
  CModelRef<CBdButton> m_defaultButton;
  // Only in a menu's build copy: a group of buttons and the invisible
  // selector BOG made for it point at each other. Not stored, not copied.
  CBog* m_pSelectorPair = nullptr;

  // Named "Button#<id + 1>" with the page's next free id; the first button
  // becomes the default one. Null when the page's 8160 ids are taken.
  CBdButton* AddButton();
  CPage* Page() const;

  SBog ToRecord() const;
  void FromRecord(const SBog& g);
  size_t ParseBytes(const uint8_t* src, size_t size, void* context) override;
  size_t WriteBytes(uint8_t* dst, size_t capacity, void* context) override;

  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CBdButton>& src) override;
};

class CPage : public CNamedPtrArray<CBog> {
 public:
  static constexpr int32_t kMaxButtonIds = 8160;
  static constexpr int32_t kCurrentSelectedButtonId = 0xFFFE;
  CPage();

  CModelRef<CBdButton> m_defaultSelected;
  CModelRef<CBdButton> m_defaultActivated;  // may be the pseudo-button
  CModelRef<CErgbPalette> m_palette;
  uint8_t m_nVersion = 0;
  std::array<uint8_t, 8> m_umt{};
  CEffectSequenceObject m_inEffects;
  CEffectSequenceObject m_outEffects;
  uint8_t m_nAnimationFrameRateCode = 0;
  // Stands for "activate whatever is selected" as default activated button.
  CBdButton m_currentSelected;

  bool HasButtonGroups() const { return GetCount() > 0; }
  CBog* AddBog();
  // The lowest id 0..8159 no button of this page uses; 8160 when all are.
  int32_t NextButtonId() const;
  // Every button of every BOG, in order.
  std::vector<CBdButton*> Buttons() const;
  CBdButton* FindButton(const std::string& name) const;
  CBog* BogOf(const CBdButton* b) const;
  // Drops every reference to `b` (defaults and neighbours) before it is
  // deleted, so nothing points at a freed button.
  void ForgetButton(const CBdButton* b);

  // References to buttons, the palette, the effects' windows, graphics and
  // palettes (against `epoch`, found through the parents when null).
  void ResolveLinks(CEpoch* epoch = nullptr);
  void RefreshIds();

  SIgPage ToRecord();
  void FromRecord(const SIgPage& p, CEpoch* epoch);
  size_t ParseBytes(const uint8_t* src, size_t size, void* context) override;
  size_t WriteBytes(uint8_t* dst, size_t capacity, void* context) override;

  void Serialize(CArchive& ar) override;
  void Reset() override;
  void Copy(const CNamedPtrArray<CBog>& src) override;
};

// 0 spatial, 1 sequential.
enum NeighbourMode { kNeighboursSpatial = 0, kNeighboursSequential = 1 };
// Neighbours of the default buttons of the page's BOGs, applied to every
// button of each BOG; true when any changed.
bool ComputeNeighbours(CPage& page, int mode);

// Checks used while compiling; lines go to `log` as items. False when
// compilation must stop.
bool ValidateButton(const Progress& log, const std::string& prefix, CBdButton& button);
bool ValidateBog(const Progress& log, const std::string& prefix, CBog& bog);

// The interactive composition of one display set.
class CIcData : public CNamedPtrArray<CPage> {
 public:
  using CNamedPtrArray<CPage>::CNamedPtrArray;

  uint32_t m_nCompositionLength = 0;  // set when written
  uint8_t m_nStreamModel = 1;        // 1: not multiplexed with video
  uint8_t m_nUserInterfaceModel = 0;  // 0 always on, 1 pop-up
  uint64_t m_nCompositionTimeoutPts = 0;
  uint64_t m_nSelectionTimeoutPts = 0;
  uint32_t m_nUserTimeoutDuration = 0;  // 90 kHz ticks

  // "Page#<count including the new one>", id = its index.
  CPage* AddPage();
  SInteractiveComposition ToRecord();
  void FromRecord(const SInteractiveComposition& ic, CEpoch* epoch);
  size_t ParseBytes(const uint8_t* src, size_t size, void* context) override;
  size_t WriteBytes(uint8_t* dst, size_t capacity, void* context) override;

  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CPage>& src) override;
};

class CDisplaySet : public CIcData {
 public:
  CDisplaySet() { SetName("DisplaySet"); }

  std::string m_strText;
  int32_t m_nStartFrame = 0;        // presentation time in video frames
  uint8_t m_nCompositionState = 2;  // Epoch Start

  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CPage>& src) override;
};

class CEpoch : public CNamedPtrArray<CDisplaySet> {
 public:
  CEpoch();

  uint16_t m_nDisplaySetCounter = 0;  // id of the next display set
  CGoFolder m_graphics;
  CPoFolder m_palettes;

  CDisplaySet* AddDisplaySet();
  // Every display set pop-up (user time-out `seconds`) or always on.
  void SetUserInterfaceModel(bool popup, int seconds);
  // Every page's references, after loading; ids from pointers before saving.
  void ResolveLinks();
  void RefreshIds();
  void Serialize(CArchive& ar) override;
  void Reset() override;
  void Copy(const CNamedPtrArray<CDisplaySet>& src) override;
};

class CGsData;
struct SCodingAttributes;

class CIgObject : public CNamedPtrArray<CEpoch> {
 public:
  uint16_t m_nEpochCounter = 0;  // id of the next epoch
  SVideoDescriptor m_video;
  bool m_bWideScreen = false;

  CEpoch* AddEpoch();
  // Every display set of every epoch: pop-up (user time-out `seconds`) or
  // always on.
  void SetUserInterfaceModel(bool popup, int seconds);
  void SetStreamModels(uint8_t outOfMux);
  // True when no page of any display set of any epoch has a button group.
  virtual bool IsEmpty() const;

  // ---- Compilation and stream files (graphics/ig_compiler.cpp).

  // One of the 14 video formats (VideoFormatName); false above 13.
  bool SetVideoFormat(int index);
  // Takes size, frame-rate code and the wide-screen flag from a video
  // stream (MPEG-2, H.264, its second view, VC-1); false for another
  // coding type or a size other than the one the menu already has.
  bool MatchVideoStream(const SCodingAttributes& video);
  // Neighbours of every page of every epoch (spatial or sequential); true
  // when any changed.
  bool ComputeNeighbours(int mode);
  // Moves every epoch and the header of `other` into this object, leaving
  // `other` empty.
  void TakeOver(CIgObject& other);
  // Epoch counter, video descriptor and wide-screen flag.
  void CopyHeader(const CIgObject& other);

  // Compiles every epoch and writes its display sets to `file`: `raw`
  // without the 10-byte "IG" header before each segment (the IES form),
  // else headed (what the multiplexer reads). `index`, when given, receives
  // the ".mui" index (4-byte head, one 14-byte record per segment, a
  // closing record). `log` receives the compilation log as item lines
  // ("... Warning:...", "... Error:..."); a callback answering 0 stops.
  // `renumber` gives each epoch's graphics and palettes ids from 0 in
  // folder order first. False at the first error, stop or write failure,
  // with `error` set for a stop or a write failure (the log holds
  // compilation errors).
  // The menu build calls WriteStream(file, nullptr, false, {}, renumber).
  bool WriteStream(File& file, File* index, bool raw, const Progress& log, bool renumber, std::string& error);
  // Writes the raw stream to `path` (and its index to path + ".mui" when
  // `withIndex`), renumbering; on failure neither file is left behind.
  bool ExportStream(const std::string& path, bool withIndex, std::string& error, const Progress& log = {});
  // Reads a raw or headed stream file and rebuilds the model from it; false
  // with `error` (the model untouched) when the file cannot be read or
  // holds no display set.
  bool ImportStream(const std::string& path, std::string& error);
  // Replaces the model by the one the parsed stream describes (graphics
  // become in-memory pictures). False with `error` when a composition or an
  // object does not decode; the model is then incomplete.
  bool BuildFromStream(const CGsData& stream, std::string* error = nullptr);

  void Serialize(CArchive& ar) override;
  void Reset() override;
  void Copy(const CNamedPtrArray<CEpoch>& src) override;

  // Format byte, epoch counter, video descriptor, wide-screen flag.
  void SerializeHeader(CArchive& ar);
};

}  // namespace zv
