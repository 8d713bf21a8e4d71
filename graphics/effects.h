// Page effects: each page owns an in-effect and an out-effect sequence of
// up to two windows and up to 128 effects, each effect showing up to two
// graphic objects with one palette for a duration.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/composition.h"
#include "graphics/graphic_object.h"
#include "graphics/model_ref.h"
#include "named/containers.h"

namespace zv {

class CEpoch;

struct SRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  void Serialize(CArchive& ar);
  bool operator==(const SRect&) const = default;
};

class CWindowObject : public CNamedObject {
 public:
  CWindowObject() : CNamedObject("Window") {}
  SRect m_rect;

  void Serialize(CArchive& ar) override;
  void CopyFrom(const CNamedObject& src) override;
};

class CCompositionObject : public CNamedObject {
 public:
  CCompositionObject() : CNamedObject("Composition Object") {}
  CModelRef<CGraphicObject> m_graphic;
  CModelRef<CWindowObject> m_window;
  bool m_bCropped = false;
  bool m_bForcedOn = false;
  int32_t m_nX = 0, m_nY = 0;
  SRect m_crop;  // stored only when cropped

  void Serialize(CArchive& ar) override;
  void CopyFrom(const CNamedObject& src) override;
};

class CEffectObject : public CNamedPtrArray<CCompositionObject> {
 public:
  static constexpr size_t kMaxObjects = 2;
  CEffectObject() : CNamedPtrArray<CCompositionObject>("Effect") {}

  CModelRef<CErgbPalette> m_palette;
  uint32_t m_nDuration = 0;  // 90 kHz ticks

  // Null when the effect already shows two objects.
  CCompositionObject* AddCompositionObject();

  // Through SEffect; the context is unused.
  size_t ParseBytes(const uint8_t* src, size_t size, void* context) override;
  size_t WriteBytes(uint8_t* dst, size_t capacity, void* context) override;
  SEffect ToRecord(uint32_t minDuration) const;
  void FromRecord(const SEffect& e);

  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CCompositionObject>& src) override;
};

class CWindowArray : public CNamedPtrArray<CWindowObject> {
 public:
  CWindowArray() : CNamedPtrArray<CWindowObject>("Windows") {}
};

class CEffectSequenceObject : public CNamedPtrArray<CEffectObject> {
 public:
  static constexpr size_t kMaxEffects = 128;
  static constexpr size_t kMaxWindows = 2;
  CEffectSequenceObject();

  CWindowArray m_windows;

  CEffectObject* AddEffect();
  CWindowObject* AddWindow();

  // Sum over the windows of ceil(width x height x 90000 x 8 / 128000000):
  // the time the decoder needs to fill them; shorter effects are written
  // with this duration.
  uint32_t WindowFillTime() const;

  // Windows numbered by index, every id refreshed from its reference.
  void PrepareIds();
  SEffectSequence ToRecord();
  // Replaces windows and effects; graphics and palettes are resolved
  // against `epoch` when given.
  void FromRecord(const SEffectSequence& s, CEpoch* epoch);
  size_t ParseBytes(const uint8_t* src, size_t size, void* context) override;
  size_t WriteBytes(uint8_t* dst, size_t capacity, void* context) override;

  // Windows by id among this sequence's windows, graphics and palettes
  // among the epoch's.
  void ResolveLinks(CEpoch* epoch);
  void RefreshIds();
  // What the compiler needs: each palette once in effect order, each graphic
  // once in order.
  std::vector<CErgbPalette*> Palettes() const;
  std::vector<CGraphicObject*> Graphics() const;

  void Serialize(CArchive& ar) override;
  void Reset() override;
  void Copy(const CNamedPtrArray<CEffectObject>& src) override;
};

// Every graphic of the epoch's folder tree and every palette, as candidate
// lists for resolving stored ids.
void GatherGraphics(const CEpoch& epoch, CNamedPtrCollection& out);
void GatherPalettes(const CEpoch& epoch, CNamedPtrCollection& out);
// The epoch a model object belongs to, through its parents; null if none.
CEpoch* EpochOf(const CNamedObject* obj);

}  // namespace zv
