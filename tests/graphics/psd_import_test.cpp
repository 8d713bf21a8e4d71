// Menus built from layered designs: the GIMP-made fixtures (groups named in
// every accepted spelling, state pictures of different sizes, an animated
// state) and designs broken on purpose.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "graphics/object_coding.h"
#include "graphics/psd_import.h"
#include "support/test_support.h"

using namespace zv;
using zvtest::DataPath;

namespace {

CPsdFile Parse(const std::string& name) {
  CPsdFile psd;
  std::string fileError, detail;
  EXPECT_EQ(ParsePsdFile(DataPath("psd/" + name), psd, fileError, &detail), kOk) << fileError << detail;
  return psd;
}

int Build(const std::string& name, CIgObject& ig) {
  CPsdFile psd = Parse(name);
  return BuildMenuFromPsd(ig, psd);
}

// The colour a graphic shows at (x, y), through its own palette.
SColor Shown(const CGraphicObject* g, int x, int y) {
  EXPECT_NE(g, nullptr);
  if (!g || !g->m_picture || !g->m_palette) return SColor{};
  const uint8_t index = g->m_picture->Row(y)[x];
  for (size_t i = 0; i < g->m_palette->GetCount(); ++i) {
    const ERGBQUAD& q = *g->m_palette->GetAt(i);
    if (q.index == index) return SColor{q.red, q.green, q.blue, q.alpha};
  }
  return SColor{0, 0, 0, 0};
}

bool SameEntries(const CErgbPalette& a, const CErgbPalette& b) {
  if (a.GetCount() != b.GetCount() || a.m_nTransparentIndex != b.m_nTransparentIndex) return false;
  for (size_t i = 0; i < a.GetCount(); ++i)
    if (!(*a.GetAt(i) == *b.GetAt(i))) return false;
  return true;
}

bool Near(SColor a, SColor b, int tolerance = 12) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// A grayscale layer list built by hand, given top down; every normal layer
// holds a 2x2 picture.
CPsdFile Walk(const std::vector<std::pair<std::string, int32_t>>& topDown) {
  CPsdFile psd;
  psd.m_header.m_nWidth = 64;
  psd.m_header.m_nHeight = 48;
  psd.m_header.m_nColourMode = kPsdGrayscale;
  for (auto it = topDown.rbegin(); it != topDown.rend(); ++it) {
    CLayerInfo l;
    l.m_strName = it->first;
    l.m_nSectionType = it->second;
    if (it->second == kPsdNormalLayer) {
      l.m_rect = SRect{0, 0, 2, 2};
      CChannelData c;
      c.m_raw = {0, 0, 10, 20, 30, 40};
      c.m_nLength = 6;
      l.push_back(c);
    }
    psd.m_layers.push_back(l);
  }
  return psd;
}

constexpr int32_t G = kPsdOpenGroup, L = kPsdNormalLayer;

}  // namespace

