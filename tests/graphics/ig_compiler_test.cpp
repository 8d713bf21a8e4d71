// Menu compilation: the checks and their log lines, palettes and object
// order, the decoder timing worked out by hand, stream files with their
// index, and the round trip through an exported stream.
#include "graphics/ig_compiler.h"

#include <gtest/gtest.h>

#include "graphics/composition.h"
#include "graphics/object_coding.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "streams/sif_data.h"
#include "support/test_support.h"

using namespace zv;

namespace {

struct Lines {
  std::vector<std::string> lines;
  Progress progress() {
    return Progress{[](void* ctx, const SProgressInfo* i) {
                      static_cast<Lines*>(ctx)->lines.push_back(i->item);
                      return 1;
                    },
                    this};
  }
  bool Has(const std::string& s) const { return std::find(lines.begin(), lines.end(), s) != lines.end(); }
  int Count(const char* level) const {
    int n = 0;
    for (const auto& l : lines) n += l.find(level) != std::string::npos;
    return n;
  }
};

// Colours that survive RGB -> YCrCb -> RGB unchanged.
const SColor kColours[3] = {{0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 0}};

// An in-memory indexed picture of w x h in colour index `fill` with a
// one-pixel frame of index 1, so that every line codes a few runs.
std::unique_ptr<CPicture> Picture(int w, int h, uint8_t fill = 0) {
  auto p = std::make_unique<CPicture>();
  p->Allocate(w, h, PixelFormat::Indexed8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p->Row(y)[x] = (x == 0 || y == 0 || x == w - 1 || y == h - 1) ? 1 : fill;
  p->table.assign(std::begin(kColours), std::end(kColours));
  p->tableHasAlpha = true;
  return p;
}

struct Menu {
  CIgObject ig;
  CEpoch* epoch;
  CDisplaySet* ds;
  CPage* page;
  CErgbPalette* palette;
  explicit Menu(int format = 5) {
    EXPECT_TRUE(ig.SetVideoFormat(format));
    epoch = ig.AddEpoch();
    ds = epoch->AddDisplaySet();
    page = ds->AddPage();
    palette = epoch->m_palettes.AddPalette();
    for (uint8_t i = 0; i < 3; ++i)
      palette->Add(ERGBQUAD{i, kColours[i].b, kColours[i].g, kColours[i].r, kColours[i].a});
    page->m_palette.Set(palette);
  }
  CGraphicObject* Graphic(int w, int h) {
    auto g = std::make_unique<CGraphicObject>();
    CNamedPtrCollection all;
    GatherGraphics(*epoch, all);
    g->m_nId = static_cast<int32_t>(all.GetCount());
    g->SetName("G" + std::to_string(g->m_nId));
    g->m_picture = Picture(w, h);
    g->m_nWidth = w;
    g->m_nHeight = h;
    return epoch->m_graphics.Add(std::move(g));
  }
  // A BOG with one button at (x, y) showing `normal` and `selected`.
  CBdButton* Button(CPage* on, int x, int y, CGraphicObject* normal, CGraphicObject* selected = nullptr) {
    CBdButton* b = on->AddBog()->AddButton();
    b->m_nX = static_cast<uint16_t>(x);
    b->m_nY = static_cast<uint16_t>(y);
    b->m_states[0].m_start.Set(normal);
    b->m_states[0].m_end.Set(normal);
    if (selected) {
      b->m_states[1].m_start.Set(selected);
      b->m_states[1].m_end.Set(selected);
    }
    return b;
  }
  bool Compile(CDsData& out, Lines& log, SDsTiming* t = nullptr) {
    return CompileDisplaySet(ig, *epoch, *ds, log.progress(), out, t);
  }
};

}  // namespace

TEST(IgCompiler, VideoFormatsAndMatchingVideoStreams) {
  CIgObject ig;
  EXPECT_STREQ(VideoFormatName(0), "720 x 480, 29.97");
  EXPECT_STREQ(VideoFormatName(5), "1920 x 1080, 23.976");
  EXPECT_STREQ(VideoFormatName(10), "1280 x 720, 59.94");
  EXPECT_EQ(VideoFormatName(14), nullptr);
  EXPECT_FALSE(ig.SetVideoFormat(14));
  ASSERT_TRUE(ig.SetVideoFormat(9));
  EXPECT_EQ(ig.m_video.width, 1440);
  EXPECT_EQ(ig.m_video.height, 1080);
  EXPECT_EQ(ig.m_video.frameRateCode, 1);

  CIgObject fresh;
  SCodingAttributes a;
  a.streamCodingType = kSctAc3;
  a.videoFormat = kVf1080p;
  EXPECT_FALSE(fresh.MatchVideoStream(a));  // not a video stream
  a.streamCodingType = kSctVc1;
  a.frameRate = kFr25;
  a.aspectRatio = kAspect16x9;
  ASSERT_TRUE(fresh.MatchVideoStream(a));
  EXPECT_EQ(fresh.m_video.width, 1920);
  EXPECT_EQ(fresh.m_video.frameRateCode, 3);
  EXPECT_TRUE(fresh.m_bWideScreen);
  a.videoFormat = kVf576i;  // the menu already has another size
  EXPECT_FALSE(fresh.MatchVideoStream(a));
  EXPECT_EQ(fresh.m_video.width, 1920);
  EXPECT_EQ(fresh.m_video.frameRateCode, 3);
}

TEST(IgCompiler, ChecksLogTheirTextsAndOnlyErrorsStop) {
  {
    Menu m;
    m.ds->Reset();  // no pages
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    EXPECT_EQ(log.lines, (std::vector<std::string>{" DisplaySet#1...", " Error:no pages"}));
  }
  {
    Menu m;  // a page without BOGs
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    EXPECT_TRUE(log.Has("   Page#1...")) << log.lines[1];
    EXPECT_TRUE(log.Has("   Error:has no buttons"));
  }
  {
    Menu m;
    CGraphicObject* g = m.Graphic(40, 20);
    m.Button(m.page, 0, 0, g);
    m.Button(m.page, 30, 10, g);  // overlaps the first
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    EXPECT_TRUE(log.Has("   Error:Buttons of different group overlapped (Button#1 - Button#2)"));
  }
  {
    Menu m;
    CGraphicObject* g = m.Graphic(40, 20);
    CBdButton* b = m.Button(m.page, 0, 0, g);
    b->m_states[0].m_end.Clear();  // a start without an end
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    EXPECT_TRUE(log.Has("       Error:Normal has no end graphics"));
    EXPECT_TRUE(out.m_ods.empty());
  }
  {
    Menu m;
    CGraphicObject* g = m.Graphic(40, 20);
    m.Button(m.page, 0, 0, g);
    g->m_picture.reset();  // neither a file nor a picture
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    EXPECT_TRUE(log.Has("   G0..."));
    EXPECT_TRUE(log.Has("   Error:graphics object is empty! "));
  }
  {
    // Warnings only: the epoch has no palette, the page none of its own, a
    // BOG has no buttons and the button lacks graphics; it compiles.
    Menu m;
    m.epoch->m_palettes.Reset();
    m.page->m_palette.Clear();
    CGraphicObject* g = m.Graphic(40, 20);
    m.Button(m.page, 0, 0, g);
    m.page->AddBog();
    zvtest::TempDir dir;
    File f;
    ASSERT_TRUE(f.Open(dir / "w.ies", File::kCreate));
    Lines log;
    std::string error;
    ASSERT_TRUE(m.ig.WriteStream(f, nullptr, true, log.progress(), false, error)) << error;
    EXPECT_EQ(log.Count(" Error:"), 0);
    EXPECT_TRUE(log.Has(" Warning:no palette"));
    EXPECT_TRUE(log.Has("   Warning:no palette defined, will get from image automatically."));
    EXPECT_TRUE(log.Has("     Warning:has no buttons"));
    EXPECT_TRUE(log.Has("       Warning:Selected has no graphics"));
    EXPECT_FALSE(log.Has(" Warning:no graphics"));

    Menu empty;
    empty.page->m_palette.Clear();
    empty.epoch->m_palettes.Reset();
    Lines log2;
    File f2;
    ASSERT_TRUE(f2.Open(dir / "e.ies", File::kCreate));
    EXPECT_FALSE(empty.ig.WriteStream(f2, nullptr, true, log2.progress(), false, error));
    EXPECT_TRUE(log2.Has(" Warning:no graphics"));
    EXPECT_TRUE(log2.Has(" Warning:no palette"));
    EXPECT_TRUE(log2.Has("   Error:has no buttons"));
  }
}

TEST(IgCompiler, ALogAnsweringStopEndsTheCompilation) {
  Menu m;
  m.Button(m.page, 0, 0, m.Graphic(40, 20));
  zvtest::TempDir dir;
  File f;
  ASSERT_TRUE(f.Open(dir / "s.ig", File::kCreate));
  int lines = 0;
  Progress stop{[](void* ctx, const SProgressInfo*) { return ++*static_cast<int*>(ctx) < 3 ? 1 : 0; }, &lines};
  std::string error;
  EXPECT_FALSE(m.ig.WriteStream(f, nullptr, false, stop, true, error));
  EXPECT_TRUE(error.find("was stopped") != std::string::npos) << error;
  EXPECT_EQ(f.Length(), 0);
}

TEST(IgCompiler, AFrameRateWithoutARateCompilesNothingSilently) {
  Menu m;
  m.Button(m.page, 0, 0, m.Graphic(40, 20));
  for (uint8_t code : {uint8_t{0}, uint8_t{5}}) {
    m.ig.m_video.frameRateCode = code;
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(out.m_ics.empty());
  }
}

TEST(IgCompiler, PalettesSharedOnceAndGeneratedForPagesWithoutOne) {
  Menu m;
  CGraphicObject* g = m.Graphic(40, 20);
  m.Button(m.page, 0, 0, g);
  CPage* second = m.ds->AddPage();
  second->m_palette.Set(m.palette);  // shares the first page's palette
  m.Button(second, 0, 0, g);
  CPage* third = m.ds->AddPage();  // no palette: one made from its picture
  m.Button(third, 0, 0, g);
  CDsData out;
  Lines log;
  ASSERT_TRUE(m.Compile(out, log));
  ASSERT_EQ(out.m_pds.size(), 2u);
  EXPECT_EQ(out.m_pds[0]->m_nPaletteId, 0);
  EXPECT_EQ(out.m_pds[0]->m_entries.size(), 3u);
  EXPECT_EQ(out.m_pds[1]->m_nPaletteId, 1);
  EXPECT_FALSE(out.m_pds[1]->m_entries.empty());
  EXPECT_EQ(log.Count("no palette defined, will get from image automatically."), 1);
  std::vector<uint8_t> ic = out.Composition();
  SInteractiveComposition c = ParseComposition(ic.data(), ic.size());
  ASSERT_EQ(c.pages.size(), 3u);
  EXPECT_EQ(c.pages[0].paletteIdRef, 0);
  EXPECT_EQ(c.pages[1].paletteIdRef, 0);
  EXPECT_EQ(c.pages[2].paletteIdRef, 1);
  EXPECT_EQ(c.pages[2].id, 2);
  EXPECT_FALSE(third->m_palette.p);  // the model keeps "none"
  // One object, though three pages show it.
  EXPECT_EQ(out.m_ods.size(), 1u);
}

// Pages without a palette of their own that show a common picture, also
// through a page between them, share one made from all their pictures; a
// page showing none of theirs gets its own.
TEST(IgCompiler, PagesSharingAPictureShareOneAutomaticPalette) {
  Menu m;
  m.page->m_palette.Set(nullptr);
  CGraphicObject* shared = m.Graphic(40, 20);
  CGraphicObject* linking = m.Graphic(40, 20);
  CGraphicObject* own[3] = {m.Graphic(40, 20), m.Graphic(40, 20), m.Graphic(40, 20)};
  // Colours that only the picture's own page has.
  const SColor fills[3] = {{200, 30, 30, 255}, {30, 200, 30, 255}, {30, 30, 200, 255}};
  for (int i = 0; i < 3; ++i) own[i]->m_picture->table.push_back(fills[i]);
  for (int i = 0; i < 3; ++i)
    for (int y = 2; y < 18; ++y) std::fill_n(own[i]->m_picture->Row(y) + 2, 36, uint8_t{3});
  m.Button(m.page, 0, 0, own[0], shared);
  CPage* second = m.ds->AddPage();  // shares nothing with the first but `linking` with the third
  m.Button(second, 0, 0, own[1], linking);
  CPage* third = m.ds->AddPage();
  m.Button(third, 0, 0, shared);
  m.Button(third, 100, 0, linking);
  CPage* fourth = m.ds->AddPage();  // alone
  m.Button(fourth, 0, 0, own[2]);
  CDsData out;
  Lines log;
  ASSERT_TRUE(m.Compile(out, log));
  std::vector<uint8_t> ic = out.Composition();
  SInteractiveComposition c = ParseComposition(ic.data(), ic.size());
  ASSERT_EQ(c.pages.size(), 4u);
  EXPECT_EQ(c.pages[1].paletteIdRef, c.pages[0].paletteIdRef);
  EXPECT_EQ(c.pages[2].paletteIdRef, c.pages[0].paletteIdRef);
  EXPECT_NE(c.pages[3].paletteIdRef, c.pages[0].paletteIdRef);
  ASSERT_EQ(out.m_pds.size(), 2u);
  // The shared palette holds the colours of the three pages' pictures.
  const CPds* group = out.FindPds(c.pages[0].paletteIdRef);
  ASSERT_NE(group, nullptr);
  const std::vector<SColor> table = PdsToPalette(*group, ColorMatrix::Bt709);
  for (int i = 0; i < 2; ++i) {
    bool found = false;
    for (const SColor& e : table)
      found = found || (std::abs(e.r - fills[i].r) <= 2 && std::abs(e.g - fills[i].g) <= 2 &&
                        std::abs(e.b - fills[i].b) <= 2 && e.a == 255);
    EXPECT_TRUE(found) << "the colour of page " << i + 1 << "'s own picture";
  }
}

// Two pages with palettes of the author's share a picture: it is coded once,
// so a palette with other colours at its entries is said; one that agrees
// where the picture's colours lie, or a made page palette, is not.
TEST(IgCompiler, APictureOnPagesWithOtherOwnPalettesIsSaid) {
  Menu m;
  CGraphicObject* shared = m.Graphic(40, 20);
  m.Button(m.page, 0, 0, shared);
  CPage* second = m.ds->AddPage();
  m.Button(second, 0, 0, shared);
  CErgbPalette* other = m.epoch->m_palettes.AddPalette();
  second->m_palette.Set(other);
  CPage* third = m.ds->AddPage();  // a made palette
  m.Button(third, 0, 0, shared);
  const std::string said = "\"G0\" is coded for the palette \"" + m.palette->m_strName + "\"; page \"" +
                           second->m_strName + "\" draws it with other colours from its own palette";
  auto saidIt = [&](const Lines& log) {
    return std::any_of(log.lines.begin(), log.lines.end(),
                       [&](const std::string& l) { return l.find(said) != std::string::npos; });
  };
  // The same black and white, another third entry: agrees.
  for (uint8_t i = 0; i < 3; ++i) other->Add(ERGBQUAD{i, kColours[i].b, kColours[i].g, kColours[i].r, kColours[i].a});
  other->GetAt(2)->red = 90;
  {
    CDsData out;
    Lines log;
    ASSERT_TRUE(m.Compile(out, log));
    EXPECT_FALSE(saidIt(log));
  }
  other->GetAt(1)->green = 0;  // white becomes magenta
  CDsData out;
  Lines log;
  ASSERT_TRUE(m.Compile(out, log));
  EXPECT_TRUE(saidIt(log));
  EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                          [](const std::string& l) { return l.find("draws it with other colours") != std::string::npos; }),
            1);
}

