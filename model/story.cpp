#include "model/story.h"

namespace zv {

ZV_IMPLEMENT_DYNCREATE(CStoryObject, 1)

void CStoryObject::Serialize(CArchive& ar) {
  if (ar.IsLoading()) Reset();
  CNamedObject::Serialize(ar);
  ar.ZeroByte();
  ar.Int(m_nReserved1);
  ar.Int(m_nReserved2);
  ar.Int(m_nReserved3);
  uint32_t n = static_cast<uint32_t>(m_vecSources.size());
  ar.Dword(n);
  if (ar.IsLoading()) {
    ar.CheckCount(n, 1);
    m_vecSources.resize(n);
  }
  for (auto& path : m_vecSources) ar.Path(path);
  uint32_t tracks = 0;  // no tracks until stream analysis exists
  ar.Dword(tracks);
  if (ar.IsLoading() && tracks != 0)
    throw ArchiveError("the project file holds stream tracks, which this version cannot read");
}

void CStoryObject::Reset() {
  m_vecSources.clear();
  m_nNextTrackId = 0;
}

void CStoryObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  auto* s = dynamic_cast<const CStoryObject*>(&src);
  if (!s || s == this) return;
  m_nReserved1 = s->m_nReserved1;
  m_nReserved2 = s->m_nReserved2;
  m_nReserved3 = s->m_nReserved3;
  m_nClipNumber = s->m_nClipNumber;
  m_vecSources = s->m_vecSources;
  m_nNextTrackId = s->m_nNextTrackId;
}

bool CStoryObject::ReloadSources(const Progress&) { return false; }

bool CGosObject::ReloadSources(const Progress& progress) {
  bool changed = false;
  for (size_t i = 0; i < GetCount(); ++i) changed |= GetAt(i)->ReloadSources(progress);
  return changed;
}

}  // namespace zv
