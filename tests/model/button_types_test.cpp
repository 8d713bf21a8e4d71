// Typed menu buttons: the commands each type generates, the group behaviour
// of audio, subtitle and chapter buttons, and the build copy's added buttons,
// all read back through the disassembler and compared with command lists
// worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/button_types.h"
#include "model/menu.h"
#include "model/navigation.h"
#include "model/project.h"

using namespace zv;
using Texts = std::vector<std::string>;

namespace {

const std::string kProjectPath = "/srv/discs/typed/p.zvpj";

const Texts kSubtitleRegister = {"Set GPR2011 = PSR2",       "Set GPR2011 & 2147487743", "If GPR2011 < 2147483648",
                                 "Set GPR2011 = 0",          "If GPR2011 >= 2147483648", "Set GPR2011 & 4095"};

Texts Join(std::initializer_list<Texts> parts) {
  Texts all;
  for (const Texts& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The commands as text; every one must be a form the assembler makes and
// give the same 12 bytes when assembled again.
Texts TextsOf(const CNavCmds& cmds) {
  Texts t;
  for (const CNavCmd& c : cmds) {
    const std::string text = CommandText(c);
    CNavCmd again;
    EXPECT_TRUE(ParseCommandText(text, again)) << text;
    EXPECT_EQ(again, c) << text;
    t.push_back(text);
  }
  return t;
}

std::string Id(const CBdButton* b) { return std::to_string(b->m_nId); }

// A new project whose movie title has title number 3 and four chapters, and
// whose trailers title holds three trailers.
struct Disc {
  CZvObject project;
  CFilmObject* movie;
  CPlObject* title;
  CZvIgObject* menu;
  CDisplaySet* ds;

  Disc() {
    project.InitNew();
    movie = project.m_movies.GetAt(0);
    title = movie->m_playlists.GetAt(0);
    title->m_nTitleNumber = 3;
    for (int i = 0; i < 4; ++i) title->GetAt(0)->m_chapters.AddPoint().time = 240 * i;
    CPlObject* trailers = project.m_trailers.m_playlists.GetAt(0);
    for (int i = 0; i < 3; ++i) trailers->Add(std::make_unique<CPiObject>());
    trailers->m_nTitleNumber = 5;
    menu = movie->m_menus.GetAt(0);
    ds = menu->GetAt(0)->GetAt(0);
  }

  CPage* Page() { return ds->GetCount() ? ds->GetAt(0) : ds->AddPage(); }
  CBog* Bog(CPage* page, int buttons) {
    CBog* bog = page->AddBog();
    for (int i = 0; i < buttons; ++i) bog->AddButton();
    return bog;
  }
};

// Types the whole BOG and chooses parameter values in order.
void Type(CBog* bog, uint8_t code, std::vector<int32_t> params = {}) {
  const CButtonType& t = ButtonTypeOf(code);
  ASSERT_EQ(t.Code(), code);
  SelectButtonType(*bog->GetAt(0), t);
  for (size_t i = 0; i < params.size(); ++i) t.ApplyParameter(*bog->GetAt(0), static_cast<int>(i), params[i]);
}

bool Generate(CBdButton* b, bool immediate) { return ButtonTypeOf(b->m_nButtonType).GenerateCommands(*b, immediate); }

}  // namespace

TEST(ButtonTypes, RegistryOrderCodesAndLookup) {
  const std::vector<std::pair<std::string, int>> expected = {
      {"Image Only", 0}, {"TopMenu", 5},  {"Call TopMenu", 6}, {"Title", 10},   {"Call Title", 11},
      {"Chapter", 16},   {"Page", 20},    {"Audio", 25},       {"Subtitle", 26}, {"Trailer", 14},
      {"Call Trailer", 15}, {"Resume", 36}, {"TerminatePL", 35}, {"PopUpMenuOff", 37}};
  const auto& reg = ButtonTypeRegistry();
  ASSERT_EQ(reg.size(), expected.size());
  for (size_t i = 0; i < reg.size(); ++i) {
    EXPECT_EQ(reg[i]->Name(), expected[i].first);
    EXPECT_EQ(reg[i]->Code(), expected[i].second);
  }
  EXPECT_EQ(ButtonTypeOf(99).Name(), "Image Only") << "a code outside the list acts as the first entry";
  ASSERT_NE(FindButtonType("call title"), nullptr);
  EXPECT_EQ(FindButtonType("call title")->Code(), kButtonCallTitle);
  EXPECT_EQ(FindButtonType("Call"), nullptr);
  EXPECT_EQ(ButtonTypeOf(kButtonChapter).ParameterCount(), 3);
  EXPECT_STREQ(ButtonTypeOf(kButtonChapter).ParameterName(2), "chapter");
  EXPECT_EQ(ButtonTypeOf(kButtonResume).ParameterCount(), 0);
}

TEST(ButtonTypes, SingleCommandTypes) {
  Disc d;
  CPage* page = d.Page();
  const std::vector<std::pair<uint8_t, Texts>> cases = {
      {kButtonTopMenu, {"JumpTitle 0"}},         {kButtonCallTopMenu, {"CallTitle 0"}},
      {kButtonResume, {"Resume"}},               {kButtonTerminate, {"TerminatePlaylist"}},
      {kButtonPopUpMenuOff, {"PopUpMenuOff"}},   {kButtonImageOnly, {}}};
  for (const auto& [code, want] : cases) {
    CBog* bog = d.Bog(page, 1);
    Type(bog, code);
    EXPECT_TRUE(Generate(bog->GetAt(0), true));
    EXPECT_EQ(TextsOf(bog->GetAt(0)->m_commands), want) << ButtonTypeOf(code).Name();
  }
}

TEST(ButtonTypes, TitlesAndTrailers) {
  Disc d;
  CPage* page = d.Page();
  CBog* call = d.Bog(page, 1);
  Type(call, kButtonCallTitle, {0, 0});
  EXPECT_EQ(call->GetAt(0)->m_pTypeLink, d.title);
  EXPECT_TRUE(Generate(call->GetAt(0), false));
  EXPECT_EQ(TextsOf(call->GetAt(0)->m_commands), (Texts{"Set GPR2020 = 0", "CallTitle 3"}));

  CBog* jump = d.Bog(page, 1);
  Type(jump, kButtonTitle, {0, 0});
  EXPECT_TRUE(Generate(jump->GetAt(0), false));
  EXPECT_EQ(TextsOf(jump->GetAt(0)->m_commands), (Texts{"Set GPR2020 = 0", "JumpTitle 3"}));

  // Unchosen is no link (not broken); a choice past the list is broken.
  CBog* unlinked = d.Bog(page, 1);
  Type(unlinked, kButtonTitle, {0});
  EXPECT_FALSE(ButtonTypeOf(kButtonTitle).ResolveLink(*unlinked->GetAt(0)));
  EXPECT_FALSE(Generate(unlinked->GetAt(0), false));
  EXPECT_TRUE(unlinked->GetAt(0)->m_commands.Empty());
  Type(unlinked, kButtonTitle, {0, 7});
  EXPECT_TRUE(ButtonTypeOf(kButtonTitle).ResolveLink(*unlinked->GetAt(0)));
  EXPECT_FALSE(Generate(unlinked->GetAt(0), false));
  EXPECT_TRUE(unlinked->GetAt(0)->m_commands.Empty());

  // Trailer p of a folder whose first title is 5.
  CPlObject* folder = d.project.m_trailers.m_playlists.GetAt(0);
  const std::vector<std::pair<uint8_t, std::string>> modes = {
      {kSeparate, "JumpTitle 6"}, {kSeparateAndPlayAll, "JumpTitle 7"}, {kPlayAll, "JumpTitle 5"}};
  for (const auto& [mode, want] : modes) {
    folder->m_nPlayMode = mode;
    CBog* t = d.Bog(page, 1);
    Type(t, kButtonTrailer, {1});
    EXPECT_TRUE(Generate(t->GetAt(0), false));
    EXPECT_EQ(TextsOf(t->GetAt(0)->m_commands), (Texts{"Set GPR2020 = 0", want})) << int{mode};
  }
  CBog* callTrailer = d.Bog(page, 1);
  Type(callTrailer, kButtonCallTrailer, {0});
  EXPECT_TRUE(Generate(callTrailer->GetAt(0), false));
  EXPECT_EQ(TextsOf(callTrailer->GetAt(0)->m_commands), (Texts{"Set GPR2020 = 0", "CallTitle 5"}));
  Type(callTrailer, kButtonCallTrailer, {3});
  EXPECT_TRUE(ButtonTypeOf(kButtonCallTrailer).ResolveLink(*callTrailer->GetAt(0)));
  EXPECT_FALSE(Generate(callTrailer->GetAt(0), false));
}

TEST(ButtonTypes, PageButtonSelectsThePagesDefaultButton) {
  Disc d;
  CPage* first = d.ds->AddPage();
  d.ds->AddPage();
  CPage* target = d.ds->AddPage();
  CBog* bog = d.Bog(target, 6);
  target->m_defaultSelected.Set(bog->GetAt(5));
  ASSERT_EQ(bog->GetAt(5)->m_nId, 5);
  CBog* go = d.Bog(first, 1);
  Type(go, kButtonPage, {2});
  EXPECT_FALSE(ButtonTypeOf(kButtonPage).ResolveLink(*go->GetAt(0)));
  EXPECT_TRUE(Generate(go->GetAt(0), true));
  EXPECT_EQ(TextsOf(go->GetAt(0)->m_commands), (Texts{"SetButtonPage 5 2 1"}));

  target->m_defaultSelected.Clear();
  go->GetAt(0)->m_commands.Clear();
  EXPECT_TRUE(Generate(go->GetAt(0), true));
  EXPECT_EQ(TextsOf(go->GetAt(0)->m_commands), (Texts{"SetButtonPage X 2 1"}));

  // A page with an out effect of its own lets it play when a button leaves it.
  first->m_outEffects.AddEffect()->m_nDuration = 9000;
  go->GetAt(0)->m_commands.Clear();
  EXPECT_TRUE(Generate(go->GetAt(0), true));
  EXPECT_EQ(TextsOf(go->GetAt(0)->m_commands), (Texts{"SetButtonPage X 2 0"}));
  first->m_outEffects.Reset();

  Type(go, kButtonPage, {3});
  EXPECT_TRUE(ButtonTypeOf(kButtonPage).ResolveLink(*go->GetAt(0))) << "page index past the display set";
  EXPECT_FALSE(Generate(go->GetAt(0), true));
}

TEST(ButtonTypes, AudioGroupWithSiblingGroups) {
  Disc d;
  CPage* page = d.Page();
  std::vector<CBog*> groups;
  for (int s = 0; s < 3; ++s) {
    groups.push_back(d.Bog(page, 2));
    Type(groups.back(), kButtonAudio, {s});
  }
  CBdButton* plain = groups[1]->GetAt(0);
  CBdButton* chosen = groups[1]->GetAt(1);
  ASSERT_EQ(chosen->m_nButtonType, kButtonAudio);
  EXPECT_TRUE(Generate(plain, false));
  EXPECT_EQ(TextsOf(plain->m_commands),
            (Texts{"EnableButton " + Id(chosen), "EnableButton " + Id(groups[0]->GetAt(0)),
                   "EnableButton " + Id(groups[2]->GetAt(0)), "Set GPR2010 = 2"}));
  // The chosen look loses its type and commands.
  EXPECT_EQ(chosen->m_nButtonType, kButtonImageOnly);
  EXPECT_EQ(ButtonParameter(*chosen, 0), kNoChoice);
  EXPECT_TRUE(chosen->m_commands.Empty());

  // In a menu used during playback the stream changes at once; the snippet
  // counts its GoTo from where it starts.
  CBdButton* first = groups[0]->GetAt(0);
  EXPECT_TRUE(Generate(first, true));
  EXPECT_EQ(TextsOf(first->m_commands),
            (Texts{"EnableButton " + Id(groups[0]->GetAt(1)), "EnableButton " + Id(groups[1]->GetAt(0)),
                   "EnableButton " + Id(groups[2]->GetAt(0)), "Set GPR2010 = 1", "If GPR2011 == 0", "GoTo 8",
                   "SetStream GPR2010 GPR2011 1 X X", "Break", "SetStream GPR2010 X 0 X X"}));

  CBog* sub = d.Bog(page, 1);
  Type(sub, kButtonSubtitle, {2});
  EXPECT_TRUE(Generate(sub->GetAt(0), true));
  EXPECT_EQ(TextsOf(sub->GetAt(0)->m_commands), (Texts{"Set GPR2011 = 3", "SetStream GPR2010 GPR2011 1 X X"}));
  CBog* unchosen = d.Bog(page, 1);
  Type(unchosen, kButtonAudio);
  EXPECT_FALSE(Generate(unchosen->GetAt(0), true)) << "an audio button without its stream";
  EXPECT_TRUE(unchosen->GetAt(0)->m_commands.Empty());
}

TEST(ButtonTypes, ChapterButtons) {
  Disc d;
  CPage* page = d.Page();
  CBog* group = d.Bog(page, 2);
  Type(group, kButtonChapter, {0, 0, 2});
  CBdButton* plain = group->GetAt(0);
  // Immediate: a jump within the playing title.
  EXPECT_TRUE(Generate(plain, true));
  EXPECT_EQ(TextsOf(plain->m_commands), (Texts{"EnableButton " + Id(group->GetAt(1)), "LinkMark 2"}));

  CBog* menuChapter = d.Bog(page, 1);
  Type(menuChapter, kButtonChapter, {0, 0, 1});
  EXPECT_TRUE(Generate(menuChapter->GetAt(0), false));
  EXPECT_EQ(TextsOf(menuChapter->GetAt(0)->m_commands),
            (Texts{"EnableButton " + Id(plain), "Set GPR2020 = 2", "Set GPR2024 = 1", "CallTitle 3"}));

  // Without a chapter: only the group's looks, and its other buttons keep
  // their type. Without a movie group: nothing.
  CBog* noChapter = d.Bog(page, 2);
  Type(noChapter, kButtonChapter, {0, 0});
  EXPECT_TRUE(Generate(noChapter->GetAt(0), false));
  EXPECT_EQ(TextsOf(noChapter->GetAt(0)->m_commands),
            (Texts{"EnableButton " + Id(noChapter->GetAt(1)), "EnableButton " + Id(plain)}));
  EXPECT_EQ(noChapter->GetAt(1)->m_nButtonType, kButtonChapter);
  CBog* noGroup = d.Bog(page, 1);
  Type(noGroup, kButtonChapter);
  EXPECT_FALSE(Generate(noGroup->GetAt(0), false));
  EXPECT_TRUE(noGroup->GetAt(0)->m_commands.Empty());
  // Chapter past the title's four.
  Type(noGroup, kButtonChapter, {0, 0, 4});
  EXPECT_TRUE(ButtonTypeOf(kButtonChapter).ResolveLink(*noGroup->GetAt(0)));

  // Choices are offered by unique names.
  auto& points = d.title->GetAt(0)->m_chapters.m_points;
  points[1].name = points[2].name = "Intro";
  EXPECT_EQ(ButtonTypeOf(kButtonChapter).FillParameterOptions(*plain, 2),
            (Texts{"Chapter 1", "Intro #2", "Intro #3", "Chapter 4"}));
  EXPECT_EQ(ButtonTypeOf(kButtonChapter).FillParameterOptions(*plain, 0), (Texts{"Movie#1"}));
  EXPECT_EQ(ButtonTypeOf(kButtonChapter).FillParameterOptions(*plain, 1), (Texts{"Title#1"}));
}

TEST(ButtonTypes, SwitchingTypeClearsCommandsAndParametersOfTheWholeBog) {
  Disc d;
  CPage* page = d.Page();
  CBog* bog = d.Bog(page, 2);
  Type(bog, kButtonTitle, {0, 0});
  ASSERT_TRUE(Generate(bog->GetAt(0), false));
  ASSERT_FALSE(bog->GetAt(0)->m_commands.Empty());
  SetButtonParameter(*bog->GetAt(0), 3, 42);
  Type(bog, kButtonPage);
  for (size_t i = 0; i < bog->GetCount(); ++i) {
    const CBdButton& b = *bog->GetAt(i);
    EXPECT_EQ(b.m_nButtonType, kButtonPage);
    EXPECT_TRUE(b.m_commands.Empty());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(ButtonParameter(b, k), kNoChoice);
    EXPECT_EQ(b.m_pTypeLink, nullptr);
  }
  EXPECT_EQ(ButtonParameter(*bog->GetAt(0), 3), 42) << "the fourth parameter is not the type's";

  // Re-choosing a title group drops the chapter chosen within it.
  Type(bog, kButtonChapter, {0, 0, 3});
  ButtonTypeOf(kButtonChapter).ApplyParameter(*bog->GetAt(1), 1, 0);
  EXPECT_EQ(ButtonParameter(*bog->GetAt(0), 2), kNoChoice);
  // Choosing "Image Only" again keeps a plain button's own commands.
  CBog* own = d.Bog(page, 1);
  ASSERT_TRUE(own->GetAt(0)->m_commands.Add("JumpTitle 2"));
  Type(own, kButtonImageOnly);
  EXPECT_EQ(TextsOf(own->GetAt(0)->m_commands), (Texts{"JumpTitle 2"}));
}

TEST(ButtonTypes, StreamSnippetIsTheMovieObjectPreamble) {
  CNavCmds preamble, snippet;
  ASSERT_TRUE(AddStreamPreamble(preamble));
  ASSERT_TRUE(snippet.Add("Nop"));
  ASSERT_TRUE(snippet.Add("Nop"));
  ASSERT_TRUE(SetStreamSnippet(snippet, false));
  EXPECT_EQ(TextsOf(preamble), (Texts{"If GPR2011 == 0", "GoTo 4", "SetStream GPR2010 GPR2011 1 X X", "GoTo 5",
                                      "SetStream GPR2010 X 0 X X"}));
  EXPECT_EQ(TextsOf(snippet), (Texts{"Nop", "Nop", "If GPR2011 == 0", "GoTo 6", "SetStream GPR2010 GPR2011 1 X X",
                                     "GoTo 7", "SetStream GPR2010 X 0 X X"}));
}

// One page with two audio groups: plain D1 with its chosen look V1 for
// stream 0, D2 with V2 for stream 1, and a plain button whose neighbour is
// D1.
TEST(MenuBuildCopy, TwoAudioGroups) {
  Disc d;
  CPage* page = d.Page();
  CBog* g1 = d.Bog(page, 2);
  CBog* g2 = d.Bog(page, 2);
  CBog* other = d.Bog(page, 1);
  Type(g1, kButtonAudio, {0});
  Type(g2, kButtonAudio, {1});
  other->GetAt(0)->m_neighbors.right.Set(g1->GetAt(0));
  other->GetAt(0)->m_neighbors.left.Set(g1->GetAt(1));
  other->GetAt(0)->m_neighbors.up.Set(g2->GetAt(0));
  page->m_defaultActivated.Set(g1->GetAt(1));
  const std::string D1 = Id(g1->GetAt(0)), V1 = Id(g1->GetAt(1)), D2 = Id(g2->GetAt(0)), V2 = Id(g2->GetAt(1));

  std::vector<std::string> log;
  Progress progress{[](void* ctx, const SProgressInfo* i) {
                      static_cast<std::vector<std::string>*>(ctx)->push_back(i->item);
                      return 1;
                    },
                    &log};
  ASSERT_TRUE(d.menu->PrepareBuildCopy(progress));
  EXPECT_TRUE(log.empty());
  ASSERT_EQ(d.menu->GetAt(0)->GetCount(), 1u);
  CDisplaySet* copy = d.menu->GetAt(0)->GetAt(0);
  ASSERT_NE(copy, d.ds);
  ASSERT_EQ(copy->GetCount(), 2u);
  CPage* front = copy->GetAt(0);
  CPage* p1 = copy->GetAt(1);
  EXPECT_EQ(front->m_nId, 0);
  EXPECT_EQ(p1->m_nId, 1);
  ASSERT_EQ(front->GetCount(), 1u);
  ASSERT_EQ(front->GetAt(0)->GetCount(), 1u);
  // Groups, then a selector per group, then the entry.
  ASSERT_EQ(p1->GetCount(), 6u);
  CBdButton* s1 = p1->GetAt(3)->GetAt(0);
  CBdButton* s2 = p1->GetAt(4)->GetAt(0);
  CBdButton* e = p1->GetAt(5)->GetAt(0);
  EXPECT_TRUE(s1->m_bAutoAction && s2->m_bAutoAction && e->m_bAutoAction);
  EXPECT_EQ(p1->m_defaultSelected.p, e);
  EXPECT_EQ(p1->GetAt(0)->m_pSelectorPair, p1->GetAt(3));
  EXPECT_EQ(p1->GetAt(3)->m_pSelectorPair, p1->GetAt(0));

  EXPECT_EQ(TextsOf(front->GetAt(0)->GetAt(0)->m_commands), (Texts{"SetButtonPage " + Id(e) + " 1 1"}));
  EXPECT_TRUE(front->GetAt(0)->GetAt(0)->m_bAutoAction);
  EXPECT_EQ(TextsOf(e->m_commands),
            Join({{"Set GPR2010 = PSR1"},
                  kSubtitleRegister,
                  {"EnableButton " + D1, "EnableButton " + D2, "If GPR2010 == 1", "EnableButton " + V1,
                   "If GPR2010 == 2", "EnableButton " + V2,
                   // Without a default the page opens on its first group,
                   // through the group's selector.
                   "SetButtonPage " + Id(s1) + " X 1"}}));
  EXPECT_EQ(TextsOf(s1->m_commands), Join({{"Set GPR2010 = PSR1"},
                                           kSubtitleRegister,
                                           {"If GPR2010 != 1", "GoTo 11", "SetButtonPage " + V1 + " X 1", "Break",
                                            "SetButtonPage " + D1 + " X 1"}}));
  EXPECT_EQ(TextsOf(s2->m_commands), Join({{"Set GPR2010 = PSR1"},
                                           kSubtitleRegister,
                                           {"If GPR2010 != 2", "GoTo 11", "SetButtonPage " + V2 + " X 1", "Break",
                                            "SetButtonPage " + D2 + " X 1"}}));
  // The plain buttons got their group commands (the menu is used during
  // playback); the chosen looks lost their type.
  const Texts snippet = {"If GPR2011 == 0", "GoTo 7", "SetStream GPR2010 GPR2011 1 X X", "Break",
                         "SetStream GPR2010 X 0 X X"};
  EXPECT_EQ(TextsOf(p1->GetAt(0)->GetAt(0)->m_commands),
            Join({{"EnableButton " + V1, "EnableButton " + D2, "Set GPR2010 = 1"}, snippet}));
  EXPECT_EQ(p1->GetAt(0)->GetAt(1)->m_nButtonType, kButtonImageOnly);
  // References to a group's buttons now point at its selector.
  const CBdButton* o = p1->GetAt(2)->GetAt(0);
  EXPECT_EQ(o->m_neighbors.right.p, s1);
  EXPECT_EQ(o->m_neighbors.left.p, s1);
  EXPECT_EQ(o->m_neighbors.up.p, s2);
  EXPECT_EQ(p1->m_defaultActivated.p, s1);

  // The link check skips the handled groups and keeps what they got.
  ScriptedPrompt prompt;
  EXPECT_TRUE(d.menu->CheckButtonLinks("Movie#1:", prompt));
  EXPECT_TRUE(prompt.questions.empty());
  EXPECT_EQ(p1->GetAt(0)->GetAt(0)->m_commands.Count(), 8u);

  d.menu->RemoveBuildCopy();
  EXPECT_EQ(d.menu->GetAt(0)->GetAt(0), d.ds);
  EXPECT_EQ(d.menu->GetAt(0)->GetCount(), 1u);
  EXPECT_EQ(d.ds->m_pParent, d.menu->GetAt(0));
}

TEST(MenuBuildCopy, SubtitleGroupsOfOneButtonBesideChapterGroups) {
  Disc d;
  CPage* page = d.Page();
  CBog* sub1 = d.Bog(page, 1);
  CBog* sub2 = d.Bog(page, 1);
  CBog* chapters = d.Bog(page, 2);
  Type(sub1, kButtonSubtitle, {0});
  Type(sub2, kButtonSubtitle, {1});
  Type(chapters, kButtonChapter, {0, 0, 2});
  ASSERT_TRUE(d.menu->PrepareBuildCopy(Progress{}));
  CPage* p1 = d.menu->GetAt(0)->GetAt(0)->GetAt(1);
  CBdButton* e = p1->m_defaultSelected.p;
  ASSERT_NE(e, nullptr);
  const std::string C = Id(p1->GetAt(2)->GetAt(0)), CV = Id(p1->GetAt(2)->GetAt(1));
  EXPECT_EQ(TextsOf(e->m_commands),
            Join({{"Set GPR2010 = PSR1"},
                  kSubtitleRegister,
                  {"Set GPR2024 = PSR5", "EnableButton " + Id(sub1->GetAt(0)), "EnableButton " + Id(sub2->GetAt(0)),
                   "EnableButton " + C, "If GPR2024 == 3", "EnableButton " + CV,
                   "SetButtonPage " + Id(sub1->GetAt(0)) + " X 1"}}));
  CBdButton* selector = p1->GetAt(3)->GetAt(0);
  EXPECT_EQ(TextsOf(selector->m_commands), (Texts{"Set GPR2024 = PSR5", "If GPR2024 != 3", "GoTo 5",
                                                  "SetButtonPage " + CV + " X 1", "Break", "SetButtonPage " + C + " X 1"}));
  // A chapter button of a menu used during playback jumps within the title.
  EXPECT_EQ(TextsOf(p1->GetAt(2)->GetAt(0)->m_commands), (Texts{"EnableButton " + CV, "LinkMark 2"}));
  d.menu->RemoveBuildCopy();
}

// A page whose buttons start at id 1 (the first was deleted, as in IES files
// made elsewhere) and whose default is its second button: the entry button
// takes the free id 0 and must not select itself; it selects the page's
// own default. Without a default, the first group's button.
TEST(MenuBuildCopy, TheEntryOpensThePageOnItsOwnDefault) {
  Disc d;
  CPage* page = d.Page();
  CBog* gone = d.Bog(page, 1);
  CBog* first = d.Bog(page, 1);
  CBog* second = d.Bog(page, 1);
  page->ForgetButton(gone->GetAt(0));
  ASSERT_NE(page->RemoveAt(0), nullptr);
  ASSERT_EQ(first->GetAt(0)->m_nId, 1);
  page->m_defaultSelected.Set(second->GetAt(0));
  CPage* other = d.ds->AddPage();
  d.Bog(other, 1);
  d.Bog(other, 1);
  ASSERT_TRUE(d.menu->PrepareBuildCopy(Progress{}));
  CDisplaySet* copy = d.menu->GetAt(0)->GetAt(0);
  CPage* p1 = copy->GetAt(1);
  CBdButton* e = p1->m_defaultSelected.p;
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->m_nId, 0);
  EXPECT_EQ(TextsOf(e->m_commands), (Texts{"SetButtonPage " + Id(p1->GetAt(1)->GetAt(0)) + " X 1"}));
  EXPECT_EQ(Id(p1->GetAt(1)->GetAt(0)), "2");
  CBdButton* e2 = copy->GetAt(2)->m_defaultSelected.p;
  ASSERT_NE(e2, nullptr);
  EXPECT_EQ(TextsOf(e2->m_commands), (Texts{"SetButtonPage " + Id(copy->GetAt(2)->GetAt(0)->GetAt(0)) + " X 1"}));
  EXPECT_NE(e2->m_nId, copy->GetAt(2)->GetAt(0)->GetAt(0)->m_nId);
  EXPECT_EQ(TextsOf(copy->GetAt(0)->GetAt(0)->GetAt(0)->m_commands), (Texts{"SetButtonPage " + Id(e) + " 1 1"}));
  d.menu->RemoveBuildCopy();
}

// In the top menu the registers hold the user's choice (the player's
// streams are the background's): the entry and the selectors read them as
// they are instead of taking the streams over.
TEST(MenuBuildCopy, TheTopMenuKeepsTheChoiceInItsRegisters) {
  Disc d;
  CZvIgObject* top = d.project.m_topMenu.m_menus.GetAt(0);
  ASSERT_FALSE(top->m_bCommandMode);
  CDisplaySet* ds = top->GetAt(0)->GetAt(0);
  CPage* page = ds->AddPage();
  CBog* audio = d.Bog(page, 2);
  CBog* subtitle = d.Bog(page, 2);
  Type(audio, kButtonAudio, {1});
  Type(subtitle, kButtonSubtitle, {1});
  ASSERT_TRUE(top->PrepareBuildCopy(Progress{}));
  CPage* p1 = top->GetAt(0)->GetAt(0)->GetAt(1);
  const std::string V1 = Id(p1->GetAt(0)->GetAt(1)), V2 = Id(p1->GetAt(1)->GetAt(1));
  CBdButton* s1 = p1->GetAt(2)->GetAt(0);
  CBdButton* s2 = p1->GetAt(3)->GetAt(0);
  CBdButton* e = p1->m_defaultSelected.p;
  EXPECT_EQ(TextsOf(e->m_commands),
            (Texts{"EnableButton " + Id(p1->GetAt(0)->GetAt(0)), "If GPR2010 == 2", "EnableButton " + V1,
                   "EnableButton " + Id(p1->GetAt(1)->GetAt(0)), "If GPR2011 == 2", "EnableButton " + V2,
                   "SetButtonPage " + Id(s1) + " X 1"}));
  EXPECT_EQ(TextsOf(s2->m_commands), (Texts{"If GPR2011 != 2", "GoTo 4", "SetButtonPage " + V2 + " X 1", "Break",
                                            "SetButtonPage " + Id(p1->GetAt(1)->GetAt(0)) + " X 1"}));
  // Choosing sets the register only; the title applies it when it starts.
  EXPECT_EQ(TextsOf(p1->GetAt(1)->GetAt(0)->m_commands), (Texts{"EnableButton " + V2, "Set GPR2011 = 2"}));
  top->RemoveBuildCopy();
}

TEST(MenuBuildCopy, MenuWithoutTypedButtons) {
  Disc d;
  for (int p = 0; p < 2; ++p) {
    CPage* page = d.ds->AddPage();
    d.Bog(page, 1);
    d.Bog(page, 1);
  }
  // A group of two plain buttons gets a selector without commands.
  CPage* second = d.ds->GetAt(1);
  CBog* plain = d.Bog(second, 2);
  second->GetAt(0)->GetAt(0)->m_neighbors.down.Set(plain->GetAt(1));

  std::vector<std::string> log;
  Progress progress{[](void* ctx, const SProgressInfo* i) {
                      static_cast<std::vector<std::string>*>(ctx)->push_back(i->item);
                      return 1;
                    },
                    &log};
  ASSERT_TRUE(d.menu->PrepareBuildCopy(progress));
  CDisplaySet* copy = d.menu->GetAt(0)->GetAt(0);
  ASSERT_EQ(copy->GetCount(), 3u);
  for (size_t m = 1; m < 3; ++m) {
    CPage* page = copy->GetAt(m);
    EXPECT_EQ(page->m_nId, static_cast<int32_t>(m));
    CBdButton* e = page->GetAt(page->GetCount() - 1)->GetAt(0);
    EXPECT_EQ(page->m_defaultSelected.p, e);
    EXPECT_EQ(TextsOf(e->m_commands), (Texts{"SetButtonPage " + Id(page->GetAt(0)->GetAt(0)) + " X 1"}));
  }
  const CBdButton* e1 = copy->GetAt(1)->m_defaultSelected.p;
  EXPECT_EQ(TextsOf(copy->GetAt(0)->GetAt(0)->GetAt(0)->m_commands), (Texts{"SetButtonPage " + Id(e1) + " 1 1"}));
  CPage* p2 = copy->GetAt(2);
  ASSERT_EQ(p2->GetCount(), 5u);
  CBdButton* selector = p2->GetAt(3)->GetAt(0);
  EXPECT_TRUE(selector->m_commands.Empty());
  // A selector without commands would hold the selection on an invisible
  // button: the references to the group stay as they were.
  EXPECT_EQ(p2->GetAt(0)->GetAt(0)->m_neighbors.down.p, p2->GetAt(2)->GetAt(1));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("IG#1:Page#2:Bog#3: not a two-button \"Audio\", \"Subtitle\" or \"Chapter\" group (2 buttons), "
                        "so it gets no generated commands"),
            std::string::npos)
      << log[0];
  d.menu->RemoveBuildCopy();
}

