// Menus into the disc and designs into menus: the menu build (its clip, its
// sub-path, the model left as it was), the IES import and the menu
// description import.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bdnav/playlist_file.h"
#include "model/build.h"
#include "model/button_types.h"
#include "model/menu_import.h"
#include "model/playlist.h"
#include "model/project.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "platform/xml.h"
#include "story_fixture.h"

namespace fs = std::filesystem;
using namespace zv;

namespace {

const std::string kPictures = std::string(ZV_TEST_DATA) + "/../../demo/media/menu/";

std::vector<uint8_t> Stored(CZvObject& project, const std::string& path) {
  std::string error;
  EXPECT_EQ(SaveProjectFile(path, project, error), kOk) << error;
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadWholeFile(path, bytes, error)) << error;
  return bytes;
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A menu description of two pages; `extra` goes into the first page.
std::string Description(const std::string& extra = {}) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- two pages: the first opens the second -->
<HDMVExport>
  <InteractiveGraphic width="1920" height="1080">
    <DisplaySet>
      <Page name="Main">
        <ButtonOverlapGroup name="Chapters">
          <Button name="Chapters" x="760" y="520" type="Page" page="1">
            <Normal path="chapters_n.png"/>
            <Selected path="chapters_s.png"/>
            <Activated path="chapters_a.png"/>
          </Button>
        </ButtonOverlapGroup>
        <ButtonOverlapGroup name="Plain">
          <Button name="Back &amp; forth" x="760" y="620">
            <Normal><Graphic path="back_n.png"/><Graphic path="back_s.png"/></Normal>
          </Button>
        </ButtonOverlapGroup>)" +
         extra + R"(
      </Page>
      <Page name="Second">
        <ButtonOverlapGroup>
          <Button x="0" y="1008" type="TopMenu"><Normal path="topmenu_n.png"/></Button>
        </ButtonOverlapGroup>
      </Page>
    </DisplaySet>
  </InteractiveGraphic>
</HDMVExport>
)";
}

class MenuImport : public ::testing::Test {
 protected:
  void SetUp() override {
    project.InitNew();
    menu = project.m_movies.GetAt(0)->m_menus.GetAt(0);
    for (const auto& e : fs::directory_iterator(kPictures)) fs::copy_file(e.path(), dir.Path() + "/" + e.path().filename().string());
  }
  std::string File(const std::string& name) const { return dir.Path() + "/" + name; }

  zvtest::TempDir dir;
  CZvObject project;
  CZvIgObject* menu = nullptr;
};

TEST_F(MenuImport, ADescriptionPlacesPicturesAsButtonsWithTheirTypes) {
  Write(File("menu.xml"), Description());
  std::string error;
  ASSERT_TRUE(ImportMenuDescription(*menu, File("menu.xml"), error)) << error;
  ASSERT_EQ(menu->GetCount(), 1u);
  ASSERT_EQ(menu->GetAt(0)->GetCount(), 1u);
  CDisplaySet& ds = *menu->GetAt(0)->GetAt(0);
  ASSERT_EQ(ds.GetCount(), 2u);
  EXPECT_EQ(ds.GetAt(0)->m_strName, "Main");
  std::vector<CBdButton*> main = ds.GetAt(0)->Buttons();
  ASSERT_EQ(main.size(), 2u);
  EXPECT_EQ(main[0]->m_strName, "Chapters");
  EXPECT_EQ(main[0]->m_nX, 760);
  EXPECT_EQ(main[0]->m_nY, 520);
  EXPECT_EQ(main[0]->Width(), 400);
  EXPECT_EQ(main[0]->m_nButtonType, kButtonPage);
  EXPECT_EQ(ButtonParameter(*main[0], 0), 1) << "page=\"1\": the second page";
  // One picture starts and ends its state; frames run from first to last.
  EXPECT_EQ(main[0]->m_states[1].m_start.p, main[0]->m_states[1].m_end.p);
  EXPECT_EQ(main[1]->m_strName, "Back & forth");
  EXPECT_EQ(main[1]->m_nButtonType, kButtonImageOnly);
  ASSERT_TRUE(main[1]->m_states[0].m_start.p && main[1]->m_states[0].m_end.p);
  EXPECT_EQ(main[1]->m_states[0].m_end.p->m_nId, main[1]->m_states[0].m_start.p->m_nId + 1);
  EXPECT_EQ(ds.GetAt(0)->m_defaultSelected.p, main[0]);
  EXPECT_EQ(main[0]->m_neighbors.down.p, main[1]) << "neighbours from the positions";
  EXPECT_EQ(ds.GetAt(1)->Buttons()[0]->m_nButtonType, kButtonTopMenu);
  EXPECT_EQ(menu->m_video.width, 1920);
  // The menu's pop-up setting went onto the new display set.
  EXPECT_EQ(ds.m_nUserInterfaceModel, 1);
  EXPECT_EQ(ds.m_nUserTimeoutDuration, 8u * 90000u);
}

