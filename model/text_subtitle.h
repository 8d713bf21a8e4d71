// Text subtitle files as sources of a clip: each is rendered into a PG
// stream kept beside it ("NAME.srt.sup"), drawn again only when the text,
// the style or the clip's video changes.
#pragma once

#include <string>

#include "mux/mux_track.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "subtitles/text_script.h"

namespace zv {

// True for .srt, .vtt, .ass and .ssa.
bool IsTextSubtitlePath(const std::string& path);
// The rendered stream's path beside the text.
std::string RenderedSubtitlePath(const std::string& textPath);
// "fra" for "film_fra.srt" (an ISO 639-2 code after the last '_', '.' or
// '-' of the name), else empty.
std::string LanguageFromFileName(const std::string& path);

// Makes sure the rendered stream of `textPath` is current for `video` and
// `style` (with the forced flag on every subtitle when `forced`); messages
// (warnings too) go to `prompt`. `rendered`, when given, tells whether it
// had to be drawn. kOk, kCancelled or kFailed.
int PrepareTextSubtitle(const std::string& textPath, const STrackVideoFormat& video, const SSubtitleStyle& style,
                        bool forced, const Progress& progress, IPrompt& prompt, bool* rendered = nullptr);

}  // namespace zv
