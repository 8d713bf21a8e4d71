// Menus of a film: an IG object with the settings the disc needs (pop-up or
// always on, user time-out, stream model, language) and the graphics stream
// file it was loaded from.
#pragma once

#include <cstdint>
#include <string>

#include "graphics/menu_model.h"
#include "model/named/containers.h"
#include "mux/mux_track.h"
#include "platform/progress.h"
#include "platform/prompt.h"

namespace zv {

class CMenuIgObject : public CIgObject {
 public:
  bool m_bCommandMode = true;  // 0 for the top menu
  bool m_bPopup = true;
  bool m_bOutOfMux = true;     // the menu has its own clip
  int32_t m_nLanguage = DefaultLanguageIndex();  // "eng"
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
  void Copy(const CNamedPtrArray<CEpoch>& src) override;
  virtual bool ReloadSources(const Progress&) { return false; }
  // A menu with content holds one epoch with one display set; `label` is
  // the film's label ("Movie#1:").
  bool ValidateForBuild(const std::string& label, IPrompt& prompt) const;
  // Compiles the menu (a build copy with its generated button commands)
  // into a clip of its own, number m_nClipNumber below `bdmvPath`, and
  // keeps the clip's times in m_nClipStart/End. An empty menu builds
  // nothing. kOk, kCancelled or kFailed (its message shown); the menu's own
  // model is unchanged whatever happens.
  int BuildMenu(const std::string& bdmvPath, const std::string& label, const Progress& progress, IPrompt& prompt);
};

extern const char* const kMsgMoreThanOneEpoch;       // "\"%s\" can't have more than one Epoch! "
extern const char* const kMsgMoreThanOneDisplaySet;  // "\"%s\" can't have more than one DisplaySet! "

// Multiplexes the headed interactive-graphics stream at `streamPath` into a
// menu clip (application type 5, one frame of `frameRateCode` long) with its
// clip information. The stream and its stream-information file are removed
// on every way out. `start` and `end` receive the clip's presentation times
// (90 kHz). kOk, kCancelled or kFailed (with its message shown).
int MuxMenuClip(const std::string& streamPath, const std::string& clipPath, const std::string& clpiPath,
                uint8_t frameRateCode, const Progress& progress, IPrompt& prompt, int32_t& start, int32_t& end);

class CZvIgObject : public CMenuIgObject {
  ZV_DECLARE_DYNCREATE(CZvIgObject)

 public:
  // A new menu holds one epoch with one display set, so that its pop-up
  // settings have somewhere to live before a design is imported.
  CZvIgObject();

  std::string m_strSourcePath;  // graphics stream the model came from

  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CEpoch>& src) override;
  // Graphics imported from a stream keep no file of their own: their
  // pictures are read from the stream again (the stored model is kept).
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
