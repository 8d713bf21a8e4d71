#include "model/menu.h"

#include "graphics/ig_compiler.h"

namespace zv {

void CMenuIgObject::SetPopup(bool popup, int seconds) {
  m_bPopup = popup;
  if (popup) m_nUserTimeout = static_cast<uint16_t>(seconds);
  SetUserInterfaceModel(popup, seconds);
}

void CMenuIgObject::SetStreamModel(bool outOfMux) {
  m_bOutOfMux = outOfMux;
  SetStreamModels(outOfMux ? 1 : 0);
}

namespace {

void SetStateSound(CIgObject& menu, size_t state, int32_t id) {
  const uint8_t sound = id < 0 ? 0xFF : static_cast<uint8_t>(id);
  for (size_t e = 0; e < menu.GetCount(); ++e)
    for (size_t d = 0; d < menu.GetAt(e)->GetCount(); ++d)
      for (size_t p = 0; p < menu.GetAt(e)->GetAt(d)->GetCount(); ++p)
        for (CBdButton* b : menu.GetAt(e)->GetAt(d)->GetAt(p)->Buttons()) b->m_states[state].m_nSoundId = sound;
}

}  // namespace

void CMenuIgObject::SetSelectSound(int32_t id) {
  m_nSelectSound = id;
  SetStateSound(*this, CBdButton::kSelected, id);
}

void CMenuIgObject::SetActivateSound(int32_t id) {
  m_nActivateSound = id;
  SetStateSound(*this, CBdButton::kActivated, id);
}

void CMenuIgObject::Copy(const CNamedPtrArray<CEpoch>& src) {
  CIgObject::Copy(src);
  if (auto* s = dynamic_cast<const CMenuIgObject*>(&src)) {
    m_bCommandMode = s->m_bCommandMode;
    m_bPopup = s->m_bPopup;
    m_bOutOfMux = s->m_bOutOfMux;
    m_nLanguage = s->m_nLanguage;
    m_nUserTimeout = s->m_nUserTimeout;
    m_nReserved1 = s->m_nReserved1;
    m_nReserved2 = s->m_nReserved2;
    m_nSelectSound = s->m_nSelectSound;
    m_nActivateSound = s->m_nActivateSound;
  }
}

ZV_IMPLEMENT_DYNCREATE(CZvIgObject, 1)

CZvIgObject::CZvIgObject() { AddEpoch()->AddDisplaySet(); }

// Unlike the generic array form, the epochs follow the settings without the
// menu's name and id again.
void CZvIgObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  ar.ZeroByte();
  ar.Path(m_strSourcePath);
  ar.ZeroByte();
  ar.Bool(m_bCommandMode);
  ar.Bool(m_bPopup);
  ar.Bool(m_bOutOfMux);
  ar.Int(m_nLanguage);
  ar.Word(m_nUserTimeout);
  ar.Int(m_nReserved1);
  ar.Int(m_nReserved2);
  SerializeHeader(ar);
  SerializeChildren(ar);
}

void CZvIgObject::Copy(const CNamedPtrArray<CEpoch>& src) {
  CMenuIgObject::Copy(src);
  if (auto* s = dynamic_cast<const CZvIgObject*>(&src)) m_strSourcePath = s->m_strSourcePath;
}

// Typed buttons' links are not stored: they come back from the parameters.
bool CZvIgObject::ReloadSources(const Progress&) {
  ResolveButtonLinks();
  if (m_strSourcePath.empty()) return false;
  // Graphics imported from a stream have no file of their own: their
  // pictures come from the stream again, matched by epoch and id.
  auto missing = [](const CGraphicObject& g) { return g.m_strPath.empty() && !g.m_picture; };
  bool needed = false;
  for (size_t e = 0; e < GetCount() && !needed; ++e) {
    CNamedPtrCollection all;
    GatherGraphics(*GetAt(e), all);
    for (size_t i = 0; i < all.GetCount() && !needed; ++i) needed = missing(*static_cast<CGraphicObject*>(all.GetAt(i)));
  }
  if (!needed) return false;
  CIgObject stream;
  std::string error;
  if (!stream.ImportStream(m_strSourcePath, error)) return false;  // compiling names the empty graphics
  for (size_t e = 0; e < GetCount() && e < stream.GetCount(); ++e) {
    CNamedPtrCollection mine, theirs;
    GatherGraphics(*GetAt(e), mine);
    GatherGraphics(*stream.GetAt(e), theirs);
    for (size_t i = 0; i < mine.GetCount(); ++i) {
      auto* g = static_cast<CGraphicObject*>(mine.GetAt(i));
      auto* src = static_cast<CGraphicObject*>(theirs.FindById(g->m_nId));
      if (!missing(*g) || !src || !src->m_picture) continue;
      g->m_picture = std::make_unique<CPicture>(*src->m_picture);
      g->m_nWidth = src->m_nWidth;
      g->m_nHeight = src->m_nHeight;
      if (src->m_palette) g->Palette().Copy(*src->m_palette);
    }
  }
  return false;  // the stored model is unchanged
}

void CZvIgObject::PicturesFromSource() {
  for (size_t e = 0; e < GetCount(); ++e) {
    CNamedPtrCollection all;
    GatherGraphics(*GetAt(e), all);
    for (size_t i = 0; i < all.GetCount(); ++i)
      if (auto* g = static_cast<CGraphicObject*>(all.GetAt(i)); g->m_strPath.empty()) g->m_picture.reset();
  }
  ReloadSources({});
}

bool CGoigObject::ReloadSources(const Progress& progress) {
  bool changed = false;
  for (size_t i = 0; i < GetCount(); ++i) changed |= GetAt(i)->ReloadSources(progress);
  return changed;
}

}  // namespace zv