// 1920 x 1080 at 23.976, start frame 48, state Normal Case: page 1 has two
// BOGs, B1 showing 1000 x 400 (normal G0, selected G1) and B2 showing
// 900 x 300 (normal G2, selected G3), and no default selected button.
TEST(IgCompiler, WorkedTimingExample) {
  Menu m(5);
  CGraphicObject* g0 = m.Graphic(1000, 400);
  CGraphicObject* g1 = m.Graphic(1000, 400);
  CGraphicObject* g2 = m.Graphic(900, 300);
  CGraphicObject* g3 = m.Graphic(900, 300);
  m.Button(m.page, 0, 0, g0, g1);
  m.Button(m.page, 0, 500, g2, g3);
  m.ds->m_nStartFrame = 48;
  m.ds->m_nCompositionState = 0;
  CDsData out;
  Lines log;
  SDsTiming t;
  ASSERT_TRUE(m.Compile(out, log, &t));

  // By hand. Object order: normal states G0, G2, then selected G1, G3;
  // without a default selected button all four are needed first.
  const int64_t d0 = 4500;  // ceil(1000 x 400 x 0.01125)
  const int64_t d2 = 3038;  // ceil(900 x 300 x 0.01125) = ceil(3037.5)
  const int64_t D = 2 * d0 + 2 * d2;
  // Both normal states drawn, the larger button (B1) selected instead.
  const int64_t S = 8 * 400000 + 8 * 270000 - 8 * 400000 + 8 * 400000;
  const int64_t L = D + 3769;  // ceil(670000 bytes x 0.005625) = ceil(3768.75)
  const int64_t M = 3753;
  const int64_t N = 180180;  // 48 / (24000 / 1001) x 90000
  const int64_t A = N - L;
  EXPECT_EQ(t.frameDuration, M);
  EXPECT_EQ(t.decode, D);
  EXPECT_EQ(t.drawBits, S);
  EXPECT_EQ(t.duration, L);
  EXPECT_EQ(t.composition, N);

  ASSERT_EQ(out.m_ics.size(), 1u);
  EXPECT_EQ(out.m_ics[0]->m_nPts, N);
  EXPECT_EQ(out.m_ics[0]->m_nDts, A);
  ASSERT_EQ(out.m_pds.size(), 1u);
  EXPECT_EQ(out.m_pds[0]->m_nPts, A);
  EXPECT_EQ(out.m_pds[0]->m_nDts, 0u);
  // ODS in the order G0, G2, G1, G3, each decoded after the one before.
  const uint16_t ids[4] = {0, 2, 1, 3};
  const int64_t decode[4] = {d0, d2, d0, d2};
  ASSERT_EQ(out.m_ods.size(), 4u);
  int64_t at = A;
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(out.m_ods[i]->m_nObjectId, ids[i]);
    EXPECT_EQ(out.m_ods[i]->m_nDts, at) << i;
    EXPECT_EQ(out.m_ods[i]->m_nPts, at + decode[i]) << i;
    at += decode[i];
  }
  EXPECT_EQ(at, A + D);
  ASSERT_TRUE(out.m_end);
  EXPECT_EQ(out.m_end->m_nPts, out.m_ods.back()->m_nPts);
  EXPECT_EQ(out.m_end->m_nDts, 0u);

  // With B2 as default selected button only the normal states are needed
  // first, and B2 is the one drawn selected.
  m.page->m_defaultSelected.Set(m.page->GetAt(1)->GetAt(0));
  ASSERT_TRUE(m.Compile(out, log, &t));
  EXPECT_EQ(t.decode, d0 + d2);
  EXPECT_EQ(t.drawBits, S);
  EXPECT_EQ(out.m_ods[0]->m_nObjectId, 0);
  EXPECT_EQ(out.m_ods[1]->m_nObjectId, 2);
  EXPECT_EQ(out.m_ods[2]->m_nObjectId, 3);  // the default selected button's selected state
  EXPECT_EQ(out.m_ods[3]->m_nObjectId, 1);
}

