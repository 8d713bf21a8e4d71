// What a build leaves when it is stopped, fails, runs out of room or is
// killed, what it does with links in the output tree, and two builds into
// one folder: the zelvane binary on real media, the disc checked byte for
// byte and through libbluray and ffmpeg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::RunResult;

namespace {

const std::string kMedia = std::string(ZV_TEST_DATA) + "/../../demo/media";
const std::string kClient = std::string(ZV_BUILD_DIR) + "/tests/interop/zv_bdclient";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every entry below `root`, links not followed: its kind, and the bytes of
// regular files and the target of links.
using Snapshot = std::map<std::string, std::string>;
Snapshot Snap(const std::string& root) {
  Snapshot out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).generic_string();
    const fs::file_status st = fs::symlink_status(it->path());
    if (fs::is_symlink(st)) out[rel] = "link:" + fs::read_symlink(it->path()).string();
    else if (fs::is_directory(st)) out[rel] = "dir";
    else if (fs::is_regular_file(st)) {
      const std::vector<uint8_t> b = zvtest::ReadBytes(it->path().string());
      out[rel] = "file:" + std::string(b.begin(), b.end());
    } else out[rel] = "special";
  }
  return out;
}

RunResult RunZv(const std::vector<std::string>& args, const std::function<void()>& setup,
                const std::function<void(const std::string&, pid_t)>& onLine) {
  return zvtest::RunWatched(args, setup, onLine);
}

RunResult Zv(const std::vector<std::string>& args) { return RunZv(args, nullptr, nullptr); }

// Waits until the file being multiplexed has grown past `bytes`.
void WaitForSize(const std::string& path, uintmax_t bytes) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::error_code ec;
  while (std::chrono::steady_clock::now() < until && fs::file_size(path, ec) < bytes)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The old disc: a logo and a short movie. The new project: a movie long
// enough (about seven minutes) that multiplexing outlasts a signal.
class FailedBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    for (const char* m : {"logo.264", "movie.264", "movie_audio_eng.ac3"})
      fs::copy_file(kMedia + "/" + m, dir_ / m);
    {
      const std::vector<uint8_t> gops = zvtest::ReadBytes(kMedia + "/movie.264");
      std::ofstream f(dir_ / "long.264", std::ios::binary);
      for (int i = 0; i < 20; ++i) f.write(reinterpret_cast<const char*>(gops.data()), static_cast<long>(gops.size()));
    }
    Ok({"new", oldP_});
    Ok({"source", "add", oldP_, "Logos/Clip#1", dir_ / "logo.264"});
    Ok({"source", "add", oldP_, "Movie#1/Clip#1", dir_ / "movie.264", dir_ / "movie_audio_eng.ac3"});
    Ok({"new", newP_});
    Ok({"source", "add", newP_, "Logos/Clip#1", dir_ / "logo.264"});
    Ok({"source", "add", newP_, "Movie#1/Clip#1", dir_ / "long.264"});
  }
  void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

  void Ok(const std::vector<std::string>& args) {
    const RunResult r = Zv(args);
    ASSERT_EQ(r.status, 0) << args[0] << "\n" << r.err;
  }
  std::string Disc() const { return out_ + "/Zelvane/DISC"; }
  std::string Temp() const { return out_ + "/Zelvane/TEMP"; }
  std::string Bdmv() const { return Disc() + "/BDMV/"; }

  // What libbluray and ffmpeg make of the disc: titles, clips, chapters,
  // and the decoded frames of the movie's clip.
  std::string PlayerView() {
    std::string view;
    if (fs::exists(kClient)) {
      const RunResult info = zvtest::Run({kClient, "info", Disc()});
      EXPECT_EQ(info.status, 0) << info.err;
      view += info.out;
    }
    if (zvtest::HaveProgram("ffmpeg")) {
      const RunResult md5 = zvtest::Run({"ffmpeg", "-v", "error", "-i", Bdmv() + "STREAM/00001.m2ts", "-map", "0:v",
                                         "-f", "framemd5", "-"});
      EXPECT_EQ(md5.status, 0) << md5.err;
      EXPECT_TRUE(Contains(md5.out, "0,")) << md5.out;
      view += md5.out;
    }
    return view;
  }

  // Builds the old disc and returns its snapshot; `view` gets its player view.
  Snapshot BuildOld(std::string* view = nullptr) {
    const RunResult r = Zv({"build", oldP_, out_, "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    if (view) *view = PlayerView();
    return Snap(Disc());
  }

  // Rebuilds with the new project and sends `sig` once the movie's clip has
  // grown past 4 MB in the staging folder.
  RunResult RebuildAndSignal(int sig, bool yes, bool& sent) {
    sent = false;
    std::vector<std::string> args = {"build", newP_, out_};
    if (yes) args.push_back("--yes");
    return RunZv(args, nullptr, [&](const std::string& line, pid_t pid) {
      if (sent || line.size() < 18 || line.compare(line.size() - 18, 18, "/STREAM/00001.m2ts") != 0) return;
      EXPECT_TRUE(Contains(line, "/Zelvane/TEMP/")) << line;  // staged, not written into the disc
      WaitForSize(line, 4u << 20);
      kill(pid, sig);
      sent = true;
    });
  }

  zvtest::TempDir dir_;
  const std::string oldP_ = dir_ / "old.zvpj", newP_ = dir_ / "new.zvpj", out_ = dir_ / "out";
};

// A stop by Ctrl-C (answered by --yes), by SIGTERM or by SIGHUP: the
// previous disc is left byte for byte, and TEMP is empty.
TEST_F(FailedBuild, StoppedRebuildLeavesTheOldDiscAndAnEmptyTemp) {
  std::string before;
  const Snapshot old = BuildOld(&before);
  ASSERT_TRUE(old.count("BDMV/STREAM/00001.m2ts"));
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    bool sent = false;
    const RunResult r = RebuildAndSignal(sig, true, sent);
    ASSERT_TRUE(sent) << r.err;
    EXPECT_EQ(r.status, 1) << sig << "\n" << r.err;
    if (sig != SIGINT) {
      EXPECT_TRUE(Contains(r.err, "stopped by a signal")) << sig << "\n" << r.err;
    }
    EXPECT_FALSE(Contains(r.err, "Finalizing...")) << r.err;
    EXPECT_TRUE(Snap(Disc()) == old) << sig;
    EXPECT_TRUE(fs::is_empty(Temp())) << sig;
  }
  EXPECT_EQ(PlayerView(), before);
}

