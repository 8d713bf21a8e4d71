#include "graphics/menu_model.h"

#include <cstdio>

namespace zv {

void SVideoDescriptor::Serialize(CArchive& ar) {
  ar.Word(width);
  ar.Word(height);
  ar.Byte(frameRateCode);
  ar.Byte(reserved);
}

void CPage::Serialize(CArchive& ar) {
  if (ar.IsLoading()) throw ArchiveError("the project file holds menu pages, which this version cannot read");
  CNamedObject::Serialize(ar);
}

// ---------------------------------------------------------------------------

void CIcData::Serialize(CArchive& ar) {
  SerializeArray(ar);
  ar.Byte(m_nStreamModel);
  ar.Byte(m_nUserInterfaceModel);
  ar.Qword(m_nCompositionTimeoutPts);
  ar.Qword(m_nSelectionTimeoutPts);
  ar.Dword(m_nUserTimeoutDuration);
}

void CIcData::Copy(const CNamedPtrArray<CPage>& src) {
  CNamedPtrArray<CPage>::Copy(src);
  if (auto* s = dynamic_cast<const CIcData*>(&src)) {
    m_nStreamModel = s->m_nStreamModel;
    m_nUserInterfaceModel = s->m_nUserInterfaceModel;
    m_nCompositionTimeoutPts = s->m_nCompositionTimeoutPts;
    m_nSelectionTimeoutPts = s->m_nSelectionTimeoutPts;
    m_nUserTimeoutDuration = s->m_nUserTimeoutDuration;
  }
}

void CDisplaySet::Serialize(CArchive& ar) {
  CIcData::Serialize(ar);
  ar.Str(m_strText);
  ar.Int(m_nStartFrame);
  ar.Byte(m_nCompositionState);
}

void CDisplaySet::Copy(const CNamedPtrArray<CPage>& src) {
  CIcData::Copy(src);
  if (auto* s = dynamic_cast<const CDisplaySet*>(&src)) {
    m_strText = s->m_strText;
    m_nStartFrame = s->m_nStartFrame;
    m_nCompositionState = s->m_nCompositionState;
  }
}

// ---------------------------------------------------------------------------

CEpoch::CEpoch() {
  SetName("Epoch");
  m_graphics.m_pParent = this;
  m_palettes.m_pParent = this;
}

CDisplaySet* CEpoch::AddDisplaySet() {
  auto ds = std::make_unique<CDisplaySet>();
  ds->m_nId = m_nDisplaySetCounter;
  char name[64];
  std::snprintf(name, sizeof name, "%s#%d", "DisplaySet", m_nDisplaySetCounter + 1);
  ds->SetName(name);
  ++m_nDisplaySetCounter;
  return Add(std::move(ds));
}

// Display sets, then the display-set counter, the graphics folder and the
// palette folder.
void CEpoch::Serialize(CArchive& ar) {
  SerializeArray(ar);
  ar.Word(m_nDisplaySetCounter);
  m_graphics.Serialize(ar);
  m_palettes.Serialize(ar);
  m_graphics.m_pParent = this;
  m_palettes.m_pParent = this;
}

void CEpoch::Reset() {
  CNamedPtrArray<CDisplaySet>::Reset();
  m_nDisplaySetCounter = 0;
  m_graphics.Reset();
  m_palettes.Reset();
}

void CEpoch::Copy(const CNamedPtrArray<CDisplaySet>& src) {
  CNamedPtrArray<CDisplaySet>::Copy(src);
  if (auto* s = dynamic_cast<const CEpoch*>(&src)) {
    m_nDisplaySetCounter = s->m_nDisplaySetCounter;
    m_graphics.Copy(s->m_graphics);
    m_palettes.Copy(s->m_palettes);
    m_graphics.m_pParent = this;
    m_palettes.m_pParent = this;
  }
}

// ---------------------------------------------------------------------------

CEpoch* CIgObject::AddEpoch() {
  auto e = std::make_unique<CEpoch>();
  e->m_nId = m_nEpochCounter;
  char name[64];
  std::snprintf(name, sizeof name, "%s#%d", "Epoch", m_nEpochCounter + 1);
  e->SetName(name);
  ++m_nEpochCounter;
  return Add(std::move(e));
}

void CIgObject::SetUserInterfaceModel(bool popup, int seconds) {
  for (size_t e = 0; e < GetCount(); ++e) {
    CEpoch* epoch = GetAt(e);
    for (size_t d = 0; d < epoch->GetCount(); ++d) {
      CDisplaySet* ds = epoch->GetAt(d);
      ds->m_nUserInterfaceModel = popup ? 1 : 0;
      if (popup) ds->m_nUserTimeoutDuration = static_cast<uint32_t>(seconds) * 90000u;
    }
  }
}

void CIgObject::SetStreamModels(uint8_t outOfMux) {
  for (size_t e = 0; e < GetCount(); ++e)
    for (size_t d = 0; d < GetAt(e)->GetCount(); ++d) GetAt(e)->GetAt(d)->m_nStreamModel = outOfMux;
}

bool CIgObject::IsEmpty() const {
  for (size_t e = 0; e < GetCount(); ++e)
    for (size_t d = 0; d < GetAt(e)->GetCount(); ++d) {
      const CDisplaySet* ds = GetAt(e)->GetAt(d);
      for (size_t p = 0; p < ds->GetCount(); ++p)
        if (ds->GetAt(p)->HasButtonGroups()) return false;
    }
  return true;
}

void CIgObject::SerializeHeader(CArchive& ar) {
  ar.ZeroByte();
  ar.Word(m_nEpochCounter);
  m_video.Serialize(ar);
  ar.Bool(m_bWideScreen);
}

void CIgObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  SerializeHeader(ar);
  SerializeChildren(ar);
}

void CIgObject::Reset() {
  CNamedPtrArray<CEpoch>::Reset();
  m_nEpochCounter = 0;
  m_video = SVideoDescriptor{};
  m_bWideScreen = false;
}

void CIgObject::Copy(const CNamedPtrArray<CEpoch>& src) {
  CNamedPtrArray<CEpoch>::Copy(src);
  if (auto* s = dynamic_cast<const CIgObject*>(&src)) {
    m_nEpochCounter = s->m_nEpochCounter;
    m_video = s->m_video;
    m_bWideScreen = s->m_bWideScreen;
  }
}

}  // namespace zv
