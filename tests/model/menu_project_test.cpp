// A filled menu through the project file: stored, loaded and stored again
// byte for byte, with every reference landing on the corresponding object.
#include <gtest/gtest.h>

#include "graphics/menu_model.h"
#include "model/build.h"
#include "model/project.h"
#include "story_fixture.h"

using namespace zv;

namespace {

const std::string kProject = "/srv/discs/menu/p.zvpj";

CGraphicObject* AddGraphic(CEpoch& e, CGoFolder& folder, const std::string& file) {
  auto g = std::make_unique<CGraphicObject>();
  CNamedPtrCollection all;
  GatherGraphics(e, all);
  g->m_nId = static_cast<int32_t>(all.GetCount());
  g->m_strPath = "/srv/discs/menu/art/" + file;
  g->SetName(file);
  return folder.Add(std::move(g));
}

void FillMenu(CZvIgObject& menu) {
  CEpoch& e = *menu.GetAt(0);
  CDisplaySet& ds = *e.GetAt(0);
  std::vector<CGraphicObject*> gr;
  for (int i = 0; i < 4; ++i) gr.push_back(AddGraphic(e, e.m_graphics, "g" + std::to_string(i) + ".png"));
  auto sub = std::make_unique<CGoFolder>();
  sub->SetName("Highlights");
  CGoFolder* folder = e.m_graphics.AddFolder(std::move(sub));
  for (int i = 0; i < 2; ++i) gr.push_back(AddGraphic(e, *folder, "h" + std::to_string(i) + ".png"));
  CErgbPalette* p0 = e.m_palettes.AddPalette();
  CErgbPalette* p1 = e.m_palettes.AddPalette();
  p0->Add(ERGBQUAD{0, 1, 2, 3, 255});
  p1->Add(ERGBQUAD{0, 9, 8, 7, 128});
  p1->Add(ERGBQUAD{1, 0, 0, 0, 0});
  p1->m_nTransparentIndex = 1;
  ds.m_strText = "main";
  ds.m_nStartFrame = 24;
  for (int pg = 0; pg < 3; ++pg) {
    CPage* page = ds.AddPage();
    page->m_palette.Set(pg == 1 ? p1 : p0);
    page->m_nAnimationFrameRateCode = static_cast<uint8_t>(pg);
    page->m_umt[pg] = 0x40;
    for (int g = 0; g < 2 + pg; ++g) {
      CBog* bog = page->AddBog();
      for (int b = 0; b < 2; ++b) {
        CBdButton* btn = bog->AddButton();
        btn->m_nX = static_cast<uint16_t>(100 * g);
        btn->m_nY = static_cast<uint16_t>(50 * pg);
        btn->m_states[0].m_start.Set(gr[b]);
        btn->m_states[0].m_end.Set(gr[b + 2]);
        btn->m_states[1].m_start.Set(gr[4]);
        btn->m_states[1].m_end.Set(gr[5]);
        btn->m_states[1].m_nSoundId = 1;
        btn->m_states[2].m_bRepeat = true;
        btn->m_nNumericValue = static_cast<uint16_t>(g);
        btn->m_bAutoAction = b == 1;
        btn->m_nButtonType = static_cast<uint8_t>(b);
        btn->m_params = {1, 2, static_cast<uint32_t>(g), 0xFFFFFFFF};
        ASSERT_TRUE(btn->m_commands.Add("JumpTitle " + std::to_string(g + 1)));
      }
    }
    ComputeNeighbours(*page, pg == 2 ? kNeighboursSpatial : kNeighboursSequential);
    page->m_defaultSelected.Set(page->GetAt(1)->GetAt(0));
    if (pg == 0) page->m_defaultActivated.Set(&page->m_currentSelected);
    else page->m_defaultActivated.Set(page->GetAt(0)->GetAt(1));
    CEffectSequenceObject& in = page->m_inEffects;
    CWindowObject* w0 = in.AddWindow();
    w0->m_rect = SRect{0, 0, 1920, 1080};
    CWindowObject* w1 = in.AddWindow();
    w1->m_rect = SRect{10, 10, 110, 60};
    for (int k = 0; k < 3; ++k) {
      CEffectObject* eff = in.AddEffect();
      eff->m_nDuration = 9000u * static_cast<uint32_t>(k);
      eff->m_palette.Set(k == 1 ? p1 : p0);
      CCompositionObject* c = eff->AddCompositionObject();
      c->m_graphic.Set(gr[static_cast<size_t>(k)]);
      c->m_window.Set(w1);
      c->m_nX = 10 + k;
      c->m_nY = 20;
      CCompositionObject* cropped = eff->AddCompositionObject();
      cropped->m_graphic.Set(gr[5]);
      cropped->m_window.Set(w0);
      cropped->m_bCropped = true;
      cropped->m_crop = SRect{1, 2, 30, 40};
    }
    page->m_outEffects.AddEffect()->m_nDuration = 5;
  }
}

}  // namespace