// mux and source add, asked to end by SIGTERM or SIGHUP, stop as a cancel
// does: exit 1, no partial clip and no stream information left, the project
// as it was. What killed runs left (named with a process id that is gone)
// is removed by the next run; a running process's files are left alone.
TEST_F(FailedBuild, SignalledMuxAndSourceAddLeaveNothingBehind) {
  const std::string fresh = dir_ / "fresh.264", p = dir_ / "third.zvpj", o = dir_ / "o.m2ts";
  fs::copy_file(dir_ / "long.264", fresh);  // not analysed yet
  Ok({"new", p});
  const std::vector<uint8_t> project = zvtest::ReadBytes(p);
  auto leftovers = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.Path())) {
      const std::string n = e.path().filename().string();
      if (Contains(n, ".tmp") || Contains(n, "fresh.264.dsi") || Contains(n, "o.m2ts") || Contains(n, "o.clpi"))
        names.push_back(n);
    }
    return names;
  };
  for (int sig : {SIGTERM, SIGHUP}) {
    bool sent = false;
    RunResult r = RunZv({"source", "add", p, "Movie#1/Clip#1", fresh}, nullptr, [&](const std::string& line, pid_t pid) {
      if (!sent && line == "Parsing") {
        kill(pid, sig);
        sent = true;
      }
    });
    ASSERT_TRUE(sent) << r.err;
    EXPECT_EQ(r.status, 1) << sig << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, "stopped by a signal")) << r.err;
    EXPECT_EQ(zvtest::ReadBytes(p), project);
    EXPECT_EQ(leftovers(), std::vector<std::string>{}) << sig;

    sent = false;
    r = RunZv({"mux", o, dir_ / "long.264"}, nullptr, [&](const std::string& line, pid_t pid) {
      if (sent || !Contains(line, "/.o.m2ts.")) return;
      WaitForSize(line, 4u << 20);
      kill(pid, sig);
      sent = true;
    });
    ASSERT_TRUE(sent) << r.err;
    EXPECT_EQ(r.status, 1) << sig << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, "stopped by a signal")) << r.err;
    EXPECT_EQ(leftovers(), std::vector<std::string>{}) << sig;
  }

  // Temporaries of a run that was killed (its process id is gone), and one
  // of a process still running (this test).
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string d = std::to_string(dead), live = std::to_string(getpid());
  const std::vector<std::string> deadFiles = {".o.m2ts." + d + ".0.tmp", ".o.clpi." + d + ".7.tmp",
                                              "fresh.264.dsi.tmp~" + d};
  for (const std::string& n : deadFiles) zvtest::WriteText(dir_ / n, "partial");
  zvtest::WriteText(dir_ / (".o.m2ts." + live + ".0.tmp"), "in use");
  zvtest::WriteText(dir_ / ("fresh.264.dsi.tmp~" + live), "in use");
  Ok({"mux", o, dir_ / "logo.264"});
  Ok({"source", "add", p, "Movie#1/Clip#1", fresh});
  for (const std::string& n : deadFiles) EXPECT_FALSE(fs::exists(dir_ / n)) << n;
  EXPECT_EQ(zvtest::ReadText(dir_ / (".o.m2ts." + live + ".0.tmp")), "in use");
  EXPECT_EQ(zvtest::ReadText(dir_ / ("fresh.264.dsi.tmp~" + live)), "in use");
}

