// Chapters of a play item from a file or at a fixed interval, for both
// shells. Each changes the item in memory; the shell saves.
#pragma once

#include <cstdint>
#include <string>

#include "model/playlist.h"

namespace zvedit {

// The frame rate the item's chapter list counts in: `given` (a frame-rate
// code, 0 when none was given) checked against the item's video and its
// list, else the list's or the video's. False with `error`, naming the item
// by `path`; without any rate, `error` is kMsgAddVideoFirst itself.
bool ChapterRateFor(const zv::CPiObject& item, int given, const std::string& path, int& code, std::string& error);

// Replaces the item's chapters with those of `file` (chapter list, CSV or
// timed text). False with `error`.
bool ImportChapters(zv::CPiObject& item, int code, const std::string& file, std::string& error);

// Replaces the item's chapters with one every `everyMs` over its clip's video.
bool ChaptersEvery(zv::CPiObject& item, int code, int64_t everyMs, std::string& error);

}  // namespace zvedit
