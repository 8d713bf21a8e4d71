#include "model/navigation.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"

namespace zv {

namespace {

// Generated commands are fixed texts with numbers filled in, so a text that
// does not assemble is a programming error; it ends the generation.
struct ComposeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Put(CNavCmd& cmd, const std::string& text) {
  if (!ParseCommandText(text, cmd)) throw ComposeError("cannot compose \"" + text + "\"");
}

size_t Append(CNavCmds& cmds, const std::string& text) {
  CNavCmd cmd;
  Put(cmd, text);
  cmds.Add(cmd);
  return cmds.Count() - 1;
}

std::string Num(const char* keyword, int64_t n) { return std::string(keyword) + " " + std::to_string(n); }

// Forward GoTo: appended now, its target filled in once the target command
// is about to be appended, so the targets follow any change of length above.
class ForwardGoTo {
 public:
  explicit ForwardGoTo(CNavCmds& cmds) : cmds_(cmds), at_(Append(cmds, "GoTo 0")) {}
  void Land() { Put(cmds_[at_], Num("GoTo", static_cast<int64_t>(cmds_.Count()))); }

 private:
  CNavCmds& cmds_;
  size_t at_;
};

// Audio and displayed subtitle when a subtitle is chosen, else audio alone
// with the subtitle left as it is. A button's form stops after applying the
// choice; a movie object's form goes on to the command after it.
void StreamSnippet(CNavCmds& cmds, bool breakForm) {
  const auto k = static_cast<int64_t>(cmds.Count());
  Append(cmds, "If GPR2011 == 0");
  Append(cmds, Num("GoTo", k + 4));
  Append(cmds, "SetStream GPR2010 GPR2011 1 X X");
  Append(cmds, breakForm ? std::string("Break") : Num("GoTo", k + 5));
  Append(cmds, "SetStream GPR2010 X 0 X X");
}

void StreamPreamble(CNavCmds& cmds) { StreamSnippet(cmds, false); }

void RegisterReset(CNavCmds& cmds) {
  for (int reg = 2020; reg <= 2024; ++reg) Append(cmds, "Set GPR" + std::to_string(reg) + " = 0");
}

// Plays playlist p from the start, the play item in GPR2023 or the mark in
// GPR2024 as GPR2020 says, then clears the request.
void PlayAllDispatch(CNavCmds& cmds, int32_t p) {
  Append(cmds, "If GPR2020 == 1");
  ForwardGoTo toPlayItem(cmds);
  Append(cmds, "If GPR2020 == 2");
  ForwardGoTo toMark(cmds);
  Append(cmds, Num("PlayPlaylist", p));
  ForwardGoTo fromStart(cmds);
  toPlayItem.Land();
  Append(cmds, Num("PlayPlaylistAtPlayItem", p) + " GPR2023");
  ForwardGoTo fromPlayItem(cmds);
  toMark.Land();
  Append(cmds, Num("PlayPlaylistAtMark", p) + " GPR2024");
  fromStart.Land();
  fromPlayItem.Land();
  RegisterReset(cmds);
}

// `titleOf` gets, for every movie object appended, its title number, or 0
// when its playlist object is not a title. With `resume` the objects carry
// the resume intention, so that a top menu called during their playlist can
// return to it ("Resume").
void TitleObjects(const CFilmObject& film, MOVIE_OBJECTS& mobj, CTiFolder& titles, std::vector<size_t>& titleOf,
                  bool resume = false) {
  if (!FilmHasContent(film)) return;
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i) {
    const CPlObject& pl = *film.m_playlists.GetAt(i);
    if (pl.m_nPlaylistNumber < 0) continue;
    const int32_t count = PlaylistCount(pl);
    for (int32_t k = 0; k < count; ++k) {
      const int32_t p = pl.m_nPlaylistNumber + k;
      const size_t id = mobj.objects.size();
      if (id > 0xFFFF) throw ComposeError("more movie objects than an index can refer to");
      MOVIE_OBJECT& object = mobj.Add();
      object.resumeIntention = resume;
      CNavCmds& cmds = object.commands;
      StreamPreamble(cmds);
      if (pl.m_nPlayMode == kPlayAll) PlayAllDispatch(cmds, p);
      else Append(cmds, Num("PlayPlaylist", p));
      if (pl.m_bHasTitle) {
        TI title;
        title.objectType = 1;
        title.accessType = 0;
        title.playbackType = 0;
        title.movieObjectId = static_cast<uint16_t>(id);
        titles.push_back(title);
      }
      titleOf.resize(mobj.objects.size(), 0);
      titleOf[id] = pl.m_bHasTitle ? titles.size() : 0;
    }
  }
}

// Where a movie or trailer object goes when its playlist ends. Title 0 is the
// top menu; without one the movie and trailer objects form one ring (movies,
// then trailers) and each goes on to the title of the next object in it that
// is a title: objects whose playlist is not a title are passed over, since
// they have no title number to jump to. With no other title in the ring the
// object starts again.
void EndCommands(MOVIE_OBJECTS& mobj, bool topMenuContent, size_t m0, size_t m2, const std::vector<size_t>& titleOf) {
  const size_t n = m2 - m0;
  for (size_t m = m0; m < m2; ++m) {
    std::string text = "GoTo 0";
    if (topMenuContent) {
      text = "JumpTitle 0";
    } else {
      for (size_t step = 1; step < n; ++step) {
        const size_t next = m0 + (m - m0 + step) % n;
        if (titleOf[next] != 0) {
          text = Num("JumpTitle", static_cast<int64_t>(titleOf[next]));
          break;
        }
      }
    }
    Append(mobj.objects[m].commands, text);
  }
}

}  // namespace

