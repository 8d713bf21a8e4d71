// The build driver through the library: numbering, the output tree, the
// navigation files against hand-computed bytes, rebuilding and purging,
// cancel, and failures that must never end in a success.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "bdnav/movie_objects.h"
#include "build_test_support.h"
#include "model/build.h"
#include "model/navigation.h"
#include "model/project.h"
#include "story_fixture.h"
#include "support/test_support.h"

using namespace zv;
using zvtest::TempDir;
namespace fs = std::filesystem;

namespace {

// Records what the build shows in its progress window; answers 0 (cancel)
// from the first log line containing `cancelAt` on.
class RecordingDialog : public ITaskDialog {
 public:
  Progress Open() override {
    ++opened;
    return Progress{&RecordingDialog::Thunk, this};
  }
  void Close() override { ++closed; }

  std::vector<std::string> log;
  std::string cancelAt;
  int opened = 0, closed = 0;

 private:
  static int Thunk(void* ctx, const SProgressInfo* info) {
    auto* self = static_cast<RecordingDialog*>(ctx);
    if (info->kind == kProgressItem) self->log.push_back(info->item);
    if (self->cancelAt.empty()) return 1;
    for (const auto& line : self->log)
      if (line.find(self->cancelAt) != std::string::npos) return 0;
    return 1;
  }
};

// Type, size and modification time of every entry below `root`, links not
// followed.
using Listing = std::map<std::string, std::tuple<int, int64_t, int64_t>>;
Listing List(const std::string& root) {
  Listing out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    struct stat st;
    EXPECT_EQ(::lstat(it->path().c_str(), &st), 0);
    out[fs::relative(it->path(), root).generic_string()] = {
        static_cast<int>(st.st_mode & S_IFMT), static_cast<int64_t>(st.st_size),
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  }
  return out;
}

std::vector<std::string> Names(const Listing& l) {
  std::vector<std::string> n;
  for (const auto& [k, v] : l) n.push_back(k);
  return n;
}

const std::vector<std::string> kEmptyDiscTree = {
    "DISC",
    "DISC/BDMV",
    "DISC/BDMV/AUXDATA",
    "DISC/BDMV/BACKUP",
    "DISC/BDMV/BACKUP/BDJO",
    "DISC/BDMV/BACKUP/CLIPINF",
    "DISC/BDMV/BACKUP/JAR",
    "DISC/BDMV/BACKUP/MovieObject.bdmv",
    "DISC/BDMV/BACKUP/PLAYLIST",
    "DISC/BDMV/BACKUP/index.bdmv",
    "DISC/BDMV/BDJO",
    "DISC/BDMV/CLIPINF",
    "DISC/BDMV/JAR",
    "DISC/BDMV/META",
    "DISC/BDMV/MovieObject.bdmv",
    "DISC/BDMV/PLAYLIST",
    "DISC/BDMV/STREAM",
    "DISC/BDMV/index.bdmv",
    "DISC/CERTIFICATE",
    "DISC/CERTIFICATE/BACKUP",
    "DISC/CERTIFICATE/BACKUP/id.bdmv",
    "DISC/CERTIFICATE/id.bdmv",
    "TEMP",
};

std::vector<uint8_t> Ascii(const char* s) { return std::vector<uint8_t>(s, s + 4); }
void Put(std::vector<uint8_t>& v, const std::vector<uint8_t>& bytes) { v.insert(v.end(), bytes.begin(), bytes.end()); }
void Zeros(std::vector<uint8_t>& v, size_t n) { v.insert(v.end(), n, 0); }

// index.bdmv of a disc without titles, field by field.
std::vector<uint8_t> EmptyIndexBytes() {
  std::vector<uint8_t> b;
  Put(b, Ascii("INDX"));
  Put(b, Ascii("0200"));
  Put(b, {0, 0, 0, 78});  // indexes start address
  Put(b, {0, 0, 0, 0});   // no extension data
  Zeros(b, 24);           // reserved
  Put(b, {0, 0, 0, 34});  // AppInfoBDMV length
  Zeros(b, 34);           // flags, video format, frame rate, provider data
  Put(b, {0, 0, 0, 26});  // Indexes length: no titles
  Put(b, {0x40, 0, 0, 0, 0x00, 0, 0, 0, 0, 0, 0, 0});  // first playback: HDMV, movie, object 0
  Put(b, {0x40, 0, 0, 0, 0x40, 0, 0, 1, 0, 0, 0, 0});  // top menu: HDMV, interactive, object 1
  Put(b, {0, 0});                                      // title count
  return b;
}

class BuildFixture : public ::testing::Test {
 protected:
  void SetUp() override { project.InitNew(); }
  std::string Root() const { return out.Path() + "/Zelvane"; }
  std::string Bdmv() const { return Root() + "/DISC/BDMV/"; }
  int Build(Answer answer = Answer::Yes) {
    prompt = ScriptedPrompt(answer);
    dialog = RecordingDialog();
    return BuildProject(project, out.Path(), prompt, dialog, nullptr);
  }

