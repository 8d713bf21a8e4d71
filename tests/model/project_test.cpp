#include <gtest/gtest.h>

#include <filesystem>

#include "../named/le_bytes.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/file.h"
#include "support/test_support.h"

using namespace zv;
using zvtest::LeBytes;
namespace fs = std::filesystem;

namespace {

// --- expected records, field by field ---------------------------------------

void Story(LeBytes& b, const std::string& name, int32_t id) {
  b.str(name).i32(id).u8(0)  // name, id, byte 0
      .i32(0).i32(0).i32(-1)  // three reserved values
      .u32(0)                 // sources
      .u32(0);                // tracks
}

void Item(LeBytes& b, int32_t storyId) {
  b.str("").i32(-1).u8(0).i32(storyId)  // unnamed item, byte 0, story id
      .u8(1)                            // angles
      .i32(0).i32(-1)                   // reserved values
      .u8(0).u8(0).u16(0)               // random access, still mode, still time
      .u8(1)                            // connection
      .u8(0).u8(1)                      // reserved flags
      .zeros(8)                         // UO mask
      .u8(0).u8(0).u32(0)               // chapters: version, fps code, count
      .u8(0).u32(0);                    // stream selection: byte 0, count
}

void Playlist(LeBytes& b, bool title, uint8_t mode, int32_t menuId, int items, int32_t storyId) {
  b.str("Title#1").i32(0).u8(1)        // name, id, version
      .u8(title).u8(mode).i32(menuId)  // has title, play mode, menu id
      .u8(1).u16(0)                    // playback type, count
      .u8(0).u8(1).u8(1)               // random access, audio mix, lossless bypass
      .u8(1)                           // connection
      .zeros(8)                        // UO mask
      .str("Title#1").i32(0).u32(static_cast<uint32_t>(items));
  for (int i = 0; i < items; ++i) Item(b, storyId);
}

void Menu(LeBytes& b, bool commandMode, bool popup, uint16_t timeout) {
  b.str("IG#1").i32(0).u8(0).str("")               // name, id, byte 0, source path
      .u8(0).u8(commandMode).u8(popup).u8(1)       // byte 0, command mode, pop-up, out of mux
      .i32(128).u16(timeout).i32(0).i32(0)         // language ("eng"), time-out, reserved
      .u8(0).u16(1)                                // format byte, epoch counter
      .u16(0).u16(0).u8(0).u8(0).u8(0)             // video descriptor, wide screen
      .u32(1)                                      // epochs
      .str("Epoch#1").i32(0).u32(1)                // epoch array
      .str("DisplaySet#1").i32(0).u32(0)           // display set: no pages
      .u8(1).u8(popup)                             // stream model, UI model
      .zeros(16)                                   // composition and selection time-outs
      .u32(popup ? timeout * 90000u : 0)           // user time-out duration
      .str("").i32(0).u8(2)                        // text, start frame, Epoch Start
      .u16(1)                                      // display-set counter
      .str("Graphics").i32(-1).u32(0).u32(0)       // empty graphics folder
      .str("Palettes").i32(-1).u32(0);             // no palettes
}

void Group(LeBytes& b, const std::string& name, int32_t nextId, uint32_t count) {
  b.u8(0).i32(nextId).str(name).i32(-1).u32(count);
}

void FilmHead(LeBytes& b, const std::string& name, int32_t id, uint8_t type) {
  b.str(name).i32(id).u16(0).u8(type);
}

std::vector<uint8_t> ExpectedNewProject() {
  LeBytes b;
  b.u32(0x5A56504A).u8(0).u8(1).u32(0);     // header
  b.str("Disc").i32(-1).u8(2).str("");     // name, id, version, sound path
  FilmHead(b, "Logos", -1, 0);
  Group(b, "Clips", 1, 1);
  Story(b, "Clip#1", 0);
  Group(b, "IGs", 0, 0);
  Group(b, "Titles", 1, 1);
  Playlist(b, false, 1, -1, 1, 0);
  FilmHead(b, "Top Menu", -1, 1);
  Group(b, "Clips", 1, 1);
  Story(b, "Background AV", 0);
  Group(b, "IGs", 1, 1);
  Menu(b, false, false, 0);
  Group(b, "Titles", 1, 1);
  Playlist(b, false, 0, 0, 1, 0);
  Group(b, "Movies", 1, 1);
  FilmHead(b, "Movie#1", 0, 2);
  Group(b, "Clips", 1, 1);
  Story(b, "Clip#1", 0);
  Group(b, "IGs", 1, 1);
  Menu(b, true, true, 8);
  Group(b, "Titles", 1, 1);
  Playlist(b, true, 0, 0, 1, 0);
  FilmHead(b, "Trailers", -1, 3);
  Group(b, "Clips", 0, 0);
  Group(b, "IGs", 0, 0);
  Group(b, "Titles", 1, 1);
  Playlist(b, true, 1, -1, 0, 0);
  return b.bytes();
}

std::string Diff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size()) + ", first difference at " +
         std::to_string(i);
}

