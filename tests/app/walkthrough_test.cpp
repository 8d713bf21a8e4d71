// The README's walk-through as a user types it: the zelvane binary with
// arguments in, exit status, messages and files out, and the disc opened by
// libbluray through the test client.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::RunResult;

using zvtest::HasLine;

namespace {

const std::string kMedia = std::string(ZV_TEST_DATA) + "/../../demo/media";
const std::string kClient = std::string(ZV_BUILD_DIR) + "/tests/interop/zv_bdclient";

RunResult Zv(std::vector<std::string> args) {
  args.insert(args.begin(), ZV_BINARY);
  return zvtest::Run(args);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t CountLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// The "title N chapter K start S" values of one title, in 90 kHz ticks.
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

// The title that plays `playlist` ("00001"), or -1.
int TitleOfPlaylist(const std::string& info, const std::string& playlist) {
  std::istringstream in(info);
  for (std::string l; std::getline(in, l);)
    if (l.rfind("title ", 0) == 0 && Contains(l, " playlist " + playlist + " ")) return std::stoi(l.substr(6));
  return -1;
}

// Chapter starts libbluray reports for marks on the demo's 5-second grid.
// Marks sit on entry points, whose times the EP map keeps in 512-tick steps
// (the fine part drops the low 9 bits), counted from the clip's in time of
// 54,000,000 ticks; a chapter at 0 is the play item's in time itself.
std::vector<long> FiveSecondChapterStarts() {
  std::vector<long> out;
  for (long k = 0; k < 4; ++k) {
    const long pts = 54000000 + k * 5 * 24 * 90000 * 1001 / 24000;  // frame 120k at 24000/1001
    out.push_back(k == 0 ? 0 : pts / 512 * 512 - 54000000);
  }
  return out;
}

// Every test gets its own settings folder, so builds never touch the user's
// OutFolder.
class Walkthrough : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1); }
  void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

  std::string Media(const std::string& name, const std::string& as = {}) {
    const std::string to = dir_ / (as.empty() ? name : as);
    fs::copy_file(kMedia + "/" + name, to, fs::copy_options::overwrite_existing);
    return to;
  }
  void Ok(const std::vector<std::string>& args) {
    const RunResult r = Zv(args);
    ASSERT_EQ(r.status, 0) << args[0] << "\n" << r.err;
  }

  zvtest::TempDir dir_;
};

