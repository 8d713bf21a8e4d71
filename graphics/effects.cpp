#include "graphics/effects.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "graphics/menu_model.h"
#include "graphics/segment_syntax.h"

namespace zv {

namespace {

std::string Numbered(const char* base, size_t n) {
  char name[96];
  std::snprintf(name, sizeof name, "%s#%d", base, static_cast<int>(n));
  return name;
}

template <class R>
size_t WriteRecord(const R& r, uint8_t* dst, size_t capacity) {
  std::vector<uint8_t> bytes = rec::Encode(r);
  if (dst) {
    if (bytes.size() > capacity) throw std::out_of_range("graphics record larger than its buffer");
    std::memcpy(dst, bytes.data(), bytes.size());
  }
  return bytes.size();
}

uint16_t U16(int32_t v) { return static_cast<uint16_t>(std::clamp<int32_t>(v, 0, 0xFFFF)); }

void GatherFolder(const CGoFolder& f, CNamedPtrCollection& out) {
  for (size_t i = 0; i < f.GetCount(); ++i) out.Add(f.GetAt(i));
  for (size_t i = 0; i < f.GetFolderCount(); ++i) GatherFolder(*f.GetFolderAt(i), out);
}

}  // namespace

void GatherGraphics(const CEpoch& epoch, CNamedPtrCollection& out) { GatherFolder(epoch.m_graphics, out); }
void GatherPalettes(const CEpoch& epoch, CNamedPtrCollection& out) { epoch.m_palettes.Gather(out); }

CEpoch* EpochOf(const CNamedObject* obj) {
  for (const CNamedObject* o = obj; o; o = o->m_pParent)
    if (auto* e = dynamic_cast<const CEpoch*>(o)) return const_cast<CEpoch*>(e);
  return nullptr;
}

void SRect::Serialize(CArchive& ar) {
  ar.Int(left);
  ar.Int(top);
  ar.Int(right);
  ar.Int(bottom);
}

// ---------------------------------------------------------------- windows

void CWindowObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  m_rect.Serialize(ar);
}

void CWindowObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  if (auto* w = dynamic_cast<const CWindowObject*>(&src)) m_rect = w->m_rect;
}

// ---------------------------------------------------------------- composition objects

void CCompositionObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  ar.Int(m_graphic.id);
  ar.Int(m_window.id);
  ar.Bool(m_bCropped);
  ar.Bool(m_bForcedOn);
  ar.Int(m_nX);
  ar.Int(m_nY);
  if (m_bCropped) m_crop.Serialize(ar);
}

void CCompositionObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  auto* c = dynamic_cast<const CCompositionObject*>(&src);
  if (!c) return;
  // The graphic lives in the epoch and is shared; the window is looked up
  // again by id in the copied sequence.
  m_graphic.p = c->m_graphic.p;
  m_graphic.id = c->m_graphic.p ? c->m_graphic.p->m_nId : c->m_graphic.id;
  m_window.p = nullptr;
  m_window.id = c->m_window.p ? c->m_window.p->m_nId : c->m_window.id;
  m_bCropped = c->m_bCropped;
  m_bForcedOn = c->m_bForcedOn;
  m_nX = c->m_nX;
  m_nY = c->m_nY;
  m_crop = c->m_crop;
}

// ---------------------------------------------------------------- effects

CCompositionObject* CEffectObject::AddCompositionObject() {
  if (GetCount() >= kMaxObjects) return nullptr;
  auto c = std::make_unique<CCompositionObject>();
  c->SetName(Numbered("Composition Object", GetCount()));
  return Add(std::move(c));
}

SEffect CEffectObject::ToRecord(uint32_t minDuration) const {
  SEffect e;
  e.duration = std::max(m_nDuration, minDuration);
  e.paletteIdRef = static_cast<uint8_t>(std::clamp<int32_t>(m_palette.id, 0, 0xFF));
  for (size_t i = 0; i < GetCount(); ++i) {
    const CCompositionObject& c = *GetAt(i);
    SCompositionObject o;
    o.objectIdRef = c.m_graphic.id < 0 ? 0xFFFF : U16(c.m_graphic.id);
    o.windowIdRef = static_cast<uint8_t>(std::clamp<int32_t>(c.m_window.id, 0, 0xFF));
    o.cropped = c.m_bCropped;
    o.forcedOn = c.m_bForcedOn;
    o.x = U16(c.m_nX);
    o.y = U16(c.m_nY);
    if (c.m_bCropped) {
      o.cropX = U16(c.m_crop.left);
      o.cropY = U16(c.m_crop.top);
      o.cropWidth = U16(c.m_crop.Width());
      o.cropHeight = U16(c.m_crop.Height());
    }
    e.objects.push_back(o);
  }
  return e;
}

