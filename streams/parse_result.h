// Result codes of stream analysis. 0..2 are the shared kOk/kCancelled/kFailed
// of platform/progress.h; the rest name the constraint a stream broke.
#pragma once

#include <string>

namespace zv {

enum ParseResult : int {
  kParseOk = 0,
  kParseCanceled = 1,
  kParseUnknownFormat = 2,
  kParseIncompatible = 3,
  kParseOpenError = 4,
  kParseCreateSifError = 5,
  kParseReadError = 6,
  kParseWriteError = 7,
  kParseSyntax = 8,
  kParseBitrateOverflow = 9,
  kParseVideoBufferOverflow = 10,
  kParseNoSequenceHeader = 11,
  kParseNoGopHeader = 12,
  kParseNoAspectInfo = 13,
  kParseNoFramerateInfo = 14,
  kParseWrongBitstreamId = 15,
  kParseWrongSampleBits = 16,
  kParseWrongSampleRate = 17,
  kParseWrongBitrate = 18,
  kParseWrongChannelCount = 19,
  kParseWrongAudioCodingMode = 20,
  kParseWrongAudioBlocks = 21,
  kParseWrongProfile = 22,
  kParseWrongLevel = 23,
  kParseWrongVideoFormat = 24,
  kParseWrongAspectRatio = 25,
  kParseWrongFrameRate = 26,
  kParseWrongProgressive = 27,
  kParseWrongPulldown = 28,
  kParseWrongChromaFormat = 29,
  kParseWrongGopSize = 30,
  kParseWrongEntryPoint = 31,
  kParseWrongCodedSize = 32,
  kParseWrongFrameRateInfo = 33,
  kParseWrongPanscan = 34,
  kParseNoHrd = 35,
  kParseFrameGaps = 36,
  kParseNoSps = 37,
  kParseNoPps = 38,
  kParseNoVui = 39,
  kParseNoTimingInfo = 40,
  kParseNotFixedFrameRate = 41,
  kParseWrongSliceType = 42,
  kParseCpbOverflow = 43,
  kParseWrongLowDelay = 44,
  kParseWrongExtensionMode = 45,
};

constexpr int kParseResultCount = 46;

// The user-facing text of a result code (every text ends with a blank, as
// shown to users); empty for codes outside 0..45.
const char* ParseResultMessage(int code);

}  // namespace zv
