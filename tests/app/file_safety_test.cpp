// The shell never destroys what it was not asked to replace: special files,
// read-only projects, an old clip when a mux is cancelled, another
// command's change to the same project.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <csignal>
#include <fstream>

extern char** environ;

#include "support/test_support.h"

using zvtest::Run;
using zvtest::RunResult;
namespace fs = std::filesystem;

namespace {

RunResult Zv(const std::vector<std::string>& args, const std::string& input = {}) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, input);
}

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

bool IsFifo(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Names in `folder` other than those given.
std::vector<std::string> Others(const std::string& folder, const std::vector<std::string>& known) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string n = e.path().filename().string();
    if (std::find(known.begin(), known.end(), n) == known.end()) out.push_back(n);
  }
  return out;
}

}  // namespace

// A named pipe or a device where a file goes is refused and left as it is,
// by `new --force` and by `mux`; neither blocks on the pipe.
TEST(FileSafety, SpecialFilesAreNeverReplaced) {
  zvtest::TempDir dir;
  const std::string fifo = dir / "p.zvpj";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  RunResult r = Zv({"new", fifo, "--force"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "not a regular file")) << r.err;
  EXPECT_TRUE(IsFifo(fifo));

  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string out = dir / "clip.m2ts";
  ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
  r = Zv({"mux", out, audio, "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "not a regular file")) << r.err;
  EXPECT_TRUE(IsFifo(out));

  // A device node (root may make one): never unlinked, never written.
  const std::string dev = dir / "dev.m2ts";
  if (::mknod(dev.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
    r = Zv({"mux", dev, audio, "--yes"});
    EXPECT_EQ(r.status, 2);
    struct stat st;
    ASSERT_EQ(::lstat(dev.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    r = Zv({"new", dev, "--force"});
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(::lstat(dev.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
  EXPECT_TRUE(Others(dir.Path(), {"p.zvpj", "clip.m2ts", "dev.m2ts", "ac3_stereo.ac3", "ac3_stereo.ac3.dsi"}).empty());
}

// An existing clip is replaced only on a Yes; a No, a cancel or a failure
// leaves the old clip and its clip information exactly as they were, and
// no temporary file behind.
TEST(FileSafety, MuxKeepsTheOldClipUnlessItSucceeds) {
  zvtest::TempDir dir;
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string out = dir / "clip.m2ts", clpi = dir / "clip.clpi";
  zvtest::WriteText(out, "old clip");
  zvtest::WriteText(clpi, "old clip information");
  const std::vector<std::string> known{"clip.m2ts", "clip.clpi", "ac3_stereo.ac3", "ac3_stereo.ac3.dsi", "big.264",
                                       "big.264.dsi"};

  // No terminal: the question is answered No.
  RunResult r = Zv({"mux", out, audio});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "exists. Replace it? ")) << r.err;
  EXPECT_TRUE(zvtest::ReadText(out) == "old clip");
  EXPECT_TRUE(zvtest::ReadText(clpi) == "old clip information");

  // Ctrl-C while multiplexing a longer stream: the old files stay.
  {
    std::ofstream big(dir / "big.264", std::ios::binary);
    const std::vector<uint8_t> one = zvtest::ReadBytes(zvtest::DataPath("h264_576i25.264"));
    // Past the 24 MiB after which the multiplexer first reports progress.
    for (int i = 0; i < 180; ++i) big.write(reinterpret_cast<const char*>(one.data()), static_cast<long>(one.size()));
  }
  ASSERT_EQ(Zv({"analyse", dir / "big.264"}).status, 0);
  {
    // Interrupted as soon as the clip's temporary file appears, that is
    // while it is being written.
    const std::vector<std::string> args{ZV_BINARY, "mux", out, dir / "big.264", "--yes"};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, ZV_BINARY, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    bool seen = false;
    for (int i = 0; i < 2000000 && !seen; ++i) {
      for (const auto& e : fs::directory_iterator(dir.Path())) {
        const std::string n = e.path().filename().string();
        if (n.rfind(".clip.m2ts.", 0) == 0) seen = true;
      }
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(seen);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
  }
  EXPECT_TRUE(zvtest::ReadText(out) == "old clip");
  EXPECT_TRUE(zvtest::ReadText(clpi) == "old clip information");
  EXPECT_TRUE(Others(dir.Path(), known).empty());

  // A Yes replaces both.
  r = Zv({"mux", out, audio, "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(out).size() % 192, 0u);
  EXPECT_TRUE(zvtest::ReadText(clpi).rfind("HDMV", 0) == 0);
  EXPECT_TRUE(Others(dir.Path(), known).empty());
}

// Commands that change one project take turns: eight concurrent `set`s
// each keep their change, and a command that finds the project locked for
// too long says so, naming the lock.
TEST(FileSafety, ConcurrentCommandsOnOneProjectTakeTurns) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  for (int i = 2; i <= 8; ++i) ASSERT_EQ(Zv({"title", "add", p, "Movie#1"}).status, 0);
  const std::string script =
      "for i in 1 2 3 4 5 6 7 8; do\n"
      "  ( \"$0\" set \"$1\" \"Movie#1/Title#$i\" playback-count=$((i * 10)) 2>\"$2/err$i\"; echo $? >\"$2/rc$i\" ) &\n"
      "done; wait";
  RunResult r = zvtest::Run({"sh", "-c", script, ZV_BINARY, p, dir.Path()});
  ASSERT_EQ(r.status, 0);
  for (int i = 1; i <= 8; ++i) {
    EXPECT_EQ(zvtest::ReadText(dir / ("rc" + std::to_string(i))), "0\n") << zvtest::ReadText(dir / ("err" + std::to_string(i)));
  }
  const RunResult show = Zv({"show", p, "--json"});
  ASSERT_EQ(show.status, 0);
  for (int i = 1; i <= 8; ++i)
    EXPECT_TRUE(Contains(show.out, "\"name\":\"Title#" + std::to_string(i) + "\",\"id\":" + std::to_string(i - 1)) &&
                Contains(show.out, "\"playbackCount\":" + std::to_string(i * 10)))
        << i << "\n" << show.out;
  // No temporary file is left beside the project.
  for (const std::string& n : Others(dir.Path(), {"disc.zvpj"})) EXPECT_TRUE(n.rfind("rc", 0) == 0 || n.rfind("err", 0) == 0) << n;

  // Another holder keeps the lock: the command waits, then gives up.
  const int fd = ::open(p.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  r = Zv({"set", p, "Movie#1/Title#1", "playback-count=1"});
  ::close(fd);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "Cannot lock \"" + p + "\": it is in use by another zelvane command")) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(p), before);
}

// A read-only project is refused by every command that would change it,
// with status 2, and stays as it was.
TEST(FileSafety, ReadOnlyProjectIsRefused) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  ASSERT_EQ(::chmod(p.c_str(), 0444), 0);
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  for (const std::vector<std::string>& cmd : std::vector<std::vector<std::string>>{
           {"set", p, "Movie#1/Title#1", "playback-count=3"}, {"movie", "add", p}, {"new", p, "--force"}}) {
    RunResult r = Zv(cmd);
    EXPECT_EQ(r.status, 2) << cmd[0];
    EXPECT_TRUE(Contains(r.err, "read-only")) << r.err;
  }
  EXPECT_EQ(zvtest::ReadBytes(p), before);
  EXPECT_EQ(Zv({"show", p}).status, 0);
}

// Saved through a link, a project stores its paths relative to the folder
// it really lives in, so it opens from either place.
TEST(FileSafety, ProjectSavedThroughALinkOpensFromItsRealPlace) {
  zvtest::TempDir dir;
  fs::create_directory(dir / "real");
  fs::create_directory(dir / "work");
  const std::string real = dir / "real/disc.zvpj", link = dir / "work/disc.zvpj";
  ASSERT_EQ(Zv({"new", real}).status, 0);
  fs::create_symlink(real, link);
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir / "work");
  RunResult r = Zv({"source", "add", link, "Movie#1/Clip#1", audio});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(link));
  for (const std::string& path : {real, link}) {
    r = Zv({"show", path, "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\"sources\":[\"" + audio + "\"]")) << r.out;
    EXPECT_FALSE(Contains(r.err, "needed changes")) << r.err;
  }
}

// Sources are told apart by identity: two files whose names differ in
// letter case are two sources, a link to an added file is that file.
TEST(FileSafety, SourcesAreComparedByIdentity) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  fs::copy_file(zvtest::DataPath("ac3_stereo.ac3"), dir / "X.ac3");
  fs::copy_file(zvtest::DataPath("ac3_mono.ac3"), dir / "x.ac3");
  fs::create_symlink(dir / "X.ac3", dir / "link.ac3");
  RunResult r = Zv({"source", "add", p, "Movie#1/Clip#1", dir / "X.ac3", dir / "x.ac3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Track#2")) << r.out;
  r = Zv({"source", "add", p, "Movie#1/Clip#1", dir / "link.ac3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "link.ac3")) << r.err;
}

// A named pipe as the settings file would block every read of it: it is
// ignored with a warning, and left as it is.
TEST(FileSafety, SettingsFileThatIsNotAFileIsIgnored) {
  if (!zvtest::HaveProgram("timeout")) GTEST_SKIP() << "no timeout program";
  zvtest::TempDir dir;
  fs::create_directories(dir / "config/zelvane");
  const std::string settings = dir / "config/zelvane/settings.ini";
  ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0);
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  RunResult r = zvtest::Run({"env", "XDG_CONFIG_HOME=" + (dir / "config"), "timeout", "20", ZV_BINARY, "build", p, dir / "out",
                     "--yes"});
  EXPECT_NE(r.status, 124) << "the build hung on the settings file";
  EXPECT_TRUE(Contains(r.err, "the settings file was ignored: Cannot open \"" + settings + "\": Not a regular file"))
      << r.err;
  EXPECT_TRUE(IsFifo(settings));
}

// `chapters import` reads a bounded amount of text; `dump` looks at the
// magic before reading a file whole.
TEST(FileSafety, ImportAndDumpRefuseWhatIsNotTheirs) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  ASSERT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", audio}).status, 0);
  const std::string item = "Movie#1/Title#1/PI#1";
  fs::copy_file(audio, dir / "binary.txt");
  RunResult r = Zv({"chapters", p, item, "import", dir / "binary.txt", "--fps", "3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "is not a chapter file: it is not text")) << r.err;
  {
    std::ofstream big(dir / "big.txt");
    for (int i = 0; i < 100000; ++i) big << "00:00:01:00\n";
  }
  r = Zv({"chapters", p, item, "import", dir / "big.txt", "--fps", "3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "is not a chapter file: it is larger than")) << r.err;

  fs::copy_file(audio, dir / "00000.mpls");
  r = Zv({"dump", dir / "00000.mpls"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "not a playlist file (it does not begin with \"MPLS\")")) << r.err;
  fs::copy_file(audio, dir / "index.bdmv");
  r = Zv({"dump", dir / "index.bdmv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "(it does not begin with \"INDX\")")) << r.err;
}