// A menu build puts an invisible page in front (one auto-action button that
// opens the next page): the first display is the next page's, so its
// objects are what the composition waits for.
TEST(IgCompiler, TimingWaitsForTheFirstPageThatShowsAnything) {
  Menu m(5);
  CGraphicObject* g0 = m.Graphic(1000, 400);
  CGraphicObject* g1 = m.Graphic(1000, 400);
  CGraphicObject* g2 = m.Graphic(900, 300);
  CGraphicObject* g3 = m.Graphic(900, 300);
  m.Button(m.page, 0, 0, g0, g1);
  m.Button(m.page, 0, 500, g2, g3);
  m.ds->m_nCompositionState = 0;
  CDsData out;
  Lines log;
  SDsTiming alone;
  ASSERT_TRUE(m.Compile(out, log, &alone));
  EXPECT_EQ(alone.decode, 2 * 4500 + 2 * 3038);

  CPage* front = m.ds->InsertAt(0, std::make_unique<CPage>());
  front->m_palette.Set(m.palette);
  CBdButton* opener = front->AddBog()->AddButton();
  opener->m_bAutoAction = true;
  // The shown page opens on an invisible entry button of its own too.
  CBdButton* entry = m.page->AddBog()->AddButton();
  entry->m_bAutoAction = true;
  m.page->m_defaultSelected.Set(entry);
  SDsTiming t;
  ASSERT_TRUE(m.Compile(out, log, &t));
  EXPECT_EQ(t.decode, alone.decode);
  EXPECT_EQ(t.drawBits, alone.drawBits);
  EXPECT_EQ(t.duration, alone.duration);
  EXPECT_EQ(out.m_ics[0]->m_nPts - out.m_ics[0]->m_nDts, static_cast<uint32_t>(alone.duration));
}