TEST_F(MenuImport, ABadDescriptionNamesItsLineAndLeavesTheMenuAsItWas) {
  const std::vector<uint8_t> before = Stored(project, File("before.zvpj"));
  struct Case {
    std::string text, says;
  } cases[] = {
      {Description(R"(<ButtonOverlapGroup><Button x="0" y="0"><Normal path="missing.png"/></Button></ButtonOverlapGroup>)"),
       "line 18: <Normal>: \"missing.png\" is not a picture that can be read: the file does not exist"},
      {Description(R"(<ButtonOverlapGroup><Button x="0" y="0"><Normal path="cut.png"/></Button></ButtonOverlapGroup>)"),
       "line 18: <Normal>: \"cut.png\" is not a picture that can be read: PNG: file is truncated"},
      {Description(R"(<ButtonOverlapGroup><Button x="0" y="0"><Normal path="notes.png"/></Button></ButtonOverlapGroup>)"),
       "line 18: <Normal>: \"notes.png\" is not a picture that can be read: unsupported picture format"},
      {Description(R"(<ButtonOverlapGroup><Button x="1600" y="0"><Normal path="play_n.png"/></Button></ButtonOverlapGroup>)"),
       "line 18: <Button>: a 400x72 button at 1600,0 lies outside the 1920x1080 page"},
      {Description(R"(<ButtonOverlapGroup><Button x="900" y="560"><Normal path="play_n.png"/></Button></ButtonOverlapGroup>)"),
       "line 18: <Button>: overlaps the button of line 8 in another <ButtonOverlapGroup>"},
      {Description(R"(<ButtonOverlapGroup><Button x="0" y="0" type="Title" movie-group="Nope"><Normal path="play_n.png"/></Button></ButtonOverlapGroup>)"),
       "line 18: <Button>: movie-group=\"Nope\" names no choice (there are \"Movie#1\")"},
      {Description(R"(<ButtonOverlapGroup><Button x="0" y="0" type="Jump"><Normal path="play_n.png"/></Button></ButtonOverlapGroup>)"),
       "line 18: <Button>: no button type is called \"Jump\""},
      {Description("<Slicing/>"), "line 18: <Slicing>: expected <ButtonOverlapGroup>"},
      {Description("<ButtonOverlapGroup>"), "line 19: </Page> closes <ButtonOverlapGroup>"},
  };
  // A picture cut short and a text file under a picture's name.
  std::vector<uint8_t> png;
  std::string readError;
  ASSERT_TRUE(ReadWholeFile(File("play_n.png"), png, readError)) << readError;
  png.resize(png.size() / 2);
  std::ofstream(File("cut.png"), std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                          static_cast<std::streamsize>(png.size()));
  Write(File("notes.png"), "not a picture\n");
  for (const Case& c : cases) {
    Write(File("bad.xml"), c.text);
    std::string error;
    EXPECT_FALSE(ImportMenuDescription(*menu, File("bad.xml"), error)) << c.says;
    EXPECT_EQ(error.rfind(kMsgWrongFileFormat, 0), 0u) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << "got: " << error;
    EXPECT_EQ(Stored(project, File("after.zvpj")), before) << c.says;
  }
  std::string error;
  EXPECT_FALSE(ImportMenuDescription(*menu, File("none.xml"), error));
  EXPECT_EQ(error.rfind(kMsgFileOpenError, 0), 0u) << error;
  EXPECT_EQ(Stored(project, File("after.zvpj")), before);
}

