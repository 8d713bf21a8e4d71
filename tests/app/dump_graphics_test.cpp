// `zelvane dump` of graphics streams: both framings, JSON, pictures.
#include <gtest/gtest.h>

#include <filesystem>

#include "graphics/composition.h"
#include "graphics/graphic_object.h"
#include "graphics/object_coding.h"
#include "graphics/segments.h"
#include "platform/file.h"
#include "support/run_tools.h"
#include "support/test_support.h"

using namespace zv;
using namespace zvtest;
namespace fs = std::filesystem;

namespace {

// A PG display set showing the indexed PNG, then an IG display set with one
// page naming palette 0 and a second object.
void WriteStream(const std::string& path, bool headed, CPicture& shown) {
  CPicture src;
  std::string error;
  ASSERT_TRUE(DecodeImageFile(DataPath("images/indexed_trns.png"), src, error)) << error;
  shown = *ToIndexedImage(src);
  CErgbPalette pal;
  PaletteFromImage(pal, 0.0, shown);
  File f;
  ASSERT_TRUE(f.Open(path, File::kCreate));

  CDsData pg;
  pg.m_pcs = std::make_unique<CPcs>();
  pg.m_pcs->m_composition.video = SVideoDescriptor{720, 576, 3, 0};
  pg.m_pcs->m_objects.resize(1);
  pg.m_wds = std::make_unique<CWds>();
  pg.m_wds->m_windows.resize(1);
  pg.m_pds.push_back(std::make_unique<CPds>());
  PaletteToPds(*pg.m_pds[0], pal);
  std::vector<uint8_t> data = EncodeObject(shown);
  FragmentObject(data.data(), data.size(), 0, pg.m_ods);
  pg.m_end = std::make_unique<CEs>();
  for (const CSegmentBase* s : pg.Segments()) const_cast<CSegmentBase*>(s)->m_nPts = 900000;
  ASSERT_TRUE(WriteDisplaySet(f, pg, headed, nullptr, error)) << error;

  CDsData ig;
  SInteractiveComposition ic;
  ic.pages.resize(1);
  CIcs model;
  model.m_composition.video = SVideoDescriptor{1920, 1080, 1, 0};
  FragmentComposition(WriteComposition(ic), model, ig.m_ics);
  FragmentObject(data.data(), data.size(), 7, ig.m_ods);
  ig.m_end = std::make_unique<CEs>();
  ASSERT_TRUE(WriteDisplaySet(f, ig, headed, nullptr, error)) << error;
  ASSERT_TRUE(f.Close());
}

}  // namespace

