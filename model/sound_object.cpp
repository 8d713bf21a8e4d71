#include "model/sound_object.h"

#include <filesystem>

#include "bdnav/sound_bdmv.h"
#include "platform/paths.h"

namespace zv {

ZV_IMPLEMENT_DYNCREATE(CSoundObject, 1)

bool CSoundObject::SetPath(const std::string& path) {
  if (EqualsNoCase(path, m_strPath)) return false;
  if (path.empty()) {
    m_strPath.clear();
    return true;
  }
  if (!IsCompatibleWav(path)) return false;
  m_strPath = path;
  if (m_strName.empty() || m_strName.rfind(kDefaultName, 0) == 0) {
    const std::string title = std::filesystem::path(path).stem().string();
    if (!title.empty()) m_strName = title;
  }
  return true;
}

void CSoundObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  if (ar.IsStoring()) {
    ar.Path(m_strPath);
    return;
  }
  std::string path;
  ar.Path(path);
  m_strPath.clear();
  SetPath(path);
}

void CSoundObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  if (auto* s = dynamic_cast<const CSoundObject*>(&src)) m_strPath = s->m_strPath;
}

}  // namespace zv
