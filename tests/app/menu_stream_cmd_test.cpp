// Menus as streams through the shell: `menu compile` prints the log and
// fails on errors only, `menu export` writes the IES file and its index
// that `dump` reads, `menu import-stream` rebuilds a menu (and changes
// nothing when it cannot); and the graphics stream parser accepts what the
// compiler writes as an interactive-graphics stream.
#include <gtest/gtest.h>

#include "graphics/ig_compiler.h"
#include "platform/file.h"
#include "streams/gs_parser.h"
#include "streams/stream_context.h"
#include "support/test_support.h"

using zvtest::Run;
using zvtest::RunResult;

namespace {

RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::string M = "Movie#1/IG#1";
const std::string P = M + "/Epoch#1/DisplaySet#1/Page#1";

// A project whose movie has a 1080p 23.976 video and whose pop-up menu has
// two single-button BOGs showing a 48 x 32 picture.
std::string MenuProject(const zvtest::TempDir& dir) {
  const std::string p = dir / "disc.zvpj";
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string img = std::string(ZV_TEST_DATA) + "/images/rgba.png";
  EXPECT_EQ(Zv({"new", p}).status, 0);
  RunResult src = Zv({"source", "add", p, "Movie#1/Clip#1", video});
  EXPECT_EQ(src.status, 0) << src.err;
  EXPECT_EQ(Zv({"page", "add", p, M}).status, 0);
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(Zv({"bog", "add", p, P}).status, 0);
    EXPECT_EQ(Zv({"button", "add", p, P + "/Bog#" + std::to_string(i)}).status, 0);
  }
  EXPECT_EQ(Zv({"graphic", "add", p, M, img}).status, 0);
  RunResult s1 = Zv({"set", p, P + "/Bog#1/Button#1", "normal=rgba.png", "selected=rgba.png,rgba.png", "x=100",
                     "y=40", "commands=JumpTitle 1"});
  EXPECT_EQ(s1.status, 0) << s1.err;
  EXPECT_EQ(Zv({"set", p, P + "/Bog#2/Button#2", "normal=rgba.png", "x=300", "y=40"}).status, 0);
  return p;
}

}  // namespace

TEST(MenuStreamCommands, CompilePrintsTheLogAndFailsOnlyOnErrors) {
  zvtest::TempDir dir;
  const std::string p = MenuProject(dir);
  RunResult ok = Zv({"menu", "compile", p, M});
  ASSERT_EQ(ok.status, 0) << ok.err << ok.out;
  EXPECT_TRUE(Has(ok.out, " Epoch#1...\n")) << ok.out;
  EXPECT_TRUE(Has(ok.out, "   Warning:no palette defined, will get from image automatically.\n"));
  EXPECT_TRUE(Has(ok.out, "       Warning:Action has no graphics\n"));
  EXPECT_TRUE(Has(ok.out, "   rgba.png...\n"));
  EXPECT_TRUE(Has(ok.out, M + ": compiled, "));
  EXPECT_FALSE(Has(ok.out, "Error:"));

  // Overlapping buttons of two BOGs stop it; the project is left alone.
  ASSERT_EQ(Zv({"set", p, P + "/Bog#2/Button#2", "x=120"}).status, 0);
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult bad = Zv({"menu", "compile", p, M});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Has(bad.out, "   Error:Buttons of different group overlapped (Button#1 - Button#2)\n")) << bad.out;
  EXPECT_TRUE(Has(bad.out, M + ": stopped by an error"));
  EXPECT_EQ(zvtest::ReadBytes(p), before);

  EXPECT_EQ(Zv({"menu", "compile", p, "Movie#1/Clip#1"}).status, 2);
  EXPECT_EQ(Zv({"menu", "compile", p}).status, 64);
  RunResult empty = Zv({"menu", "compile", p, "Top Menu/IG#1"});
  EXPECT_EQ(empty.status, 2);
}