  TempDir out;
  CZvObject project;
  ScriptedPrompt prompt;
  RecordingDialog dialog;
};

TEST_F(BuildFixture, EmptyProjectBuildsTheWholeTreeWithNavigationAndCertificate) {
  ASSERT_EQ(Build(), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  EXPECT_TRUE(prompt.questions.empty());  // a new root is not asked about
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(Names(List(Root())), kEmptyDiscTree);

  EXPECT_EQ(zvtest::ReadBytes(Bdmv() + "index.bdmv"), EmptyIndexBytes());

  std::vector<uint8_t> mobj = zvtest::ReadBytes(Bdmv() + "MovieObject.bdmv");
  ASSERT_EQ(mobj.size(), 166u);  // 50 + (4 + 8 x 12) + (4 + 12)
  std::vector<uint8_t> head;
  Put(head, Ascii("MOBJ"));
  Put(head, Ascii("0200"));
  Zeros(head, 4 + 28);     // extension data address, reserved
  Put(head, {0, 0, 0, 122});  // length from offset 44
  Zeros(head, 4);
  Put(head, {0, 2});          // two movie objects
  Put(head, {0, 0, 0, 8});    // object 0: flags, reserved, eight commands
  EXPECT_EQ(std::vector<uint8_t>(mobj.begin(), mobj.begin() + 54), head);
  // Object 1: one command, "JumpTitle 1".
  EXPECT_EQ(std::vector<uint8_t>(mobj.end() - 16, mobj.end()),
            (std::vector<uint8_t>{0, 0, 0, 1, 0x21, 0x81, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));

  std::vector<uint8_t> id;
  Put(id, Ascii("BDID"));
  Put(id, Ascii("0200"));
  Zeros(id, 96);
  EXPECT_EQ(zvtest::ReadBytes(Root() + "/DISC/CERTIFICATE/id.bdmv"), id);

  for (const char* f : {"index.bdmv", "MovieObject.bdmv"})
    EXPECT_EQ(zvtest::ReadBytes(Bdmv() + "BACKUP/" + f), zvtest::ReadBytes(Bdmv() + f)) << f;
  EXPECT_EQ(zvtest::ReadBytes(Root() + "/DISC/CERTIFICATE/BACKUP/id.bdmv"), id);

  // Films without content add no log line; the disc's own check closes the
  // log. A disc without titles keeps the generated jump to title 1, which
  // the check names.
  ASSERT_EQ(dialog.log.size(), 4u);
  EXPECT_TRUE(std::regex_match(dialog.log[0], std::regex(R"(\[\d\d:\d\d:\d\d\]: Start to build\.\.\.)")));
  EXPECT_TRUE(std::regex_match(dialog.log[1], std::regex(R"(\[\d\d:\d\d:\d\d\]: Finalizing\.\.\.)")));
  EXPECT_EQ(dialog.log[2], "  error: BDMV/MovieObject.bdmv (MovieObject 1 command 0) [nav.target] JumpTitle 1: no title 1 (the disc has 0)");
  EXPECT_TRUE(std::regex_match(dialog.log[3],
                               std::regex(R"(\[\d\d:\d\d:\d\d\]: Checked navigation and menus: 1 errors, 0 warnings)")));
  EXPECT_EQ(dialog.opened, 1);
  EXPECT_EQ(dialog.closed, 1);
}

TEST_F(BuildFixture, FilmsWithContentAreLoggedInBuildOrder) {
  zvtest::StoryMedia media;
  media.Fill(*project.m_logos.m_stories.GetAt(0), {"h264_1080p2398.264"});
  media.Fill(*project.m_movies.GetAt(0)->m_stories.GetAt(0), {"h264_1080p2398.264", "ac3_stereo.ac3"});
  ASSERT_EQ(Build(), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  // Each film's line, then its clips with the multiplexer's line naming the file.
  const std::vector<std::string> expected = {"]: Start to build...", "]: Processing Logos:", "Muxing Clip#1:",
                                             "STREAM/00000.m2ts",   "]: Processing Movie#1:", "Muxing Clip#1:",
                                             "STREAM/00001.m2ts",   "]: Finalizing...",
                                             "]: Checked navigation and menus: 0 errors, 0 warnings"};
  size_t at = 0;
  for (const std::string& line : dialog.log)
    if (at < expected.size() && line.find(expected[at]) != std::string::npos) ++at;
  EXPECT_EQ(at, expected.size()) << "missing \"" << (at < expected.size() ? expected[at] : "") << "\"";
  EXPECT_EQ(dialog.log.size(), expected.size());
}

TEST_F(BuildFixture, RebuildPurgesOnlyUnnumberedFilesOfTheClipAndPlaylistFolders) {
  ASSERT_EQ(Build(), kOk);
  // This build numbers one clip (the logo story) and one playlist.
  zvtest::StoryMedia media;
  media.Fill(*project.m_logos.m_stories.GetAt(0), {"h264_1080p2398.264"});
  // Only names the disc owns are purged (five digits and the folder's own
  // extension); BACKUP is purged like the folders it copies.
  const std::vector<std::string> stale = {"STREAM/00001.m2ts", "CLIPINF/00001.clpi", "PLAYLIST/00001.mpls",
                                          "BACKUP/CLIPINF/00001.clpi", "BACKUP/PLAYLIST/00001.mpls"};
  const std::vector<std::string> rewritten = {"BACKUP/CLIPINF/00000.clpi", "BACKUP/PLAYLIST/00000.mpls"};
  for (const auto& f : rewritten) zvtest::WriteText(Bdmv() + f, "old");
  const std::vector<std::string> kept = {"STREAM/00000.M2TS",  "CLIPINF/00000.CLPI", "PLAYLIST/00000.Mpls",
                                         "STREAM/sub/00007.m2ts", "STREAM/notes.txt",   "CLIPINF/00000.m2ts",
                                         "PLAYLIST/00000.clpi", "STREAM/0001.m2ts",    "STREAM/000012.m2ts"};
  const std::vector<std::string> outside = {"DISC/BDMV/JAR/a.jar", "DISC/BDMV/META/DL/x.xml",
                                            "DISC/BDMV/AUXDATA/00001.m2ts", "DISC/BDMV/BDJO/00001.bdjo", "notes.txt",
                                            "DISC/CERTIFICATE/00001.mpls"};
  // TEMP is the build's own: emptied.
  zvtest::WriteText(Root() + "/TEMP/00001.m2ts", "old");
  for (const auto& f : stale) zvtest::WriteText(Bdmv() + f, "old");
  fs::create_directories(Bdmv() + "STREAM/sub");
  for (const auto& f : kept) zvtest::WriteText(Bdmv() + f, "old");
  for (const auto& f : outside) {
    fs::create_directories(fs::path(Root() + "/" + f).parent_path());
    zvtest::WriteText(Root() + "/" + f, "old");
  }
  Listing before = List(Root());

  ASSERT_EQ(Build(Answer::Yes), kOk);
  for (const auto& f : stale) EXPECT_FALSE(fs::exists(Bdmv() + f)) << f;
  for (const auto& f : kept) EXPECT_EQ(zvtest::ReadText(Bdmv() + f), "old") << f;
  for (const auto& f : rewritten) EXPECT_NE(zvtest::ReadText(Bdmv() + f), "old") << f;
  Listing after = List(Root());
  for (const auto& f : outside) EXPECT_EQ(after.at(f), before.at(f)) << f;
  EXPECT_TRUE(fs::is_empty(Root() + "/TEMP"));
}

TEST_F(BuildFixture, CancelStopsBeforeAnyNavigationFileIsWritten) {
  for (const char* at : {"Start to build...", "Finalizing..."}) {
    TempDir fresh;
    ScriptedPrompt p(Answer::Yes);
    RecordingDialog d;
    d.cancelAt = at;
    EXPECT_EQ(BuildProject(project, fresh.Path(), p, d, nullptr), kCancelled) << at;
    EXPECT_EQ(d.closed, 1);
    EXPECT_FALSE(fs::exists(fresh.Path() + "/Zelvane/DISC/BDMV/index.bdmv")) << at;
    EXPECT_FALSE(fs::exists(fresh.Path() + "/Zelvane/DISC/BDMV/MovieObject.bdmv")) << at;
    EXPECT_FALSE(fs::exists(fresh.Path() + "/Zelvane/DISC/CERTIFICATE/id.bdmv")) << at;
  }
}

// Over an earlier disc, a cancel as late as "Finalizing..." and a failure
// found just before the files move (a folder where a playlist goes) leave
// that disc entry for entry, and TEMP empty.
TEST_F(BuildFixture, CancelOrFailureAtTheEndLeavesThePreviousDisc) {
  zvtest::StoryMedia media;
  media.Fill(*project.m_logos.m_stories.GetAt(0), {"h264_1080p2398.264"});
  ASSERT_EQ(Build(), kOk);
  const Listing old = List(Root() + "/DISC");
  media.Fill(*project.m_movies.GetAt(0)->m_stories.GetAt(0), {"h264_1080p2398.264", "ac3_stereo.ac3"});

  prompt = ScriptedPrompt(Answer::Yes);
  dialog = RecordingDialog();
  dialog.cancelAt = "Finalizing...";
  EXPECT_EQ(BuildProject(project, out.Path(), prompt, dialog, nullptr), kCancelled);
  EXPECT_EQ(List(Root() + "/DISC"), old);
  EXPECT_TRUE(fs::is_empty(Root() + "/TEMP"));

  fs::create_directory(Bdmv() + "PLAYLIST/00001.mpls");
  const Listing blocked = List(Root() + "/DISC");
  EXPECT_EQ(Build(Answer::Yes), kFailed);
  EXPECT_EQ(prompt.messages,
            std::vector<std::string>{"Cannot write \"" + Bdmv() + "PLAYLIST/00001.mpls\": Is a directory"});
  EXPECT_EQ(List(Root() + "/DISC"), blocked);
  EXPECT_TRUE(fs::is_empty(Root() + "/TEMP"));
}

// Only regular files with the folder's five-digit names are the disc's.
TEST(BuildFiles, DiscFileNames) {
  EXPECT_TRUE(IsDiscFileName("00000.m2ts", "m2ts"));
  EXPECT_TRUE(IsDiscFileName("99999.mpls", "mpls"));
  for (const char* name : {"0000.m2ts", "000000.m2ts", "0000a.m2ts", "00000.clpi", "00000.m2ts~", "00000m2ts",
                           "00000.m2t", ".m2ts"})
    EXPECT_FALSE(IsDiscFileName(name, "m2ts")) << name;
}

TEST_F(BuildFixture, DiskFullOnANavigationFileLeavesNoFileBehind) {
  ASSERT_EQ(PrepareOutputFolder(Root(), false, prompt), kOk);
  // A file-size limit below the 108 bytes of index.bdmv, in a child so the
  // limit does not reach the rest of the tests.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{64, 64};
    setrlimit(RLIMIT_FSIZE, &lim);
    ScriptedPrompt p;
    bool ok = WriteNavigationFiles(Bdmv(), project, 0, 0, p);
    bool reported = p.messages.size() == 1 && p.messages[0].find("File too large") != std::string::npos &&
                    p.messages[0].find("index.bdmv") != std::string::npos;
    _exit(!ok && reported ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (const auto& [name, entry] : List(Bdmv())) {
    EXPECT_EQ(name.find("index.bdmv"), std::string::npos) << name;
    EXPECT_EQ(name.find("MovieObject"), std::string::npos) << name;
  }
}

TEST_F(BuildFixture, FolderOfTheTreeThatCannotBeCreatedIsReported) {
  fs::create_directories(Root() + "/DISC/BDMV");
  zvtest::WriteText(Root() + "/DISC/BDMV/CLIPINF", "a file where a folder belongs");
  EXPECT_EQ(Build(), kFailed);
  EXPECT_EQ(prompt.messages, std::vector<std::string>{"Cannot create directory: " + Root() + "/DISC/BDMV/CLIPINF !"});
  EXPECT_EQ(dialog.opened, 0);
  EXPECT_FALSE(fs::exists(Bdmv() + "index.bdmv"));
}

TEST_F(BuildFixture, EmptyingBackupNeverFollowsALinkOutOfTheTree) {
  TempDir elsewhere;
  zvtest::WriteText(elsewhere / "precious.txt", "keep");
  zvtest::WriteText(elsewhere / "00003.clpi", "keep");
  ASSERT_EQ(Build(), kOk);
  fs::create_directory_symlink(elsewhere.Path(), Bdmv() + "BACKUP/link");
  ASSERT_EQ(Build(Answer::Yes), kOk);
  // A link is not the disc's: it stays, and nothing it points to is touched.
  EXPECT_TRUE(fs::is_symlink(Bdmv() + "BACKUP/link"));
  EXPECT_EQ(zvtest::ReadText(elsewhere / "precious.txt"), "keep");
  EXPECT_EQ(zvtest::ReadText(elsewhere / "00003.clpi"), "keep");
}

// A sound file with one sound of `samples` bytes (none for 0).
std::vector<uint8_t> SoundFile(size_t samples) {
  CSoundBdmv s;
  if (samples > 0) {
    s.index.entries.resize(1);
    s.index.entries[0].channelConfiguration = 1;
    s.samples.push_back(std::vector<uint8_t>(samples, 0x11));
  }
  std::vector<uint8_t> out;
  EXPECT_TRUE(s.Encode(out));
  return out;
}

TEST_F(BuildFixture, SoundFileIsCopiedOnlyWhenItChanged) {
  TempDir src;
  const std::string sound = src / "Sound.bdmv";
  const std::vector<uint8_t> first = SoundFile(0), second = SoundFile(4);
  zvtest::WriteBytes(sound, first);
  project.m_strSoundPath = sound;
  // Players look for the lower-case name.
  const std::string dest = Bdmv() + "AUXDATA/sound.bdmv";
  ASSERT_EQ(Build(), kOk);
  EXPECT_EQ(zvtest::ReadBytes(dest), first);
  EXPECT_TRUE(IsSameFile(sound, dest));

  // Same size and time: taken as the same file and left alone.
  std::vector<uint8_t> other = first;
  other[20] = 0x55;
  zvtest::WriteBytes(dest, other);
  fs::last_write_time(dest, fs::last_write_time(sound));
  ASSERT_EQ(Build(Answer::Yes), kOk);
  EXPECT_EQ(zvtest::ReadBytes(dest), other);

  zvtest::WriteBytes(sound, second);
  ASSERT_EQ(Build(Answer::Yes), kOk);
  EXPECT_EQ(zvtest::ReadBytes(dest), second);

  project.m_strSoundPath = src / "missing.bdmv";
  EXPECT_EQ(Build(Answer::Yes), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("missing.bdmv"), std::string::npos);
  EXPECT_FALSE(fs::exists(Root() + "/DISC/CERTIFICATE/id.bdmv.tmp~"));
}

TEST_F(BuildFixture, OnlyASoundFileGoesIntoTheDiscAndItLeavesWithTheProjects) {
  TempDir src;
  const std::string sound = src / "Sound.bdmv";
  const std::string dest = Bdmv() + "AUXDATA/sound.bdmv";
  // A file changed into something else after the project was opened: the
  // build fails and the disc stays as it was.
  zvtest::WriteText(sound, "BCLK0200 but not a sound file");
  project.m_strSoundPath = sound;
  EXPECT_EQ(Build(), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].rfind(sound + ": wrong file format! ", 0), 0u) << prompt.messages[0];
  EXPECT_FALSE(fs::exists(dest));
  EXPECT_FALSE(fs::exists(Root() + "/DISC/BDMV/index.bdmv"));

  prompt.messages.clear();
  zvtest::WriteBytes(sound, SoundFile(8));
  ASSERT_EQ(Build(Answer::Yes), kOk);
  EXPECT_EQ(zvtest::ReadBytes(dest), SoundFile(8));
  // The name an earlier build used goes; a link is not the disc's and stays.
  zvtest::WriteBytes(Bdmv() + "AUXDATA/Sound.bdmv", SoundFile(2));
  fs::create_symlink(sound, Bdmv() + "AUXDATA/link.bdmv");
  ASSERT_EQ(Build(Answer::Yes), kOk);
  EXPECT_TRUE(fs::exists(dest));
  EXPECT_FALSE(fs::exists(Bdmv() + "AUXDATA/Sound.bdmv"));

  // The project drops its sound file: the disc's goes at the next build.
  project.m_strSoundPath.clear();
  ASSERT_EQ(Build(Answer::Yes), kOk);
  EXPECT_FALSE(fs::exists(dest));
  EXPECT_TRUE(fs::is_symlink(Bdmv() + "AUXDATA/link.bdmv"));
  EXPECT_EQ(zvtest::ReadBytes(sound), SoundFile(8));
}

TEST(BuildFiles, DeleteFolderTreeKeepsOrRemovesTheFolderItself) {
  TempDir d;
  fs::create_directories(d / "t/x/y");
  zvtest::WriteText(d / "t/x/y/f", "1");
  zvtest::WriteText(d / "t/g", "2");
  fs::permissions(d / "t/x/y", fs::perms::owner_read | fs::perms::owner_exec);  // read-only folder
  EXPECT_TRUE(DeleteFolderTree(d / "t", false));
  EXPECT_TRUE(fs::is_directory(d / "t"));
  EXPECT_TRUE(fs::is_empty(d / "t"));
  EXPECT_TRUE(DeleteFolderTree(d / "t", true));
  EXPECT_FALSE(fs::exists(d / "t"));
}

// --- numbering ---------------------------------------------------------------

class Numbering : public ::testing::Test {
 protected:
  void SetUp() override {
    project.InitNew();
    project.m_movies.CreateChild()->SetFilmType(kFilmMovie);
  }
  CPlObject& Pl(CFilmObject& film, size_t i = 0) { return *film.m_playlists.GetAt(i); }
  CFilmObject& Movie(size_t i) { return *project.m_movies.GetAt(i); }
  CZvObject project;
};

TEST_F(Numbering, NumbersAreDenseInBuildOrder) {
  zvtest::GiveContent(project.m_logos);
  zvtest::GiveContent(project.m_topMenu);
  zvtest::GiveContent(Movie(0));
  CStoryObject* silent = zvtest::GiveContent(Movie(0), false);  // its only track is disabled
  zvtest::GiveContent(Movie(1));
  const SBuildCounts n = AssignNumbers(project);

  EXPECT_EQ(project.m_logos.m_stories.GetAt(1)->m_nClipNumber, 0);
  EXPECT_EQ(project.m_topMenu.m_stories.GetAt(1)->m_nClipNumber, 1);
  EXPECT_EQ(Movie(0).m_stories.GetAt(1)->m_nClipNumber, 2);
  EXPECT_EQ(silent->m_nClipNumber, -1);
  EXPECT_EQ(Movie(1).m_stories.GetAt(1)->m_nClipNumber, 3);
  // The default stories have no tracks, the default menus are empty.
  EXPECT_EQ(Movie(0).m_stories.GetAt(0)->m_nClipNumber, -1);
  EXPECT_EQ(Movie(0).m_menus.GetAt(0)->m_nClipNumber, -1);

  EXPECT_EQ(Pl(project.m_logos).m_nPlaylistNumber, 0);  // Separate with one item
  EXPECT_EQ(Pl(project.m_topMenu).m_nPlaylistNumber, 1);
  EXPECT_EQ(Pl(Movie(0)).m_nPlaylistNumber, 2);
  EXPECT_EQ(Pl(Movie(1)).m_nPlaylistNumber, 3);
  EXPECT_EQ(Pl(project.m_trailers).m_nPlaylistNumber, -1);
  EXPECT_EQ(Pl(project.m_logos).m_nTitleNumber, -1);
  EXPECT_EQ(Pl(project.m_topMenu).m_nTitleNumber, -1);
  EXPECT_EQ(Pl(Movie(0)).m_nTitleNumber, 1);
  EXPECT_EQ(Pl(Movie(1)).m_nTitleNumber, 2);
  EXPECT_EQ(n.clips, 4);
  EXPECT_EQ(n.playlists, 4);
  EXPECT_EQ(n.titles, 2);
}

TEST_F(Numbering, PlayModesUseOneNumberPerPlaylistAndTitlesFollowThem) {
  zvtest::GiveContent(Movie(0));
  zvtest::GiveContent(Movie(0));
  AddStoriesToPlaylist(Pl(Movie(0)), Movie(0).m_stories);  // 3 items now
  ASSERT_EQ(Pl(Movie(0)).GetCount(), 3u);
  Pl(Movie(0)).m_nPlayMode = kSeparateAndPlayAll;
  CPlObject& separate = *Movie(0).m_playlists.CreateChild();
  AddStoriesToPlaylist(separate, Movie(0).m_stories);
  separate.m_nPlayMode = kSeparate;
  separate.m_bHasTitle = false;
  zvtest::GiveContent(Movie(1));
  // A logo marked as a title still gives no title: titles are movies and trailers.
  zvtest::GiveContent(project.m_logos);
  Pl(project.m_logos).m_bHasTitle = true;

  const SBuildCounts n = AssignNumbers(project);
  EXPECT_EQ(Pl(project.m_logos).m_nPlaylistNumber, 0);
  EXPECT_EQ(Pl(project.m_logos).m_nTitleNumber, -1);
  EXPECT_EQ(Pl(Movie(0)).m_nPlaylistNumber, 1);  // 1..4
  EXPECT_EQ(Pl(Movie(0)).m_nTitleNumber, 1);     // 1..4
  EXPECT_EQ(separate.m_nPlaylistNumber, 5);      // 5..7
  EXPECT_EQ(separate.m_nTitleNumber, -1);
  EXPECT_EQ(Pl(Movie(1)).m_nPlaylistNumber, 8);
  EXPECT_EQ(Pl(Movie(1)).m_nTitleNumber, 5);
  EXPECT_EQ(n.playlists, 9);
  EXPECT_EQ(n.titles, 5);

  // The generated index agrees: the title a button jumps to is the one
  // numbered here.
  INDEX_BDMV index;
  MOVIE_OBJECTS mobj;
  ASSERT_TRUE(GenerateNavigation(project, index, mobj));
  ASSERT_EQ(index.titles.size(), 5u);
  const MOVIE_OBJECT& title5 = mobj.objects.at(index.titles[4].movieObjectId);
  EXPECT_EQ(CommandText(title5.commands[9]), "PlayPlaylist 8");
}

}  // namespace
