// The disc's navigation: first playback, top menu, one movie object per
// generated playlist of the movies and trailers, the titles of the index and
// the commands that chain the titles together.
//
// Register convention shared with the button commands:
//   GPR2010 chosen primary audio stream, GPR2011 chosen subtitle (0 = off),
//   GPR2020 how the next title starts (0 beginning, 1 at the play item in
//   GPR2023, 2 at the mark in GPR2024), GPR2021/2022 reserved.
#pragma once

#include <cstdint>

#include "bdnav/index_bdmv.h"
#include "bdnav/movie_objects.h"

namespace zv {

class CFilmObject;
class CPlObject;
class CZvObject;

// A film has content when one of its stories has an enabled track; films
// without content get no numbers and build nothing.
bool FilmHasContent(const CFilmObject& film);

// Playlist files a playlist object makes: PlayAll one, Separate one per play
// item, Separate and PlayAll the whole list first and then one per item.
int32_t PlaylistCount(const CPlObject& playlist);

// Fills both records from the numbers AssignNumbers gave this build. False
// only when a command could not be composed or a count does not fit.
bool GenerateNavigation(CZvObject& project, INDEX_BDMV& index, MOVIE_OBJECTS& mobj);

// One movie object per generated playlist of the film's playlist objects, and
// a title entry for each of them whose object is a title.
bool AddTitleObjects(const CFilmObject& film, MOVIE_OBJECTS& mobj, CTiFolder& titles);

// Applies the user's audio and subtitle choice (5 commands): the movie
// objects' preamble, SetStreamSnippet in its non-break form.
bool AddStreamPreamble(CNavCmds& cmds);
// The same 5 commands appended at any position k of `cmds` (their GoTo
// targets count from k). The break form ends a button's commands once the
// choice is applied; the other form goes on after the snippet.
bool SetStreamSnippet(CNavCmds& cmds, bool breakForm);
// Clears GPR2020 to GPR2024 (5 commands).
bool AddRegisterReset(CNavCmds& cmds);

}  // namespace zv