int Open(const std::string& path, CZvObject& p, bool& modified, std::string& msg) {
  ScriptedPrompt prompt;
  return OpenProjectFile(path, p, prompt, Progress{}, modified, msg);
}

}  // namespace

TEST(Project, NewProjectHoldsTheDefaultContentExactly) {
  CZvObject p;
  p.InitNew();
  std::vector<uint8_t> got = StoreProject(p, "/x/p.zvpj");
  std::vector<uint8_t> want = ExpectedNewProject();
  EXPECT_EQ(got, want) << Diff(got, want);

  // The links behind those ids.
  CFilmObject* movie = p.m_movies.GetAt(0);
  CPlObject* title = movie->m_playlists.GetAt(0);
  EXPECT_EQ(title->m_pMenu, movie->m_menus.GetAt(0));
  EXPECT_EQ(title->GetAt(0)->m_pStory, movie->m_stories.GetAt(0));
  EXPECT_EQ(p.m_trailers.m_playlists.GetAt(0)->GetCount(), 0u);
}

TEST(Project, SaveLoadSaveIsByteIdenticalForTheDefaultProject) {
  zvtest::TempDir dir;
  std::string path = dir / "p.zvpj";
  CZvObject p;
  p.InitNew();
  std::string msg;
  ASSERT_EQ(SaveProjectFile(path, p, msg), kOk) << msg;
  std::vector<uint8_t> first = zvtest::ReadBytes(path);
  EXPECT_EQ(first, ExpectedNewProject());

  CZvObject q;
  bool modified = true;
  ASSERT_EQ(Open(path, q, modified, msg), kOk) << msg;
  EXPECT_FALSE(modified);
  EXPECT_EQ(q.m_movies.GetAt(0)->m_playlists.GetAt(0)->m_pMenu, q.m_movies.GetAt(0)->m_menus.GetAt(0));
  ASSERT_EQ(SaveProjectFile(path, q, msg), kOk) << msg;
  EXPECT_EQ(zvtest::ReadBytes(path), first);
}

