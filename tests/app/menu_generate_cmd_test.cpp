// Generating menus again: the pictures an earlier run made and no menu uses
// any more are removed, the ones a kept menu uses and the user's stay.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "edit/menu_generate.h"
#include "model/project.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> Pngs(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".png") out.insert(e.path().filename().string());
  return out;
}

// The pictures of the folder the project names (paths are stored as text,
// relative to the project).
std::set<std::string> Referenced(const std::string& project, const std::string& folder) {
  const std::vector<uint8_t> bytes = zvtest::ReadBytes(project);
  const std::string text(bytes.begin(), bytes.end());
  std::set<std::string> out;
  const std::string prefix = fs::path(folder).filename().string() + "/";
  for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
    const size_t end = text.find(".png", at);
    if (end != std::string::npos) out.insert(text.substr(at + prefix.size(), end + 4 - at - prefix.size()));
  }
  return out;
}

// A project of two movies with chapters and two audio tracks each in `dir`.
void MakeProject(const zvtest::TempDir& dir, const std::string& p) {
  const std::string data = ZV_TEST_DATA;
  zvtest::WriteText(dir / "chapters.csv", "FrameRate 23.976\nNonDrop\n00:00:00:00 One\n00:00:00:10 Two\n"
                                          "00:00:00:20 Three\n00:00:01:06 Four\n");
  ASSERT_EQ(zvtest::Zelvane({"new", p}).status, 0);
  ASSERT_EQ(zvtest::Zelvane({"movie", "add", p}).status, 0);
  for (const std::string n : {"1", "2"}) {
    fs::copy_file(data + "/h264_1080p2398.264", dir / ("m" + n + ".264"));
    fs::copy_file(data + "/ac3_stereo.ac3", dir / ("m" + n + "_eng.ac3"));
    fs::copy_file(data + "/ac3_stereo.ac3", dir / ("m" + n + "_deu.ac3"));
    const zvtest::RunResult r = zvtest::Zelvane({"source", "add", p, "Movie#" + n + "/Clip#1", dir / ("m" + n + ".264"),
                                    dir / ("m" + n + "_eng.ac3"), dir / ("m" + n + "_deu.ac3"), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(zvtest::Zelvane({"chapters", p, "Movie#" + n + "/Title#1/PI#1", "import", dir / "chapters.csv"}).status, 0);
  }
}

class QuietDisplay : public zvedit::ISourceDisplay {
 public:
  zv::Progress Callback() override { return {}; }
  void SetFrames(int64_t) override {}
  void Finish() override {}
  void Message(const std::string&) override {}
  void Listing(const std::string&) override {}
};

}  // namespace

// Menus are drawn, and the movies' chapter pictures decoded (one video on
// each thread rather than one video on the decoder's threads), on several
// threads at once: the pictures and the project are the same byte for byte
// as one thread makes them.
TEST(MenuGenerate, OneOrTwoDrawingThreadsMakeTheSameMenus) {
  zvtest::TempDir one, two;
  MakeProject(one, one / "p.zvpj");
  if (HasFatalFailure()) return;
  for (const auto& e : fs::directory_iterator(one.Path())) fs::copy(e.path(), two / e.path().filename().string());
  std::map<std::string, std::vector<uint8_t>> made[2];
  std::vector<uint8_t> saved[2];
  for (int threads = 1; threads <= 2; ++threads) {
    const zvtest::TempDir& dir = threads == 1 ? one : two;
    zv::CZvObject project;
    zv::ScriptedPrompt prompt(zv::Answer::Yes);
    bool modified = false;
    std::string error;
    ASSERT_EQ(zv::OpenProjectFile(dir / "p.zvpj", project, prompt, {}, modified, error), zv::kOk) << error;
    zvedit::SGenerateOptions options;
    options.templateFolders = {std::string(ZV_TEST_DATA) + "/../../templates"};
    options.pictureFolder = dir / "p-menus";
    options.threads = threads;
    QuietDisplay display;
    zvedit::SGenerateReport report;
    ASSERT_EQ(zvedit::GenerateMenus(project, options, display, prompt, report, error), zv::kOk) << error;
    EXPECT_EQ(report.menus, 3);
    ASSERT_EQ(zv::SaveProjectFile(dir / "p.zvpj", project, error), zv::kOk) << error;
    saved[threads - 1] = zvtest::ReadBytes(dir / "p.zvpj");
    for (const auto& e : fs::directory_iterator(dir / "p-menus"))
      if (e.path().extension() == ".png") made[threads - 1][e.path().filename().string()] = zvtest::ReadBytes(e.path());
  }
  EXPECT_GT(made[0].size(), 50u);
  EXPECT_TRUE(made[0] == made[1]) << made[0].size() << " and " << made[1].size() << " pictures";
  EXPECT_TRUE(saved[0] == saved[1]);
}

TEST(MenuGenerate, GeneratingAgainRemovesItsOwnPicturesThatNoMenuUses) {
  zvtest::TempDir dir;
  const std::string p = dir / "p.zvpj", folder = dir / "p-menus";
  const std::string data = ZV_TEST_DATA;
  fs::copy_file(data + "/h264_1080p2398.264", dir / "m.264");
  fs::copy_file(data + "/ac3_stereo.ac3", dir / "m_eng.ac3");
  fs::copy_file(data + "/ac3_stereo.ac3", dir / "m_deu.ac3");
  zvtest::WriteText(dir / "chapters.csv", "FrameRate 23.976\nNonDrop\n00:00:00:00 One\n00:00:00:10 Two\n"
                                          "00:00:00:20 Three\n00:00:01:06 Four\n");
  ASSERT_EQ(zvtest::Zelvane({"new", p}).status, 0);
  zvtest::RunResult r = zvtest::Zelvane({"source", "add", p, "Movie#1/Clip#1", dir / "m.264", dir / "m_eng.ac3", dir / "m_deu.ac3", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(zvtest::Zelvane({"chapters", p, "Movie#1/Title#1/PI#1", "import", dir / "chapters.csv"}).status, 0);

  r = zvtest::Zelvane({"menu", "generate", p, "Top Menu/IG#1", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::set<std::string> first = Pngs(folder);
  EXPECT_EQ(Referenced(p, folder), first);
  // The user's own files stay, even one named like a generated picture.
  fs::copy_file(data + "/images/rgba.png", folder + "/mine.png");
  fs::copy_file(data + "/images/rgba.png", folder + "/top-9999.png");

  // Chapter buttons without pictures: other pictures under the same names.
  r = zvtest::Zelvane({"menu", "generate", p, "Top Menu/IG#1", "--yes", "--no-thumbnails"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::set<std::string> now = Pngs(folder);
  EXPECT_TRUE(now.count("mine.png") && now.count("top-9999.png"));
  EXPECT_TRUE(now.count("background.png"));
  now.erase("mine.png");
  now.erase("top-9999.png");
  EXPECT_EQ(now, Referenced(p, folder));

  // A top menu of title buttons only needs fewer pictures; the pop-up menu
  // is kept as it is, with its pictures.
  const std::set<std::string> before = Referenced(p, folder);
  r = zvtest::Zelvane({"menu", "generate", p, "Top Menu/IG#1", "--yes", "--no-popups", "--pages", "titles"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::set<std::string> used = Referenced(p, folder);
  int popup = 0;
  for (const std::string& f : before) popup += f.rfind("popup", 0) == 0 && used.count(f);
  EXPECT_GT(popup, 0);
  now = Pngs(folder);
  for (const std::string& f : used) EXPECT_TRUE(now.count(f)) << f << " is used and was removed";
  for (const std::string& f : now) EXPECT_TRUE(used.count(f) || f == "mine.png" || f == "top-9999.png") << f << " stayed";
  auto tops = [](const std::set<std::string>& files) {
    int n = 0;
    for (const std::string& f : files) n += f.rfind("top-", 0) == 0 && f != "top-9999.png";
    return n;
  };
  EXPECT_GT(tops(now), 0);
  EXPECT_LT(tops(now), tops(first));
}
