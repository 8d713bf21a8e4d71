// A button sound of the model: one WAV file, named after it; and the named
// list of them.
#pragma once

#include <string>

#include "named/containers.h"

namespace zv {

class CSoundObject : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CSoundObject)

 public:
  static constexpr const char* kDefaultName = "Sound";
  CSoundObject() : CNamedObject(kDefaultName) {}

  const std::string& Path() const { return m_strPath; }
  // The same path (in any letter case) changes nothing and gives false; an
  // empty path clears it; a WAV that cannot be a sound is refused (false).
  // Otherwise the path is kept and a name that is empty or still the
  // default becomes the file's title.
  bool SetPath(const std::string& path);

  // The path is stored relative to the project file; loading applies
  // SetPath to it, so a WAV that went away or changed is dropped.
  void Serialize(CArchive& ar) override;
  void CopyFrom(const CNamedObject& src) override;

 private:
  std::string m_strPath;
};

class CSoFolder : public CNamedPtrArray<CSoundObject> {
 public:
  CSoFolder() : CNamedPtrArray<CSoundObject>("Sounds") {}
};

}  // namespace zv