TEST(MenuBuildCopy, MenuModelUnchangedAfterTheCopy) {
  Disc d;
  CPage* page = d.Page();
  CPage* other = d.ds->AddPage();
  CBog* g1 = d.Bog(page, 2);
  CBog* g2 = d.Bog(page, 2);
  Type(g1, kButtonAudio, {0});
  Type(g2, kButtonChapter, {0, 0, 1});
  CBog* go = d.Bog(page, 1);
  Type(go, kButtonPage, {1});
  CBog* title = d.Bog(other, 1);
  Type(title, kButtonCallTitle, {0, 5});  // a broken link
  d.Bog(other, 1)->GetAt(0)->m_neighbors.up.Set(title->GetAt(0));
  page->m_defaultSelected.Set(g1->GetAt(1));
  d.menu->ResolveButtonLinks();
  const std::vector<uint8_t> before = StoreProject(d.project, kProjectPath);

  std::vector<std::string> log;
  Progress progress{[](void* ctx, const SProgressInfo* i) {
                      static_cast<std::vector<std::string>*>(ctx)->push_back(i->item);
                      return 1;
                    },
                    &log};
  {
    CMenuBuildCopy build(*d.menu, progress);
    ASSERT_TRUE(build.Ok());
    EXPECT_TRUE(d.menu->HasBuildCopy());
    ScriptedPrompt prompt(Answer::No);
    EXPECT_FALSE(build.Check("Movie#1:", prompt)) << "one button has no link";
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0], "\"Movie#1:\": No defined link object for 1 buttons, continue? ");
    // The page button links the copy's page 2 (page 1 before the front page).
    CDisplaySet* copy = d.menu->GetAt(0)->GetAt(0);
    const CBdButton* goCopy = copy->GetAt(1)->GetAt(2)->GetAt(0);
    EXPECT_EQ(goCopy->m_pTypeLink, copy->GetAt(2));
    EXPECT_EQ(TextsOf(goCopy->m_commands),
              (Texts{"SetButtonPage " + Id(copy->GetAt(2)->m_defaultSelected.p) + " 2 1"}));
  }
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Button#1 Warning: the \"Call Title\" button's choice no longer exists"), std::string::npos)
      << log[0];
  EXPECT_FALSE(d.menu->HasBuildCopy());
  EXPECT_EQ(d.menu->GetAt(0)->GetAt(0), d.ds);
  EXPECT_EQ(StoreProject(d.project, kProjectPath), before);
  EXPECT_EQ(go->GetAt(0)->m_pTypeLink, other) << "the model's own links are untouched";
  EXPECT_TRUE(g1->GetAt(0)->m_commands.Empty());
  EXPECT_EQ(g1->GetAt(1)->m_nButtonType, kButtonAudio);

  // An empty menu is left alone.
  CZvIgObject* empty = d.movie->CreateMenu();
  EXPECT_TRUE(empty->PrepareBuildCopy(Progress{}));
  EXPECT_FALSE(empty->HasBuildCopy());
}

