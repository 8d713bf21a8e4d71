// Audio a disc cannot carry (AAC, MP3, FLAC, Opus, Vorbis, E-AC-3 without
// an AC-3 core, audio at 44.1 kHz, ...) decoded and encoded into a stream
// it can: AC-3 at 48 kHz, or LPCM at 48 kHz in a WAV file. The result is an
// elementary file cached beside the source, as stream information is, and
// made again when the source changes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/progress.h"

namespace zv {

struct SAudioTarget {
  enum Kind { kAc3, kLpcm };
  Kind kind = kAc3;
  uint32_t bitRate = 0;  // AC-3, bit/s; 0: 640 kbit/s for 6 channels or more, else 448
  // The audio plays slowNum/slowDen times as long as recorded (1001/1000
  // with video retimed from 30 to 29.97 frames a second), so that it stays
  // in sync; the pitch drops by as much. 48000 * slowNum must divide by slowDen.
  uint32_t slowNum = 1;
  uint32_t slowDen = 1;
};

// "ac3", "ac3:448" (kbit/s, "448k" too) or "lpcm". False with `error` set.
bool ParseAudioTarget(const std::string& text, SAudioTarget& out, std::string& error);

// What an audio stream is and whether a disc carries it as it is.
struct SAudioFacts {
  int streamIndex = -1;   // libavformat's
  std::string codec;      // "AAC", "FLAC", "AC-3", ...
  int sampleRate = 0;
  int channels = 0;
  int bits = 0;           // the source's sample depth; 0 when lossy
  bool discCarries = false;
  std::string whyNot;     // when it does not: "AAC audio is not a disc format"
};

// Probes stream `streamIndex` of `path` (-1: the file's main audio
// stream). False with `error` set when the file cannot be read or the
// stream is not audio.
bool ProbeAudio(const std::string& path, int streamIndex, SAudioFacts& out, std::string& error);

struct SConvertedAudio {
  std::string path;      // the elementary file (.ac3 or .wav)
  bool reused = false;   // a conversion of the unchanged source was found
  std::string note;      // how the channels were placed, when not as they were
};

// Converts stream `streamIndex` of `path` (-1: the main audio stream).
// Returns kOk, kCancelled (the progress callback asked to stop) or kFailed
// with `error` naming the file and the reason; on anything but kOk no
// output file is left behind.
int ConvertAudio(const std::string& path, int streamIndex, const SAudioTarget& target, const Progress& progress,
                 SConvertedAudio& out, std::string& error);

}  // namespace zv