TEST(Project, RicherProjectRoundTripsAndSoundPathFollowsAMovedFolder) {
  zvtest::TempDir dir;
  fs::create_directories(dir / "disc/sounds");
  std::vector<uint8_t> emptySound;
  ASSERT_TRUE(CSoundBdmv().Encode(emptySound));
  zvtest::WriteBytes(dir / "disc/sounds/Sound.bdmv", emptySound);
  std::string path = dir / "disc/p.zvpj";

  CZvObject p;
  p.InitNew();
  p.m_strSoundPath = dir / "disc/sounds/Sound.bdmv";
  for (int i = 0; i < 2; ++i) p.m_movies.CreateChild()->SetFilmType(kFilmMovie);
  // Delete Movie#2 and make another: it gets id 3 and the name Movie#4.
  p.m_movies.RemoveAt(1);
  CFilmObject* m4 = p.m_movies.CreateChild();
  m4->SetFilmType(kFilmMovie);
  EXPECT_EQ(m4->m_strName, "Movie#4");
  EXPECT_EQ(m4->m_nId, 3);
  // In Movie#1: a second clip and title, the first clip deleted and made again.
  CFilmObject* m1 = p.m_movies.GetAt(0);
  m1->m_stories.CreateChild();
  CPlObject* t2 = m1->m_playlists.CreateChild();
  AddStoriesToPlaylist(*t2, m1->m_stories);
  t2->m_nPlayMode = kSeparateAndPlayAll;
  t2->m_nConnection = 5;
  CPiObject* item = m1->m_playlists.GetAt(0)->GetAt(0);
  item->m_chapters.m_nFpsCode = 3;
  item->m_chapters.m_points = {{"Start", 1, 0}, {"Scene2", 2, 7500}, {"", 1, -1}};
  // Sources are reopened on load, so the stream must exist.
  fs::create_directories(dir / "disc/media");
  fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), dir / "disc/media/video.264");
  m1->m_stories.GetAt(1)->m_vecSources.push_back(dir / "disc/media/video.264");
  CZvIgObject* ig2 = m1->CreateMenu();
  ig2->m_strSourcePath = dir / "disc/menu.ies";
  EXPECT_EQ(ig2->m_strName, "IG#2");

  std::string msg;
  ASSERT_EQ(SaveProjectFile(path, p, msg), kOk) << msg;
  std::vector<uint8_t> first = zvtest::ReadBytes(path);
  // The sound path is stored relative to the project file.
  LeBytes soundPrefix;
  soundPrefix.u32(0x5A56504A).u8(0).u8(1).u32(0).str("Disc").i32(-1).u8(2).str("./sounds/Sound.bdmv");
  ASSERT_GE(first.size(), soundPrefix.size());
  EXPECT_TRUE(std::equal(soundPrefix.bytes().begin(), soundPrefix.bytes().end(), first.begin()));

  // Move the whole folder; the sound file and the other paths follow.
  fs::rename(dir / "disc", dir / "moved");
  CZvObject q;
  bool modified = true;
  ASSERT_EQ(Open(dir / "moved/p.zvpj", q, modified, msg), kOk) << msg;
  EXPECT_FALSE(modified);
  EXPECT_EQ(q.m_strSoundPath, dir / "moved/sounds/Sound.bdmv");
  ASSERT_EQ(q.m_movies.GetCount(), 3u);
  EXPECT_EQ(q.m_movies.m_nNextId, 4);
  CFilmObject* qm1 = q.m_movies.GetAt(0);
  EXPECT_EQ(qm1->m_stories.GetAt(1)->m_vecSources[0], dir / "moved/media/video.264");
  EXPECT_EQ(qm1->m_menus.GetAt(1)->m_strSourcePath, dir / "moved/menu.ies");
  const CChapters& ch = qm1->m_playlists.GetAt(0)->GetAt(0)->m_chapters;
  EXPECT_EQ(ch.m_nFpsCode, 3);
  ASSERT_EQ(ch.m_points.size(), 3u);
  EXPECT_EQ(ch.m_points[1].name, "Scene2");
  EXPECT_EQ(ch.m_points[1].type, 2);
  EXPECT_EQ(ch.m_points[1].time, 7500);
  EXPECT_EQ(ch.m_points[2].time, -1);
  CPlObject* qt2 = qm1->m_playlists.GetAt(1);
  EXPECT_EQ(qt2->m_nPlayMode, kSeparateAndPlayAll);
  EXPECT_EQ(qt2->m_nConnection, 5);
  ASSERT_EQ(qt2->GetCount(), 2u);
  EXPECT_EQ(qt2->GetAt(1)->m_pStory, qm1->m_stories.GetAt(1));

  ASSERT_EQ(SaveProjectFile(dir / "moved/p.zvpj", q, msg), kOk) << msg;
  EXPECT_EQ(zvtest::ReadBytes(dir / "moved/p.zvpj"), first);
}

TEST(Project, MissingSoundFileIsDroppedAndMarksTheProjectModified) {
  zvtest::TempDir dir;
  CZvObject p;
  p.InitNew();
  p.m_strSoundPath = dir / "gone.bdmv";
  std::string msg;
  ASSERT_EQ(SaveProjectFile(dir / "p.zvpj", p, msg), kOk);
  CZvObject q;
  ScriptedPrompt prompt;
  bool modified = false;
  ASSERT_EQ(OpenProjectFile(dir / "p.zvpj", q, prompt, Progress{}, modified, msg), kOk);
  EXPECT_TRUE(modified);
  EXPECT_EQ(q.m_strSoundPath, "");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("Cannot open"), std::string::npos);
}