// SIGKILL cannot be caught: the old disc is still whole and plays as before;
// the half-written clip stays in TEMP until the next build empties it.
TEST_F(FailedBuild, KilledRebuildLeavesTheOldDiscPlayable) {
  std::string before;
  const Snapshot old = BuildOld(&before);
  bool sent = false;
  const RunResult r = RebuildAndSignal(SIGKILL, true, sent);
  ASSERT_TRUE(sent) << r.err;
  EXPECT_EQ(r.status, 128 + SIGKILL);
  EXPECT_TRUE(Snap(Disc()) == old);
  EXPECT_TRUE(fs::exists(Temp() + "/DISC/BDMV/STREAM/00001.m2ts"));
  EXPECT_EQ(PlayerView(), before);

  // The next build starts by emptying TEMP, and ends with it empty.
  const RunResult again = Zv({"build", newP_, out_, "--yes"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(fs::is_empty(Temp()));
  EXPECT_GT(fs::file_size(Bdmv() + "STREAM/00001.m2ts"), fs::file_size(dir_ / "long.264"));
}

// A disk that fills up (a file-size limit on the build process) fails the
// build with the file and the reason named, and leaves the old disc.
TEST_F(FailedBuild, DiskFullLeavesTheOldDiscAndAnEmptyTemp) {
  const Snapshot old = BuildOld();
  const RunResult r = RunZv({"build", newP_, out_, "--yes"},
                            [] {
                              signal(SIGXFSZ, SIG_IGN);
                              rlimit lim{8u << 20, 8u << 20};
                              setrlimit(RLIMIT_FSIZE, &lim);
                            },
                            nullptr);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Contains(r.err, "File too large")) << r.err;
  EXPECT_TRUE(Contains(r.err, "00001.m2ts")) << r.err;
  EXPECT_TRUE(Snap(Disc()) == old);
  EXPECT_TRUE(fs::is_empty(Temp()));
}

// The same on a real small file system, where the old disc fits but the
// staged new one does not (needs root to mount it).
TEST_F(FailedBuild, FullFileSystemLeavesTheOldDiscAndAnEmptyTemp) {
  fs::create_directory(out_);
  if (mount("tmpfs", out_.c_str(), "tmpfs", 0, "size=24m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string p;
    ~Unmount() { umount2(p.c_str(), MNT_DETACH); }
  } unmount{out_};
  const Snapshot old = BuildOld();
  const RunResult r = Zv({"build", newP_, out_, "--yes"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Contains(r.err, "No space left on device")) << r.err;
  EXPECT_TRUE(Snap(Disc()) == old);
  EXPECT_TRUE(fs::is_empty(Temp()));
}

// Links in the output tree: a linked STREAM folder is written into and
// purged only of the disc's own stale clips; a linked BACKUP keeps its
// target's folders; links where an output file goes are replaced, and what
// they point to is never written or deleted.
TEST_F(FailedBuild, LinksInTheTreeAreNeverFollowedOut) {
  BuildOld();
  zvtest::TempDir photos, backup, files;
  zvtest::WriteText(photos / "holiday.jpg", "photo");
  zvtest::WriteText(photos / "00007.m2ts", "stale clip of this disc");
  zvtest::WriteText(photos / "00007.M2TS.txt", "not the disc's");
  fs::create_directories(photos / "album/00000.m2ts");
  zvtest::WriteText(photos / "album/inner.jpg", "photo");
  ASSERT_EQ(mkfifo((photos / "00009.m2ts").c_str(), 0600), 0);
  for (const char* f : {"CLIPINF/notes.txt", "PLAYLIST/notes.txt", "other.txt"}) {
    fs::create_directories(fs::path(backup / f).parent_path());
    zvtest::WriteText(backup / f, "mine");
  }
  zvtest::WriteText(files / "index.txt", "precious");
  zvtest::WriteText(files / "clip.txt", "precious");
  zvtest::WriteText(files / "dsi.txt", "precious");

  for (const std::string& folder : {std::string("STREAM"), std::string("BACKUP")}) fs::remove_all(Bdmv() + folder);
  fs::create_directory_symlink(photos.Path(), Bdmv() + "STREAM");
  fs::create_directory_symlink(backup.Path(), Bdmv() + "BACKUP");
  fs::create_symlink(files / "index.txt", Bdmv() + "index.bdmv.new");
  fs::remove(Bdmv() + "index.bdmv");
  fs::rename(Bdmv() + "index.bdmv.new", Bdmv() + "index.bdmv");
  fs::create_symlink(files / "clip.txt", photos / "00000.m2ts");
  fs::remove(dir_ / "movie.264.dsi");
  fs::create_symlink(files / "dsi.txt", dir_ / "movie.264.dsi");
  fs::last_write_time(dir_ / "movie.264", fs::file_time_type::clock::now());  // analysed again

  const RunResult r = Zv({"build", oldP_, out_, "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Compared, not printed: a wrong content here is a whole clip.
  for (const char* f : {"index.txt", "clip.txt", "dsi.txt"}) EXPECT_TRUE(zvtest::ReadText(files / f) == "precious") << f;
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Bdmv() + "index.bdmv")));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(photos / "00000.m2ts")));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / "movie.264.dsi")));
  // The clips went into the linked folder; only the disc's stale clip went.
  EXPECT_TRUE(fs::is_symlink(Bdmv() + "STREAM"));
  EXPECT_GT(fs::file_size(photos / "00001.m2ts"), 0u);
  EXPECT_FALSE(fs::exists(photos / "00007.m2ts"));
  EXPECT_EQ(zvtest::ReadText(photos / "holiday.jpg"), "photo");
  EXPECT_EQ(zvtest::ReadText(photos / "00007.M2TS.txt"), "not the disc's");
  EXPECT_EQ(zvtest::ReadText(photos / "album/inner.jpg"), "photo");
  EXPECT_TRUE(fs::is_directory(photos / "album/00000.m2ts"));
  EXPECT_TRUE(fs::is_fifo(photos / "00009.m2ts"));
  for (const char* f : {"CLIPINF/notes.txt", "PLAYLIST/notes.txt", "other.txt"})
    EXPECT_EQ(zvtest::ReadText(backup / f), "mine") << f;
  EXPECT_EQ(zvtest::ReadBytes(backup / "CLIPINF/00001.clpi"), zvtest::ReadBytes(Bdmv() + "CLIPINF/00001.clpi"));
  EXPECT_TRUE(fs::is_empty(Temp()));
  if (fs::exists(kClient)) {
    const RunResult info = zvtest::Run({kClient, "info", Disc()});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(Contains(info.out, "disc num_titles 1")) << info.out;
  }
}

