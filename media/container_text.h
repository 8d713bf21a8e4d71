// Text-subtitle tracks of containers (Matroska S_TEXT/UTF8 and S_TEXT/ASS,
// MP4 mov_text) written out as the subtitle file they carry, so that they
// are drawn exactly as that file would be.
#pragma once

#include <string>

#include "platform/progress.h"

namespace zv {

// SubRip and plain text become ".srt", mov_text (through libavcodec's
// decoder) ".srt" too, ASS/SSA ".ass" with the track's own header; "" for
// other codecs. `codec` is libavcodec's name.
std::string TextSubtitleExtension(const std::string& codec);

// Reads stream `stream` of `container` and writes its events as a subtitle
// file beside the container ("NAME.s3.srt"), or in the temporary folder
// when the container's folder cannot take it; `outPath` names it. The file
// is replaced only when complete. kOk, kCancelled or kFailed with `error`.
int ExtractTextSubtitle(const std::string& container, int stream, std::string& outPath, std::string& error,
                        const Progress& progress = {});

}  // namespace zv