TEST(Project, OnlyASoundFileIsTakenAsTheSoundFile) {
  zvtest::TempDir dir;
  CSoundBdmv two;
  two.index.entries.resize(2);
  two.samples = {{1, 2}, {3, 4, 5, 6}};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(two.Encode(bytes));
  zvtest::WriteBytes(dir / "two.bdmv", bytes);
  zvtest::WriteText(dir / "junk.bdmv", "BCLK0200 and then nothing that fits");

  CZvObject p;
  p.InitNew();
  ScriptedPrompt prompt;
  ASSERT_TRUE(p.LoadSoundFile(dir / "two.bdmv", prompt));
  EXPECT_EQ(p.SoundCount(), 2u);
  // A file that is not a sound file is refused; the previous one stays.
  EXPECT_FALSE(p.LoadSoundFile(dir / "junk.bdmv", prompt));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].rfind(dir / "junk.bdmv: wrong file format! ", 0), 0u) << prompt.messages[0];
  EXPECT_EQ(p.m_strSoundPath, dir / "two.bdmv");
  EXPECT_EQ(p.SoundCount(), 2u);

  // Saved with it and opened after it was spoilt: dropped, and the project
  // is marked modified.
  std::string msg;
  ASSERT_EQ(SaveProjectFile(dir / "p.zvpj", p, msg), kOk) << msg;
  zvtest::WriteText(dir / "two.bdmv", "not a sound file");
  CZvObject q;
  ScriptedPrompt prompt2;
  bool modified = false;
  ASSERT_EQ(OpenProjectFile(dir / "p.zvpj", q, prompt2, Progress{}, modified, msg), kOk);
  EXPECT_TRUE(modified);
  EXPECT_EQ(q.m_strSoundPath, "");
  EXPECT_EQ(q.SoundCount(), 0u);
  ASSERT_EQ(prompt2.messages.size(), 1u);
  EXPECT_NE(prompt2.messages[0].find("wrong file format! "), std::string::npos);

  EXPECT_TRUE(p.LoadSoundFile("", prompt));
  EXPECT_EQ(p.m_strSoundPath, "");
  EXPECT_EQ(p.m_pSound, nullptr);
}

TEST(Project, LinksThatPointNowhereAreDroppedOnOpen) {
  CZvObject p;
  p.InitNew();
  CFilmObject* m1 = p.m_movies.GetAt(0);
  // Detach the story and the menu without telling the playlist: its stored
  // ids then match nothing.
  auto story = m1->m_stories.RemoveAt(0);
  auto menu = m1->m_menus.RemoveAt(0);
  std::vector<uint8_t> bytes = StoreProject(p, "/x/p.zvpj");
  CZvObject q;
  std::string msg;
  ASSERT_EQ(LoadProject(bytes, "/x/p.zvpj", q, msg), kOk) << msg;
  ScriptedPrompt prompt;
  EXPECT_TRUE(q.ReloadSources(Progress{}, prompt));
  CPlObject* title = q.m_movies.GetAt(0)->m_playlists.GetAt(0);
  EXPECT_EQ(title->m_pMenu, nullptr);
  EXPECT_EQ(title->MenuId(), -1);
  EXPECT_EQ(title->GetAt(0)->m_pStory, nullptr);
  EXPECT_EQ(title->GetAt(0)->StoryId(), -1);
  // Unlinked items stay unlinked without counting as a change.
  EXPECT_FALSE(q.ReloadSources(Progress{}, prompt));
}

TEST(ProjectLoad, ForeignMagicGivesAnEmptyProject) {
  CZvObject p;
  p.InitNew();
  std::string msg;
  EXPECT_EQ(LoadProject(LeBytes().raw("PK\x03\x04 not a project").bytes(), "", p, msg), kOk);
  EXPECT_EQ(p.m_strName, "");
  EXPECT_EQ(p.m_movies.GetCount(), 0u);
  EXPECT_EQ(p.m_logos.m_stories.GetCount(), 0u);
  EXPECT_EQ(msg, "");
}