// Page effects in a description: the ready-made fade becomes one window and
// an effect per step whose palettes scale the page palette's opacity; the
// full form gives windows, effects, cropped objects and palettes as written;
// the animation rate is the page's. Effects that cannot be shown are refused.
TEST_F(MenuImport, ADescriptionGivesPagesEffectsAndAnAnimationRate) {
  std::string text = Description(R"(
        <InEffect type="fade" path="play_s.png" x="100" y="50" duration="400" steps="4"/>
        <OutEffect>
          <Window name="Strip" x="0" y="0" width="1920" height="200"/>
          <Effect duration="100"><Object path="play_n.png" window="Strip" x="10" y="20"/></Effect>
          <Effect duration="50" PalettePath="back_s.png">
            <Object path="play_n.png" window="0" x="10" y="20" crop-x="200" crop-width="100" forced-on="yes"/>
          </Effect>
        </OutEffect>)");
  text.replace(text.find("<Page name=\"Main\">"), 18, "<Page name=\"Main\" animation-frame-rate=\"3\">");
  Write(File("menu.xml"), text);
  std::string error;
  ASSERT_TRUE(ImportMenuDescription(*menu, File("menu.xml"), error)) << error;
  CEpoch& epoch = *menu->GetAt(0);
  CPage& page = *epoch.GetAt(0)->GetAt(0);
  EXPECT_EQ(page.m_nAnimationFrameRateCode, 3);
  ASSERT_NE(page.m_palette.p, nullptr) << "a page with effects gets a palette of its own";
  const CErgbPalette& base = *page.m_palette.p;

  ASSERT_EQ(page.m_inEffects.m_windows.GetCount(), 1u);
  EXPECT_EQ(page.m_inEffects.m_windows.GetAt(0)->m_rect, (SRect{100, 50, 500, 122}));
  ASSERT_EQ(page.m_inEffects.GetCount(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    const CEffectObject& e = *page.m_inEffects.GetAt(k);
    EXPECT_EQ(e.m_nDuration, 9000u);
    ASSERT_EQ(e.GetCount(), 1u);
    EXPECT_EQ(e.GetAt(0)->m_nX, 100);
    EXPECT_EQ(e.GetAt(0)->m_graphic.p->m_strName, "play_s.png");
    const CErgbPalette& p = *e.m_palette.p;
    ASSERT_EQ(p.GetCount(), base.GetCount());
    for (size_t c = 0; c < p.GetCount(); ++c) {
      EXPECT_EQ(p.GetAt(c)->red, base.GetAt(c)->red);
      EXPECT_EQ(p.GetAt(c)->alpha, (base.GetAt(c)->alpha * static_cast<int>(k + 1) + 2) / 4) << k << " " << c;
    }
  }

  const CEffectSequenceObject& out = page.m_outEffects;
  ASSERT_EQ(out.m_windows.GetCount(), 1u);
  EXPECT_EQ(out.m_windows.GetAt(0)->m_strName, "Strip");
  ASSERT_EQ(out.GetCount(), 2u);
  EXPECT_EQ(out.GetAt(0)->m_nDuration, 9000u);
  EXPECT_EQ(out.GetAt(0)->m_palette.p, page.m_palette.p);
  EXPECT_NE(out.GetAt(1)->m_palette.p, page.m_palette.p);
  const CCompositionObject& cropped = *out.GetAt(1)->GetAt(0);
  EXPECT_TRUE(cropped.m_bCropped);
  EXPECT_TRUE(cropped.m_bForcedOn);
  EXPECT_EQ(cropped.m_crop, (SRect{200, 0, 300, 72}));
  EXPECT_EQ(cropped.m_window.p, out.m_windows.GetAt(0));

  const std::vector<uint8_t> before = Stored(project, File("before.zvpj"));
  struct Case {
    std::string extra, says;
  } cases[] = {
      {R"(<InEffect type="fade" path="play_s.png" x="1600" y="0" duration="400"/>)",
       "<InEffect>: a 400x72 picture at 1600,0 lies outside the 1920x1080 page"},
      {R"(<InEffect type="spin" path="play_s.png" x="0" y="0" duration="400"/>)", "type=\"spin\" is not fade or slide"},
      {R"(<InEffect type="slide" path="play_s.png" x="0" y="0" duration="400"/>)", "a slide needs side="},
      {R"(<InEffect><Window x="0" y="0" width="100" height="100"/><Effect duration="10"><Object path="play_s.png" window="0" x="0" y="0"/></Effect></InEffect>)",
       "<Object>: a 400x72 object at 0,0 lies outside its window"},
      {R"(<InEffect><Effect duration="10"><Object path="play_s.png" window="W" x="0" y="0"/></Effect></InEffect>)",
       "window=\"W\" names no <Window> before it"},
      {R"(<OutEffect/><OutEffect/>)", "<OutEffect>: is given twice"},
  };
  for (const Case& c : cases) {
    Write(File("bad.xml"), Description(c.extra));
    EXPECT_FALSE(ImportMenuDescription(*menu, File("bad.xml"), error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << "got: " << error;
    EXPECT_EQ(Stored(project, File("after.zvpj")), before) << c.says;
  }
}

// A menu keeps the name of its epoch through every new import of its
// design, so that paths into it stay valid.
TEST_F(MenuImport, ANewImportKeepsTheEpochsName) {
  Write(File("menu.xml"), Description());
  std::string error;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(ImportMenuDescription(*menu, File("menu.xml"), error)) << error;
    ASSERT_EQ(menu->GetCount(), 1u);
    EXPECT_EQ(menu->GetAt(0)->m_strName, "Epoch#1") << "import " << i + 1;
  }
  ASSERT_TRUE(menu->SetVideoFormat(5));
  ASSERT_TRUE(menu->ExportStream(File("menu.ies"), false, error)) << error;
  ASSERT_TRUE(ImportIesIntoMenu(*menu, File("menu.ies"), error)) << error;
  EXPECT_EQ(menu->GetAt(0)->m_strName, "Epoch#1");
}

// A subtitle stream holds display sets too, but no menu: it is refused and
// the menu keeps its pages.
TEST_F(MenuImport, ASubtitleStreamIsNotImportedAsAMenu) {
  Write(File("menu.xml"), Description());
  std::string error;
  ASSERT_TRUE(ImportMenuDescription(*menu, File("menu.xml"), error)) << error;
  EXPECT_FALSE(ImportIesIntoMenu(*menu, std::string(ZV_TEST_DATA) + "/subtitles/subs_eng.sup", error));
  EXPECT_NE(error.find("presentation-graphics"), std::string::npos) << error;
  ASSERT_EQ(menu->GetCount(), 1u);
  EXPECT_EQ(menu->GetAt(0)->GetAt(0)->GetCount(), 2u);
}

TEST(Xml, MalformedTextIsRefusedWithItsLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"<a><b></a>", "line 1: </a> closes <b>"},
      {"<a x=\"1\" x=\"2\"/>", "line 1: the attribute x of <a> is given twice"},
      {"<a>\n&nbsp;</a>", "line 2: an unknown entity &nbsp;"},
      {"<a/><b/>", "line 1: a second root element"},
      {"<a>\n\n<b>", "line 3: <b> is not closed"},
      {"", "line 1: no root element"},
  };
  for (const auto& [text, says] : cases) {
    std::string error;
    EXPECT_FALSE(ParseXml(text, error)) << text;
    EXPECT_EQ(error, says) << text;
  }
  std::string error;
  std::unique_ptr<XmlElement> e = ParseXml("<?xml version='1.0'?><a k='&lt;&#x41;&#66;'><![CDATA[<x>]]></a>", error);
  ASSERT_TRUE(e) << error;
  EXPECT_EQ(*e->Attribute("k"), "<AB");
  EXPECT_EQ(e->text, "<x>");
}

