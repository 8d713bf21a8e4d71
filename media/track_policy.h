// Which tracks of a container a disc can carry as they are, and what the
// others need: one decision, so that the converters of other modules can be
// connected here.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/codec_par.h>
}

namespace zv {

enum class TrackNeed {
  kCarried,       // read as the elementary stream `ext` names
  kConvertAudio,  // audio the disc cannot carry: --convert-audio
  kEncodeVideo,   // video the disc cannot carry: --encode
  kTextSubtitle,  // text subtitles, written out as the `ext` file and drawn
  kRefused,       // nothing to be done with it here (reason says what)
};

struct STrackVerdict {
  TrackNeed need = TrackNeed::kRefused;
  std::string ext;     // ".264", ".m2v", ".vc1", ".ac3", ".dts", ".sup"; ".srt", ".ass"
  std::string reason;  // why not, and the way out
};

// `container` is the libavformat demuxer's name ("matroska,webm", "mov,mp4,...",
// "mpegts", "mpeg"): PCM is carried only from a disc's own LPCM framing.
// `ac3Core`: an E-AC-3 track whose frames start with an AC-3 one, the form
// a disc carries (read as the AC-3 stream with its dependent substreams).
STrackVerdict TrackVerdictFor(const AVCodecParameters& par, const std::string& container, bool ac3Core = false);

}  // namespace zv