TEST(ProjectLoad, OldVersionIsRefusedWithTheMessage) {
  LeBytes v1;
  v1.u32(0x5A56504A).u8(0).u8(1).u32(0).str("Disc").i32(-1).u8(1).str("");
  CZvObject p;
  std::string msg;
  EXPECT_EQ(LoadProject(v1.bytes(), "", p, msg), kFailed);
  EXPECT_EQ(msg, "Old project file is not supported! ");
}

TEST(ProjectLoad, EveryTruncationFailsWithAMessage) {
  CZvObject p;
  p.InitNew();
  std::vector<uint8_t> full = StoreProject(p, "");
  for (size_t n = 4; n < full.size(); ++n) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(n));
    CZvObject q;
    std::string msg;
    ASSERT_EQ(LoadProject(cut, "", q, msg), kFailed) << n;
    EXPECT_EQ(msg, "the project file is truncated or corrupt") << n;
    EXPECT_EQ(q.m_movies.GetCount(), 0u) << n;
  }
}

TEST(ProjectLoad, ClassTagsInsideAProject) {
  // A graphic in the movie menu's epoch is the one place a default project
  // writes a class tag.
  CZvObject p;
  p.InitNew();
  CEpoch* epoch = p.m_movies.GetAt(0)->m_menus.GetAt(0)->GetAt(0);
  epoch->m_graphics.Add(std::make_unique<CGraphicObject>())->m_strPath = "/m/button.png";
  std::vector<uint8_t> bytes = StoreProject(p, "/m/p.zvpj");
  std::string name = "CGraphicObject";
  auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(at, bytes.end());
  size_t pos = static_cast<size_t>(at - bytes.begin());
  // The tag: 0xFFFF, schema 1, name length 14, then the name.
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(pos) - 6, at),
            (std::vector<uint8_t>{0xFF, 0xFF, 0x01, 0x00, 0x0E, 0x00}));

  CZvObject q;
  std::string msg;
  ASSERT_EQ(LoadProject(bytes, "/m/p.zvpj", q, msg), kOk) << msg;
  CEpoch* e2 = q.m_movies.GetAt(0)->m_menus.GetAt(0)->GetAt(0);
  ASSERT_EQ(e2->m_graphics.GetCount(), 1u);
  EXPECT_EQ(e2->m_graphics.GetAt(0)->m_strPath, "/m/button.png");

  std::vector<uint8_t> unknown = bytes;
  unknown[pos + 13] = 'X';  // "CGraphicObjecX"
  EXPECT_EQ(LoadProject(unknown, "", q, msg), kFailed);
  EXPECT_NE(msg.find("CGraphicObjecX"), std::string::npos);

  // The same list tagged by index 1 before any class was defined.
  std::vector<uint8_t> early(bytes.begin(), bytes.begin() + static_cast<long>(pos) - 6);
  early.push_back(0x01);
  early.push_back(0x80);
  early.insert(early.end(), at + static_cast<long>(name.size()), bytes.end());
  EXPECT_EQ(LoadProject(early, "", q, msg), kFailed);
  EXPECT_NE(msg.find("class index 1"), std::string::npos);
}

TEST(ProjectLoad, WindowsPathsAndTheLengthLimit) {
  auto file = [](const std::string& sound) {
    CZvObject p;
    p.InitNew();
    std::vector<uint8_t> bytes = StoreProject(p, "");
    // Replace the empty sound path (right after the version byte).
    LeBytes head;
    head.u32(0x5A56504A).u8(0).u8(1).u32(0).str("Disc").i32(-1).u8(2);
    ArchiveOut s;
    s.String(sound);
    std::vector<uint8_t> out = head.bytes();
    out.insert(out.end(), s.Bytes().begin(), s.Bytes().end());
    out.insert(out.end(), bytes.begin() + static_cast<long>(head.size()) + 1, bytes.end());
    return out;
  };
  CZvObject q;
  std::string msg;
  ASSERT_EQ(LoadProject(file(".\\snd\\Sound.bdmv"), "/home/u/disc/p.zvpj", q, msg), kOk) << msg;
  EXPECT_EQ(q.m_strSoundPath, "/home/u/disc/snd/Sound.bdmv");
  ASSERT_EQ(LoadProject(file("..\\Sound.bdmv"), "/home/u/disc/p.zvpj", q, msg), kOk) << msg;
  EXPECT_EQ(q.m_strSoundPath, "/home/u/Sound.bdmv");
  // Past the length limit the project still loads; the path is kept so
  // that reopening can name the file it refuses.
  const std::string overlong = "/home/u/disc/" + std::string(300, 'a');
  ASSERT_EQ(LoadProject(file("./" + std::string(300, 'a')), "/home/u/disc/p.zvpj", q, msg), kOk) << msg;
  EXPECT_EQ(q.m_strSoundPath, overlong);
  ScriptedPrompt prompt;
  EXPECT_TRUE(q.ReloadSources(Progress{}, prompt));
  EXPECT_EQ(q.m_strSoundPath, "");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("too long"), std::string::npos);
  EXPECT_NE(prompt.messages[0].find(overlong), std::string::npos) << prompt.messages[0];
}

