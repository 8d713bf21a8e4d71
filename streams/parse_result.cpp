#include "streams/parse_result.h"

namespace zv {

namespace {
// The spellings are the texts users and existing logs know; keep them.
const char* const kMessages[kParseResultCount] = {
    "Parse sucessfully! ",
    "Parse canceled! ",
    "Unknown file format! ",
    "Incompatible file! ",
    "Open file error! ",
    "Create stream info file error! ",
    "Read file erorr! ",
    "Write file erorr! ",
    "Syntax illegal! ",
    "Bitrate overflow! ",
    "Video buffer overflow! ",
    "No Sequence header! ",
    "No GOP header! ",
    "No aspect info! ",
    "No framerate info! ",
    "Wrong bitstream Id! ",
    "Wrong sample bits! ",
    "Wrong sample rate! ",
    "Wrong bitrate! ",
    "Wrong channel count! ",
    "Wrong audio coding mode! ",
    "Wrong audio blocks count! ",
    "Wrong profile! ",
    "Wrong level! ",
    "Wrong video format! ",
    "Wrong aspect ratio! ",
    "Wrong frame rate! ",
    "Wrong progressive/interlace flag! ",
    "Wrong pulldown flag! ",
    "Wrong chroma format! ",
    "Wrong GOP size! ",
    "Wrong entry point posistion! ",
    "Wrong coded size! ",
    "Wrong frame rate info! ",
    "Wrong panscan flag! ",
    "No HRD parameter! ",
    "Frame gaps exist! ",
    "No SPS! ",
    "No PPS! ",
    "No VUI info! ",
    "No timing info! ",
    "Fixed frame rate is false! ",
    "Wrong slice type! ",
    "CPB size overflow! ",
    "Wrong low-delay HRD flag! ",
    "Wrong extention mode! ",
};
}  // namespace

const char* ParseResultMessage(int code) {
  if (code < 0 || code >= kParseResultCount) return "";
  return kMessages[code];
}

}  // namespace zv