bool FilmHasContent(const CFilmObject& film) {
  for (size_t i = 0; i < film.m_stories.GetCount(); ++i)
    if (film.m_stories.GetAt(i)->HasEnabledTrack()) return true;
  return false;
}

int32_t PlaylistCount(const CPlObject& playlist) {
  const auto items = static_cast<int32_t>(playlist.GetCount());
  switch (playlist.m_nPlayMode) {
    case kSeparate: return items;
    case kSeparateAndPlayAll: return 1 + items;
    default: return 1;
  }
}

bool AddStreamPreamble(CNavCmds& cmds) {
  try {
    StreamPreamble(cmds);
    return true;
  } catch (const ComposeError&) {
    return false;
  }
}

bool SetStreamSnippet(CNavCmds& cmds, bool breakForm) {
  try {
    StreamSnippet(cmds, breakForm);
    return true;
  } catch (const ComposeError&) {
    return false;
  }
}

bool AddRegisterReset(CNavCmds& cmds) {
  try {
    RegisterReset(cmds);
    return true;
  } catch (const ComposeError&) {
    return false;
  }
}

bool AddTitleObjects(const CFilmObject& film, MOVIE_OBJECTS& mobj, CTiFolder& titles) {
  try {
    std::vector<size_t> titleOf;
    TitleObjects(film, mobj, titles, titleOf);
    return true;
  } catch (const ComposeError&) {
    return false;
  }
}

bool GenerateNavigation(CZvObject& project, INDEX_BDMV& index, MOVIE_OBJECTS& mobj) {
  index = INDEX_BDMV{};
  mobj = MOVIE_OBJECTS{};
  try {
    // First playback: the logos, then the user's stream choice starts at
    // audio 1 / subtitle 1, then the top menu.
    index.firstPlayback = TI{1, 0, 0, 0, "00000"};
    CNavCmds& first = mobj.Add().commands;
    if (FilmHasContent(project.m_logos))
      for (size_t i = 0; i < project.m_logos.m_playlists.GetCount(); ++i) {
        const CPlObject& pl = *project.m_logos.m_playlists.GetAt(i);
        if (pl.m_nPlaylistNumber >= 0) Append(first, Num("PlayPlaylist", pl.m_nPlaylistNumber));
      }
    RegisterReset(first);
    Append(first, "Set GPR2010 = 1");
    Append(first, "Set GPR2011 = 1");
    Append(first, "JumpTitle 0");

    // The encoder writes the top menu with the interactive playback type.
    index.topMenu = TI{1, 0, 1, 1, "00000"};
    CNavCmds& top = mobj.Add().commands;
    const bool topMenuContent = FilmHasContent(project.m_topMenu);
    if (topMenuContent)
      for (size_t i = 0; i < project.m_topMenu.m_playlists.GetCount(); ++i) {
        const CPlObject& pl = *project.m_topMenu.m_playlists.GetAt(i);
        if (pl.m_nPlaylistNumber >= 0) Append(top, Num("PlayPlaylist", pl.m_nPlaylistNumber));
      }
    Append(top, "JumpTitle 1");

    const size_t m0 = mobj.objects.size();
    std::vector<size_t> titleOf(m0, 0);
    for (size_t i = 0; i < project.m_movies.GetCount(); ++i)
      TitleObjects(*project.m_movies.GetAt(i), mobj, index.titles, titleOf, true);
    TitleObjects(project.m_trailers, mobj, index.titles, titleOf);
    EndCommands(mobj, topMenuContent, m0, mobj.objects.size(), titleOf);
    return true;
  } catch (const ComposeError&) {
    return false;
  }
}

}  // namespace zv