TEST(ProjectSave, FailedSaveLeavesNothingBehind) {
  // A folder in the project file's place cannot be replaced (this works even
  // for root, who ignores permissions).
  zvtest::TempDir dir;
  std::string path = dir / "p.zvpj";
  fs::create_directory(path);
  zvtest::WriteText(dir / "p.zvpj/keep", "old");
  CZvObject p;
  p.InitNew();
  std::string msg;
  EXPECT_EQ(SaveProjectFile(path, p, msg), kFailed);
  EXPECT_FALSE(msg.empty());
  EXPECT_EQ(zvtest::ReadText(dir / "p.zvpj/keep"), "old");
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir.Path())) entries += e.path().filename() != "p.zvpj";
  EXPECT_EQ(entries, 0u);  // no temporary file left beside it
}

TEST(Film, SetFilmTypeReplacesContentAndCopyRelinks) {
  CFilmObject film;
  film.SetFilmType(kFilmMovie);
  film.m_stories.CreateChild();
  film.SetFilmType(kFilmTopMenu);
  ASSERT_EQ(film.m_stories.GetCount(), 1u);
  EXPECT_EQ(film.m_stories.GetAt(0)->m_strName, "Background AV");
  EXPECT_EQ(film.m_stories.m_nNextId, 1);
  CZvIgObject* menu = film.m_menus.GetAt(0);
  EXPECT_FALSE(menu->m_bPopup);
  EXPECT_FALSE(menu->m_bCommandMode);
  EXPECT_EQ(menu->GetAt(0)->GetAt(0)->m_nUserInterfaceModel, 0);

  CFilmObject copy;
  copy.CopyFrom(film);
  CPlObject* pl = copy.m_playlists.GetAt(0);
  EXPECT_EQ(pl->m_pMenu, copy.m_menus.GetAt(0));
  EXPECT_EQ(pl->GetAt(0)->m_pStory, copy.m_stories.GetAt(0));
  EXPECT_NE(pl->GetAt(0)->m_pStory, film.m_stories.GetAt(0));
}

TEST(ObjectPath, NamesAddressTheTree) {
  CZvObject p;
  p.InitNew();
  std::string err;
  EXPECT_EQ(FindObject(p, "Movie#1", err), p.m_movies.GetAt(0));
  EXPECT_EQ(FindObject(p, "Movies/Movie#1/Title#1/PI#1", err), p.m_movies.GetAt(0)->m_playlists.GetAt(0)->GetAt(0));
  EXPECT_EQ(FindObject(p, "top menu/background av", err), p.m_topMenu.m_stories.GetAt(0));
  EXPECT_EQ(FindObject(p, "Movie#1/IGs/IG#1", err), p.m_movies.GetAt(0)->m_menus.GetAt(0));
  EXPECT_EQ(FindObject(p, "Movie#1/Title#2", err), nullptr);
  EXPECT_NE(err.find("\"Title#1\""), std::string::npos);
  EXPECT_NE(err.find("\"Clip#1\""), std::string::npos);
  EXPECT_EQ(FilmOf(p.m_movies.GetAt(0)->m_playlists.GetAt(0)->GetAt(0)), p.m_movies.GetAt(0));
}
