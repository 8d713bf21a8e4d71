// The stored menu model as far as a new menu holds it: the IG object with
// its epochs, each epoch's display sets and its graphics and palette
// folders. Pages, button overlap groups, buttons and palette entries come
// with the page editor and the IG compiler; until then a project that holds
// them is refused on load instead of being misread.
#pragma once

#include <cstdint>
#include <string>

#include "graphics/graphic_object.h"
#include "graphics/segments.h"
#include "model/named/containers.h"

namespace zv {

// Placeholder for a menu page: pages arrive with the page editor. Loading
// one fails with a clear message.
class CPage : public CNamedObject {
 public:
  void Serialize(CArchive& ar) override;
  // Button overlap groups arrive with the page model; none exist yet.
  bool HasButtonGroups() const { return false; }
};

// The interactive composition of one display set.
class CIcData : public CNamedPtrArray<CPage> {
 public:
  using CNamedPtrArray<CPage>::CNamedPtrArray;

  uint8_t m_nStreamModel = 1;        // 1: not multiplexed with video
  uint8_t m_nUserInterfaceModel = 0;  // 0 always on, 1 pop-up
  uint64_t m_nCompositionTimeoutPts = 0;
  uint64_t m_nSelectionTimeoutPts = 0;
  uint32_t m_nUserTimeoutDuration = 0;  // 90 kHz ticks

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
  void Serialize(CArchive& ar) override;
  void Reset() override;
  void Copy(const CNamedPtrArray<CDisplaySet>& src) override;
};

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
  bool IsEmpty() const;

  void Serialize(CArchive& ar) override;
  void Reset() override;
  void Copy(const CNamedPtrArray<CEpoch>& src) override;

  // Format byte, epoch counter, video descriptor, wide-screen flag.
  void SerializeHeader(CArchive& ar);
};

}  // namespace zv