TEST_F(MenuImport, AnIesFileComesBackWithoutEmptyPartsWithTheMenusSettingsAndTypesFromNames) {
  // A compiled and exported menu whose second page shows nothing.
  Write(File("menu.xml"), Description());
  std::string error;
  ASSERT_TRUE(ImportMenuDescription(*menu, File("menu.xml"), error)) << error;
  CDisplaySet& ds = *menu->GetAt(0)->GetAt(0);
  ds.GetAt(1)->Buttons()[0]->m_states[0] = CButtonStateInfo{};
  ASSERT_TRUE(menu->SetVideoFormat(5));
  ASSERT_TRUE(menu->ExportStream(File("menu.ies"), false, error)) << error;

  CZvIgObject& popup = *project.m_movies.GetAt(0)->m_menus.GetAt(0);
  popup.SetPopup(true, 10);
  ASSERT_TRUE(ImportIesIntoMenu(popup, File("menu.ies"), error)) << error;
  ASSERT_EQ(popup.GetCount(), 1u);
  CDisplaySet& back = *popup.GetAt(0)->GetAt(0);
  ASSERT_EQ(back.GetCount(), 1u) << "the page without pictures is gone";
  ASSERT_EQ(back.GetAt(0)->Buttons().size(), 2u);
  EXPECT_EQ(back.m_nUserInterfaceModel, 1);
  EXPECT_EQ(back.m_nUserTimeoutDuration, 900000u);
  EXPECT_EQ(popup.m_strSourcePath, File("menu.ies"));

  // A stream names no buttons; a design read with names gives each BOG the
  // type a button's name names.
  CPage& page = *back.GetAt(0);
  page.GetAt(0)->GetAt(0)->SetName(" title ");
  page.GetAt(1)->GetAt(0)->SetName("Page");
  CBdButton* second = page.GetAt(1)->AddButton();
  ASSERT_TRUE(second);
  second->SetName("Image Only");
  ButtonTypesFromNames(popup);
  EXPECT_EQ(page.GetAt(0)->GetAt(0)->m_nButtonType, kButtonTitle);
  EXPECT_EQ(page.GetAt(1)->GetAt(0)->m_nButtonType, kButtonPage);
  EXPECT_EQ(second->m_nButtonType, kButtonPage) << "every button of the BOG";

  std::string missing;
  EXPECT_FALSE(ImportIesIntoMenu(popup, File("none.ies"), missing));
  EXPECT_FALSE(missing.empty());
  EXPECT_EQ(popup.GetAt(0)->GetAt(0)->GetCount(), 1u) << "a failed import changes nothing";
}