TEST(PsdImport, TwoPageDesignBecomesMenu) {
  CIgObject ig;
  ASSERT_EQ(Build("design.psd", ig), kPsdImportOk);
  EXPECT_EQ(ig.m_video.width, 320);
  EXPECT_EQ(ig.m_video.height, 180);
  ASSERT_EQ(ig.GetCount(), 1u);
  CEpoch& epoch = *ig.GetAt(0);
  ASSERT_EQ(epoch.GetCount(), 1u);
  CDisplaySet& ds = *epoch.GetAt(0);
  EXPECT_EQ(ds.m_strName, "Main");
  ASSERT_EQ(ds.GetCount(), 2u);
  CPage& home = *ds.GetAt(0);
  CPage& setup = *ds.GetAt(1);
  EXPECT_EQ(home.m_strName, "Home");
  EXPECT_EQ(setup.m_strName, "Setup");

  // "B:x:Play" and " b : Chapters " name their buttons; the plain "B" layer
  // in the Chapters group is no button.
  ASSERT_EQ(home.GetCount(), 2u);
  EXPECT_EQ(home.GetAt(0)->m_strName, "PlayGroup");
  ASSERT_EQ(home.GetAt(1)->GetCount(), 1u);
  CBdButton& play = *home.GetAt(0)->GetAt(0);
  CBdButton& chapters = *home.GetAt(1)->GetAt(0);
  EXPECT_EQ(play.m_strName, "Play");
  EXPECT_EQ(chapters.m_strName, "Chapters");
  EXPECT_EQ(home.GetAt(1)->m_defaultButton.p, &chapters);

  // Play's states are 60x20 at (20,20), 68x24 at (16,18) and 60x20: the
  // button takes the union and every picture its size, the smaller ones
  // centred on their top-left colour (transparent here).
  EXPECT_EQ(play.m_nX, 16);
  EXPECT_EQ(play.m_nY, 18);
  for (const CButtonStateInfo& st : play.m_states) {
    ASSERT_NE(st.m_start.p, nullptr);
    EXPECT_EQ(st.m_start.p, st.m_end.p);
    EXPECT_EQ(st.m_start.p->m_nWidth, 68);
    EXPECT_EQ(st.m_start.p->m_nHeight, 24);
  }
  EXPECT_EQ(play.Width(), 68);
  const CGraphicObject* normal = play.m_states[0].m_start.p;
  EXPECT_TRUE(Near(Shown(normal, 34, 12), SColor{200, 40, 40, 255}));
  // The page has more colours than a palette holds; the ellipse's soft
  // edge must not make its inside transparent.
  EXPECT_EQ(Shown(normal, 34, 12).a, 255);
  EXPECT_EQ(Shown(play.m_states[1].m_start.p, 34, 12).a, 255);
  EXPECT_EQ(Shown(normal, 1, 1).a, 0);
  EXPECT_EQ(Shown(normal, 2, 12).a, 0);  // the padding, left of the ellipse
  EXPECT_GT(Shown(normal, 4, 12).a, 0);  // the ellipse's left edge
  // The activated rectangle is opaque white; its padding stays transparent
  // (an opaque picture's edge colour would frame it).
  EXPECT_TRUE(Near(Shown(play.m_states[2].m_start.p, 34, 12), SColor{255, 255, 255, 255}));
  EXPECT_EQ(Shown(play.m_states[2].m_start.p, 0, 0).a, 0);
  EXPECT_EQ(Shown(play.m_states[2].m_start.p, 3, 12).a, 0);
  EXPECT_EQ(Shown(play.m_states[2].m_start.p, 4, 12).a, 255);

  // Two selected layers: the start is the upper one, the end the lower.
  const CButtonStateInfo& sel = chapters.m_states[1];
  ASSERT_NE(sel.m_start.p, nullptr);
  ASSERT_NE(sel.m_end.p, nullptr);
  EXPECT_NE(sel.m_start.p, sel.m_end.p);
  EXPECT_TRUE(Near(Shown(sel.m_start.p, 40, 10), SColor{240, 240, 0, 255}));
  EXPECT_TRUE(Near(Shown(sel.m_end.p, 40, 10), SColor{240, 120, 0, 255}));
  EXPECT_TRUE(play.UsesGraphic(normal->m_nId));

  // Every page has its own palette, shared by all its graphics, and every
  // graphic codes into object data.
  ASSERT_NE(home.m_palette.p, nullptr);
  ASSERT_NE(setup.m_palette.p, nullptr);
  EXPECT_NE(home.m_palette.p, setup.m_palette.p);
  EXPECT_EQ(epoch.m_palettes.GetCount(), 2u);
  EXPECT_EQ(epoch.m_graphics.GetCount(), 13u);
  for (size_t i = 0; i < epoch.m_graphics.GetCount(); ++i) {
    const CGraphicObject& g = *epoch.m_graphics.GetAt(i);
    EXPECT_EQ(g.m_nId, static_cast<int32_t>(i));
    ASSERT_TRUE(g.m_picture);
    EXPECT_FALSE(EncodeObject(*g.m_picture).empty()) << g.m_strName;
    const CErgbPalette& page = i < 7 ? *home.m_palette.p : *setup.m_palette.p;
    EXPECT_TRUE(SameEntries(*g.m_palette, page)) << g.m_strName;
  }

  // Buttons numbered per page in BOG order; spatial neighbours: the two
  // home buttons share a row, English and Back a column, and French takes
  // the neighbours of its BOG's default button.
  const std::vector<CBdButton*> sb = setup.Buttons();
  ASSERT_EQ(sb.size(), 3u);
  EXPECT_EQ(sb[0]->m_strName, "English");
  EXPECT_EQ(sb[1]->m_strName, "French");
  EXPECT_EQ(sb[2]->m_strName, "Back");
  for (uint16_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sb[i]->m_nId, i);
    EXPECT_EQ(sb[i]->m_nNumericValue, i);
  }
  EXPECT_EQ(chapters.m_nId, 1);
  EXPECT_EQ(play.m_neighbors.right.p, &chapters);
  EXPECT_EQ(play.m_neighbors.left.p, &chapters);
  EXPECT_EQ(chapters.m_neighbors.right.p, &play);
  EXPECT_EQ(sb[0]->m_neighbors.down.p, sb[2]);
  EXPECT_EQ(sb[2]->m_neighbors.up.p, sb[0]);
  EXPECT_EQ(sb[1]->m_neighbors.down.p, sb[2]);
  EXPECT_EQ(sb[2]->m_nX, 20);
  EXPECT_EQ(sb[2]->m_nY, 120);
}

