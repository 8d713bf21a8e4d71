// Generated navigation of whole projects, read back through the disassembler
// and compared with the command lists worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bdnav/index_bdmv.h"
#include "bdnav/movie_objects.h"
#include "build_test_support.h"
#include "model/navigation.h"
#include "model/project.h"

using namespace zv;
using Texts = std::vector<std::string>;

namespace {

const Texts kPreamble = {"If GPR2011 == 0", "GoTo 4", "SetStream GPR2010 GPR2011 1 X X", "GoTo 5",
                         "SetStream GPR2010 X 0 X X"};
const Texts kResets = {"Set GPR2020 = 0", "Set GPR2021 = 0", "Set GPR2022 = 0", "Set GPR2023 = 0",
                       "Set GPR2024 = 0"};

Texts Join(std::initializer_list<Texts> parts) {
  Texts all;
  for (const Texts& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A PlayAll title object playing playlist p, ending with `end`.
Texts PlayAllObject(int p, const std::string& end) {
  const std::string n = std::to_string(p);
  return Join({kPreamble,
               {"If GPR2020 == 1", "GoTo 11", "If GPR2020 == 2", "GoTo 13", "PlayPlaylist " + n, "GoTo 14",
                "PlayPlaylistAtPlayItem " + n + " GPR2023", "GoTo 14", "PlayPlaylistAtMark " + n + " GPR2024"},
               kResets,
               {end}});
}

Texts SeparateObject(int p, const std::string& end) {
  return Join({kPreamble, {"PlayPlaylist " + std::to_string(p), end}});
}

Texts FirstPlay(const Texts& plays) {
  return Join({plays, kResets, {"Set GPR2010 = 1", "Set GPR2011 = 1", "JumpTitle 0"}});
}

Texts TextsOf(const MOVIE_OBJECT& mo) {
  Texts t;
  for (const CNavCmd& c : mo.commands) t.push_back(CommandText(c));
  return t;
}

void Number(CPlObject& pl, int32_t playlist, int32_t title) {
  pl.m_nPlaylistNumber = playlist;
  pl.m_nTitleNumber = title;
}

struct Nav {
  INDEX_BDMV index;
  MOVIE_OBJECTS mobj;
};

// How many movie objects the movies' playlists give (they follow first
// play and the top menu).
size_t MovieObjectCount(CZvObject& project) {
  size_t n = 0;
  for (size_t i = 0; i < project.m_movies.GetCount(); ++i) {
    const CFilmObject& film = *project.m_movies.GetAt(i);
    if (!FilmHasContent(film)) continue;
    for (size_t k = 0; k < film.m_playlists.GetCount(); ++k)
      if (film.m_playlists.GetAt(k)->m_nPlaylistNumber >= 0) n += static_cast<size_t>(PlaylistCount(*film.m_playlists.GetAt(k)));
  }
  return n;
}

Nav Generate(CZvObject& project) {
  Nav nav;
  EXPECT_TRUE(GenerateNavigation(project, nav.index, nav.mobj));
  // The movies' objects carry the resume intention, so that the top menu
  // called during a movie can return to it; no object masks the menu call
  // or the title search.
  const size_t movies = MovieObjectCount(project);
  for (size_t i = 0; i < nav.mobj.objects.size(); ++i) {
    const MOVIE_OBJECT& mo = nav.mobj.objects[i];
    EXPECT_EQ(mo.resumeIntention, i >= 2 && i < 2 + movies) << "movie object " << i;
    EXPECT_FALSE(mo.menuCallMask);
    EXPECT_FALSE(mo.titleSearchMask);
  }
  return nav;
}

std::vector<uint16_t> TitleObjectIds(const INDEX_BDMV& index) {
  std::vector<uint16_t> ids;
  for (const TI& t : index.titles) {
    EXPECT_EQ(t.objectType, 1);
    EXPECT_EQ(t.accessType, 0);
    EXPECT_EQ(t.playbackType, 0);
    EXPECT_EQ(t.bdjName, "00000");
    ids.push_back(t.movieObjectId);
  }
  return ids;
}

// The default project: logos (Separate, one item), top menu, Movie#1,
// trailers (no items).
class DefaultProject : public ::testing::Test {
 protected:
  void SetUp() override { project.InitNew(); }
  CPlObject& Logos() { return *project.m_logos.m_playlists.GetAt(0); }
  CPlObject& TopMenu() { return *project.m_topMenu.m_playlists.GetAt(0); }
  CFilmObject& Movie(size_t i) { return *project.m_movies.GetAt(i); }
  CZvObject project;
};

TEST_F(DefaultProject, ContentInLogosTopMenuAndOneMovie) {
  zvtest::GiveContent(project.m_logos);
  zvtest::GiveContent(project.m_topMenu);
  zvtest::GiveContent(Movie(0));
  Number(Logos(), 0, -1);
  Number(TopMenu(), 1, -1);
  Number(*Movie(0).m_playlists.GetAt(0), 2, 1);

  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 3u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[0]), FirstPlay({"PlayPlaylist 0"}));
  EXPECT_EQ(nav.mobj.objects[0].commands.Count(), 9u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[1]), (Texts{"PlayPlaylist 1", "JumpTitle 1"}));
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), PlayAllObject(2, "JumpTitle 0"));
  EXPECT_EQ(nav.mobj.objects[2].commands.Count(), 20u);

  EXPECT_EQ(TitleObjectIds(nav.index), (std::vector<uint16_t>{2}));
  EXPECT_EQ(nav.index.firstPlayback, (TI{1, 0, 0, 0, "00000"}));
  EXPECT_EQ(nav.index.topMenu.objectType, 1);
  EXPECT_EQ(nav.index.topMenu.movieObjectId, 1);

  // The title entry as a player reads it: HDMV, movie playback, object 2.
  std::vector<uint8_t> bytes = EncodeIndex(nav.index);
  ASSERT_EQ(bytes.size(), 120u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 94, bytes.end()),
            (std::vector<uint8_t>{0x40, 0, 0, 0, 0x40, 0, 0, 1, 0, 0, 0, 0,  // top menu: HDMV, interactive, object 1
                                  0, 1,                                      // one title
                                  0x40, 0, 0, 0, 0x00, 0, 0, 2, 0, 0, 0, 0}));
}