TEST(DumpGraphics, BothFramingsTextJsonAndPictures) {
  TempDir dir;
  for (bool headed : {true, false}) {
    std::string path = dir / (headed ? "s.sup" : "s.ies");
    CPicture shown;
    WriteStream(path, headed, shown);
    RunResult r = Zelvane({"dump", path, "--pictures", dir / "pics"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(headed ? "Framing: headed (.sup)\n" : "Framing: raw\n"), std::string::npos);
    EXPECT_NE(r.out.find("DisplaySet 2: \n"), std::string::npos) << r.out;
    // Only the headed framing carries time stamps.
    EXPECT_NE(r.out.find(headed ? "    PTS: 00:00:10:000(900000)\n" : "    PTS: 00:00:00:000(0)\n"), std::string::npos);
    EXPECT_NE(r.out.find("InteractiveComposition: \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("NumberOfPages: 1\n"), std::string::npos) << r.out;

    // Both objects drawn with palette 0, as our own decoding shows them.
    for (const char* name : {"ds001_object00000.png", "ds002_object00007.png"}) {
      CPicture pic;
      std::string error;
      ASSERT_TRUE(DecodeImageFile(dir / "pics/" + name, pic, error)) << error;
      ASSERT_EQ(pic.width, shown.width);
      ASSERT_EQ(pic.height, shown.height);
      for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
          SColor s = shown.At(x, y), d = pic.At(x, y);
          ASSERT_EQ(d.a, s.a) << name << " " << x << "," << y;
          if (s.a == 255) {
            ASSERT_LE(std::abs(d.r - s.r) + std::abs(d.g - s.g) + std::abs(d.b - s.b), 6);
          }
        }
    }

    RunResult j = Zelvane({"dump", path, "--json"});
    ASSERT_EQ(j.status, 0) << j.err;
    EXPECT_EQ(j.out.rfind("{\"file\":", 0), 0u);
    EXPECT_NE(j.out.find("\"SegmentType\":22"), std::string::npos) << j.out.substr(0, 400);
  }
}

TEST(DumpGraphics, DamagedStreamsFailWithTheirPosition) {
  TempDir dir;
  CPicture shown;
  WriteStream(dir / "s.sup", true, shown);
  std::vector<uint8_t> bytes = ReadBytes(dir / "s.sup");
  bytes.resize(bytes.size() - 20);
  WriteBytes(dir / "cut.sup", bytes);
  RunResult r = Zelvane({"dump", dir / "cut.sup"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("DisplaySet 1: \n"), std::string::npos) << "what was read is shown";
  EXPECT_NE(r.err.find("cut.sup\": at byte "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("is cut off"), std::string::npos) << r.err;

  bytes = ReadBytes(dir / "s.sup");
  bytes[10] = 0x33;  // the first segment's type
  WriteBytes(dir / "bad.sup", bytes);
  r = Zelvane({"dump", dir / "bad.sup"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown segment type 0x33"), std::string::npos) << r.err;
}

// An HD menu of two pages with a palette each: every object is drawn with
// the palette of the page that shows it, read as BT.709, and comes out in
// the colours it was made of.
TEST(DumpGraphics, PicturesUseThePaletteOfTheirPageAndTheVideosMatrix) {
  TempDir dir;
  const SColor colours[2][2] = {{{255, 255, 0, 255}, {255, 0, 0, 255}}, {{0, 0, 255, 255}, {255, 0, 255, 255}}};
  CDsData ig;
  SInteractiveComposition ic;
  ic.pages.resize(2);
  CPicture pictures[2];
  for (int p = 0; p < 2; ++p) {
    CPicture& pic = pictures[p];
    pic.Allocate(8, 4, PixelFormat::Indexed8);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) pic.Row(y)[x] = static_cast<uint8_t>(x < 4 ? 0 : 1);
    pic.table.assign(std::begin(colours[p]), std::end(colours[p]));
    pic.tableHasAlpha = true;
    CErgbPalette pal;
    PaletteFromTable(pal, 1.0, pic.table, true, 255);
    auto pds = std::make_unique<CPds>();
    pds->m_nPaletteId = static_cast<uint8_t>(p);
    PaletteToPds(*pds, pal, ColorMatrix::Bt709);
    ig.m_pds.push_back(std::move(pds));
    ic.pages[p].id = static_cast<uint8_t>(p);
    ic.pages[p].paletteIdRef = static_cast<uint8_t>(p);
    ic.pages[p].bogs.resize(1);
    ic.pages[p].bogs[0].defaultButtonIdRef = static_cast<uint16_t>(p);
    ic.pages[p].bogs[0].buttons.resize(1);
    SButton& b = ic.pages[p].bogs[0].buttons[0];
    b.id = static_cast<uint16_t>(p);
    b.normal.startObjectId = b.normal.endObjectId = static_cast<uint16_t>(p + 1);
    std::vector<uint8_t> data = EncodeObject(pic);
    FragmentObject(data.data(), data.size(), static_cast<uint16_t>(p + 1), ig.m_ods);
  }
  CIcs model;
  model.m_composition.video = SVideoDescriptor{1920, 1080, 1, 0};
  model.m_composition.state = 2;
  FragmentComposition(WriteComposition(ic), model, ig.m_ics);
  ig.m_end = std::make_unique<CEs>();
  {
    File f;
    ASSERT_TRUE(f.Open(dir / "m.ies", File::kCreate));
    std::string error;
    ASSERT_TRUE(WriteDisplaySet(f, ig, false, nullptr, error)) << error;
    ASSERT_TRUE(f.Close());
  }
  RunResult r = Zelvane({"dump", dir / "m.ies", "--pictures", dir / "pics"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (int p = 0; p < 2; ++p) {
    CPicture pic;
    std::string error;
    const std::string name = "ds001_object0000" + std::to_string(p + 1) + ".png";
    ASSERT_TRUE(DecodeImageFile(dir / ("pics/" + name), pic, error)) << error;
    for (int x : {0, 7}) {
      const SColor want = pictures[p].At(x, 0), got = pic.At(x, 0);
      EXPECT_LE(std::abs(got.r - want.r), 2) << name << " x " << x;
      EXPECT_LE(std::abs(got.g - want.g), 2) << name << " x " << x;
      EXPECT_LE(std::abs(got.b - want.b), 2) << name << " x " << x;
    }
  }
}

// A stream of very many small display sets is dumped one display set at a
// time: text and JSON come out whole, and the memory held stays that of a
// few display sets, not of the whole stream's tree.
TEST(DumpGraphics, ManyDisplaySetsAreDumpedAsTheyAreRead) {
  TempDir dir;
  {
    CDsData ds;
    ds.m_pcs = std::make_unique<CPcs>();
    ds.m_pcs->m_composition.video = SVideoDescriptor{1920, 1080, 1, 0};
    ds.m_end = std::make_unique<CEs>();
    File f;
    std::string error;
    ASSERT_TRUE(f.Open(dir / "one.sup", File::kCreate));
    ASSERT_TRUE(WriteDisplaySet(f, ds, true, nullptr, error)) << error;
    ASSERT_TRUE(f.Close());
  }
  const std::vector<uint8_t> one = ReadBytes(dir / "one.sup");
  auto make = [&](const std::string& path, int count) {
    std::vector<uint8_t> all;
    all.reserve(one.size() * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) all.insert(all.end(), one.begin(), one.end());
    WriteBytes(path, all);
  };
  // A few: the streamed text and JSON are whole documents.
  make(dir / "few.sup", 3);
  RunResult r = Zelvane({"dump", dir / "few.sup"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Framing: headed (.sup)\nDisplaySet 1: \n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nDisplaySet 3: \n"), std::string::npos) << r.out;
  r = Zelvane({"dump", dir / "few.sup", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"file\":\"" + (dir / "few.sup") + "\",\"type\":\"graphics stream\",\"content\":{"
                        "\"Framing\":\"headed (.sup)\",\"DisplaySet\":[{", 0), 0u) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 4), "]}}\n") << r.out;
  if (HaveProgram("python3")) {
    WriteText(dir / "few.json", r.out);
    const RunResult check = zvtest::Run({"python3", "-c",
                                         "import json,sys; d=json.load(open(sys.argv[1])); "
                                         "assert len(d['content']['DisplaySet'])==3",
                                         dir / "few.json"});
    EXPECT_EQ(check.status, 0) << check.err;
  }
  // Many: 100,000 display sets of 37 bytes each.
  make(dir / "many.sup", 100000);
  for (bool json : {false, true}) {
    std::vector<std::string> args = {"dump", dir / "many.sup"};
    if (json) args.push_back("--json");
    const RunResult run = zvtest::RunWatched(args, nullptr, nullptr);
    ASSERT_EQ(run.status, 0) << run.err;
    const long peakKb = run.peakKb;
    EXPECT_GT(peakKb, 1000);  // measured, not left at zero
    // The sanitizers' own bookkeeping and quarantine outweigh what the dump
    // holds, so the bound means something only in a plain build.
    if (!kSanitizedBuild) {
      EXPECT_LT(peakKb, 120 * 1024) << (json ? "json" : "text");
    }
  }
}

// A damaged stream writes no picture at all, and what DIR held stays.
TEST(DumpGraphics, DamagedStreamWritesNoPictures) {
  TempDir dir;
  CPicture shown;
  WriteStream(dir / "s.sup", true, shown);
  std::vector<uint8_t> bytes = ReadBytes(dir / "s.sup");
  bytes.resize(bytes.size() - 20);  // the second display set is cut off
  WriteBytes(dir / "cut.sup", bytes);
  fs::create_directory(dir / "pics");
  WriteText(dir / "pics/keep.txt", "mine");
  RunResult r = Zelvane({"dump", dir / "cut.sup", "--pictures", dir / "pics"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is cut off"), std::string::npos) << r.err;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir / "pics")) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"keep.txt"});
  // The whole stream: every picture.
  r = Zelvane({"dump", dir / "s.sup", "--pictures", dir / "pics"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "pics/ds001_object00000.png"));
  EXPECT_TRUE(fs::exists(dir / "pics/ds002_object00007.png"));
}
