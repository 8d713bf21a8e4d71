// Button types: what a menu button does (play a title, go to a page, choose
// an audio stream...), the choices each type offers among the objects of the
// disc project, and the navigation commands generated from them when the
// menu is built.
//
// Register protocol with the movie objects (see model/navigation.h):
//   GPR2010 audio stream to use (1-based), GPR2011 subtitle stream to use
//   (1-based, 0 off), GPR2020 how the next title starts (0 from its start,
//   2 at the mark in GPR2024), GPR2024 that mark.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/menu_model.h"

namespace zv {

enum ButtonTypeCode : uint8_t {
  kButtonImageOnly = 0,
  kButtonTopMenu = 5,
  kButtonCallTopMenu = 6,
  kButtonTitle = 10,
  kButtonCallTitle = 11,
  kButtonTrailer = 14,
  kButtonCallTrailer = 15,
  kButtonChapter = 16,
  kButtonPage = 20,
  kButtonAudio = 25,
  kButtonSubtitle = 26,
  kButtonTerminate = 35,
  kButtonResume = 36,
  kButtonPopUpMenuOff = 37,
};

// A parameter value meaning "nothing chosen".
constexpr int32_t kNoChoice = -1;

// A button's parameter i (0-based) as a choice index.
inline int32_t ButtonParameter(const CBdButton& b, int i) { return static_cast<int32_t>(b.m_params[static_cast<size_t>(i)]); }
inline void SetButtonParameter(CBdButton& b, int i, int32_t v) { b.m_params[static_cast<size_t>(i)] = static_cast<uint32_t>(v); }

// One entry of the type list. Stateless: a button's type state (code,
// parameters, link) lives in the button.
class CButtonType {
 public:
  CButtonType(uint8_t code, const char* name, std::array<uint8_t, 3> flags = {0, 0, 0})
      : m_nCode(code), m_strName(name), m_flags(flags) {}
  virtual ~CButtonType() = default;
  CButtonType(const CButtonType&) = delete;
  CButtonType& operator=(const CButtonType&) = delete;

  uint8_t Code() const { return m_nCode; }
  const std::string& Name() const { return m_strName; }
  // Whether parameter i (0..2) is one the type uses.
  bool ParameterActive(int i) const { return i >= 0 && i < 3 && m_flags[static_cast<size_t>(i)] != 0; }
  // Index of the last parameter in use; -1 for a type without parameters.
  int LastActiveParameter() const;
  // How many parameters the shell can set: the ones in use and, after them,
  // any that only say where the choices come from (an audio button's movie).
  int ParameterCount() const;
  // The name the shell sets parameter i by ("movie-group", "page", ...).
  virtual const char* ParameterName(int) const { return nullptr; }
  // Whether parameter i means anything for `b` (a named parameter may only
  // apply to buttons of some menus).
  virtual bool ParameterApplies(const CBdButton&, int i) const { return ParameterName(i) != nullptr; }

  // Appends the button's commands; false when nothing could be generated
  // (a title, trailer or page that is not linked, an unchosen stream). Call
  // ResolveLink first for a "Page" button; the other types resolve their own
  // links from the parameters.
  virtual bool GenerateCommands(CBdButton&, bool /*immediate*/) const { return true; }
  // Turns the parameters into the link; true when they point at nothing that
  // exists (a broken link). Unchosen parameters are not broken.
  virtual bool ResolveLink(CBdButton& b) const {
    b.m_pTypeLink = nullptr;
    return false;
  }
  // The names parameter i offers for `b`, in choice order (choice index =
  // position). Empty when an earlier parameter must be chosen first.
  virtual std::vector<std::string> FillParameterOptions(const CBdButton&, int) const { return {}; }

  // Chooses parameter i on every button of `b`'s BOG, clears the choices
  // that depended on it and resolves the link again.
  void ApplyParameter(CBdButton& b, int i, int32_t choice) const;

 private:
  uint8_t m_nCode;
  std::string m_strName;
  std::array<uint8_t, 3> m_flags;
};

// The types in the order of the "Type" list.
const std::vector<const CButtonType*>& ButtonTypeRegistry();
// The type of a code; a code that is not in the registry acts as "Image Only".
const CButtonType& ButtonTypeOf(uint8_t code);
// By display name, in any letter case; null when there is none.
const CButtonType* FindButtonType(std::string_view name);

// Chooses `type` for every button of `b`'s BOG: a button whose code changes
// loses its commands; parameters 1 to 3 become unchosen and the link is
// cleared.
void SelectButtonType(CBdButton& b, const CButtonType& type);

// The group behaviour of "Audio", "Subtitle" and "Chapter" buttons for the
// plain button `d` of a group: `others` are the other buttons of its BOG
// (the first one is the chosen look), `sameType` the other BOGs of the page
// whose plain look is restored. Appends to d's commands; false (nothing
// appended) when d's type is not one of the three or lacks its choice.
bool GenerateGroupCommands(CBdButton& d, const std::vector<CBdButton*>& others, const std::vector<CBog*>& sameType,
                           bool immediate);

// The BOGs of `page` other than `except` that hold more than one button and
// a button of `type`, in page order.
std::vector<CBog*> SameTypeGroups(const CPage& page, const CBog* except, uint8_t type);

// Register snippets of the menu build's entry and selector buttons.
// Set GPR2010 = PSR1: remember the current audio stream.
bool AddAudioRegisterSnippet(CNavCmds& cmds);
// GPR2011 := the current subtitle stream number when subtitles are shown,
// else 0 (six commands).
bool AddSubtitleRegisterSnippet(CNavCmds& cmds);
// Set GPR2024 = PSR5: remember the current chapter.
bool AddChapterRegisterSnippet(CNavCmds& cmds);

// Appends one command text that the system composes; false when it does not
// assemble (a programming error: generated texts are fixed forms).
bool AppendCommand(CNavCmds& cmds, const std::string& text);

}  // namespace zv
