// A movie disc made entirely with the zelvane commands, opened with
// libbluray through zv_bdclient: titles, chapters, clips and streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

zvtest::RunResult Zelvane(std::vector<std::string> args) {
  args.insert(args.begin(), ZV_BINARY);
  return zvtest::Run(args);
}

void Ok(const std::vector<std::string>& args) {
  const zvtest::RunResult r = Zelvane(args);
  ASSERT_EQ(r.status, 0) << args[0] << " " << (args.size() > 2 ? args[2] : "") << "\n" << r.err;
}

bool HasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (l == line) return true;
  return false;
}

// "title N chapter K start S ..." lines of one title.
std::vector<long> ChapterStarts(const std::string& info, int title) {
  std::vector<long> starts;
  std::istringstream in(info);
  const std::string prefix = "title " + std::to_string(title) + " chapter ";
  for (std::string l; std::getline(in, l);) {
    if (l.rfind(prefix, 0) != 0) continue;
    const size_t at = l.find(" start ");
    if (at != std::string::npos) starts.push_back(std::stol(l.substr(at + 7)));
  }
  return starts;
}

TEST(MovieDiscInterop, TitlesChaptersAndStreamsAsBuilt) {
  zvtest::TempDir dir;
  const std::string d = dir.Path();
  fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
  fs::copy_file(zvtest::DataPath("ac3_stereo.ac3"), d + "/a_eng.ac3");
  fs::copy_file(zvtest::DataPath("ac3_51.ac3"), d + "/b_fre.ac3");
  // Chapters at frames 0, 12 and 36 of the 23.976 fps clip (GOPs of 12 frames).
  zvtest::WriteText(d + "/ch.csv", "FrameRate 23.976\nNonDrop\n00:00:00:00 Start\n00:00:00:12 Two\n00:00:01:12 Three\n");
  const std::string p = d + "/p.zvpj";
  Ok({"new", p});
  Ok({"source", "add", p, "Logos/Clip#1", d + "/v.264"});
  Ok({"source", "add", p, "Movie#1/Clip#1", d + "/v.264", d + "/a_eng.ac3", d + "/b_fre.ac3"});
  Ok({"chapters", p, "Movie#1/Title#1/PI#1", "import", d + "/ch.csv"});
  Ok({"movie", "add", p});
  Ok({"clip", "add", p, "Movie#2"});
  Ok({"source", "add", p, "Movie#2/Clip#1", d + "/v.264", d + "/a_eng.ac3"});
  Ok({"source", "add", p, "Movie#2/Clip#2", d + "/v.264", d + "/a_eng.ac3"});
  Ok({"delete", p, "Movie#2/Title#1"});
  Ok({"title", "add", p, "Movie#2"});
  Ok({"set", p, "Movie#2/Title#2", "mode=Separate"});
  Ok({"clip", "add", p, "Trailers"});
  Ok({"clip", "add", p, "Trailers"});
  Ok({"source", "add", p, "Trailers/Clip#1", d + "/v.264"});
  Ok({"source", "add", p, "Trailers/Clip#2", d + "/v.264", d + "/a_eng.ac3"});
  Ok({"delete", p, "Trailers/Title#1"});
  Ok({"title", "add", p, "Trailers"});
  Ok({"set", p, "Trailers/Title#2", "mode=Separate"});
  // A refused input leaves the project file as it was.
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  EXPECT_EQ(Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/ch.csv"}).status, 2);
  EXPECT_EQ(Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/v.264"}).status, 2);
  EXPECT_EQ(Zelvane({"set", p, "Movie#9/Title#1", "mode=Separate"}).status, 2);
  EXPECT_EQ(zvtest::ReadBytes(p), before);
  Ok({"build", p, d + "/out", "--yes"});
  const std::string disc = d + "/out/Zelvane/DISC";

  // Without BACKUP libbluray cannot fall back silently to the copies.
  fs::copy(disc, d + "/nobackup", fs::copy_options::recursive);
  fs::remove_all(d + "/nobackup/BDMV/BACKUP");
  for (const std::string& root : {disc, d + "/nobackup"}) {
    const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", root});
    ASSERT_EQ(info.status, 0) << info.err;
    // Movie#1 one title, Movie#2 two (Separate), the trailers two.
    EXPECT_TRUE(HasLine(info.out, "disc num_titles 5")) << info.out;
    EXPECT_TRUE(HasLine(info.out, "disc_title first_play playlist 00000"));
    for (int t = 1; t <= 5; ++t)
      EXPECT_TRUE(HasLine(info.out, "disc_title " + std::to_string(t) + " playlist 0000" + std::to_string(t)));
    // The chaptered title: marks on the entry points of frames 0, 12 and 36,
    // each within one frame of the CSV time (the EP map keeps 512-tick steps).
    std::istringstream in(info.out);
    int chaptered = -1;
    for (std::string l; std::getline(in, l);)
      if (l.find(" playlist 00001 ") != std::string::npos) chaptered = std::stoi(l.substr(6));
    ASSERT_GE(chaptered, 0);
    const std::vector<long> starts = ChapterStarts(info.out, chaptered);
    ASSERT_EQ(starts.size(), 3u) << info.out;
    const long frame = 3754;  // 90 kHz ticks of one frame at 23.976 fps
    const long expected[] = {0, 45045, 135135};
    for (size_t i = 0; i < 3; ++i) EXPECT_LE(std::labs(starts[i] - expected[i]), frame) << i;
    const std::string c = "title " + std::to_string(chaptered) + " clip 0 ";
    EXPECT_TRUE(HasLine(info.out, c + "stream video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3 subpath 255 lang -"))
        << info.out;
    EXPECT_TRUE(HasLine(info.out, c + "stream audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang eng"));
    EXPECT_TRUE(HasLine(info.out, c + "stream audio 1 coding 0x81 pid 0x1101 format 6 rate 1 aspect 0 subpath 255 lang fre"));
  }
}

}  // namespace
