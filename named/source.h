// The source record of one track (which stream file or files feed it and
// which part of them is used), its optional file list, and the header that
// starts the project file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "named/named_object.h"
#include "platform/language_code.h"

namespace zv {

struct CFileItem {
  std::string path;           // absolute in memory
  int32_t durationMs = 0;
};

// Stream files played one after another as one source.
class CFileList {
 public:
  uint32_t m_nReserved = 0;  // stored word, kept as read
  std::vector<CFileItem> m_items;

  void Serialize(CArchive& ar);
};

class CSource : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CSource)

 public:
  std::string m_strPath;        // main stream file, absolute
  std::string m_strSecondPath;  // companion stream served under the same track
  std::unique_ptr<CFileList> m_pFileList;  // when set, the two paths are unused
  uint8_t m_nTimeMode = 0;      // 0: in/out count access units; 1: milliseconds
  int32_t m_nInPoint = 0;
  int32_t m_nOutPoint = 0;      // 0 = end of stream
  int32_t m_nGraphicsOffset = 0;
  LanguageCode m_language = kEnglish;
  // ISRC: country (2), copyright holder (3), recording year (2), number (5).
  uint8_t m_isrcCountry[2] = {};
  uint8_t m_isrcOwner[3] = {};
  uint8_t m_isrcYear[2] = {};
  uint8_t m_isrcNumber[5] = {};

  void Serialize(CArchive& ar) override;
  // A full copy; the file list is copied deeply.
  void CopyFrom(const CNamedObject& src) override;
};

// Magic, format byte, version byte and a reserved word.
class CCommonFileHeader {
 public:
  CCommonFileHeader() = default;
  CCommonFileHeader(uint32_t magic, uint8_t format, uint8_t version) : m_nMagic(magic), m_nFormat(format), m_nVersion(version) {}

  void Store(ArchiveOut& out) const;
  void Load(ArchiveIn& in);

  uint32_t m_nMagic = 0;
  uint8_t m_nFormat = 0;
  uint8_t m_nVersion = 0;
  uint32_t m_nReserved = 0;
};

}  // namespace zv