TEST(MenuStreamCommands, ExportDumpAndImportBack) {
  zvtest::TempDir dir;
  const std::string p = MenuProject(dir);
  const std::string ies = dir / "menu.ies";
  RunResult ex = Zv({"menu", "export", p, M, ies, "--index"});
  ASSERT_EQ(ex.status, 0) << ex.err;
  EXPECT_EQ(ex.out, ies + "\n" + ies + ".mui\n");
  EXPECT_EQ(zvtest::ReadBytes(ies + ".mui").size(), 4u + 4 * 14 + 14);

  RunResult dump = Zv({"dump", ies});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_TRUE(Has(dump.out, "Framing: raw"));
  EXPECT_TRUE(Has(dump.out, "SegmentType: 0x18(24)"));
  EXPECT_TRUE(Has(dump.out, "FrameRate: 1(23.976)"));
  EXPECT_TRUE(Has(dump.out, "ObjectWidth: 48"));
  EXPECT_TRUE(Has(dump.out, "NumberOfBogs: 2"));

  // Into a second menu; its pictures come from the stream, also when the
  // project is opened again.
  ASSERT_EQ(Zv({"ig", "add", p, "Movie#1"}).status, 0);
  RunResult imp = Zv({"menu", "import-stream", p, "Movie#1/IG#2", ies});
  ASSERT_EQ(imp.status, 0) << imp.err;
  EXPECT_EQ(imp.out, "Movie#1/IG#2: 1 epoch, 1 display set, 1 page, 2 buttons, 1 graphic (1920x1080 23.976)\n");
  RunResult show = Zv({"show", p});
  EXPECT_TRUE(Has(show.out, "Graphic#0  [id 0]  48x32  (in memory)")) << show.out;
  const std::string again = dir / "again.ies";
  RunResult ex2 = Zv({"menu", "export", p, "Movie#1/IG#2", again});
  ASSERT_EQ(ex2.status, 0) << ex2.err;
  // The page palette was made from the picture; the imported menu carries
  // it as the page's own, its colours converted to RGB and back. Everything
  // else is the same.
  zv::CGsData a, b;
  for (auto [file, data] : {std::pair{ies, &a}, std::pair{again, &b}}) {
    zv::File f;
    ASSERT_TRUE(f.Open(file, zv::File::kRead));
    zv::CFileInput in(f);
    std::string error;
    ASSERT_TRUE(zv::ReadGsData(in, false, *data, error)) << error;
    ASSERT_EQ(data->m_epochs.size(), 1u);
    ASSERT_EQ(data->m_epochs[0]->m_displaySets.size(), 1u);
  }
  const zv::CDsData& x = *a.m_epochs[0]->m_displaySets[0];
  const zv::CDsData& y = *b.m_epochs[0]->m_displaySets[0];
  EXPECT_EQ(x.Composition(), y.Composition());
  ASSERT_EQ(x.m_ods.size(), y.m_ods.size());
  for (size_t i = 0; i < x.m_ods.size(); ++i) EXPECT_EQ(x.m_ods[i]->Bytes(), y.m_ods[i]->Bytes());
  ASSERT_EQ(x.m_pds.size(), 1u);
  ASSERT_EQ(y.m_pds.size(), 1u);
  EXPECT_EQ(x.m_pds[0]->m_entries.size(), y.m_pds[0]->m_entries.size());

  // A file that is not a stream changes nothing.
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult bad = Zv({"menu", "import-stream", p, "Movie#1/IG#2", p});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Has(bad.err, "unknown segment type")) << bad.err;
  EXPECT_EQ(Zv({"menu", "import-stream", p, "Movie#1/IG#2", dir / "missing.ies"}).status, 2);
  EXPECT_EQ(zvtest::ReadBytes(p), before);
}

TEST(MenuStreamCommands, TheGraphicsStreamParserReadsTheCompiledStream) {
  zv::CIgObject ig;
  ASSERT_TRUE(ig.SetVideoFormat(5));
  zv::CEpoch* epoch = ig.AddEpoch();
  zv::CDisplaySet* ds = epoch->AddDisplaySet();
  ds->m_nStreamModel = 1;
  zv::CPage* page = ds->AddPage();
  auto g = std::make_unique<zv::CGraphicObject>();
  g->SetImageFile(std::string(ZV_TEST_DATA) + "/images/rgba.png");
  zv::CGraphicObject* graphic = epoch->m_graphics.Add(std::move(g));
  graphic->m_nId = 0;
  zv::CBdButton* b = page->AddBog()->AddButton();
  b->m_states[0].m_start.Set(graphic);
  b->m_states[0].m_end.Set(graphic);

  zvtest::TempDir dir;
  const std::string path = dir / "menu.ig";
  {
    zv::File f;
    ASSERT_TRUE(f.Open(path, zv::File::kCreate));
    std::string error;
    ASSERT_TRUE(ig.WriteStream(f, nullptr, false, {}, true, error)) << error;
  }
  zv::SSourceParams src;
  src.path = path;
  zv::SStreamContext ctx;
  ASSERT_EQ(zv::OpenStream(src, ctx, {}, nullptr), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctIg);
  auto* rec = dynamic_cast<zv::SGsSif*>(ctx.sif.get());
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->type, zv::kSctIg);
  EXPECT_EQ(rec->width, 1920);
  EXPECT_EQ(rec->height, 1080);
  EXPECT_EQ(rec->frameRate, 1);
  EXPECT_EQ(rec->streamModel, 1);
  EXPECT_FALSE(rec->IsMultiplexedGraphics());
  // One unit per segment: ICS, PDS, ODS, END.
  EXPECT_EQ(ctx.header.auCount, 4u);
}
