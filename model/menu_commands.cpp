// Typed buttons of a menu and the build copy: the commands the menu's typed
// buttons get, and the invisible auto-action buttons that keep every audio,
// subtitle and chapter group showing the player's current choice.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "model/build.h"
#include "model/button_types.h"
#include "model/menu.h"

namespace zv {

const char* const kMsgNoLinkObject = "No defined link object for %d buttons, continue? ";

namespace {

std::string Num(const char* keyword, int64_t n) { return std::string(keyword) + " " + std::to_string(n); }

// Fixed forms with numbers filled in: one that does not assemble is a
// programming error.
void Append(CNavCmds& cmds, const std::string& text) {
  if (!AppendCommand(cmds, text)) throw std::logic_error("cannot compose \"" + text + "\"");
}

CBdButton* FirstTyped(const CBog& bog) {
  for (size_t i = 0; i < bog.GetCount(); ++i)
    if (bog.GetAt(i)->m_nButtonType != kButtonImageOnly) return bog.GetAt(i);
  return nullptr;
}

// The value of a group's choice: the type's last parameter in use.
int32_t ChoiceOf(const CBdButton& q) {
  const int last = ButtonTypeOf(q.m_nButtonType).LastActiveParameter();
  return last < 0 ? kNoChoice : ButtonParameter(q, last);
}

// Pages with room for `extra` more BOGs (the stream syntax counts them in
// a byte) and buttons.
bool HasRoom(const CPage& page, size_t extra) {
  size_t buttons = 0;
  for (size_t g = 0; g < page.GetCount(); ++g) buttons += page.GetAt(g)->GetCount();
  return page.GetCount() + extra <= 255 && buttons + extra <= static_cast<size_t>(CPage::kMaxButtonIds);
}

// A new BOG at the end of the page with one invisible auto-action button.
CBdButton* AddAutoButton(CPage& page) {
  CBdButton* b = page.AddBog()->AddButton();
  if (b) b->m_bAutoAction = true, b->m_bMadeByBuild = true;
  return b;
}

// A group the build handles: a plain button (the BOG's default, carrying
// an "Audio", "Subtitle" or "Chapter" type) and one chosen look, with the
// choice the group stands for. `reg` is null for any other BOG.
struct SChoiceGroup {
  CBdButton* plain = nullptr;
  CBdButton* chosen = nullptr;
  const CBdButton* typed = nullptr;  // the first typed button
  const char* reg = nullptr;
  int32_t choice = kNoChoice;
};

SChoiceGroup ChoiceGroupOf(CBog& group) {
  SChoiceGroup g;
  CBdButton* q = FirstTyped(group);
  CBdButton* plain = group.m_defaultButton.p;
  if (!q || !plain || plain->m_nButtonType != q->m_nButtonType || group.GetCount() != 2) return g;
  CBdButton* chosen = group.GetAt(0) == plain ? group.GetAt(1) : group.GetAt(0);
  switch (q->m_nButtonType) {
    case kButtonAudio: g.reg = "GPR2010", g.choice = ButtonParameter(*q, 0); break;
    case kButtonSubtitle: g.reg = "GPR2011", g.choice = ButtonParameter(*q, 0); break;
    case kButtonChapter:
      // Without its chapter the group has no choice to show.
      if (ButtonParameter(*q, 2) == kNoChoice) return g;
      g.reg = "GPR2024", g.choice = ButtonParameter(*q, 2);
      break;
    default: return g;
  }
  g.plain = plain, g.chosen = chosen, g.typed = q;
  return g;
}

// The button a page of the build copy opens on: the page's own default
// selected button, else the default button of its first BOG that has one
// (what a player selects on a page without a default), among the page's
// first `ownBogs` BOGs (those it had before the copy added its own). A button
// of a handled group is reached through the group's selector, which shows
// the group's current look. Null when there is none.
const CBdButton* OpeningButton(CPage& page, const CBdButton* ownDefault, size_t ownBogs) {
  const CBdButton* b = ownDefault;
  for (size_t g = 0; g < ownBogs && g < page.GetCount() && !b; ++g) b = page.GetAt(g)->m_defaultButton.p;
  if (!b) return nullptr;
  CBog* bog = page.BogOf(b);
  if (bog && bog->m_pSelectorPair && ChoiceGroupOf(*bog).reg && bog->m_pSelectorPair->GetCount() > 0)
    return bog->m_pSelectorPair->GetAt(0);
  return b;
}

std::string Where(const CMenuIgObject& menu, const CPage& page, const CBog& bog) {
  return menu.m_strName + ":" + page.m_strName + ":" + bog.m_strName;
}

}  // namespace

// --- typed buttons ------------------------------------------------------------

std::vector<CBdButton*> CMenuIgObject::ResolveButtonLinks() {
  std::vector<CBdButton*> broken;
  for (size_t e = 0; e < GetCount(); ++e)
    for (size_t d = 0; d < GetAt(e)->GetCount(); ++d) {
      CDisplaySet& ds = *GetAt(e)->GetAt(d);
      for (size_t p = 0; p < ds.GetCount(); ++p)
        for (CBdButton* b : ds.GetAt(p)->Buttons())
          if (b->m_nButtonType != kButtonImageOnly && ButtonTypeOf(b->m_nButtonType).ResolveLink(*b))
            broken.push_back(b);
    }
  return broken;
}

int CMenuIgObject::GenerateButtonCommands() {
  CEpoch* epoch = GetAt(0);
  CDisplaySet* ds = epoch ? epoch->GetAt(0) : nullptr;
  if (!ds) return 0;
  // The build copy has linked its own pages; the menu's own buttons are
  // linked from their choices here.
  if (!HasBuildCopy()) ResolveButtonLinks();
  int failed = 0;
  for (size_t p = 0; p < ds->GetCount(); ++p) {
    CPage& page = *ds->GetAt(p);
    for (size_t g = 0; g < page.GetCount(); ++g) {
      CBog& bog = *page.GetAt(g);
      if (bog.m_pSelectorPair) continue;
      // By index: generating a group's plain button takes the type off the
      // group's other buttons, which are then passed over.
      for (size_t i = 0; i < bog.GetCount(); ++i) {
        CBdButton& b = *bog.GetAt(i);
        const CButtonType& type = ButtonTypeOf(b.m_nButtonType);
        if (b.m_nButtonType == kButtonImageOnly || type.Code() != b.m_nButtonType) continue;
        b.m_commands.Clear();
        if (!type.GenerateCommands(b, m_bCommandMode)) ++failed;
      }
    }
  }
  return failed;
}

bool CMenuIgObject::CheckButtonLinks(const std::string& label, IPrompt& prompt) {
  const int failed = GenerateButtonCommands();
  if (failed == 0) return true;
  char text[128];
  std::snprintf(text, sizeof text, kMsgNoLinkObject, failed);
  return prompt.Ask("\"" + label + "\": " + text) == Answer::Yes;
}

// --- the build copy -----------------------------------------------------------

bool CMenuIgObject::BuildGroupSelector(CPage& page, CBdButton& selector, CBog& group) {
  auto inGroup = [&](const CBdButton* b) { return b && group.IndexOf(b) >= 0; };
  if (inGroup(page.m_defaultSelected.p)) page.m_defaultSelected.Set(&selector);
  if (inGroup(page.m_defaultActivated.p)) page.m_defaultActivated.Set(&selector);
  for (size_t g = 0; g < page.GetCount(); ++g) {
    if (page.GetAt(g) == &group) continue;
    for (size_t i = 0; i < page.GetAt(g)->GetCount(); ++i)
      for (int d = 0; d < 4; ++d) {
        CModelRef<CBdButton>& r = page.GetAt(g)->GetAt(i)->m_neighbors.All()[d];
        if (inGroup(r.p)) r.Set(&selector);
      }
  }
  return false;
}

bool CMenuIgObject::PrepareBuildCopy(const Progress& log) {
  if (m_pBuildOriginal || IsEmpty()) return true;
  CEpoch* epoch = GetAt(0);
  if (!epoch || epoch->GetCount() == 0) return true;
  const CDisplaySet& own = *epoch->GetAt(0);
  // Every page gains its entry BOG and a selector per group; the front page
  // is new.
  for (size_t p = 0; p < own.GetCount(); ++p) {
    const CPage& page = *own.GetAt(p);
    size_t groups = 0;
    for (size_t g = 0; g < page.GetCount(); ++g) groups += page.GetAt(g)->GetCount() >= 2 ? 1 : 0;
    if (!HasRoom(page, groups + 1)) {
      log.Item(LogLine(m_strName + ":" + page.m_strName +
                       " Error: no room for the buttons the build adds (255 BOGs and 8160 buttons at most)"));
      return false;
    }
  }
  if (own.GetCount() >= 255) {
    log.Item(LogLine(m_strName + " Error: no room for the page the build adds (255 pages at most)"));
    return false;
  }

  m_pBuildEpoch = epoch;
  m_pBuildOriginal = epoch->RemoveAt(0);
  auto made = std::make_unique<CDisplaySet>();
  made->CopyFrom(*m_pBuildOriginal);  // pages, BOGs, buttons; references into the copy
  CDisplaySet* copy = m_pBuildCopy = epoch->Add(std::move(made));
  RelinkPageButtons(*copy);

  auto frontOwned = std::make_unique<CPage>();
  frontOwned->m_nId = 0;
  frontOwned->SetName("Page#" + std::to_string(copy->GetCount() + 1));
  CPage* front = copy->InsertAt(0, std::move(frontOwned));
  // Nothing of the front page is seen; page 1's palette spares it one.
  if (copy->GetCount() > 1) front->m_palette = copy->GetAt(1)->m_palette;
  CBdButton* opener = AddAutoButton(*front);

  for (size_t m = 1; m < copy->GetCount(); ++m) {
    CPage& page = *copy->GetAt(m);
    page.m_nId = static_cast<int32_t>(m);
    CBdButton* ownDefault = page.m_defaultSelected.p;
    std::vector<std::pair<CBdButton*, CBog*>> selectors;
    const size_t before = page.GetCount();
    for (size_t g = 0; g < before; ++g) {
      CBog* group = page.GetAt(g);
      if (group->GetCount() < 2) continue;
      CBdButton* s = AddAutoButton(page);
      if (!s) continue;
      CBog* sBog = page.GetAt(page.GetCount() - 1);
      sBog->m_pSelectorPair = group;
      group->m_pSelectorPair = sBog;
      selectors.emplace_back(s, group);
    }
    if (CBdButton* entry = AddAutoButton(page)) {
      page.m_defaultSelected.Set(entry);
      BuildPageEntry(page, *entry, OpeningButton(page, ownDefault, before));
    }
    for (auto& [s, group] : selectors)
      if (!BuildGroupSelector(page, *s, *group))
        log.Item(LogLine(Where(*this, page, *group) + ": not a two-button \"Audio\", \"Subtitle\" or \"Chapter\" group (" +
                         std::to_string(group->GetCount()) + " buttons), so it gets no generated commands"));
  }
  // Page 1's entry button, which opens the page.
  if (opener && copy->GetCount() >= 2) {
    const CBdButton* first = copy->GetAt(1)->m_defaultSelected.p;
    Append(opener->m_commands, first ? "SetButtonPage " + std::to_string(first->m_nId) + " 1 1" : "SetButtonPage X 1 1");
  }
  return true;
}

void CMenuIgObject::RemoveBuildCopy() {
  if (!m_pBuildOriginal) return;
  const int at = m_pBuildEpoch->IndexOf(m_pBuildCopy);
  if (at >= 0) m_pBuildEpoch->RemoveAt(static_cast<size_t>(at));
  m_pBuildEpoch->InsertAt(0, std::move(m_pBuildOriginal));
  m_pBuildCopy = nullptr;
  m_pBuildEpoch = nullptr;
}

CMenuBuildCopy::CMenuBuildCopy(CMenuIgObject& menu, const Progress& log) : m_menu(menu) {
  for (const CBdButton* b : menu.ResolveButtonLinks()) {
    const CBog* bog = dynamic_cast<const CBog*>(b->m_pParent);
    const CPage* page = bog ? bog->Page() : nullptr;
    log.Item(LogLine(menu.m_strName + ":" + (page ? page->m_strName + ":" : std::string()) + b->m_strName +
                     " Warning: the \"" + ButtonTypeOf(b->m_nButtonType).Name() +
                     "\" button's choice no longer exists"));
  }
  m_bOk = menu.PrepareBuildCopy(log);
}

// --- CZvIgObject's steps ----------------------------------------------------------

void CZvIgObject::RelinkPageButtons(CDisplaySet& copy) {
  for (size_t p = 0; p < copy.GetCount(); ++p)
    for (CBdButton* b : copy.GetAt(p)->Buttons())
      if (b->m_nButtonType == kButtonPage) {
        const int32_t i = ButtonParameter(*b, 0);
        b->m_pTypeLink = i >= 0 ? copy.GetAt(static_cast<size_t>(i)) : nullptr;
      }
}

void CZvIgObject::BuildPageEntry(CPage& page, CBdButton& entry, const CBdButton* opening) {
  // Audio, subtitle and chapter groups, by the first typed button of each.
  std::vector<CBog*> lists[3];
  for (size_t g = 0; g < page.GetCount(); ++g) {
    const CBdButton* q = FirstTyped(*page.GetAt(g));
    if (!q) continue;
    if (q->m_nButtonType == kButtonAudio) lists[0].push_back(page.GetAt(g));
    else if (q->m_nButtonType == kButtonSubtitle) lists[1].push_back(page.GetAt(g));
    else if (q->m_nButtonType == kButtonChapter) lists[2].push_back(page.GetAt(g));
  }
  CNavCmds& c = entry.m_commands;
  if ((!lists[0].empty() || !lists[1].empty()) && m_bCommandMode) {
    AddAudioRegisterSnippet(c);
    AddSubtitleRegisterSnippet(c);
  }
  if (!lists[2].empty()) AddChapterRegisterSnippet(c);
  static const char* const kRegister[3] = {"GPR2010", "GPR2011", "GPR2024"};
  for (int l = 0; l < 3; ++l) {
    for (const CBog* bog : lists[l])
      if (bog->m_defaultButton.p) Append(c, Num("EnableButton", bog->m_defaultButton.p->m_nId));
    // The chosen look of the current choice is made visible; the selection
    // is the page's own (below).
    for (const CBog* bog : lists[l]) {
      const CBdButton* q = FirstTyped(*bog);
      const CBdButton* other = nullptr;
      for (size_t i = 0; i < bog->GetCount() && !other; ++i)
        if (bog->GetAt(i) != bog->m_defaultButton.p) other = bog->GetAt(i);
      if (!other) continue;
      Append(c, std::string("If ") + kRegister[l] + " == " + std::to_string(int64_t{ChoiceOf(*q)} + 1));
      Append(c, Num("EnableButton", other->m_nId));
    }
  }
  if (opening && opening != &entry) Append(c, "SetButtonPage " + std::to_string(opening->m_nId) + " X 1");
}

bool CZvIgObject::BuildGroupSelector(CPage& page, CBdButton& selector, CBog& group) {
  // Only a group with a choice to show is reached through its selector:
  // the references to any other group stay as the author made them, since
  // its selector would have nowhere to pass the selection on to.
  const SChoiceGroup g = ChoiceGroupOf(group);
  if (!g.reg) return false;
  CMenuIgObject::BuildGroupSelector(page, selector, group);

  CNavCmds& c = selector.m_commands;
  // Where the player's streams are the user's choice (a menu used during
  // playback) the registers take them over first; in the top menu the
  // registers themselves hold the choice.
  if (g.typed->m_nButtonType == kButtonChapter) {
    AddChapterRegisterSnippet(c);
  } else if (m_bCommandMode) {
    AddAudioRegisterSnippet(c);
    AddSubtitleRegisterSnippet(c);
  }
  // Highlight the chosen look when the group's choice is the current one,
  // else the plain look.
  const auto k = static_cast<int64_t>(c.Count());
  Append(c, std::string("If ") + g.reg + " != " + std::to_string(int64_t{g.choice} + 1));
  Append(c, Num("GoTo", k + 4));
  Append(c, "SetButtonPage " + std::to_string(g.chosen->m_nId) + " X 1");
  Append(c, "Break");
  Append(c, "SetButtonPage " + std::to_string(g.plain->m_nId) + " X 1");

  return GenerateGroupCommands(*g.plain, {g.chosen}, SameTypeGroups(page, &group, g.typed->m_nButtonType),
                               m_bCommandMode);
}

}  // namespace zv
