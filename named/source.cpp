#include "named/source.h"

#include <algorithm>
#include <iterator>

namespace zv {

void CFileList::Serialize(CArchive& ar) {
  ar.ZeroByte();
  ar.Dword(m_nReserved);
  uint32_t n = static_cast<uint32_t>(m_items.size());
  ar.Dword(n);
  if (ar.IsLoading()) {
    ar.CheckCount(n, 6);  // version byte, empty path, duration
    m_items.assign(n, CFileItem{});
  }
  for (auto& item : m_items) {
    ar.ZeroByte();
    ar.Path(item.path);
    ar.Int(item.durationMs);
  }
}

ZV_IMPLEMENT_DYNCREATE(CSource, 1)

void CSource::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  ar.ZeroByte();
  bool hasList = m_pFileList != nullptr;
  ar.Bool(hasList);
  if (ar.IsLoading()) m_pFileList = hasList ? std::make_unique<CFileList>() : nullptr;
  if (m_pFileList) {
    m_pFileList->Serialize(ar);
  } else {
    ar.Path(m_strPath);
    ar.Path(m_strSecondPath);
  }
  ar.Byte(m_nTimeMode);
  ar.Int(m_nInPoint);
  ar.Int(m_nOutPoint);
  ar.Int(m_nGraphicsOffset);
  ar.Bytes(m_language.data(), m_language.size());
  ar.Bytes(m_isrcCountry, 2);
  ar.Bytes(m_isrcOwner, 3);
  ar.Bytes(m_isrcYear, 2);
  ar.Bytes(m_isrcNumber, 5);
}

void CSource::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  auto* s = dynamic_cast<const CSource*>(&src);
  if (!s || s == this) return;
  m_strPath = s->m_strPath;
  m_strSecondPath = s->m_strSecondPath;
  m_pFileList = s->m_pFileList ? std::make_unique<CFileList>(*s->m_pFileList) : nullptr;
  m_nTimeMode = s->m_nTimeMode;
  m_nInPoint = s->m_nInPoint;
  m_nOutPoint = s->m_nOutPoint;
  m_nGraphicsOffset = s->m_nGraphicsOffset;
  m_language = s->m_language;
  std::copy(std::begin(s->m_isrcCountry), std::end(s->m_isrcCountry), m_isrcCountry);
  std::copy(std::begin(s->m_isrcOwner), std::end(s->m_isrcOwner), m_isrcOwner);
  std::copy(std::begin(s->m_isrcYear), std::end(s->m_isrcYear), m_isrcYear);
  std::copy(std::begin(s->m_isrcNumber), std::end(s->m_isrcNumber), m_isrcNumber);
}

void CCommonFileHeader::Store(ArchiveOut& out) const {
  out.U32(m_nMagic);
  out.U8(m_nFormat);
  out.U8(m_nVersion);
  out.U32(m_nReserved);
}

void CCommonFileHeader::Load(ArchiveIn& in) {
  m_nMagic = in.U32();
  m_nFormat = in.U8();
  m_nVersion = in.U8();
  m_nReserved = in.U32();
}

}  // namespace zv
