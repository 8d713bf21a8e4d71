// Disc images as independent readers see them: libbluray opens the .iso
// with its own UDF reader and must list, read and play the demo disc as it
// does from the folder; udfinfo reads the volume descriptors; 7-Zip lists
// and extracts every file, whose bytes must be the folder's. Two builds of
// one project give the same image, and so does `image` of the built folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

using zvtest::HasLine;

namespace {

const char* const kTime = "2026-01-02T03:04:05Z";
const char* const kLabel = "Zelvane Demo";

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Every regular file below `root` by its relative path, with its size.
std::map<std::string, uintmax_t> FilesBelow(const std::string& root) {
  std::map<std::string, uintmax_t> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = e.file_size();
  return out;
}

// The client's listing with each title's lines keyed by its playlist:
// libbluray numbers titles in the order the playlist folder lists them,
// which is the file system's order for a folder and name order in the image.
std::vector<std::string> ByPlaylist(const std::string& info) {
  std::map<std::string, std::string> playlistOf;
  for (const std::string& l : SplitLines(info)) {
    std::istringstream in(l);
    std::string w, n, p, id;
    if (in >> w >> n >> p >> id && w == "title" && p == "playlist") playlistOf[n] = id;
  }
  std::vector<std::string> out;
  for (const std::string& l : SplitLines(info)) {
    std::istringstream in(l);
    std::string w, n;
    in >> w >> n;
    if (w == "title" && playlistOf.count(n))
      out.push_back("playlist " + playlistOf[n] + l.substr(w.size() + 1 + n.size()));
    else
      out.push_back(l);
  }
  std::sort(out.begin(), out.end());
  return out;
}

class DemoImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    const std::string d = dir_->Path();
    auto r = zvtest::Run({ZV_BINARY, "demo", d + "/demo", "--yes"});
    if (r.status != 0) return void(error_ = "zelvane demo failed:\n" + r.err);
    // Two builds of the project, the second a fresh tree.
    for (const char* n : {"1", "2"}) {
      r = zvtest::Run({"env", "XDG_CONFIG_HOME=" + d + "/config", ZV_BINARY, "build", d + "/demo/demo.zvpj",
                       d + "/out" + n, "--yes", "--image", d + "/build" + n + ".iso", "--time", kTime, "--label",
                       kLabel});
      if (r.status != 0) return void(error_ = "zelvane build --image failed:\n" + r.err);
    }
    disc_ = d + "/out1/Zelvane/DISC";
    image_ = d + "/build1.iso";
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static zvtest::RunResult Client(std::vector<std::string> args) {
    args.insert(args.begin(), ZV_BDCLIENT);
    return zvtest::Run(args);
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, image_;
};

std::unique_ptr<zvtest::TempDir> DemoImage::dir_;
std::string DemoImage::error_, DemoImage::disc_, DemoImage::image_;

TEST_F(DemoImage, LibblurayListsReadsAndPlaysTheImageAsTheFolder) {
  const auto folder = Client({"info", disc_});
  const auto image = Client({"info", image_});
  ASSERT_EQ(folder.status, 0) << folder.err;
  ASSERT_EQ(image.status, 0) << image.err;
  EXPECT_TRUE(HasLine(image.out, "disc bluray_detected 1")) << image.out;
  EXPECT_EQ(ByPlaylist(folder.out), ByPlaylist(image.out));

  // Every playlist's clip read through libbluray.
  int read = 0;
  for (const auto& [name, size] : FilesBelow(disc_ + "/BDMV/PLAYLIST")) {
    const std::string pl = name.substr(0, 5);
    const std::string a = dir_->Path() + "/f" + pl + ".m2ts", b = dir_->Path() + "/i" + pl + ".m2ts";
    ASSERT_EQ(Client({"read", "--playlist", disc_, pl, a}).status, 0) << pl;
    ASSERT_EQ(Client({"read", "--playlist", image_, pl, b}).status, 0) << pl;
    const auto bytes = zvtest::ReadBytes(b);
    EXPECT_FALSE(bytes.empty()) << pl;
    EXPECT_TRUE(zvtest::ReadBytes(a) == bytes) << "playlist " << pl << " reads differently from the image";
    ++read;
  }
  EXPECT_EQ(read, 4);

  // The menus run the same: events and every composed menu picture.
  const std::vector<std::string> keys = {"play", "--max-reads", "20000", "--stop-on-repeat", "--press", "down",
                                         "--press", "enter", "--press", "down", "--press", "enter"};
  std::vector<std::string> lines[2];
  const std::string planes[2] = {dir_->Path() + "/planes-folder", dir_->Path() + "/planes-image"};
  const std::string discs[2] = {disc_, image_};
  for (int i = 0; i < 2; ++i) {
    fs::create_directories(planes[i]);
    std::vector<std::string> args = keys;
    args.insert(args.end(), {"--overlay-dir", planes[i], discs[i]});
    const auto r = Client(args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (std::string l : SplitLines(r.out)) {
      const size_t k = l.find(planes[i]);
      if (k != std::string::npos) l.erase(k, planes[i].size());
      lines[i].push_back(l);
    }
  }
  EXPECT_EQ(lines[0], lines[1]);
  const auto pictures = FilesBelow(planes[0]);
  EXPECT_GE(pictures.size(), 2u);
  EXPECT_EQ(pictures, FilesBelow(planes[1]));
  for (const auto& [name, size] : pictures)
    EXPECT_TRUE(zvtest::ReadBytes(planes[0] + "/" + name) == zvtest::ReadBytes(planes[1] + "/" + name)) << name;
}

TEST_F(DemoImage, UdfinfoAndSevenZipReadEveryFile) {
  if (!zvtest::HaveProgram("udfinfo") || !zvtest::HaveProgram("7z"))
    GTEST_SKIP() << "udftools or p7zip-full not installed (scripts/install-deps)";
  const auto info = zvtest::Run({"udfinfo", image_});
  ASSERT_EQ(info.status, 0) << info.err;
  for (const std::string& line : std::vector<std::string>{"udfrev=2.50", std::string("label=") + kLabel,
                                                         "integrity=closed", "accesstype=readonly", "blocksize=2048"})
    EXPECT_TRUE(HasLine(info.out, line)) << line << "\n" << info.out;
  // The anchors at 256, N-256 and N, and both descriptor sequences.
  const uintmax_t n = fs::file_size(image_) / 2048 - 1;
  for (const std::string& line : std::vector<std::string>
       {std::string("start=256, blocks=1, type=ANCHOR"), "start=" + std::to_string(n - 256) + ", blocks=1, type=ANCHOR",
        "start=" + std::to_string(n) + ", blocks=1, type=ANCHOR", std::string("start=32, blocks=16, type=MVDS"),
        std::string("start=48, blocks=16, type=RVDS")})
    EXPECT_TRUE(HasLine(info.out, line)) << line << "\n" << info.out;

  // 7-Zip's listing: every file with its size, and no complaint.
  const auto list = zvtest::Run({"7z", "l", "-slt", image_});
  ASSERT_EQ(list.status, 0) << list.out << list.err;
  EXPECT_EQ(list.out.find("ERRORS"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("WARNINGS"), std::string::npos) << list.out;
  std::map<std::string, uintmax_t> listed;
  std::string path;
  bool folder = false;
  for (const std::string& l : SplitLines(list.out)) {
    if (l.rfind("Path = ", 0) == 0) path = l.substr(7), folder = false;
    if (l == "Folder = +") folder = true;
    if (l.rfind("Size = ", 0) == 0 && !folder && path != image_) listed[path] = std::stoull(l.substr(7));
  }
  const auto files = FilesBelow(disc_);
  EXPECT_EQ(listed, files);

  // And their bytes, extracted by 7-Zip.
  const std::string out = dir_->Path() + "/extracted";
  const auto x = zvtest::Run({"7z", "x", "-y", "-o" + out, image_});
  ASSERT_EQ(x.status, 0) << x.out << x.err;
  ASSERT_EQ(FilesBelow(out), files);
  for (const auto& [name, size] : files)
    EXPECT_TRUE(zvtest::ReadBytes(disc_ + "/" + name) == zvtest::ReadBytes(out + "/" + name)) << name;
}

TEST_F(DemoImage, OneProjectGivesOneImage) {
  const auto a = zvtest::ReadBytes(image_);
  ASSERT_GT(a.size(), 1u << 20);
  EXPECT_TRUE(a == zvtest::ReadBytes(dir_->Path() + "/build2.iso")) << "two builds gave different images";
  // `image` of the built folder, with the build's label and time, is the same image.
  const std::string again = dir_->Path() + "/again.iso";
  const auto r = zvtest::Run({ZV_BINARY, "image", disc_, again, "--time", kTime, "--label", kLabel});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(a == zvtest::ReadBytes(again)) << "image of the folder differs from the build's";
}

// A project with nothing to play: an image holding the navigation alone,
// and with --image-only no folder beside it.
TEST(EmptyDiscImage, HoldsTheNavigationAndReplacesTheFolder) {
  zvtest::TempDir work;
  const std::string cfg = "XDG_CONFIG_HOME=" + work.Path() + "/config";
  auto r = zvtest::Run({"env", cfg, ZV_BINARY, "new", work / "empty.zvpj"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = zvtest::Run({"env", cfg, ZV_BINARY, "build", work / "empty.zvpj", work / "out", "--yes", "--image",
                   work / "empty.iso", "--image-only"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(work / "out/Zelvane/DISC"));
  r = zvtest::Run({ZV_BDCLIENT, "info", work / "empty.iso"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"disc bluray_detected 1", "disc top_menu_supported 1", "disc num_titles 0"})
    EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
  if (!zvtest::HaveProgram("udfinfo")) GTEST_SKIP() << "udftools not installed";
  r = zvtest::Run({"udfinfo", work / "empty.iso"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The default label is the project's name.
  EXPECT_TRUE(HasLine(r.out, "label=empty")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "udfrev=2.50")) << r.out;
}

}  // namespace