// The uncompressed variant builds the same way; a gradient state of many
// colours and a flat one share the palette.
TEST(PsdImport, RawDesign) {
  CIgObject ig;
  ASSERT_EQ(Build("design_raw.psd", ig), kPsdImportOk);
  CPage& page = *ig.GetAt(0)->GetAt(0)->GetAt(0);
  CBdButton& go = *page.GetAt(0)->GetAt(0);
  EXPECT_EQ(go.m_strName, "Go");
  EXPECT_EQ(go.m_nX, 4);
  EXPECT_TRUE(Near(Shown(go.m_states[1].m_start.p, 15, 6), SColor{0, 255, 0, 255}));
  EXPECT_TRUE(Near(Shown(go.m_states[0].m_start.p, 0, 6), SColor{255, 0, 0, 255}, 40));
  EXPECT_TRUE(Near(Shown(go.m_states[0].m_start.p, 29, 6), SColor{0, 0, 255, 255}, 40));
}

TEST(PsdImport, FailuresAndTheirMessages) {
  struct Case {
    const char* file;
    int code;
    const char* message;
  };
  for (const Case& c : std::vector<Case>{
           {"bad_state_first.psd", kPsdUndefinedButton, "Undefined Button Layer group: B! "},
           {"bad_two_ig.psd", kPsdMultiIg, "Multi-IG Layer groups are defined! "},
           {"bad_ds_without_ig.psd", kPsdUndefinedIg, "Undefined IG Layer group:Ig! "},
           {"bad_empty_layer.psd", kPsdLayerImageFailed, "Failed to create layer image, layer may be empty? "},
           {"rgb8.psd", kPsdNoDisplaySet, "Wrong PSD format: No DisplaySet defined! "},
       }) {
    CIgObject ig;
    EXPECT_EQ(Build(c.file, ig), c.code) << c.file;
    EXPECT_STREQ(PsdImportMessage(c.code), c.message);
  }

  struct WalkCase {
    std::vector<std::pair<std::string, int32_t>> layers;
    int code;
    const char* message;
  };
  for (const WalkCase& c : std::vector<WalkCase>{
           {{{"IG:m", G}, {"P:Home", G}}, kPsdUndefinedDisplaySet, "Undefined DS Layer group:DS! "},
           {{{"IG:m", G}, {"DS:a", G}, {"BOG:x", G}}, kPsdUndefinedPage, "Undefined Page Layer group:P! "},
           {{{"IG:m", G}, {"DS:a", G}, {"P:p", G}, {"B:x", G}}, kPsdUndefinedBog, "Undefined Bog Layer group: Bog! "},
           {{{"IG:m", G}, {"DS:a", G}, {"DS:b", G}}, kPsdMultiDisplaySet, "Multi-DS Layer groups are defined! "},
           // A new page or BOG does not inherit the last button or BOG.
           {{{"IG:m", G}, {"DS:a", G}, {"P:1", G}, {"BOG:g", G}, {"B:b", G}, {"N:1", L}, {"P:2", G}, {"B:c", G}},
            kPsdUndefinedBog, nullptr},
           {{{"IG:m", G}, {"DS:a", G}, {"P:1", G}, {"BOG:g", G}, {"B:b", G}, {"N:1", L}, {"P:2", G}, {"N:2", L}},
            kPsdUndefinedButton, nullptr},
           // A page whose buttons have no pictures cannot have a palette.
           {{{"IG:m", G}, {"DS:a", G}, {"P:1", G}, {"BOG:g", G}, {"B:b", G}}, kPsdLayerImageFailed, nullptr},
           {{{"IG:m", G}, {"DS:a", G}, {"P:1", G}, {"BOG:g", G}, {"B:b", G}, {"BOG:h", G}, {"N:1", L}},
            kPsdUndefinedButton, nullptr},
           // Keywords count only on groups; a layer named like one is skipped.
           {{{"IG:m", G}, {"DS:a", G}, {"P:1", L}, {"BOG:g", G}}, kPsdUndefinedPage, nullptr},
       }) {
    CIgObject ig;
    CPsdFile psd = Walk(c.layers);
    EXPECT_EQ(BuildMenuFromPsd(ig, psd), c.code) << c.layers.back().first;
    if (c.message) {
      EXPECT_STREQ(PsdImportMessage(c.code), c.message);
    }
  }

  CIgObject ig;
  CPsdFile none;
  EXPECT_EQ(BuildMenuFromPsd(ig, none), kPsdWrongFile);
  EXPECT_STREQ(PsdImportMessage(kPsdWrongFile), "Wrong or unsupported PSD file! ");
}