// A STREAM folder linked to another file system: the clips are staged in
// a folder of their own inside it (no room needed beside TEMP), moved by
// rename, and the staging folder is gone afterwards; a linked CLIPINF on
// that file system is copied into place. Needs root to mount one.
TEST_F(FailedBuild, LinkedFoldersOnAnotherFileSystem) {
  zvtest::TempDir big;
  if (mount("tmpfs", big.Path().c_str(), "tmpfs", 0, "size=64m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string p;
    ~Unmount() { umount2(p.c_str(), MNT_DETACH); }
  } unmount{big.Path()};
  BuildOld();
  fs::create_directories(big / "stream");
  fs::create_directories(big / "clipinf");
  zvtest::WriteText(big / "stream/keep.txt", "mine");
  for (const char* f : {"STREAM", "CLIPINF"}) fs::remove_all(Bdmv() + f);
  fs::create_directory_symlink(big / "stream", Bdmv() + "STREAM");
  fs::create_directory_symlink(big / "clipinf", Bdmv() + "CLIPINF");
  bool sawStaging = false;
  const RunResult r = RunZv({"build", oldP_, out_, "--yes"}, nullptr, [&](const std::string& line, pid_t) {
    if (Contains(line, "/STREAM/.zelvane-temp/00001.m2ts") || Contains(line, "/STREAM/00001.m2ts"))
      sawStaging = sawStaging || fs::exists(big / "stream/.zelvane-temp");
  });
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(sawStaging);
  EXPECT_FALSE(fs::exists(big / "stream/.zelvane-temp"));
  EXPECT_GT(fs::file_size(big / "stream/00001.m2ts"), 0u);
  EXPECT_EQ(zvtest::ReadBytes(big / "clipinf/00001.clpi"), zvtest::ReadBytes(Bdmv() + "BACKUP/CLIPINF/00001.clpi"));
  EXPECT_EQ(zvtest::ReadText(big / "stream/keep.txt"), "mine");
  EXPECT_TRUE(fs::is_empty(Temp()));
  if (fs::exists(kClient)) {
    EXPECT_EQ(zvtest::Run({kClient, "info", Disc()}).status, 0);
  }
}

// A build waits for another one into the same folder, then gives up naming
// the lock; builds run together never mix their files.
TEST_F(FailedBuild, OneBuildAtATimeInAFolder) {
  const Snapshot old = BuildOld();
  {
    zv::CFileLock holder;
    std::string error;
    ASSERT_TRUE(holder.Lock(out_ + "/Zelvane", error)) << error;
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult r = Zv({"build", newP_, out_, "--yes"});
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Contains(r.err, "Cannot lock \"" + out_ + "/Zelvane\": it is in use by another zelvane command"))
        << r.err;
    EXPECT_TRUE(Snap(Disc()) == old);
  }
  // Two builds started together: each either built or was refused by the
  // lock, and the disc is exactly one project's.
  std::string error;
  RunResult a, b;
  std::thread ta([&] { a = Zv({"build", newP_, out_, "--yes"}); });
  std::thread tb([&] { b = Zv({"build", oldP_, out_, "--yes"}); });
  ta.join();
  tb.join();
  for (const RunResult* r : {&a, &b})
    EXPECT_TRUE(r->status == 0 || (r->status == 2 && Contains(r->err, "Cannot lock"))) << r->err;
  ASSERT_TRUE(a.status == 0 || b.status == 0);
  const Snapshot mixed = Snap(Disc());
  const std::string lastOk = a.status == 0 && b.status == 0 ? "" : a.status == 0 ? newP_ : oldP_;
  // Whichever built last, its clip information matches its clip.
  std::vector<std::string> candidates = lastOk.empty() ? std::vector<std::string>{newP_, oldP_}
                                                       : std::vector<std::string>{lastOk};
  bool matched = false;
  for (const std::string& p : candidates) {
    zvtest::TempDir ref;
    const RunResult r = Zv({"build", p, ref.Path(), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    matched = matched || Snap(ref.Path() + "/Zelvane/DISC") == mixed;
  }
  EXPECT_TRUE(matched);
}

TEST_F(FailedBuild, EmptyOutputFolderIsAUsageError) {
  const RunResult r = Zv({"build", oldP_, ""});
  EXPECT_EQ(r.status, 64) << r.err;
  EXPECT_FALSE(fs::exists("Zelvane/DISC"));
}

}  // namespace