TEST(MenuProject, FilledMenuSavesLoadsAndSavesIdentically) {
  CZvObject p;
  p.InitNew();
  CZvIgObject& menu = *p.m_movies.GetAt(0)->m_menus.GetAt(0);
  FillMenu(menu);
  ASSERT_FALSE(menu.IsEmpty());
  std::vector<uint8_t> first = StoreProject(p, kProject);

  CZvObject q;
  std::string msg;
  ASSERT_EQ(LoadProject(first, kProject, q, msg), kOk) << msg;
  std::vector<uint8_t> second = StoreProject(q, kProject);
  EXPECT_EQ(first, second);

  // References point at the objects in the same places of the loaded tree.
  CZvIgObject& m2 = *q.m_movies.GetAt(0)->m_menus.GetAt(0);
  CEpoch& e1 = *menu.GetAt(0);
  CEpoch& e2 = *m2.GetAt(0);
  ASSERT_EQ(e2.GetCount(), 1u);
  CDisplaySet& d2 = *e2.GetAt(0);
  EXPECT_EQ(d2.m_strText, "main");
  EXPECT_EQ(d2.m_nStartFrame, 24);
  ASSERT_EQ(d2.GetCount(), 3u);
  ASSERT_EQ(e2.m_graphics.GetFolderCount(), 1u);
  CGraphicObject* highlight = e2.m_graphics.GetFolderAt(0)->GetAt(1);
  EXPECT_EQ(highlight->m_strPath, "/srv/discs/menu/art/h1.png");
  auto graphicIndex = [](CEpoch& e, const CGraphicObject* g) {
    CNamedPtrCollection all;
    GatherGraphics(e, all);
    for (size_t i = 0; i < all.GetCount(); ++i)
      if (all.GetAt(i) == g) return static_cast<int>(i);
    return -1;
  };
  for (size_t pg = 0; pg < 3; ++pg) {
    CPage& a = *e1.GetAt(0)->GetAt(pg);
    CPage& b = *d2.GetAt(pg);
    ASSERT_EQ(b.GetCount(), a.GetCount());
    EXPECT_EQ(b.m_palette.p, e2.m_palettes.GetAt(static_cast<size_t>(e1.m_palettes.IndexOf(a.m_palette.p))));
    EXPECT_EQ(b.m_defaultSelected.p, b.GetAt(1)->GetAt(0));
    CBdButton* activated = pg == 0 ? &b.m_currentSelected : b.GetAt(0)->GetAt(1);
    EXPECT_EQ(b.m_defaultActivated.p, activated);
    std::vector<CBdButton*> ba = a.Buttons(), bb = b.Buttons();
    ASSERT_EQ(ba.size(), bb.size());
    auto buttonIndex = [](const std::vector<CBdButton*>& v, const CBdButton* x) {
      for (size_t i = 0; i < v.size(); ++i)
        if (v[i] == x) return static_cast<int>(i);
      return -1;
    };
    for (size_t i = 0; i < ba.size(); ++i) {
      EXPECT_EQ(bb[i]->m_strName, ba[i]->m_strName);
      for (int d = 0; d < 4; ++d) {
        if (pg < 2) {
          EXPECT_NE(bb[i]->m_neighbors.All()[d].p, nullptr);
        }
        EXPECT_EQ(buttonIndex(bb, bb[i]->m_neighbors.All()[d].p), buttonIndex(ba, ba[i]->m_neighbors.All()[d].p));
      }
      for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(graphicIndex(e2, bb[i]->m_states[s].m_start.p), graphicIndex(e1, ba[i]->m_states[s].m_start.p));
        EXPECT_EQ(graphicIndex(e2, bb[i]->m_states[s].m_end.p), graphicIndex(e1, ba[i]->m_states[s].m_end.p));
      }
      EXPECT_EQ(bb[i]->m_commands, ba[i]->m_commands);
      EXPECT_EQ(bb[i]->m_params, ba[i]->m_params);
    }
    for (size_t g = 0; g < b.GetCount(); ++g) EXPECT_EQ(b.GetAt(g)->m_defaultButton.p, b.GetAt(g)->GetAt(0));
    CEffectSequenceObject& in = b.m_inEffects;
    ASSERT_EQ(in.GetCount(), 3u);
    ASSERT_EQ(in.m_windows.GetCount(), 2u);
    EXPECT_EQ(in.GetAt(1)->m_palette.p, e2.m_palettes.GetAt(1));
    EXPECT_EQ(in.GetAt(2)->GetAt(0)->m_window.p, in.m_windows.GetAt(1));
    EXPECT_EQ(in.GetAt(2)->GetAt(1)->m_graphic.p, highlight);
    EXPECT_EQ(in.GetAt(2)->GetAt(1)->m_crop, (SRect{1, 2, 30, 40}));
    EXPECT_EQ(b.m_outEffects.GetAt(0)->m_nDuration, 5u) << "the duration survives the project file";
    EXPECT_EQ(in.GetAt(2)->m_nDuration, 18000u);
  }
  // The loaded model compiles to the same composition as the original.
  std::vector<uint8_t> c1(e1.GetAt(0)->WriteBytes(nullptr, 0, nullptr)), c2(d2.WriteBytes(nullptr, 0, nullptr));
  e1.GetAt(0)->WriteBytes(c1.data(), c1.size(), nullptr);
  d2.WriteBytes(c2.data(), c2.size(), nullptr);
  EXPECT_EQ(c1, c2);
}

