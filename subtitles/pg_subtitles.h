// Text subtitles rendered through libass into a presentation-graphics
// stream: one display set for every change of the shown text, timed to the
// video's frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/image.h"
#include "platform/progress.h"
#include "subtitles/text_script.h"

namespace zv {

class File;

// The video the subtitles are shown on.
struct SSubtitleVideo {
  int width = 1920;
  int height = 1080;
  uint32_t rateNum = 24000;  // frames per rateDen seconds
  uint32_t rateDen = 1001;
  uint8_t frameRateCode = 1;
};

// "1920x1080@23.976" (also @24, @25, @29.97, @50, @59.94); false when the
// size or rate is not one a disc carries.
bool ParseSubtitleVideo(const std::string& text, SSubtitleVideo& out);

// The first frame shown at or after `ms`.
int64_t FrameAtOrAfter(int64_t ms, const SSubtitleVideo& v);
// The presentation time (90 kHz) of frame `n`.
uint32_t FrameTicks(int64_t n, const SSubtitleVideo& v);

// One event on the frame grid: shown from frame `first` to frame `last`.
struct SSubtitleEvent {
  int64_t first = 0, last = 0;
};

// libass with one script loaded, drawing frames as straight-alpha RGBA.
class CSubtitleRenderer {
 public:
  CSubtitleRenderer();
  ~CSubtitleRenderer();
  CSubtitleRenderer(const CSubtitleRenderer&) = delete;
  CSubtitleRenderer& operator=(const CSubtitleRenderer&) = delete;

  // Loads `script` for the video; ASS styles take the options that are set.
  // Each event's times move to its frames (at least one frame each), so a
  // frame shows exactly the events whose frames cover it. Missing fonts
  // are reported in `warnings` (fontconfig picks a fallback).
  bool Open(const SSubtitleScript& script, const SSubtitleStyle& style, const SSubtitleVideo& video,
            std::vector<std::string>& warnings, std::string& error);
  const std::vector<SSubtitleEvent>& Events() const { return events_; }
  // Draws frame `n`: `out` (Argb32) is the region the text covers, at
  // (originX, originY) of the video; empty when nothing is shown.
  void Render(int64_t n, CPicture& out, int& originX, int& originY);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::vector<SSubtitleEvent> events_;
  SSubtitleVideo video_;
};

struct SSubtitleRenderOptions {
  SSubtitleStyle style;
  SSubtitleVideo video;
  bool forced = false;  // every object shown with the forced-on flag
};

struct SSubtitleRenderStats {
  size_t events = 0;
  size_t displaySets = 0;
  size_t lateSets = 0;  // sets whose decoding could not finish before their frame
};

// Writes the PG stream (".sup" framing) of a loaded script to `out`.
// kOk, kCancelled, or kFailed with `error`.
int WritePgSubtitles(CSubtitleRenderer& renderer, const SSubtitleRenderOptions& options, File& out,
                     const Progress& progress, SSubtitleRenderStats& stats, std::string& error);

// Reads a subtitle file and writes its PG stream to `outPath`, under a
// temporary name renamed when complete; nothing is left on failure or
// cancel. Warnings go out as progress log lines.
int RenderSubtitleFile(const std::string& inPath, const std::string& outPath, const SSubtitleRenderOptions& options,
                       const Progress& progress, SSubtitleRenderStats& stats, std::vector<std::string>& warnings,
                       std::string& error);

}  // namespace zv