TEST(MenuBuildCopy, GenerationReplacesTypedCommandsAndKeepsOwnOnes) {
  Disc d;
  CPage* page = d.Page();
  CBog* top = d.Bog(page, 1);
  Type(top, kButtonTopMenu);
  CBog* own = d.Bog(page, 1);
  ASSERT_TRUE(own->GetAt(0)->m_commands.Add("JumpTitle 2"));
  CBog* unknown = d.Bog(page, 1);
  unknown->GetAt(0)->m_nButtonType = 1;  // kept commands
  ASSERT_TRUE(unknown->GetAt(0)->m_commands.Add("Nop"));
  CBog* go = d.Bog(page, 1);
  SelectButtonType(*go->GetAt(0), ButtonTypeOf(kButtonPage));
  SetButtonParameter(*go->GetAt(0), 0, 0);  // as a loaded project has it: no link yet
  EXPECT_EQ(d.menu->GenerateButtonCommands(), 0);
  EXPECT_EQ(d.menu->GenerateButtonCommands(), 0);
  EXPECT_EQ(TextsOf(top->GetAt(0)->m_commands), (Texts{"JumpTitle 0"}));
  EXPECT_EQ(TextsOf(go->GetAt(0)->m_commands), (Texts{"SetButtonPage X 0 1"}));
  EXPECT_EQ(TextsOf(own->GetAt(0)->m_commands), (Texts{"JumpTitle 2"}));
  EXPECT_EQ(TextsOf(unknown->GetAt(0)->m_commands), (Texts{"Nop"}));
}