TEST_F(DefaultProject, WithoutTopMenuTheOnlyMovieRestartsItself) {
  zvtest::GiveContent(project.m_logos);
  zvtest::GiveContent(Movie(0));
  Number(Logos(), 0, -1);
  Number(*Movie(0).m_playlists.GetAt(0), 1, 1);
  Number(TopMenu(), 7, -1);  // stale from an earlier build: no content now

  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 3u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[1]), (Texts{"JumpTitle 1"}));
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), PlayAllObject(1, "GoTo 0"));
}

TEST_F(DefaultProject, TwoMoviesAndTwoTrailersChainIntoEachOtherWithoutTopMenu) {
  project.m_movies.CreateChild()->SetFilmType(kFilmMovie);
  zvtest::GiveContent(Movie(0));
  zvtest::GiveContent(Movie(1));
  zvtest::GiveContent(project.m_trailers);
  CPlObject& trailers = *project.m_trailers.m_playlists.GetAt(0);
  AddStoriesToPlaylist(trailers, project.m_trailers.m_stories);
  zvtest::GiveContent(project.m_trailers);
  AddStoriesToPlaylist(trailers, project.m_trailers.m_stories);
  ASSERT_EQ(trailers.GetCount(), 2u);
  Number(*Movie(0).m_playlists.GetAt(0), 0, 1);
  Number(*Movie(1).m_playlists.GetAt(0), 1, 2);
  Number(trailers, 2, 3);

  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 6u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[0]), FirstPlay({}));  // logos without content play nothing
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), PlayAllObject(0, "JumpTitle 2"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[3]), PlayAllObject(1, "JumpTitle 3"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[4]), SeparateObject(2, "JumpTitle 4"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[5]), SeparateObject(3, "JumpTitle 1"));
  EXPECT_EQ(TitleObjectIds(nav.index), (std::vector<uint16_t>{2, 3, 4, 5}));
}