TEST(MenuProject, ReferencesFollowTheObjectsNotTheStoredIds) {
  CZvObject p;
  p.InitNew();
  CZvIgObject& menu = *p.m_movies.GetAt(0)->m_menus.GetAt(0);
  FillMenu(menu);
  CPage& page = *menu.GetAt(0)->GetAt(0)->GetAt(1);
  CBdButton* target = page.GetAt(0)->GetAt(1);
  target->m_nId = 4000;  // renumbered after the links were made
  page.m_defaultActivated.id = 12;  // stale id: the pointer wins on save
  std::vector<uint8_t> bytes = StoreProject(p, kProject);
  CZvObject q;
  std::string msg;
  ASSERT_EQ(LoadProject(bytes, kProject, q, msg), kOk) << msg;
  CPage& back = *q.m_movies.GetAt(0)->m_menus.GetAt(0)->GetAt(0)->GetAt(0)->GetAt(1);
  EXPECT_EQ(back.m_defaultActivated.id, 4000);
  EXPECT_EQ(back.m_defaultActivated.p, back.GetAt(0)->GetAt(1));
}

TEST(MenuProject, AMenuWithContentNeedsOneEpochWithOneDisplaySet) {
  zvtest::StoryMedia media;
  CZvObject p;
  p.InitNew();
  CFilmObject* movie = p.m_movies.GetAt(0);
  media.Fill(*movie->m_stories.GetAt(0), {"h264_1080p2398.264"});
  ScriptedPrompt prompt;
  CZvIgObject& menu = *movie->m_menus.GetAt(0);
  EXPECT_TRUE(ValidateFilm(*movie, prompt)) << "an empty menu passes";
  menu.GetAt(0)->GetAt(0)->AddPage()->AddBog();
  menu.GetAt(0)->AddDisplaySet();
  EXPECT_FALSE(menu.ValidateForBuild("Movie#1:", prompt));
  menu.AddEpoch();
  EXPECT_FALSE(ValidateFilm(*movie, prompt));
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0], "\"Movie#1:IG#1\" can't have more than one DisplaySet! ");
  EXPECT_EQ(prompt.messages[1], "\"Movie#1:IG#1\" can't have more than one Epoch! ");
  // A menu to be multiplexed with its video would be left off the disc.
  menu.RemoveAt(1);
  menu.GetAt(0)->RemoveAt(1);
  EXPECT_TRUE(menu.ValidateForBuild("Movie#1:", prompt));
  menu.SetStreamModel(false);
  EXPECT_FALSE(menu.ValidateForBuild("Movie#1:", prompt));
  ASSERT_EQ(prompt.messages.size(), 3u);
  EXPECT_NE(prompt.messages[2].find("is not built"), std::string::npos) << prompt.messages[2];
}