void CEffectObject::FromRecord(const SEffect& e) {
  Reset();
  m_nDuration = e.duration;
  m_palette.p = nullptr;
  m_palette.id = e.paletteIdRef;
  for (const SCompositionObject& o : e.objects) {
    CCompositionObject* c = AddCompositionObject();
    if (!c) break;
    c->m_graphic.p = nullptr;
    c->m_graphic.id = o.objectIdRef == 0xFFFF ? -1 : o.objectIdRef;
    c->m_window.p = nullptr;
    c->m_window.id = o.windowIdRef;
    c->m_bCropped = o.cropped;
    c->m_bForcedOn = o.forcedOn;
    c->m_nX = o.x;
    c->m_nY = o.y;
    if (o.cropped) c->m_crop = SRect{o.cropX, o.cropY, o.cropX + o.cropWidth, o.cropY + o.cropHeight};
  }
}

size_t CEffectObject::ParseBytes(const uint8_t* src, size_t size, void*) {
  SEffect e;
  size_t used = 0;
  try {
    used = rec::Decode(src, size, e);
  } catch (const FormatError&) {
    return 0;
  }
  FromRecord(e);
  return used;
}

size_t CEffectObject::WriteBytes(uint8_t* dst, size_t capacity, void*) {
  m_palette.Refresh();
  for (size_t i = 0; i < GetCount(); ++i) {
    GetAt(i)->m_graphic.Refresh();
    GetAt(i)->m_window.Refresh();
  }
  return WriteRecord(ToRecord(0), dst, capacity);
}

// The composition objects, the palette id, then the duration: without it
// an effect would come back from the project file with no duration.
void CEffectObject::Serialize(CArchive& ar) {
  SerializeArray(ar);
  ar.Int(m_palette.id);
  ar.Dword(m_nDuration);
  if (ar.IsLoading() && (GetCount() > kMaxObjects || m_nDuration > 0xFFFFFF))
    throw ArchiveError("the project file holds a menu effect beyond the format's limits");
}

void CEffectObject::Copy(const CNamedPtrArray<CCompositionObject>& src) {
  CNamedPtrArray<CCompositionObject>::Copy(src);
  if (auto* e = dynamic_cast<const CEffectObject*>(&src)) {
    m_palette.p = e->m_palette.p;
    m_palette.id = e->m_palette.p ? e->m_palette.p->m_nId : e->m_palette.id;
    m_nDuration = e->m_nDuration;
  }
}

// ---------------------------------------------------------------- sequences

CEffectSequenceObject::CEffectSequenceObject() : CNamedPtrArray<CEffectObject>("Effect Sequence") {
  m_windows.m_pParent = this;
}

CEffectObject* CEffectSequenceObject::AddEffect() {
  if (GetCount() >= kMaxEffects) return nullptr;
  auto e = std::make_unique<CEffectObject>();
  e->SetName(Numbered("Effect", GetCount()));
  return Add(std::move(e));
}

CWindowObject* CEffectSequenceObject::AddWindow() {
  if (m_windows.GetCount() >= kMaxWindows) return nullptr;
  auto w = std::make_unique<CWindowObject>();
  w->SetName(Numbered("Window", m_windows.GetCount()));
  w->m_nId = static_cast<int32_t>(m_windows.GetCount());
  return m_windows.Add(std::move(w));
}

uint32_t CEffectSequenceObject::WindowFillTime() const {
  uint64_t total = 0;
  for (size_t i = 0; i < m_windows.GetCount(); ++i) {
    const SRect& r = m_windows.GetAt(i)->m_rect;
    uint64_t area = static_cast<uint64_t>(std::max(r.Width(), 0)) * static_cast<uint64_t>(std::max(r.Height(), 0));
    total += (area * 90000u * 8u + 127999999u) / 128000000u;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFF));
}

void CEffectSequenceObject::RefreshIds() {
  for (size_t i = 0; i < GetCount(); ++i) {
    CEffectObject& e = *GetAt(i);
    e.m_palette.Refresh();
    for (size_t j = 0; j < e.GetCount(); ++j) {
      e.GetAt(j)->m_graphic.Refresh();
      e.GetAt(j)->m_window.Refresh();
    }
  }
}

void CEffectSequenceObject::PrepareIds() {
  for (size_t i = 0; i < m_windows.GetCount(); ++i) m_windows.GetAt(i)->m_nId = static_cast<int32_t>(i);
  RefreshIds();
}