TEST(IgCompiler, TimingEdgeCases) {
  {
    // Start frame 0, small page: N is raised to 131070; an Epoch Start on
    // 1920 x 1080 decodes for at least 11664 ticks.
    Menu m(5);
    m.Button(m.page, 0, 0, m.Graphic(100, 50));
    m.Button(m.page, 200, 0, m.Graphic(100, 50));
    CDsData out;
    Lines log;
    SDsTiming t;
    ASSERT_TRUE(m.Compile(out, log, &t));
    EXPECT_EQ(t.composition, 131070);
    EXPECT_EQ(t.decode, 11664);
    // Two 100 x 50 objects: A / A + 57, then A + 57 / A + 114.
    const uint32_t A = static_cast<uint32_t>(t.Start());
    ASSERT_EQ(out.m_ods.size(), 2u);
    EXPECT_EQ(out.m_ods[0]->m_nDts, A);
    EXPECT_EQ(out.m_ods[0]->m_nPts, A + 57);
    EXPECT_EQ(out.m_ods[1]->m_nDts, A + 57);
    EXPECT_EQ(out.m_ods[1]->m_nPts, A + 114);
    EXPECT_EQ(out.m_end->m_nPts, A + 114);
    EXPECT_EQ(out.m_ics[0]->m_nPts, 131070u);
  }
  {
    Menu m(1);  // 720 x 576 at 25
    m.Button(m.page, 0, 0, m.Graphic(100, 50));
    m.ds->m_nStartFrame = 100;
    CDsData out;
    Lines log;
    SDsTiming t;
    ASSERT_TRUE(m.Compile(out, log, &t));
    EXPECT_EQ(t.frameDuration, 3600);
    EXPECT_EQ(t.composition, 360000);
  }
}

