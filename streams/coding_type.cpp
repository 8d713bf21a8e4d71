#include "streams/coding_type.h"

namespace zv {

StreamKind StreamKindOf(uint8_t t) {
  switch (t) {
    case kSctMpeg2: case kSctH264: case kSctSecondView: case kSctVc1:
      return StreamKind::kVideo;
    case kSctLpcm: case kSctAc3: case kSctDts: case kSctMlp: case kSctEac3: case kSctDtsHdHr: case kSctDtsHdMa:
    case kSctEac3Secondary: case kSctDtsHdSecondary:
      return StreamKind::kAudio;
    case kSctPg: return StreamKind::kPg;
    case kSctIg: return StreamKind::kIg;
    case kSctTextSt: return StreamKind::kTextSt;
    default: return StreamKind::kOther;
  }
}

bool IsVideoType(uint8_t t) { return StreamKindOf(t) == StreamKind::kVideo; }
bool IsGraphicsType(uint8_t t) { return IsGraphicsKind(StreamKindOf(t)); }
bool IsFixedRateAudio(uint8_t t) { return t == kSctLpcm || t == kSctAc3 || t == kSctEac3 || t == kSctEac3Secondary; }

const char* GetStreamTypeName(uint8_t streamType) {
  switch (streamType) {
    case kSctMpeg2: return "MPEG-2 Video";
    case kSctH264: return "MPEG-4 AVC/h.264";
    case kSctSecondView: return "MPEG-4 MVC";
    case kSctVc1: return "VC-1";
    case kSctLpcm: return "LPCM (WAV)";
    case kSctAc3: return "AC-3";
    case kSctDts: return "DTS";
    case kSctMlp: return "TrueHD/Dolby Lossless";
    case kSctEac3: return "Dolby Digital Plus/E-AC3";
    case kSctDtsHdHr: return "DTS-HD except XLL";
    case kSctDtsHdMa: return "DTS-HD XLL";
    case kSctEac3Secondary: return "Dolby Digital Plus (2nd Audio)";
    case kSctDtsHdSecondary: return "DTS-HD LBR (2nd Audio)";
    case kSctPg: return "PG/Subtitle";
    case kSctIg: return "IG/Menu";
    case kSctTextSt: return "Text subtitle";
    default: return nullptr;
  }
}

const char* GetStreamTypeShortName(uint8_t streamType) {
  switch (streamType) {
    case kSctMpeg2: return "MPEG-2 Video";
    case kSctH264: return "MPEG-4 AVC/H.264";
    case kSctVc1: return "VC-1";
    case kSctLpcm: return "LPCM audio";
    case kSctAc3: return "AC-3";
    case kSctDts: return "DTS";
    case kSctMlp: return "TrueHD";
    case kSctEac3: return "EAC-3";
    case kSctDtsHdHr: return "DTS-HD except XLL";
    case kSctDtsHdMa: return "DTS-HD XLL";
    case kSctEac3Secondary: return "EAC-3";
    case kSctDtsHdSecondary: return "DTS-HD LBR";
    case kSctPg: return "PG(Subtitle)";
    case kSctIg: return "IG(Menu)";
    case kSctTextSt: return "Text subtitle";
    default: return nullptr;
  }
}

}  // namespace zv