TEST(MenuSubPath, APlaylistEndsWithExactlyOneMenuSubPathAndOneIgEntryPerItem) {
  PlaylistFile rec;
  rec.playItems.resize(2);
  SUB_PATH old;
  old.SubPathType = 3;
  old.items.resize(1);
  SUB_PATH audio;
  audio.SubPathType = 2;
  audio.items.resize(1);
  rec.subPaths = {old, audio};
  for (PLAY_ITEM& pi : rec.playItems) {
    PRIMARY_STREAM_ENTRY ig;
    ig.entry.type = 2;
    ig.entry.RefToSubPathId = 0;
    pi.stn.ig.push_back(ig);
    SECONDARD_AUDIO_STREAM_ENTRY a;
    a.entry.type = 2;
    a.entry.RefToSubPathId = 1;
    pi.stn.secondaryAudio.push_back(a);
  }
  SMenuClip menu;
  menu.builds = true;
  menu.clipNumber = 7;
  menu.start = 54000000;
  menu.end = 54003754;
  menu.language = "fra";
  AddMenuSubPath(rec, menu);
  ASSERT_EQ(rec.subPaths.size(), 2u);
  EXPECT_EQ(rec.subPaths[0].SubPathType, 2);
  EXPECT_EQ(rec.subPaths[1].SubPathType, 3);
  EXPECT_EQ(rec.subPaths[1].items[0].ClipName, "00007");
  EXPECT_EQ(rec.subPaths[1].items[0].InTime, 27000000u);
  EXPECT_EQ(rec.subPaths[1].items[0].OutTime, 27001877u);
  for (const PLAY_ITEM& pi : rec.playItems) {
    EXPECT_EQ(pi.stn.secondaryAudio[0].entry.RefToSubPathId, 0) << "moved down with its sub-path";
    ASSERT_EQ(pi.stn.ig.size(), 1u);
    EXPECT_EQ(pi.stn.ig[0].entry.RefToSubPathId, 1);
    EXPECT_EQ(pi.stn.ig[0].entry.RefToStreamPidOfSubClip, 0x1400);
    EXPECT_EQ(pi.stn.ig[0].attributes.StreamCodingType, 0x91);
    EXPECT_EQ(pi.stn.ig[0].attributes.Language, "fra");
  }
  // Once more: still one.
  AddMenuSubPath(rec, menu);
  EXPECT_EQ(rec.subPaths.size(), 2u);
  SMenuClip none;
  AddMenuSubPath(rec, none);
  EXPECT_EQ(rec.subPaths.size(), 2u) << "a menu without a clip adds nothing";
}

// Records the build's log; answers 0 (cancel) from the first line holding
// `cancelAt` on.
class Dialog : public ITaskDialog {
 public:
  Progress Open() override { return Progress{&Dialog::Thunk, this}; }
  void Close() override {}
  std::vector<std::string> log;
  std::string cancelAt;
  // With `cancelAt`: the stop comes this many calls after that line.
  int callsAfter = 0;