TEST_F(DefaultProject, LastMovieWrapsToTheFirstAndALoneTrailerRestartsItself) {
  project.m_movies.CreateChild()->SetFilmType(kFilmMovie);
  zvtest::GiveContent(Movie(0));
  zvtest::GiveContent(Movie(1));
  Number(*Movie(0).m_playlists.GetAt(0), 0, 1);
  Number(*Movie(1).m_playlists.GetAt(0), 1, 2);
  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 4u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]).back(), "JumpTitle 2");
  EXPECT_EQ(TextsOf(nav.mobj.objects[3]).back(), "JumpTitle 1");

  CZvObject trailersOnly;
  trailersOnly.InitNew();
  CPlObject& trailer = *trailersOnly.m_trailers.m_playlists.GetAt(0);
  zvtest::GiveContent(trailersOnly.m_trailers);
  AddStoriesToPlaylist(trailer, trailersOnly.m_trailers.m_stories);
  Number(trailer, 0, 1);
  nav = Generate(trailersOnly);
  ASSERT_EQ(nav.mobj.objects.size(), 3u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), SeparateObject(0, "GoTo 0"));
}

TEST_F(DefaultProject, SeparateLogosPlayOnlyTheFirstOfTheirPlaylists) {
  zvtest::GiveContent(project.m_logos);  // beside the default Clip#1
  AddStoriesToPlaylist(Logos(), project.m_logos.m_stories);
  ASSERT_EQ(Logos().GetCount(), 2u);
  ASSERT_EQ(PlaylistCount(Logos()), 2);
  Number(Logos(), 0, -1);

  Nav nav = Generate(project);
  EXPECT_EQ(TextsOf(nav.mobj.objects[0]), FirstPlay({"PlayPlaylist 0"}));
  EXPECT_TRUE(nav.index.titles.empty());
  EXPECT_EQ(nav.mobj.objects.size(), 2u);
}

TEST_F(DefaultProject, ThreeSeparateTrailersAloneWrapAroundToTheFirst) {
  CPlObject& trailers = *project.m_trailers.m_playlists.GetAt(0);
  for (int i = 0; i < 3; ++i) {
    zvtest::GiveContent(project.m_trailers);
    AddStoriesToPlaylist(trailers, project.m_trailers.m_stories);
  }
  Number(trailers, 0, 1);

  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 5u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), SeparateObject(0, "JumpTitle 2"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[3]), SeparateObject(1, "JumpTitle 3"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[4]), SeparateObject(2, "JumpTitle 1"));
  for (size_t m = 2; m < 5; ++m) EXPECT_EQ(nav.mobj.objects[m].commands.Count(), 7u);
  EXPECT_EQ(TitleObjectIds(nav.index), (std::vector<uint16_t>{2, 3, 4}));
}

TEST_F(DefaultProject, SeparateAndPlayAllMakesTheWholeListFirstAndSkipsNonTitles) {
  zvtest::GiveContent(Movie(0));  // beside the default Clip#1
  CPlObject& movie = *Movie(0).m_playlists.GetAt(0);
  AddStoriesToPlaylist(movie, Movie(0).m_stories);
  ASSERT_EQ(movie.GetCount(), 2u);
  movie.m_nPlayMode = kSeparateAndPlayAll;
  CPlObject& extra = *Movie(0).m_playlists.CreateChild();  // no title of its own
  extra.m_bHasTitle = false;
  Number(movie, 0, 1);
  Number(extra, 3, -1);
  zvtest::GiveContent(project.m_topMenu);
  Number(TopMenu(), 4, -1);

  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 6u);
  // Mode 2 dispatches only for PlayAll; each generated playlist is separate.
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), SeparateObject(0, "JumpTitle 0"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[3]), SeparateObject(1, "JumpTitle 0"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[4]), SeparateObject(2, "JumpTitle 0"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[5]), PlayAllObject(3, "JumpTitle 0"));
  EXPECT_EQ(TitleObjectIds(nav.index), (std::vector<uint16_t>{2, 3, 4}));
}