SEffectSequence CEffectSequenceObject::ToRecord() {
  PrepareIds();
  SEffectSequence s;
  for (size_t i = 0; i < m_windows.GetCount(); ++i) {
    const CWindowObject& w = *m_windows.GetAt(i);
    SWindow sw;
    sw.id = static_cast<uint8_t>(w.m_nId);
    sw.x = U16(w.m_rect.left);
    sw.y = U16(w.m_rect.top);
    sw.width = U16(w.m_rect.Width());
    sw.height = U16(w.m_rect.Height());
    s.windows.push_back(sw);
  }
  uint32_t fill = WindowFillTime();
  for (size_t i = 0; i < GetCount(); ++i) s.effects.push_back(GetAt(i)->ToRecord(fill));
  return s;
}

void CEffectSequenceObject::FromRecord(const SEffectSequence& s, CEpoch* epoch) {
  Reset();
  for (const SWindow& sw : s.windows) {
    CWindowObject* w = AddWindow();
    if (!w) break;
    w->m_nId = sw.id;
    w->m_rect = SRect{sw.x, sw.y, sw.x + sw.width, sw.y + sw.height};
  }
  for (const SEffect& se : s.effects) {
    CEffectObject* e = AddEffect();
    if (!e) break;
    e->FromRecord(se);
  }
  ResolveLinks(epoch);
}

size_t CEffectSequenceObject::ParseBytes(const uint8_t* src, size_t size, void*) {
  SEffectSequence s;
  size_t used = 0;
  try {
    used = rec::Decode(src, size, s);
  } catch (const FormatError&) {
    return 0;
  }
  FromRecord(s, EpochOf(this));
  return used;
}

size_t CEffectSequenceObject::WriteBytes(uint8_t* dst, size_t capacity, void*) {
  return WriteRecord(ToRecord(), dst, capacity);
}

void CEffectSequenceObject::ResolveLinks(CEpoch* epoch) {
  CNamedPtrCollection windows, graphics, palettes;
  m_windows.Gather(windows);
  if (epoch) {
    GatherGraphics(*epoch, graphics);
    GatherPalettes(*epoch, palettes);
  }
  for (size_t i = 0; i < GetCount(); ++i) {
    CEffectObject& e = *GetAt(i);
    e.m_palette.Resolve(palettes);
    for (size_t j = 0; j < e.GetCount(); ++j) {
      e.GetAt(j)->m_graphic.Resolve(graphics);
      e.GetAt(j)->m_window.Resolve(windows);
    }
  }
}

std::vector<CErgbPalette*> CEffectSequenceObject::Palettes() const {
  std::vector<CErgbPalette*> out;
  for (size_t i = 0; i < GetCount(); ++i) {
    CErgbPalette* p = GetAt(i)->m_palette.p;
    if (p && std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
  }
  return out;
}

std::vector<CGraphicObject*> CEffectSequenceObject::Graphics() const {
  std::vector<CGraphicObject*> out;
  for (size_t i = 0; i < GetCount(); ++i)
    for (size_t j = 0; j < GetAt(i)->GetCount(); ++j) {
      CGraphicObject* g = GetAt(i)->GetAt(j)->m_graphic.p;
      if (g && std::find(out.begin(), out.end(), g) == out.end()) out.push_back(g);
    }
  return out;
}

void CEffectSequenceObject::Serialize(CArchive& ar) {
  SerializeArray(ar);
  m_windows.Serialize(ar);
  m_windows.m_pParent = this;
  if (ar.IsLoading()) {
    if (GetCount() > kMaxEffects || m_windows.GetCount() > kMaxWindows)
      throw ArchiveError("the project file holds a menu effect sequence beyond the format's limits");
    ResolveLinks(nullptr);
  }  // windows now; graphics once the epoch is read
}

void CEffectSequenceObject::Reset() {
  CNamedPtrArray<CEffectObject>::Reset();
  m_windows.Reset();
}

void CEffectSequenceObject::Copy(const CNamedPtrArray<CEffectObject>& src) {
  CNamedPtrArray<CEffectObject>::Copy(src);
  if (auto* s = dynamic_cast<const CEffectSequenceObject*>(&src)) {
    m_windows.Copy(s->m_windows);
    m_windows.m_pParent = this;
    // Windows again by id in the copy; graphics and palettes stay shared.
    CNamedPtrCollection windows;
    m_windows.Gather(windows);
    for (size_t i = 0; i < GetCount(); ++i)
      for (size_t j = 0; j < GetAt(i)->GetCount(); ++j) GetAt(i)->GetAt(j)->m_window.Resolve(windows);
  }
}

}  // namespace zv