TEST(IgCompiler, LargeCompositionsAreCutInto65510ByteFragments) {
  Menu m;
  CBdButton* b = m.Button(m.page, 0, 0, m.Graphic(40, 20));
  // 12 bytes a command and 5 an (empty) in-effect make exactly 70000.
  auto size = [&] { return m.ds->WriteBytes(nullptr, 0, nullptr); };
  while ((70000 - size()) % 12 != 0) m.page->m_inEffects.AddEffect();
  CNavCmd nop;
  while (size() < 70000) b->m_commands.Add(nop);
  ASSERT_EQ(size(), 70000u);
  CDsData out;
  Lines log;
  ASSERT_TRUE(m.Compile(out, log));
  ASSERT_EQ(out.Composition().size(), 70000u);
  ASSERT_EQ(out.m_ics.size(), 2u);
  EXPECT_EQ(out.m_ics[0]->m_sequence.fragment.size(), 65510u);
  EXPECT_EQ(out.m_ics[1]->m_sequence.fragment.size(), 4490u);
  for (const auto& i : out.m_ics) {
    EXPECT_EQ(i->m_composition.number, 0);
    EXPECT_EQ(i->m_composition.state, 2);
    EXPECT_EQ(i->m_composition.video.width, 1920);
  }
  EXPECT_TRUE(out.m_ics[0]->m_sequence.first);
  EXPECT_FALSE(out.m_ics[0]->m_sequence.last);
  EXPECT_FALSE(out.m_ics[1]->m_sequence.first);
  EXPECT_TRUE(out.m_ics[1]->m_sequence.last);
  EXPECT_EQ(out.m_ics[1]->m_nPts, out.m_ics[0]->m_nPts);
}

