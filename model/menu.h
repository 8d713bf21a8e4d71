// Menus of a film: an IG object with the settings the disc needs (pop-up or
// always on, user time-out, stream model, language) and the graphics stream
// file it was loaded from.
#pragma once

#include <cstdint>
#include <string>

#include "graphics/menu_model.h"
#include "model/named/containers.h"
#include "platform/progress.h"

namespace zv {

class CMenuIgObject : public CIgObject {
 public:
  bool m_bCommandMode = true;  // 0 for the top menu
  bool m_bPopup = true;
  bool m_bOutOfMux = true;     // the menu has its own clip
  int32_t m_nLanguage = 125;   // index of "eng"
  uint16_t m_nUserTimeout = 0;  // seconds, pop-up only
  int32_t m_nReserved1 = 0;     // stored unchanged
  int32_t m_nReserved2 = 0;
  // Not stored.
  int32_t m_nSelectSound = -1;
  int32_t m_nActivateSound = -1;
  int32_t m_nClipNumber = 0;
  int32_t m_nClipStart = 0;
  int32_t m_nClipEnd = 0;

  // Pop-up with a user time-out of `seconds`, or always on; applied to
  // every display set.
  void SetPopup(bool popup, int seconds);
  void SetStreamModel(bool outOfMux);
  // The menu-wide select (activate) sound: every button of every page gets
  // it in its selected (activated) state; -1 clears them.
  void SetSelectSound(int32_t id);
  void SetActivateSound(int32_t id);
  void Copy(const CNamedPtrArray<CEpoch>& src) override;
  virtual bool ReloadSources(const Progress&) { return false; }
};

class CZvIgObject : public CMenuIgObject {
  ZV_DECLARE_DYNCREATE(CZvIgObject)

 public:
  // A new menu holds one epoch with one display set, so that its pop-up
  // settings have somewhere to live before a design is imported.
  CZvIgObject();

  std::string m_strSourcePath;  // graphics stream the model came from

  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CEpoch>& src) override;
  // Re-reading the source stream plugs in here with the graphics stream
  // parser; until then the stored model is kept as it is.
  bool ReloadSources(const Progress& progress) override;
  void ClearSourcePath() { m_strSourcePath.clear(); }
};

class CGoigObject : public CGroupObject<CZvIgObject> {
 public:
  CGoigObject() { SetName("IGs"); }
  const char* DefaultBaseName() const override { return "IG"; }
  bool ReloadSources(const Progress& progress);
};

}  // namespace zv
