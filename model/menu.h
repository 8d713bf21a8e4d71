// Menus of a film: an IG object with the settings the disc needs (pop-up or
// always on, user time-out, stream model, language) and the graphics stream
// file it was loaded from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/menu_model.h"
#include "named/containers.h"
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
  // The menu-wide select (activate) sound: every button of every page gets
  // it in its selected (activated) state; -1 clears them.
  void SetSelectSound(int32_t id);
  void SetActivateSound(int32_t id);
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

  // --- typed buttons -------------------------------------------------------
  // Resolves the link of every typed button of every display set from its
  // parameters; returns the buttons whose choices point at nothing.
  std::vector<CBdButton*> ResolveButtonLinks();
  // Generates the commands of every typed button of the first display set
  // (with the build copy in place, the copy), passing m_bCommandMode as the
  // immediate flag; without the copy the links are resolved first. A typed
  // button's old commands are replaced; plain buttons
  // and codes outside the type list keep theirs; the groups the build copy
  // handles are skipped. Returns how many buttons generated nothing.
  int GenerateButtonCommands();
  // GenerateButtonCommands, then asks whether to go on when some buttons
  // generated nothing; false unless the answer is Yes.
  bool CheckButtonLinks(const std::string& label, IPrompt& prompt);

  // --- the build copy ------------------------------------------------------
  // The build works on a copy of the first display set that holds extra
  // invisible auto-action buttons: a front page that opens page 1, an entry
  // button on every page that shows the current audio, subtitle and chapter
  // choice, and a selector for every group of two or more buttons. The
  // copy takes the original's place in the first epoch until
  // RemoveBuildCopy; the menu's own display set is never changed. Lines
  // about groups that get no commands go to `log`. False (nothing changed)
  // when a page has no room for the added buttons.
  bool PrepareBuildCopy(const Progress& log);
  // Removes and destroys the copy and puts the menu's own display set back
  // as the first of its epoch. Nothing happens without a copy.
  void RemoveBuildCopy();
  bool HasBuildCopy() const { return m_pBuildOriginal != nullptr; }

  // Steps of the build copy. Here: links stay as copied, no entry commands,
  // and a selector only takes over the references to its group (returns
  // false: no commands).
  virtual void RelinkPageButtons(CDisplaySet&) {}
  virtual bool BuildGroupSelector(CPage& page, CBdButton& selector, CBog& group);
  // `opening` is the button the page opens on (see PrepareBuildCopy).
  virtual void BuildPageEntry(CPage&, CBdButton&, const CBdButton* /*opening*/) {}

 private:
  std::unique_ptr<CDisplaySet> m_pBuildOriginal;  // while the copy is in place
  CDisplaySet* m_pBuildCopy = nullptr;
  CEpoch* m_pBuildEpoch = nullptr;
};

// Text of CheckButtonLinks' question (after the label).
extern const char* const kMsgNoLinkObject;  // "No defined link object for %d buttons, continue? "

// The command half of a menu's build, for the build step that compiles the
// menu: resolves the typed buttons' links (telling the broken ones to `log`),
// makes the build copy and, through Check, generates every typed button's
// commands. The destructor puts the menu's own display set back, whatever
// happened in between.
class CMenuBuildCopy {
 public:
  CMenuBuildCopy(CMenuIgObject& menu, const Progress& log);
  ~CMenuBuildCopy() { m_menu.RemoveBuildCopy(); }
  CMenuBuildCopy(const CMenuBuildCopy&) = delete;
  CMenuBuildCopy& operator=(const CMenuBuildCopy&) = delete;

  // False when the copy could not be made.
  bool Ok() const { return m_bOk; }
  // CheckButtonLinks on the copy with the film's label.
  bool Check(const std::string& label, IPrompt& prompt) { return m_menu.CheckButtonLinks(label, prompt); }

 private:
  CMenuIgObject& m_menu;
  bool m_bOk = false;
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
  // Replaces the pictures of those graphics by the stream's, as opening
  // the saved project will.
  void PicturesFromSource();
  void ClearSourcePath() { m_strSourcePath.clear(); }

  // "Page" buttons link pages of the copy.
  void RelinkPageButtons(CDisplaySet& copy) override;
  // Also highlights the group's chosen button when its choice is the
  // player's current one, and gives the group's plain button its commands;
  // true when it did (a two-button "Audio", "Subtitle" or "Chapter" group).
  bool BuildGroupSelector(CPage& page, CBdButton& selector, CBog& group) override;
  // Shows every "Audio", "Subtitle" and "Chapter" group's current choice,
  // then selects `opening` unless a chosen look was selected.
  void BuildPageEntry(CPage& page, CBdButton& entry, const CBdButton* opening) override;
};

class CGoigObject : public CGroupObject<CZvIgObject> {
 public:
  CGoigObject() { SetName("IGs"); }
  const char* DefaultBaseName() const override { return "IG"; }
  bool ReloadSources(const Progress& progress);
};

}  // namespace zv