TEST(PsdImport, ProgressLinePerPageAndCancel) {
  struct Seen {
    std::vector<std::string> lines;
    bool stop = false;
  } seen;
  Progress progress{[](void* ctx, const SProgressInfo* info) {
                      auto* s = static_cast<Seen*>(ctx);
                      if (info->kind == kProgressItem) s->lines.push_back(info->item);
                      return s->stop ? 0 : 1;
                    },
                    &seen};
  CPsdFile psd = Parse("design.psd");
  CIgObject ig;
  ASSERT_EQ(BuildMenuFromPsd(ig, psd, progress), kPsdImportOk);
  ASSERT_EQ(seen.lines.size(), 2u);
  EXPECT_EQ(seen.lines[0].rfind("Home: 2 BOGs, 2 buttons, 7 graphics", 0), 0u) << seen.lines[0];
  EXPECT_EQ(seen.lines[1].rfind("Setup: 2 BOGs, 3 buttons, 6 graphics", 0), 0u) << seen.lines[1];
  seen = Seen{{}, true};
  CIgObject again;
  EXPECT_EQ(BuildMenuFromPsd(again, psd, progress), kPsdImportCancelled);
  EXPECT_EQ(seen.lines.size(), 1u);
}

TEST(PsdImport, CommonPaletteQuantize) {
  // Two opaque pictures of different heights and few colours: one table,
  // every pixel back exactly, each piece its own size.
  CPicture a, b;
  a.Allocate(5, 3, PixelFormat::Rgb24);
  b.Allocate(4, 6, PixelFormat::Argb32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      uint8_t* p = a.Row(y) + x * 3;
      p[0] = static_cast<uint8_t>(x * 50), p[1] = 10, p[2] = static_cast<uint8_t>(y * 100);
    }
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* p = b.Row(y) + x * 4;
      p[0] = x == 0 ? 0 : 255, p[1] = 200, p[2] = static_cast<uint8_t>(y * 40), p[3] = 7;
    }
  std::optional<std::vector<CPicture>> out = CommonPaletteQuantize({a, b});
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(out->size(), 2u);
  const CPicture& qa = (*out)[0];
  const CPicture& qb = (*out)[1];
  EXPECT_EQ(qa.width, 5);
  EXPECT_EQ(qa.height, 3);
  EXPECT_EQ(qb.width, 4);
  EXPECT_EQ(qb.height, 6);
  EXPECT_EQ(qa.table, qb.table);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(qa.At(x, y), a.At(x, y)) << x << "," << y;
  for (int y = 0; y < 6; ++y)
    for (int x = 1; x < 4; ++x) EXPECT_EQ(qb.At(x, y), b.At(x, y)) << x << "," << y;
  EXPECT_EQ(qb.At(0, 2).a, 0);

  // A single picture is converted alone.
  std::optional<std::vector<CPicture>> one = CommonPaletteQuantize({a});
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->at(0).table, ToIndexedImage(a)->table);
  EXPECT_FALSE(CommonPaletteQuantize({}).has_value());
}