TEST_F(DefaultProject, WithoutTopMenuTitlesChainByTheirOwnNumbersPastNonTitles) {
  // Movie#1's playlist object is no title: it still gets a movie object,
  // but no title number, so Movie#2 is title 1 and Movie#3 title 2.
  project.m_movies.CreateChild()->SetFilmType(kFilmMovie);
  project.m_movies.CreateChild()->SetFilmType(kFilmMovie);
  for (size_t i = 0; i < 3; ++i) zvtest::GiveContent(Movie(i));
  Movie(0).m_playlists.GetAt(0)->m_bHasTitle = false;
  Number(*Movie(0).m_playlists.GetAt(0), 0, -1);
  Number(*Movie(1).m_playlists.GetAt(0), 1, 1);
  Number(*Movie(2).m_playlists.GetAt(0), 2, 2);

  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 5u);
  EXPECT_EQ(TitleObjectIds(nav.index), (std::vector<uint16_t>{3, 4}));
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), PlayAllObject(0, "JumpTitle 1"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[3]), PlayAllObject(1, "JumpTitle 2"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[4]), PlayAllObject(2, "JumpTitle 1"));
  // Every jump lands on a title the index has.
  for (size_t m = 2; m < 5; ++m) {
    const std::string end = TextsOf(nav.mobj.objects[m]).back();
    ASSERT_EQ(end.rfind("JumpTitle ", 0), 0u) << end;
    EXPECT_LE(std::stoul(end.substr(10)), nav.index.titles.size()) << end;
  }

  // A trailer that is no title after the only title: the title restarts
  // itself instead of jumping to a title 2 that does not exist.
  CZvObject other;
  other.InitNew();
  zvtest::GiveContent(*other.m_movies.GetAt(0));
  CPlObject& trailer = *other.m_trailers.m_playlists.GetAt(0);
  zvtest::GiveContent(other.m_trailers);
  AddStoriesToPlaylist(trailer, other.m_trailers.m_stories);
  trailer.m_bHasTitle = false;
  Number(*other.m_movies.GetAt(0)->m_playlists.GetAt(0), 0, 1);
  Number(trailer, 1, -1);
  nav = Generate(other);
  ASSERT_EQ(nav.mobj.objects.size(), 4u);
  EXPECT_EQ(TitleObjectIds(nav.index), (std::vector<uint16_t>{2}));
  EXPECT_EQ(TextsOf(nav.mobj.objects[2]), PlayAllObject(0, "GoTo 0"));
  EXPECT_EQ(TextsOf(nav.mobj.objects[3]), SeparateObject(1, "JumpTitle 1"));
}

TEST_F(DefaultProject, EmptyProjectHasOnlyFirstPlayAndTopMenu) {
  Nav nav = Generate(project);
  ASSERT_EQ(nav.mobj.objects.size(), 2u);
  EXPECT_EQ(TextsOf(nav.mobj.objects[0]), FirstPlay({}));
  EXPECT_EQ(TextsOf(nav.mobj.objects[1]), (Texts{"JumpTitle 1"}));
  EXPECT_TRUE(nav.index.titles.empty());
  EXPECT_EQ(EncodeIndex(nav.index).size(), 108u);
}

TEST(NavigationPieces, AppendWithoutDisturbingExistingCommands) {
  CNavCmds cmds;
  ASSERT_TRUE(cmds.Add("Nop"));
  ASSERT_TRUE(AddRegisterReset(cmds));
  ASSERT_TRUE(AddStreamPreamble(cmds));
  Texts t;
  for (const CNavCmd& c : cmds) t.push_back(CommandText(c));
  // The preamble's jumps are absolute command numbers: behind six commands
  // they land on its own fourth and fifth command.
  EXPECT_EQ(t, Join({{"Nop"}, kResets,
                     {"If GPR2011 == 0", "GoTo 10", "SetStream GPR2010 GPR2011 1 X X", "GoTo 11",
                      "SetStream GPR2010 X 0 X X"}}));
}

}  // namespace