TEST(IgCompiler, ExportWritesTheStreamAndItsIndex) {
  Menu m;
  m.Button(m.page, 0, 0, m.Graphic(100, 50));
  zvtest::TempDir dir;
  const std::string path = dir / "menu.ies";
  std::string error;
  ASSERT_TRUE(m.ig.ExportStream(path, true, error)) << error;
  std::vector<uint8_t> index = zvtest::ReadBytes(path + ".mui");
  // Head, ICS, PDS, ODS, END, closing record.
  ASSERT_EQ(index.size(), 4u + 4 * 14 + 14);
  EXPECT_EQ(std::vector<uint8_t>(index.begin(), index.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 3}));
  const uint8_t types[4] = {kSegIcs, kSegPds, kSegOds, kSegEnd};
  const std::vector<uint8_t> stream = zvtest::ReadBytes(path);
  size_t total = 0;
  for (size_t i = 0; i < 4; ++i) {
    const uint8_t* r = index.data() + 4 + 14 * i;
    EXPECT_EQ(r[0], types[i]);
    total += static_cast<size_t>(r[1]) << 24 | r[2] << 16 | r[3] << 8 | r[4];
  }
  EXPECT_EQ(total, stream.size());
  EXPECT_EQ(index[4 + 56], 0xFF);
  EXPECT_EQ(std::count(index.end() - 13, index.end(), 0), 13);
  // The ICS record: DTS (A + 10 min) / 2, PTS (131070 + 10 min) / 4.
  const uint8_t* ics = index.data() + 4;
  EXPECT_EQ(static_cast<uint32_t>(ics[9]) << 24 | ics[10] << 16 | ics[11] << 8 | ics[12], (131070u + 54000000u) >> 2);

  // A menu that does not compile leaves no file behind, and an existing
  // file keeps its contents.
  zvtest::WriteBytes(dir / "old.ies", std::vector<uint8_t>{1, 2, 3});
  m.page->Reset();
  EXPECT_FALSE(m.ig.ExportStream(dir / "old.ies", true, error));
  EXPECT_EQ(zvtest::ReadBytes(dir / "old.ies"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(PathExists(dir / "old.ies.mui"));
}

TEST(IgCompiler, HeadedAndRawStreamsHoldTheSameSegments) {
  Menu m;
  m.Button(m.page, 0, 0, m.Graphic(100, 50), m.Graphic(100, 50));
  m.epoch->AddDisplaySet()->m_nCompositionState = 0;
  CPage* p2 = m.epoch->GetAt(1)->AddPage();
  p2->m_palette.Set(m.palette);
  m.Button(p2, 10, 10, m.Graphic(60, 30));
  m.epoch->GetAt(1)->m_nStartFrame = 240;
  zvtest::TempDir dir;
  std::string error;
  File raw, headed;
  ASSERT_TRUE(raw.Open(dir / "a.ies", File::kCreate));
  ASSERT_TRUE(headed.Open(dir / "a.ig", File::kCreate));
  ASSERT_TRUE(m.ig.WriteStream(raw, nullptr, true, {}, true, error)) << error;
  ASSERT_TRUE(m.ig.WriteStream(headed, nullptr, false, {}, true, error)) << error;
  raw.Close();
  headed.Close();
  const std::vector<uint8_t> h = zvtest::ReadBytes(dir / "a.ig");
  ASSERT_GE(h.size(), 10u);
  EXPECT_EQ(h[0], 'I');
  EXPECT_EQ(h[1], 'G');

  CGsData a, b;
  for (auto [name, data, headedFraming] : {std::tuple{"a.ies", &a, false}, std::tuple{"a.ig", &b, true}}) {
    File f;
    ASSERT_TRUE(f.Open(dir / name, File::kRead));
    CFileInput in(f);
    ASSERT_TRUE(ReadGsData(in, headedFraming, *data, error)) << error;
  }
  ASSERT_EQ(a.m_epochs.size(), 1u);
  ASSERT_EQ(b.m_epochs.size(), 1u);
  ASSERT_EQ(a.m_epochs[0]->m_displaySets.size(), 2u);
  ASSERT_EQ(b.m_epochs[0]->m_displaySets.size(), 2u);
  for (size_t d = 0; d < 2; ++d) {
    auto sa = a.m_epochs[0]->m_displaySets[d]->Segments();
    auto sb = b.m_epochs[0]->m_displaySets[d]->Segments();
    ASSERT_EQ(sa.size(), sb.size());
    for (size_t i = 0; i < sa.size(); ++i) EXPECT_EQ(sa[i]->Bytes(), sb[i]->Bytes()) << d << " " << i;
    // The headed form carries the compiled time stamps.
    CDsData compiled;
    ASSERT_TRUE(CompileDisplaySet(m.ig, *m.epoch, *m.epoch->GetAt(d), {}, compiled));
    auto sc = compiled.Segments();
    ASSERT_EQ(sc.size(), sb.size());
    for (size_t i = 0; i < sc.size(); ++i) {
      EXPECT_EQ(sb[i]->m_nPts, sc[i]->m_nPts);
      EXPECT_EQ(sb[i]->m_nDts, sc[i]->m_nDts);
    }
  }
  // The second display set starts at frame 240: 240 x 3753.75 = 900900.
  EXPECT_EQ(b.m_epochs[0]->m_displaySets[1]->m_ics[0]->m_nPts, 900900u);
}

TEST(IgCompiler, ExportedMenuImportsBackTheSameModel) {
  Menu m;
  CGraphicObject* n1 = m.Graphic(100, 50);
  CGraphicObject* s1 = m.Graphic(100, 50);
  CGraphicObject* n2 = m.Graphic(80, 40);
  CBdButton* b1 = m.Button(m.page, 10, 20, n1, s1);
  CBdButton* b2 = m.Button(m.page, 300, 20, n2);
  CBdButton* b3 = m.page->GetAt(1)->AddButton();  // a second button of BOG 2
  b3->m_nX = 300;
  b3->m_nY = 20;
  b3->m_states[0].m_start.Set(n2);
  b3->m_states[0].m_end.Set(n2);
  b1->m_neighbors.right.Set(b2);
  b2->m_neighbors.left.Set(b1);
  b1->m_nNumericValue = 7;
  b2->m_bAutoAction = true;
  b1->m_states[1].m_nSoundId = 3;
  CNavCmd cmd;
  cmd.bytes = {0x21, 0x81, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
  b1->m_commands.Add(cmd);
  m.page->m_defaultSelected.Set(b2);
  m.page->m_defaultActivated.Set(&m.page->m_currentSelected);
  m.ds->m_nUserInterfaceModel = 1;
  m.ds->m_nUserTimeoutDuration = 900000;
  zvtest::TempDir dir;
  std::string error;
  ASSERT_TRUE(m.ig.ExportStream(dir / "m.ies", false, error)) << error;

  CIgObject back;
  back.SetName("IG#9");
  ASSERT_TRUE(back.ImportStream(dir / "m.ies", error)) << error;
  EXPECT_EQ(back.m_strName, "IG#9");
  EXPECT_EQ(back.m_video.width, 1920);
  EXPECT_EQ(back.m_video.frameRateCode, 1);
  ASSERT_EQ(back.GetCount(), 1u);
  CEpoch& e = *back.GetAt(0);
  ASSERT_EQ(e.GetCount(), 1u);
  CDisplaySet& ds = *e.GetAt(0);
  EXPECT_EQ(ds.m_nUserInterfaceModel, 1);
  EXPECT_EQ(ds.m_nUserTimeoutDuration, 900000u);
  ASSERT_EQ(ds.GetCount(), 1u);
  CPage& page = *ds.GetAt(0);
  ASSERT_EQ(page.GetCount(), 2u);
  EXPECT_EQ(page.m_defaultSelected.id, b2->m_nId);
  EXPECT_EQ(page.m_defaultActivated.p, &page.m_currentSelected);
  std::vector<CBdButton*> before = m.page->Buttons(), after = page.Buttons();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i]->ToRecord().commands, before[i]->ToRecord().commands);
    SButton x = after[i]->ToRecord(), y = before[i]->ToRecord();
    EXPECT_EQ(x.id, y.id);
    EXPECT_EQ(x.x, y.x);
    EXPECT_EQ(x.y, y.y);
    EXPECT_EQ(x.numericValue, y.numericValue);
    EXPECT_EQ(x.autoAction, y.autoAction);
    EXPECT_EQ(x.left, y.left);
    EXPECT_EQ(x.right, y.right);
    EXPECT_EQ(x.selectedSound, y.selectedSound);
    for (int s = 0; s < 3; ++s) {
      const CGraphicObject* ga = after[i]->m_states[s].m_start.p;
      const CGraphicObject* gb = before[i]->m_states[s].m_start.p;
      ASSERT_EQ(!ga, !gb) << i << " " << s;
      if (!ga) continue;
      EXPECT_EQ(ga->m_nId, gb->m_nId);
      EXPECT_EQ(ga->m_nWidth, gb->m_nWidth);
      EXPECT_EQ(ga->m_nHeight, gb->m_nHeight);
    }
  }
  EXPECT_EQ(page.GetAt(1)->m_defaultButton.id, b2->m_nId);
  EXPECT_EQ(e.m_graphics.GetCount(), 3u);
  // The palette entries come back, and the page refers to that palette.
  ASSERT_EQ(e.m_palettes.GetCount(), 1u);
  ASSERT_TRUE(page.m_palette.p);
  ASSERT_EQ(page.m_palette.p->GetCount(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(*page.m_palette.p->GetAt(i), *m.palette->GetAt(i)) << i;
  // Pictures decode to the coded indices, drawn with the page's palette.
  const CGraphicObject& g = *e.m_graphics.GetAt(0);
  ASSERT_TRUE(g.m_picture);
  EXPECT_EQ(g.m_picture->pixels, n1->m_picture->pixels);
  EXPECT_EQ(g.m_picture->table[1], (SColor{255, 255, 255, 255}));

  // Exported again, the imported model writes the same stream.
  ASSERT_TRUE(back.ExportStream(dir / "again.ies", false, error)) << error;
  EXPECT_EQ(zvtest::ReadBytes(dir / "again.ies"), zvtest::ReadBytes(dir / "m.ies"));
}

TEST(IgCompiler, ImportRefusesBadStreamsAndLeavesTheModel) {
  Menu m;
  m.Button(m.page, 0, 0, m.Graphic(40, 20));
  zvtest::TempDir dir;
  std::string error;
  ASSERT_TRUE(m.ig.ExportStream(dir / "m.ies", false, error)) << error;
  std::vector<uint8_t> bytes = zvtest::ReadBytes(dir / "m.ies");
  bytes.resize(bytes.size() - 10);  // cut inside the last segments
  zvtest::WriteBytes(dir / "cut.ies", bytes);
  zvtest::WriteBytes(dir / "empty.ies", std::vector<uint8_t>{});
  for (const char* name : {"cut.ies", "empty.ies", "missing.ies"}) {
    EXPECT_FALSE(m.ig.ImportStream(dir / name, error)) << name;
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(m.ig.GetCount(), 1u) << name;
    EXPECT_EQ(m.ig.GetAt(0)->GetAt(0)->GetAt(0)->GetCount(), 1u);
  }
}

TEST(IgCompiler, TakeOverHeaderCopyAndNeighboursOfTheWholeMenu) {
  Menu m;
  CGraphicObject* g = m.Graphic(40, 20);
  m.Button(m.page, 0, 0, g);
  m.Button(m.page, 100, 0, g);
  CPage* p2 = m.ds->AddPage();
  m.Button(p2, 0, 0, g);
  m.Button(p2, 0, 100, g);
  EXPECT_TRUE(m.ig.ComputeNeighbours(kNeighboursSpatial));
  EXPECT_EQ(m.page->GetAt(0)->GetAt(0)->m_neighbors.right.p, m.page->GetAt(1)->GetAt(0));
  EXPECT_EQ(p2->GetAt(0)->GetAt(0)->m_neighbors.down.p, p2->GetAt(1)->GetAt(0));
  EXPECT_FALSE(m.ig.ComputeNeighbours(kNeighboursSpatial));

  CIgObject other;
  other.SetName("Other");
  other.TakeOver(m.ig);
  EXPECT_EQ(other.m_strName, "Other");
  EXPECT_EQ(other.GetCount(), 1u);
  EXPECT_EQ(other.GetAt(0)->m_pParent, &other);
  EXPECT_EQ(other.m_nEpochCounter, 1);
  EXPECT_EQ(other.m_video.width, 1920);
  EXPECT_EQ(m.ig.GetCount(), 0u);
  EXPECT_EQ(m.ig.m_video.width, 0);
  EXPECT_TRUE(m.ig.IsEmpty());
  CIgObject header;
  header.CopyHeader(other);
  EXPECT_EQ(header.m_nEpochCounter, 1);
  EXPECT_EQ(header.m_video.frameRateCode, 1);
  EXPECT_EQ(header.GetCount(), 0u);
}

TEST(IgCompiler, StoryIgObjectsStoreTheirSourceBeforeTheMenu) {
  CStoryIgObject s;
  EXPECT_TRUE(s.IsEmpty());
  s.m_strSourcePath = "/media/menu.ig";
  EXPECT_FALSE(s.IsEmpty());
  s.m_nOption = 7;
  s.m_strSecondPath = "/media/second.ig";
  s.SetVideoFormat(3);
  s.AddEpoch();
  ArchiveOut out;
  {
    CArchive ar(out, "/media/p.zvpj");
    s.Serialize(ar);
  }
  std::vector<uint8_t> bytes = out.Bytes();
  ArchiveIn in(bytes);
  CArchive ar(in, "/media/p.zvpj");
  CStoryIgObject back;
  back.Serialize(ar);
  EXPECT_TRUE(back.m_bFlag);
  EXPECT_EQ(back.m_strSourcePath, "/media/menu.ig");
  EXPECT_EQ(back.m_nOption, 7);
  EXPECT_EQ(back.m_strSecondPath, "/media/second.ig");
  EXPECT_EQ(back.m_video.width, 1920);
  EXPECT_EQ(back.GetCount(), 1u);

  // Without the flag neither the option nor the second path is stored.
  CStoryIgObject plain;
  plain.m_bFlag = false;
  plain.m_nOption = 9;
  ArchiveOut o2;
  {
    CArchive ar2(o2, "/media/p.zvpj");
    plain.Serialize(ar2);
  }
  CStoryIgObject flagged;
  ArchiveOut o3;
  {
    CArchive ar3(o3, "/media/p.zvpj");
    flagged.Serialize(ar3);
  }
  EXPECT_LT(o2.Bytes().size(), o3.Bytes().size());

  CIgSet set;
  set.Add(std::make_unique<CStoryIgObject>())->m_strSourcePath = "x";
  EXPECT_EQ(set.GetCount(), 1u);
}

// The decoded-object buffer holds every object of a display set: a page
// whose pictures alone take more than its 16 MiB can never be shown, and is
// refused naming the page and the figure; pages that fit alone but not
// together are refused too.
TEST(IgCompiler, PicturesBeyondTheDecodedObjectBufferAreRefused) {
  {
    Menu m;
    m.page->SetName("Chapters");
    // 27 objects of 1920 x 360 decode to 18,662,400 bytes.
    for (int row = 0; row < 3; ++row) {
      CBog* bog = m.page->AddBog();
      for (int k = 0; k < 3; ++k) {
        CBdButton* b = bog->AddButton();
        b->m_nY = static_cast<uint16_t>(row * 360);
        for (auto& s : b->m_states) {
          CGraphicObject* g = m.Graphic(1920, 360);
          s.m_start.Set(g);
          s.m_end.Set(g);
        }
      }
      bog->m_defaultButton.Set(bog->GetAt(0));
    }
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    bool named = false;
    for (const std::string& l : log.lines)
      named = named || l.find("Page \"Chapters\": 18.7 MB of decoded pictures, the player holds 16 MB") != std::string::npos;
    EXPECT_TRUE(named) << ::testing::PrintToString(log.lines);
  }
  {
    // Two pages of 12.4 MB each (a group of four buttons over the upper
    // half): each fits, both together do not.
    Menu m;
    CPage* second = m.ds->AddPage();
    second->m_palette.Set(m.palette);
    for (CPage* p : {m.page, second}) {
      CBog* bog = p->AddBog();
      for (int k = 0; k < 4; ++k) {
        CBdButton* b = bog->AddButton();
        for (auto& s : b->m_states) {
          CGraphicObject* g = m.Graphic(1920, 540);
          s.m_start.Set(g);
          s.m_end.Set(g);
        }
      }
      bog->m_defaultButton.Set(bog->GetAt(0));
    }
    CDsData out;
    Lines log;
    EXPECT_FALSE(m.Compile(out, log));
    EXPECT_EQ(log.Count("Page \""), 0) << ::testing::PrintToString(log.lines);
    EXPECT_EQ(log.Count("the player holds 16 MB"), 1) << ::testing::PrintToString(log.lines);
  }
}

// Coded data reaches the decoder through its 1 MiB coded-data buffer at the
// clip's rate: objects of noise (as large coded as decoded) cannot all be
// decoded back to back, so each waits for its data, the first page shows
// once its pictures are there, and the pages whose pictures come later are
// named in a warning.
TEST(IgCompiler, ObjectsWaitForTheirCodedDataAndLatePagesAreWarnedOf) {
  Menu m;
  m.page->SetName("Main");
  CPage* more = m.ds->AddPage();
  more->SetName("More");
  uint32_t seed = 1;
  auto noise = [&](int w, int h) {
    CGraphicObject* g = m.Graphic(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        seed = seed * 1103515245u + 12345u;
        g->m_picture->Row(y)[x] = static_cast<uint8_t>((seed >> 16) % 3);
      }
    return g;
  };
  for (CPage* p : {m.page, more}) {
    p->m_palette.Set(m.palette);
    for (int row = 0; row < 3; ++row) {
      CBdButton* b = m.Button(p, 0, row * 360, noise(1920, 360), noise(1920, 360));
      p->GetAt(static_cast<size_t>(row))->m_defaultButton.Set(b);
    }
  }
  CDsData out;
  Lines log;
  SDsTiming t;
  ASSERT_TRUE(m.Compile(out, log, &t)) << ::testing::PrintToString(log.lines);
  // Every object was delayed past the pure decoding chain at some point...
  int64_t waited = 0;
  for (int64_t w : t.objectWait) waited += w;
  EXPECT_GT(waited, 0);
  // ...the first page shows only after its six objects are decoded...
  std::vector<uint32_t> pts;
  for (const auto& o : out.m_ods)
    if (o->m_sequence.first) pts.push_back(o->m_nPts);
  ASSERT_EQ(pts.size(), 12u);
  EXPECT_GE(t.composition, int64_t{pts[5]});
  EXPECT_EQ(out.m_ics.front()->m_nPts, t.composition);
  // ...decoding never starts before the previous object is done...
  for (size_t k = 1; k < out.m_ods.size(); ++k) {
    if (out.m_ods[k]->m_sequence.first) {
      EXPECT_GE(out.m_ods[k]->m_nDts, out.m_ods[k - 1]->m_nPts);
    }
  }
  // ...and the second page, whose pictures come after the menu shows, is named.
  EXPECT_EQ(log.Count("Page \"More\": its pictures are decoded"), 1) << ::testing::PrintToString(log.lines);
  EXPECT_EQ(log.Count("Page \"Main\": its pictures"), 0);
}