 private:
  static int Thunk(void* ctx, const SProgressInfo* info) {
    auto* self = static_cast<Dialog*>(ctx);
    if (info->kind == kProgressItem) self->log.push_back(info->item);
    if (self->callsAfter > 0) {
      if (self->seen && --self->countdown < 0) return 0;
      if (!self->seen && !self->cancelAt.empty() && info->kind == kProgressItem &&
          info->item.find(self->cancelAt) != std::string::npos) {
        self->seen = true;
        self->countdown = self->callsAfter;
      }
      return 1;
    }
    for (const auto& line : self->log)
      if (!self->cancelAt.empty() && line.find(self->cancelAt) != std::string::npos) return 0;
    return 1;
  }

 public:
  bool seen = false;
  int countdown = 0;  // below 0 once the stop was answered
};

TEST_F(MenuImport, BuildingAMenuMakesItsClipAndLeavesItsModelAsItWas) {
  zvtest::StoryMedia media;
  media.Fill(*project.m_movies.GetAt(0)->m_stories.GetAt(0), {"h264_1080p2398.264"});
  Write(File("menu.xml"), Description());
  std::string error;
  ASSERT_TRUE(ImportMenuDescription(*menu, File("menu.xml"), error)) << error;
  const std::string out = dir.Path() + "/out";
  // The first build matches the menu to its video; from then on only the
  // build copy could change the model, and it must not.
  {
    Dialog dialog;
    ScriptedPrompt prompt(Answer::Yes);
    ASSERT_EQ(BuildProject(project, out, prompt, dialog, nullptr), kOk)
        << (prompt.messages.empty() ? std::string() : prompt.messages.back());
  }
  const std::vector<uint8_t> before = Stored(project, File("before.zvpj"));
  // Cancelled while the menu is compiled and multiplexed: no stream file of
  // the menu anywhere, the model as it was.
  {
    Dialog dialog;
    dialog.cancelAt = "Muxing IG#1:";
    ScriptedPrompt prompt(Answer::Yes);
    EXPECT_EQ(BuildProject(project, out, prompt, dialog, nullptr), kCancelled);
    for (const auto& e : fs::recursive_directory_iterator(out))
      EXPECT_NE(e.path().extension(), ".ig") << e.path();
    EXPECT_EQ(Stored(project, File("after.zvpj")), before);
  }
  // A stop at any later step of the menu's compilation and multiplexing
  // ends the build as cancelled, never as failed.
  int stoppedInside = 0;
  for (int calls = 1; calls < 2000; calls += calls < 24 ? 1 : calls / 3) {
    Dialog d;
    d.cancelAt = "Muxing IG#1:";
    d.callsAfter = calls;
    ScriptedPrompt p(Answer::Yes);
    const int rc = BuildProject(project, out, p, d, nullptr);
    if (rc == kOk && d.countdown >= 0) break;  // the build ended before the stop came
    ASSERT_EQ(rc, kCancelled) << "stop " << calls << " calls after the menu began: "
                              << (p.messages.empty() ? std::string() : p.messages.back());
    ++stoppedInside;
    EXPECT_EQ(Stored(project, File("after.zvpj")), before);
  }
  EXPECT_GT(stoppedInside, 3);
  Dialog dialog;
  ScriptedPrompt prompt(Answer::Yes);
  ASSERT_EQ(BuildProject(project, out, prompt, dialog, nullptr), kOk)
      << (prompt.messages.empty() ? std::string() : prompt.messages.back());
  EXPECT_EQ(Stored(project, File("after.zvpj")), before) << "the build copy is gone again";
  const std::string bdmv = out + "/Zelvane/DISC/BDMV/";
  EXPECT_EQ(menu->m_nClipNumber, 1);
  EXPECT_TRUE(fs::exists(bdmv + "STREAM/00001.m2ts"));
  EXPECT_TRUE(fs::exists(bdmv + "BACKUP/CLIPINF/00001.clpi"));
  for (const auto& e : fs::recursive_directory_iterator(out)) EXPECT_NE(e.path().extension(), ".ig") << e.path();
  // The title's playlist shows the menu.
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(bdmv + "PLAYLIST/00000.mpls", bytes, error)) << error;
  PlaylistFile rec;
  ASSERT_EQ(rec.Parse(bytes.data(), bytes.size(), &error), kOk) << error;
  ASSERT_EQ(rec.subPaths.size(), 1u);
  EXPECT_EQ(rec.subPaths[0].SubPathType, 3);
  EXPECT_EQ(rec.subPaths[0].items[0].ClipName, "00001");
  ASSERT_EQ(rec.playItems[0].stn.ig.size(), 1u);
  EXPECT_EQ(rec.playItems[0].stn.ig[0].entry.RefToStreamPidOfSubClip, 0x1400);
}

}  // namespace