// A hand-made walk that succeeds: groups in every spelling, a button that
// starts left of and above the page loses what lies beyond the edge.
TEST(PsdImport, WalkBuildsPagesAndCropsAtThePageEdge) {
  CPsdFile psd = Walk({{"IG:m", G}, {"DS:", G}, {"p:One", G}, {"BOG:g", G}, {"B:b", G}, {"N:1", L}, {"s:1", L},
                       {"</Layer group>", kPsdGroupEnd}, {"B", L}, {"P:Two", G}, {"BOG:h", G}, {"B:c", G}, {"A:1", L}});
  for (CLayerInfo& l : psd.m_layers)
    if (l.m_strName == "s:1") l.m_rect = SRect{-1, -1, 1, 1};
  CIgObject ig;
  ASSERT_EQ(BuildMenuFromPsd(ig, psd), kPsdImportOk);
  CDisplaySet& ds = *ig.GetAt(0)->GetAt(0);
  EXPECT_EQ(ds.m_strName, "DisplaySet#1");  // "DS:" leaves the default name
  ASSERT_EQ(ds.GetCount(), 2u);
  CBdButton& b = *ds.GetAt(0)->GetAt(0)->GetAt(0);
  // Union (-1,-1)-(2,2): 3x3 at the page's corner, cropped to 2x2 at (0,0).
  EXPECT_EQ(b.m_nX, 0);
  EXPECT_EQ(b.m_nY, 0);
  EXPECT_EQ(b.m_states[0].m_start.p->m_nWidth, 2);
  EXPECT_EQ(b.m_states[1].m_start.p->m_nHeight, 2);
  // The normal picture [10 20; 30 40] is centred in the 3x3 union, not put
  // at its own place, so after the crop its last pixel comes first.
  EXPECT_TRUE(Near(Shown(b.m_states[0].m_start.p, 0, 0), SColor{40, 40, 40, 255}, 4));
  EXPECT_TRUE(Near(Shown(b.m_states[1].m_start.p, 0, 0), SColor{40, 40, 40, 255}, 4));
  CBdButton& c = *ds.GetAt(1)->GetAt(0)->GetAt(0);
  EXPECT_EQ(c.m_strName, "c");
  EXPECT_FALSE(c.m_states[0].HasGraphics());
  EXPECT_TRUE(c.m_states[2].HasGraphics());
  EXPECT_NE(ds.GetAt(0)->m_palette.p, ds.GetAt(1)->m_palette.p);
}