// The walk-through of the README, refused inputs included.
TEST_F(Walkthrough, AuthorsADiscThatLibblurayOpens) {
  const std::string p = dir_ / "disc.zvpj";
  const std::string video = Media("movie.264");
  const std::string english = Media("movie_audio_eng.ac3", "english.ac3");
  const std::string french = Media("movie_audio_fra.ac3", "french.ac3");
  const std::string chapters = Media("chapters.csv");
  const std::string trailer = Media("trailer.264");
  const std::string trailerAudio = Media("trailer_audio.ac3");

  Ok({"new", p});
  Ok({"source", "add", p, "Movie#1/Clip#1", video, english, french});
  // Without a language in the file name a track is English until told.
  RunResult show = Zv({"show", p});
  EXPECT_TRUE(Contains(show.out, "Track#3  french.ac3, eng  [enabled, primary, language eng, delay 0]")) << show.out;
  Ok({"set", p, "Movie#1/Clip#1/Track#3", "language=fra"});
  RunResult imported = Zv({"chapters", p, "Movie#1/Title#1/PI#1", "import", chapters});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "imported 4 chapters\n");
  Ok({"clip", "add", p, "Trailers"});
  Ok({"source", "add", p, "Trailers/Clip#1", trailer, trailerAudio});
  RunResult item = Zv({"item", "add", p, "Trailers/Title#1", "Clip#1"});
  ASSERT_EQ(item.status, 0) << item.err;
  EXPECT_EQ(item.out, "Trailers/Title#1/PI#1\n");

  // Refused inputs: one message naming the file or object, status 2, and
  // the project file as it was.
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult notStream = Zv({"source", "add", p, "Movie#1/Clip#1", chapters});
  EXPECT_EQ(notStream.status, 2);
  EXPECT_TRUE(Contains(notStream.err, "Unknown file format! ")) << notStream.err;
  EXPECT_TRUE(Contains(notStream.err, "\"" + chapters + "\" was not added to \"Movie#1/Clip#1\"")) << notStream.err;
  RunResult secondVideo = Zv({"source", "add", p, "Movie#1/Clip#1", trailer});
  EXPECT_EQ(secondVideo.status, 2);
  EXPECT_TRUE(Contains(secondVideo.err, "\"" + trailer + "\": \"Movie#1/Clip#1\" already has a video track"))
      << secondVideo.err;
  RunResult noObject = Zv({"set", p, "Movie#2/Clip#1/Track#3", "language=fra"});
  EXPECT_EQ(noObject.status, 2);
  EXPECT_EQ(noObject.err, "zelvane set: no object \"Movie#2\"; it has: \"Logos\" \"Top Menu\" \"Movie#1\" \"Trailers\" "
                          "\"Movies\"\n");
  zvtest::WriteText(dir_ / "plain-file", "x");
  const std::string blocked = dir_ / "plain-file/out";
  RunResult unwritable = Zv({"build", p, blocked});
  EXPECT_EQ(unwritable.status, 2);
  // The system's text, then why.
  EXPECT_EQ(unwritable.err, "Cannot create " + blocked + "/Zelvane ! \nCannot create \"" + blocked +
                                "/Zelvane\": Not a directory\n");
  EXPECT_EQ(zvtest::ReadBytes(p), before);

  const std::string out = dir_ / "out";
  RunResult built = Zv({"build", p, out});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.out, "\"disc.zvpj\" built sucessfully! \n");
  // The build remembers where it went.
  EXPECT_TRUE(Contains(zvtest::ReadText(dir_ / "config/zelvane/settings.ini"), "OutFolder=" + out));
  // Every dump --json has the same frame around the file's own fields.
  const std::string bdmv = out + "/Zelvane/DISC/BDMV/";
  for (const auto& [file, type] : std::vector<std::pair<std::string, std::string>>{
           {"index.bdmv", "index.bdmv"}, {"MovieObject.bdmv", "MovieObject.bdmv"}, {"PLAYLIST/00000.mpls", "mpls"},
           {"CLIPINF/00000.clpi", "clpi"}, {"../CERTIFICATE/id.bdmv", "id.bdmv"}}) {
    const RunResult dump = Zv({"dump", bdmv + file, "--json"});
    EXPECT_EQ(dump.status, 0) << file;
    EXPECT_EQ(dump.out.rfind("{\"file\":\"" + bdmv + file + "\",\"type\":\"" + type + "\",\"content\":{", 0), 0u)
        << dump.out.substr(0, 200);
  }

  if (!fs::exists(kClient)) GTEST_SKIP() << "no " << kClient << " (configure with -DZV_INTEROP=ON)";
  const RunResult info = zvtest::Run({kClient, "info", out + "/Zelvane/DISC"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(HasLine(info.out, "disc num_titles 2")) << info.out;
  EXPECT_TRUE(HasLine(info.out, "disc_title 1 playlist 00000")) << info.out;  // the movie (logos are empty)
  EXPECT_TRUE(HasLine(info.out, "disc_title 2 playlist 00001")) << info.out;
  const int movie = TitleOfPlaylist(info.out, "00000");
  ASSERT_GE(movie, 0) << info.out;
  EXPECT_EQ(ChapterStarts(info.out, movie), FiveSecondChapterStarts()) << info.out;
  const std::string c = "title " + std::to_string(movie) + " clip 0 stream ";
  EXPECT_TRUE(HasLine(info.out, c + "audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang eng"));
  EXPECT_TRUE(HasLine(info.out, c + "audio 1 coding 0x81 pid 0x1101 format 3 rate 1 aspect 0 subpath 255 lang fra"))
      << info.out;
  const int trailerTitle = TitleOfPlaylist(info.out, "00001");
  ASSERT_GE(trailerTitle, 0);
  EXPECT_TRUE(ChapterStarts(info.out, trailerTitle).empty());
}

// Settings changed with `set` show in `show` and reach the disc.
TEST_F(Walkthrough, SettingsReachShowAndTheDisc) {
  const std::string p = dir_ / "disc.zvpj";
  Ok({"new", p});
  Ok({"source", "add", p, "Movie#1/Clip#1", Media("trailer.264"), Media("trailer_audio.ac3", "a_eng.ac3"),
      Media("trailer_audio.ac3", "b_fra.ac3")});
  Ok({"set", p, "Movie#1", "name=Feature"});
  Ok({"set", p, "Feature/Title#1", "name=Main", "playback=Shuffle", "playback-count=3", "uo.ChapterSearch=1",
      "random-access=yes"});
  Ok({"set", p, "Feature/Main/PI#1", "still=Finite", "still-time=7", "track=3:off", "uo.PauseOn=1", "angles=2"});
  Ok({"set", p, "Feature/IG#1", "timeout=30"});
  Ok({"set", p, "Feature/Clip#1/Track#2", "delay=900"});

  const RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0);
  EXPECT_TRUE(Contains(show.out, "      Main  [id 0]  title: yes, play mode: PlayAll, connection: NonSeamless (1), menu: IG#1\n"
                                 "        playback: Shuffle, count 3, random access: yes, audio mix: yes, lossless bypass: "
                                 "yes, prohibited: ChapterSearch\n"
                                 "        PI#1  story: Clip#1, chapters: 0\n"
                                 "          angles: 2, still: Finite, still time: 7 s, random access: no, prohibited: PauseOn, "
                                 "tracks: 1 on 2 on 3 off\n"))
      << show.out;
  EXPECT_TRUE(Contains(show.out, "IG#1  [id 0]  pop-up, time-out 30 s"));
  EXPECT_TRUE(Contains(show.out, "Track#2  a_eng.ac3, eng  [enabled, primary, language eng, delay 900]"));
  const RunResult json = Zv({"show", p, "--json"});
  EXPECT_TRUE(Contains(json.out, "\"playbackType\":\"Shuffle\",\"playbackCount\":3,\"randomAccess\":true,"
                                 "\"audioMix\":true,\"losslessBypass\":true,\"prohibited\":[\"ChapterSearch\"]"))
      << json.out;
  EXPECT_TRUE(Contains(json.out, "\"angles\":2,\"still\":\"Finite\",\"stillTime\":7,\"randomAccess\":false,"
                                 "\"prohibited\":[\"PauseOn\"],\"tracks\":[{\"track\":1,\"selected\":true},"
                                 "{\"track\":2,\"selected\":true},{\"track\":3,\"selected\":false}]"))
      << json.out;

  // Refused values name the object and the key and change nothing.
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  struct Refusal {
    std::vector<std::string> args;
    std::string message;
  };
  const Refusal refusals[] = {
      {{"Feature/Main", "mode=Sequential"}, "\"Feature/Main\": \"mode=Sequential\": expected PlayAll"},
      {{"Feature/Main", "connection=3"}, "\"Feature/Main\": \"connection=3\": expected 1"},
      // Seamless without break is not built, so it is not offered either.
      {{"Feature/Main", "connection=6"}, "\"Feature/Main\": \"connection=6\": only 1 and 5 are supported"},
      {{"Feature/Main", "playback-count=65536"}, "\"playback-count=65536\": expected a count, 0 to 65535"},
      {{"Feature/Main", "uo.MenuCall=1"}, "\"uo.MenuCall=1\": this user operation cannot be changed"},
      {{"Feature/Main", "uo.Jump=1"}, "\"uo.Jump=1\": no user operation \"Jump\""},
      {{"Feature/Main", "name=Clip#1"}, "\"name=Clip#1\": \"Clip#1\" already has that name"},
      {{"Feature/Main", "name=a/b"}, "\"name=a/b\": a name cannot contain '/'"},
      {{"Feature", "name=trailers"}, "\"name=trailers\": \"Trailers\" already has that name"},
      {{"Feature/Main/PI#1", "angles=10"}, "\"Feature/Main/PI#1\": \"angles=10\": expected 1 to 9 angles"},
      {{"Feature/Main/PI#1", "track=4:on"}, "\"track=4:on\": the clip of this play item has no track 4"},
      {{"Feature/Main/PI#1", "still=Forever"}, "\"still=Forever\": expected No, Finite or Infinite"},
      {{"Feature/IG#1", "timeout=187"}, "\"timeout=187\": expected seconds, 0 (none) to 186"},
      {{"Feature/Clip#1/Track#2", "language=xx"}, "\"language=xx\": \"xx\" is not an ISO 639-2 language code"},
      {{"Feature/Clip#1/Track#4", "enabled=no"}, "\"Clip#1\" has 3 tracks"},
      {{"Feature/Clips", "name=x"}, "\"Feature/Clips\" has no settings"},
      // The first pair applies in memory, the second is refused: nothing is saved.
      {{"Feature/Main", "mode=Separate", "title=maybe"}, "\"title=maybe\": expected yes or no"},
  };
  for (const Refusal& r : refusals) {
    std::vector<std::string> args{"set", p};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const RunResult res = Zv(args);
    EXPECT_EQ(res.status, 2) << r.message;
    EXPECT_TRUE(Contains(res.err, r.message)) << res.err;
    EXPECT_EQ(CountLines(res.err), 1u) << res.err;
  }
  EXPECT_EQ(Zv({"set", p, "Feature/Main"}).status, 64);
  EXPECT_EQ(Zv({"set", p, "Feature/Main", "mode"}).status, 64);
  EXPECT_EQ(zvtest::ReadBytes(p), before);

  const std::string out = dir_ / "out";
  ASSERT_EQ(Zv({"build", p, out}).status, 0);
  // AppInfoPlayList begins at byte 40 of a playlist file: length (4),
  // reserved (1), playback type (1), playback count (2), UO mask (8).
  const std::vector<uint8_t> mpls = zvtest::ReadBytes(out + "/Zelvane/DISC/BDMV/PLAYLIST/00000.mpls");
  ASSERT_GT(mpls.size(), 56u);
  EXPECT_EQ(mpls[45], 3);  // Shuffle
  EXPECT_EQ((mpls[46] << 8) | mpls[47], 3);
  // Bit 2 (chapter search) is byte 0, mask 0x80 >> 2. The movie's pop-up
  // menu is empty, so PopupOn and PopupOff stay as set (clear).
  EXPECT_EQ(mpls[48], 0x20);
  for (int i = 49; i < 56; ++i) EXPECT_EQ(mpls[i], 0) << i;
  EXPECT_EQ(mpls[56] & 0x80, 0x80);  // playlist random access

  if (!fs::exists(kClient)) GTEST_SKIP() << "no " << kClient;
  const RunResult info = zvtest::Run({kClient, "info", out + "/Zelvane/DISC"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(Contains(info.out, "title 0 clip 0 id 00000 ")) << info.out;
  EXPECT_TRUE(Contains(info.out, " still_mode 1")) << info.out;
  // Track 3 (French) is not offered by the play item.
  EXPECT_TRUE(Contains(info.out, "title 0 clip 0 stream audio 0 coding 0x81 pid 0x1100"));
  EXPECT_FALSE(Contains(info.out, "title 0 clip 0 stream audio 1 ")) << info.out;
}

// `zelvane demo` builds the bundled disc into a folder of the user's choice.
TEST_F(Walkthrough, DemoBuildsTheSampleDisc) {
  const std::string out = dir_ / "demo";
  const RunResult demo = Zv({"demo", out});
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_TRUE(Contains(demo.out, "demo disc: " + out + "/Zelvane/DISC\n")) << demo.out;
  // The top menu's background is clip 1 and its menu clip 2; the movie's
  // pop-up menu follows the movie's clip.
  EXPECT_TRUE(Contains(demo.out, "playlist    Top Menu/Title#1  playlist 00001.mpls\n"
                                 "              clip 00001.m2ts: menu_bg.264\n"))
      << demo.out;
  EXPECT_TRUE(Contains(demo.out, "title 1     Movie#1/Title#1  playlist 00002.mpls\n"
                                 "              clip 00003.m2ts: movie.264, movie_audio_eng.ac3 eng, "
                                 "movie_audio_fra.ac3 fra\n"
                                 "              chapter 1  00:00:00:00  Opening\n"))
      << demo.out;
  EXPECT_TRUE(Contains(demo.out, "title 2     Trailers/Title#1  playlist 00003.mpls\n")) << demo.out;
  for (const char* clip : {"00002", "00004"})
    EXPECT_TRUE(fs::exists(out + "/Zelvane/DISC/BDMV/STREAM/" + std::string(clip) + ".m2ts")) << "menu clip " << clip;
  // The analysis went to the copies; the bundled media stay untouched.
  EXPECT_TRUE(fs::exists(out + "/media/movie.264.dsi"));
  EXPECT_FALSE(fs::exists(kMedia + "/movie.264.dsi"));
  // The project it made opens like any other, and builds the same disc.
  EXPECT_EQ(Zv({"show", out + "/demo.zvpj"}).status, 0);
  {
    const std::string again = dir_ / "rebuilt";
    const RunResult rebuilt = Zv({"build", out + "/demo.zvpj", again, "--yes"});
    ASSERT_EQ(rebuilt.status, 0) << rebuilt.err;
    const fs::path a = out + "/Zelvane/DISC", b = again + "/Zelvane/DISC";
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(a)) {
      if (!e.is_regular_file()) continue;
      ++files;
      const fs::path rel = fs::relative(e.path(), a);
      EXPECT_TRUE(zvtest::ReadBytes(e.path().string()) == zvtest::ReadBytes((b / rel).string())) << rel;
    }
    EXPECT_GT(files, 20u);
  }

  // A second run asks before overwriting; without a terminal that is No.
  const RunResult again = Zv({"demo", out});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(Contains(again.err, out + "/Zelvane\n exists, overwrite ? ")) << again.err;
  const RunResult badMedia = Zv({"demo", out, "--media", dir_.Path()});
  EXPECT_EQ(badMedia.status, 2);
  EXPECT_TRUE(Contains(badMedia.err, "does not hold the demo media")) << badMedia.err;

  if (!fs::exists(kClient)) GTEST_SKIP() << "no " << kClient;
  const RunResult info = zvtest::Run({kClient, "info", out + "/Zelvane/DISC"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(HasLine(info.out, "disc num_titles 2")) << info.out;
  EXPECT_TRUE(HasLine(info.out, "disc_title first_play playlist 00000"));
  EXPECT_TRUE(HasLine(info.out, "disc_title top_menu playlist 00001"));
  EXPECT_TRUE(HasLine(info.out, "disc_title 1 playlist 00002"));
  EXPECT_TRUE(HasLine(info.out, "disc_title 2 playlist 00003"));
  EXPECT_EQ(ChapterStarts(info.out, TitleOfPlaylist(info.out, "00002")), FiveSecondChapterStarts()) << info.out;
  EXPECT_TRUE(ChapterStarts(info.out, TitleOfPlaylist(info.out, "00003")).empty());
}

// Runs zelvane and sends SIGINT once a stderr line ends with `trigger`.
RunResult InterruptAt(const std::vector<std::string>& args, const std::string& trigger, bool& sent) {
  sent = false;
  return zvtest::RunWatched(args, nullptr, [&](const std::string& line, pid_t pid) {
    if (!sent && line.ends_with(trigger)) sent = kill(pid, SIGINT) == 0;
  });
}

// Ctrl-C during a build: with --yes it stops at once and leaves what the
// cancel rules say; without a terminal the question is answered No.
TEST_F(Walkthrough, InterruptedBuild) {
  const std::string p = dir_ / "long.zvpj";
  // About seven minutes of video, so multiplexing outlasts the signal.
  const std::string movie = Media("movie.264");
  const std::string big = dir_ / "long.264";
  {
    const std::vector<uint8_t> gops = zvtest::ReadBytes(movie);
    std::ofstream f(big, std::ios::binary);
    for (int i = 0; i < 20; ++i) f.write(reinterpret_cast<const char*>(gops.data()), static_cast<long>(gops.size()));
    ASSERT_TRUE(f.good());
  }
  Ok({"new", p});
  Ok({"source", "add", p, "Logos/Clip#1", Media("logo.264")});
  Ok({"source", "add", p, "Movie#1/Clip#1", big});

  const std::string out = dir_ / "out";
  const std::string bdmv = out + "/Zelvane/DISC/BDMV/";
  bool sent = false;
  const RunResult cancelled = InterruptAt({"build", p, out, "--yes"}, "/STREAM/00001.m2ts", sent);
  ASSERT_TRUE(sent) << cancelled.err;
  EXPECT_EQ(cancelled.status, 1) << cancelled.err;
  // Nothing of a stopped build reaches the disc, not even the logo's clip
  // and playlist finished before the stop, and TEMP is emptied.
  EXPECT_FALSE(fs::exists(bdmv + "STREAM/00000.m2ts"));
  EXPECT_FALSE(fs::exists(bdmv + "PLAYLIST/00000.mpls"));
  EXPECT_TRUE(fs::is_empty(out + "/Zelvane/TEMP"));
  EXPECT_FALSE(fs::exists(bdmv + "STREAM/00001.m2ts"));
  EXPECT_FALSE(fs::exists(bdmv + "CLIPINF/00001.clpi"));
  EXPECT_FALSE(fs::exists(bdmv + "index.bdmv"));
  EXPECT_FALSE(fs::exists(bdmv + "MovieObject.bdmv"));
  EXPECT_FALSE(fs::exists(out + "/Zelvane/DISC/CERTIFICATE/id.bdmv"));
  EXPECT_FALSE(Contains(cancelled.err, "Finalizing..."));

  const std::string out2 = dir_ / "out2";
  const RunResult answeredNo = InterruptAt({"build", p, out2}, "/STREAM/00001.m2ts", sent);
  ASSERT_TRUE(sent);
  EXPECT_EQ(answeredNo.status, 0) << answeredNo.err;
  EXPECT_TRUE(Contains(answeredNo.err, "Really want to stop current build? ")) << answeredNo.err;
  EXPECT_TRUE(fs::exists(out2 + "/Zelvane/DISC/BDMV/STREAM/00001.m2ts"));
  EXPECT_TRUE(fs::exists(out2 + "/Zelvane/DISC/BDMV/index.bdmv"));
  EXPECT_TRUE(fs::exists(out2 + "/Zelvane/DISC/CERTIFICATE/id.bdmv"));
}

// The command list, --help with an example, --version and the usage status
// hold for every command alike.
TEST(Shell, HelpVersionAndUsageOfEveryCommand) {
  const RunResult version = Zv({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "zelvane " ZV_VERSION "\n");
  const RunResult list = Zv({"--help"});
  ASSERT_EQ(list.status, 0);
  EXPECT_EQ(Zv({}).status, 64);
  EXPECT_EQ(Zv({"frobnicate"}).status, 64);

  std::vector<std::string> commands;
  std::istringstream in(list.out.substr(list.out.find("commands:\n") + 10));
  for (std::string l; std::getline(in, l);) {
    if (l.size() < 20) continue;
    std::string name = l.substr(2, l.find("  ", 2) - 2);
    commands.push_back(name);
  }
  // The commands a user meets in the walk-through are all there.
  for (const char* c : {"new", "show", "source add", "chapters", "set", "item add", "build", "demo", "analyse", "dump"})
    EXPECT_NE(std::find(commands.begin(), commands.end(), c), commands.end()) << c;
  for (const std::string& c : commands) {
    std::vector<std::string> words;
    std::istringstream w(c);
    for (std::string word; w >> word;) words.push_back(word);
    std::vector<std::string> help = words;
    help.push_back("--help");
    const RunResult h = Zv(help);
    EXPECT_EQ(h.status, 0) << c;
    EXPECT_TRUE(Contains(h.out, "\nexample:\n  zelvane " + c)) << c << "\n" << h.out;
    std::vector<std::string> bad = words;
    for (const char* a : {"--no-such-option", "a.zvpj", "b", "c"}) bad.push_back(a);
    const RunResult u = Zv(bad);
    EXPECT_EQ(u.status, 64) << c << "\n" << u.err;
    EXPECT_TRUE(Contains(u.err, "unknown option --no-such-option")) << c << "\n" << u.err;
  }
}

}  // namespace
