// `quick`: a whole disc project made from a list of movie files, each its
// own movie and title, for both shells. The project is filled in memory;
// the shell saves and builds it.
#pragma once

#include <string>
#include <vector>

#include "edit/source_display.h"
#include "model/project.h"
#include "platform/prompt.h"

namespace zvedit {

// Chapters of a movie whose file has none: one every five minutes.
constexpr int64_t kQuickChapterEveryMs = 5 * 60 * 1000;

struct SQuickRequest {
  std::vector<std::string> movies;     // each becomes a movie with one title
  std::vector<std::string> subtitles;  // text subtitles; see MatchSubtitles
  std::string menuTemplate;            // of the generated menus; empty: the default
  std::vector<std::string> templateFolders;  // searched before the built-in one
  std::string pictureFolder;           // where the menus' pictures are written
};

// The menu template can be loaded: false with `error` (its name and the
// names there are), before any work.
bool CheckQuickTemplate(const SQuickRequest& request, std::string& error);

// Every file exists, is a regular file and can be read, and every movie
// has a video: false with `error` naming the first that is not, before any
// work.
bool CheckQuickFiles(const SQuickRequest& request, std::string& error);

// Which movie each subtitle file goes with: the movie whose file name (less
// its extension) starts the subtitle's name ("trip.mp4" takes
// "trip_fra.srt"), the longest such name when several do; with one movie,
// every subtitle goes with it. `perMovie` has one list per movie. False
// with `error` naming a subtitle that matches no movie.
bool MatchSubtitles(const std::vector<std::string>& movies, const std::vector<std::string>& subtitles,
                    std::vector<std::vector<std::string>>& perMovie, std::string& error);

// Why the disc cannot carry the file's video as it is, found without
// reading it through (a video codec a disc does not carry, a frame rate
// that is none of a disc's); empty when nothing says so before analysis.
std::string VideoNeedsEncode(const std::string& file);

// Makes `project` a new project holding the movies of `request`: each file
// is added to its own movie, named after the file, with its subtitles (its video encoded when the
// disc cannot carry it, its audio converted when the disc cannot carry
// that), chapters come from the file or every five minutes; then the top
// menu (a button per title, chapter, audio and subtitle pages) and each
// movie's pop-up menu are generated. Each decision is told to `display`. kOk, kCancelled, or kFailed after telling `display`
// the file and the reason.
int MakeQuickProject(zv::CZvObject& project, const SQuickRequest& request, ISourceDisplay& display,
                     zv::IPrompt& prompt);

}  // namespace zvedit