// The converted stream beside the design is reused only when it is newer;
// its side file never replaces a file of the user's.
// Layers as the design shows them: a layer's and its group's opacity and
// user masks reach the pictures' alpha, a blend mode the import cannot
// draw is named in a warning, and a layer reaching past the page's right
// and bottom edges is cut there.
TEST(PsdImport, OpacityMasksBlendModesAndTheFarEdges) {
  constexpr int32_t E = kPsdGroupEnd;
  CPsdFile psd = Walk({{"IG:m", G},  {"DS:", G},     {"P:One", G},   {"BOG:a", G}, {"B:half", G}, {"N:plain", L},
                       {"end", E},   {"B:masked", G}, {"N:masked", L}, {"end", E},  {"B:faint", G}, {"N:faint", L},
                       {"end", E},   {"B:wide", G},   {"N:wide", L},   {"end", E},  {"B:mult", G},  {"N:multiply", L},
                       {"end", E},   {"end", E},      {"end", E},      {"end", E},  {"end", E}});
  for (CLayerInfo& l : psd.m_layers) {
    if (l.m_nSectionType == kPsdNormalLayer) l.m_blendKey = "norm";
    if (l.IsGroup()) l.m_blendKey = "pass";
    if (l.m_strName == "B:half") l.m_nOpacity = 128;  // the group's opacity
    if (l.m_strName == "N:masked") {
      l.m_rect = SRect{10, 0, 12, 2};
      // A mask over the top row only (255, then 64); outside it, 0.
      l.m_mask.m_nLength = 20;
      l.m_mask.m_rect = SRect{10, 0, 12, 1};
      l.m_mask.m_nDefaultColour = 0;
      CChannelData m;
      m.m_nId = kPsdUserMaskChannel;
      m.m_raw = {0, 0, 255, 64};
      m.m_nLength = 4;
      l.push_back(m);
    }
    if (l.m_strName == "N:faint") l.m_rect = SRect{20, 0, 22, 2}, l.m_nOpacity = 51;
    if (l.m_strName == "N:wide") {
      // 4 x 3 from (62, 46): two columns and one row lie beyond the page.
      l.m_rect = SRect{62, 46, 66, 49};
      l[0].m_raw = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
      l[0].m_nLength = 14;
    }
    if (l.m_strName == "N:multiply") l.m_rect = SRect{30, 0, 32, 2}, l.m_blendKey = "mul ";
  }
  std::vector<std::string> lines;
  Progress progress{[](void* ctx, const SProgressInfo* info) {
                      if (info->kind == kProgressItem) static_cast<std::vector<std::string>*>(ctx)->push_back(info->item);
                      return 1;
                    },
                    &lines};
  CIgObject ig;
  ASSERT_EQ(BuildMenuFromPsd(ig, psd, progress), kPsdImportOk);
  int warnings = 0;
  for (const std::string& l : lines)
    if (l.find("Warning") != std::string::npos) {
      ++warnings;
      EXPECT_NE(l.find("\"N:multiply\""), std::string::npos) << l;
      EXPECT_NE(l.find("mul"), std::string::npos) << l;
    }
  EXPECT_EQ(warnings, 1);
  std::vector<CBdButton*> buttons = ig.GetAt(0)->GetAt(0)->GetAt(0)->Buttons();
  ASSERT_EQ(buttons.size(), 5u);
  auto normal = [&](int i) { return buttons[static_cast<size_t>(i)]->m_states[0].m_start.p; };
  // The group's opacity 128 over an opaque layer.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_NEAR(Shown(normal(0), x, y).a, 128, 1) << x << "," << y;
  // The mask: full, a quarter, and nothing where it does not reach.
  EXPECT_EQ(Shown(normal(1), 0, 0).a, 255);
  EXPECT_NEAR(Shown(normal(1), 1, 0).a, 64, 1);
  EXPECT_EQ(Shown(normal(1), 0, 1).a, 0);
  EXPECT_EQ(Shown(normal(1), 1, 1).a, 0);
  EXPECT_NEAR(Shown(normal(2), 1, 1).a, 51, 1);
  // Cut to the 64 x 48 page: 2 x 2 left at (62, 46), its own colours.
  EXPECT_EQ(buttons[3]->m_nX, 62);
  EXPECT_EQ(buttons[3]->m_nY, 46);
  EXPECT_EQ(normal(3)->m_nWidth, 2);
  EXPECT_EQ(normal(3)->m_nHeight, 2);
  EXPECT_TRUE(Near(Shown(normal(3), 1, 1), SColor{6, 6, 6, 255}, 2));
  EXPECT_EQ(Shown(normal(4), 0, 0).a, 255) << "drawn as normal";
}

TEST(PsdImport, ConvertedStreamBesideTheDesign) {
  namespace fs = std::filesystem;
  zvtest::TempDir dir;
  const std::string design = dir / "menu.psd";
  zvtest::WriteText(design, "design");
  const std::string stream = ConvertedStreamPath(design);
  EXPECT_EQ(stream, dir / "menu.ies");
  EXPECT_FALSE(ConvertedStreamIsCurrent(design, stream));  // none yet
  zvtest::WriteText(stream, "stream");
  const auto t = fs::last_write_time(design);
  fs::last_write_time(stream, t);
  EXPECT_FALSE(ConvertedStreamIsCurrent(design, stream));  // equal times
  fs::last_write_time(stream, t + std::chrono::seconds(1));
  EXPECT_TRUE(ConvertedStreamIsCurrent(design, stream));
  fs::last_write_time(design, t + std::chrono::seconds(2));
  EXPECT_FALSE(ConvertedStreamIsCurrent(design, stream));  // design edited since

  std::string error;
  ASSERT_TRUE(WriteConversionSideFile(stream, error)) << error;
  EXPECT_EQ(zvtest::ReadText(dir / "menu.txt"), "1\n0\n1\n");
  ASSERT_TRUE(WriteConversionSideFile(stream, error)) << error;  // its own file is replaced
  zvtest::WriteText(dir / "menu.txt", "00:00:00:00\n00:05:00:00\n");
  EXPECT_FALSE(WriteConversionSideFile(stream, error));
  EXPECT_NE(error.find("menu.txt"), std::string::npos);
  EXPECT_EQ(zvtest::ReadText(dir / "menu.txt"), "00:00:00:00\n00:05:00:00\n");
}
