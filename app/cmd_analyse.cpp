// `zelvane analyse FILE... [--json]`: analyses stream files (or reuses their
// current stream information) and shows what a user needs to know of them.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "app/command.h"
#include "app/json.h"
#include "app/terminal.h"
#include "platform/paths.h"
#include "streams/ac3_parser.h"
#include "streams/h264_parser.h"
#include "streams/mpeg2_parser.h"
#include "streams/vc1_parser.h"
#include "streams/stream_context.h"

namespace zvapp {

namespace {

int RunAnalyse(const std::vector<std::string>& argv);

ZV_COMMAND("analyse", "analyse stream files and show their stream information",
           "zelvane analyse FILE... [--json]\n  FILE   an elementary stream (.264, .ac3, ...)\n"
           "  --json print a JSON document instead of text",
           "zelvane analyse movie.264 audio.ac3", RunAnalyse);

const char* CodecName(uint8_t type) {
  switch (type) {
    case zv::kSctMpeg2: return "MPEG-2 video";
    case zv::kSctH264: return "H.264/AVC";
    case zv::kSctVc1: return "VC-1";
    case zv::kSctLpcm: return "LPCM";
    case zv::kSctAc3: return "AC-3";
    case zv::kSctEac3:
    case zv::kSctEac3Secondary: return "E-AC-3";
    case zv::kSctDts: return "DTS";
    case zv::kSctDtsHdHr: return "DTS-HD High Resolution";
    case zv::kSctDtsHdMa: return "DTS-HD Master Audio";
    case zv::kSctDtsHdSecondary: return "DTS-HD secondary";
    case zv::kSctMlp: return "Dolby TrueHD/MLP";
    case zv::kSctPg: return "presentation graphics";
    case zv::kSctIg: return "interactive graphics";
    default: return "unknown";
  }
}

std::string ProfileName(uint8_t type, uint8_t profile) {
  if (type == zv::kSctH264) {
    if (profile == 100) return "High";
    if (profile == 77) return "Main";
  }
  // MPEG-2: escape bit and profile identification.
  if (type == zv::kSctMpeg2) {
    static const char* const kNames[8] = {nullptr, "High", "Spatially Scalable", "SNR Scalable", "Main", "Simple"};
    if (profile < 8 && kNames[profile]) return kNames[profile];
  }
  if (type == zv::kSctVc1 && profile == 3) return "Advanced";
  return std::to_string(profile);
}

std::string LevelName(uint8_t type, uint8_t level) {
  if (type == zv::kSctH264) return std::to_string(level / 10) + "." + std::to_string(level % 10);
  if (type == zv::kSctMpeg2) {
    switch (level) {
      case 4: return "High";
      case 6: return "High 1440";
      case 8: return "Main";
      case 10: return "Low";
      default: break;
    }
  }
  if (type == zv::kSctVc1) return "L" + std::to_string(level);
  return std::to_string(level);
}

const char* VideoFormatName(uint8_t vf) {
  static const char* const kNames[] = {"unknown", "480i", "576i", "480p", "1080i", "720p", "1080p", "576p"};
  return vf < 8 ? kNames[vf] : "unknown";
}

const char* FrameRateName(uint8_t fr) {
  static const char* const kNames[] = {"unknown", "23.976", "24", "25", "29.97", "unknown", "50", "59.94"};
  return fr < 8 ? kNames[fr] : "unknown";
}

const char* AspectName(uint8_t ar) { return ar == zv::kAspect4x3 ? "4:3" : ar == zv::kAspect16x9 ? "16:9" : "unknown"; }

const char* PresentationName(uint8_t pt) {
  switch (pt) {
    case 1: return "mono";
    case 3: return "stereo";
    case 6: return "multi-channel";
    case 12: return "stereo core with multi-channel extension";
    default: return "unknown";
  }
}

const char* SamplingName(uint8_t sf) { return sf == 1 ? "48 kHz" : sf == 4 ? "96 kHz" : sf == 5 ? "192 kHz" : "unknown"; }

// Bytes of an audio or MPEG-2 stream behind its last served unit: a frame
// cut off by the end of the file is left out rather than served broken.
int64_t LeftOutAtEnd(const std::string& path, zv::SStreamContext& ctx) {
  const zv::SSifHeader& h = ctx.header;
  const uint8_t t = h.streamCodingType;
  if (h.auCount == 0 || (zv::StreamKindOf(t) != zv::StreamKind::kAudio && t != zv::kSctMpeg2)) return 0;
  const std::unique_ptr<zv::AUI> last = zv::GetAu(int64_t{h.auCount} - 1, ctx);
  if (!last) return 0;
  const int64_t end = static_cast<int64_t>(last->offset + last->size);
  // A WAV's samples end with its data chunk; other chunks may follow.
  const int64_t limit =
      t == zv::kSctLpcm ? static_cast<int64_t>(h.firstFrameOffset + h.payloadSize) : zv::FileSize(path);
  return std::max<int64_t>(0, limit - end);
}

void Report(const std::string& path, zv::SStreamContext& ctx, Json* json) {
  const zv::SSifHeader& h = ctx.header;
  const int64_t leftOut = LeftOutAtEnd(path, ctx);
  // Core and extension units come in pairs that share one frame's time.
  const bool paired = h.streamCodingType == zv::kSctDtsHdHr || h.streamCodingType == zv::kSctDtsHdMa ||
                      h.streamCodingType == zv::kSctEac3;
  const double seconds = (paired ? (h.auCount + 1) / 2 : h.auCount) * h.auDuration / 1000.0;
  auto* video = dynamic_cast<const zv::CVideoSif*>(ctx.sif.get());
  auto* audio = dynamic_cast<const zv::CAudioSif*>(ctx.sif.get());
  if (json) {
    json->BeginObject();
    json->Key("file").Str(path).Key("streamInfo").Str(ctx.sifPath);
    json->Key("codec").Str(CodecName(h.streamCodingType)).Key("streamCodingType").Int(h.streamCodingType);
    if (video) {
      json->Key("profile").Str(ProfileName(h.streamCodingType, video->profile));
      json->Key("level").Str(LevelName(h.streamCodingType, video->level));
      json->Key("videoFormat").Str(VideoFormatName(video->videoFormat));
      json->Key("frameRate").Str(FrameRateName(video->frameRate));
      json->Key("aspectRatio").Str(AspectName(video->aspectRatio));
      json->Key("width").Int(video->width).Key("height").Int(video->height);
      json->Key("gopCount").Int(static_cast<int64_t>(video->gops.size()));
      json->Key("progressive").Bool(video->progressive != 0);
    }
    if (auto* m2v = dynamic_cast<const zv::CMpeg2VideoSif*>(ctx.sif.get())) {
      json->Key("sequenceHeaders").Int(m2v->sequenceHeaders).Key("sequenceEnds").Int(m2v->sequenceEnds);
      json->Key("firstSequenceHeader").BeginObject();
      json->Key("offset").Int(m2v->firstSequenceOffset).Key("length").Int(m2v->firstSequenceLength);
      json->EndObject();
    }
    if (auto* vc1 = dynamic_cast<const zv::CVc1Sif*>(ctx.sif.get()))
      json->Key("hrdRate").Int(vc1->hrdRate).Key("hrdBufferBits").Int(vc1->hrdBuffer);
    if (audio) {
      json->Key("presentationType").Str(PresentationName(audio->GetPresentationType()));
      json->Key("samplingFrequency").Str(SamplingName(audio->GetSamplingFrequency()));
    }
    json->Key("bitRate").Int(h.bitRate).Key("accessUnits").Int(h.auCount);
    json->Key("durationSeconds").Num(seconds).Key("payloadBytes").Int(static_cast<int64_t>(h.payloadSize));
    if (leftOut > 0) json->Key("leftOutAtEndBytes").Int(leftOut);
    json->EndObject();
    return;
  }
  std::printf("%s\n", path.c_str());
  std::printf("  codec:              %s\n", CodecName(h.streamCodingType));
  if (video) {
    std::printf("  profile and level:  %s@%s\n", ProfileName(h.streamCodingType, video->profile).c_str(),
                LevelName(h.streamCodingType, video->level).c_str());
    std::printf("  video format:       %s\n", VideoFormatName(video->videoFormat));
    std::printf("  frame rate:         %s\n", FrameRateName(video->frameRate));
    std::printf("  aspect ratio:       %s\n", AspectName(video->aspectRatio));
    std::printf("  size:               %ux%u\n", video->width, video->height);
  }
  if (audio) {
    std::printf("  presentation type:  %s\n", PresentationName(audio->GetPresentationType()));
    std::printf("  sampling frequency: %s\n", SamplingName(audio->GetSamplingFrequency()));
  }
  std::printf("  bit rate:           %u bit/s\n", h.bitRate);
  std::printf("  %-19s %u\n", video ? "access units:" : "frames:", h.auCount);
  std::printf("  duration:           %.3f s\n", seconds);
  if (leftOut > 0)
    std::printf("  left out at end:    %lld bytes (an incomplete last %s, not served)\n",
                static_cast<long long>(leftOut), video ? "picture" : "frame");
  if (video) std::printf("  GOPs:               %zu\n", video->gops.size());
  std::printf("  stream information: %s\n", ctx.sifPath.c_str());
}

int RunAnalyse(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("analyse");
  if (int rc = CheckOptions(self, argv, {"--json"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() == 0) return UsageError(self, "expected at least one FILE");
  const bool asJson = args.Has("--json");

  TerminalPrompt prompt(true);
  int status = kExitOk;
  Json json;
  if (asJson) json.BeginArray();
  for (const auto& path : args.Pos()) {
    zv::SStreamContext ctx;
    int r;
    {
      ProgressDisplay display(prompt, true);
      display.SetTotalBytes(static_cast<uint64_t>(std::max<int64_t>(zv::FileSize(path), 0)));
      zv::SSourceParams src;
      src.path = path;
      r = zv::OpenStream(src, ctx, display.Callback(), &prompt);
    }
    if (r == zv::kCancelled) return kExitCancelled;
    if (r != zv::kOk) {
      status = kExitFailed;
      continue;
    }
    Report(path, ctx, asJson ? &json : nullptr);
    if (auto* video = dynamic_cast<const zv::CVideoSif*>(ctx.sif.get())) {
      const std::string warning = zv::DisallowedVideoWarning(path, video->videoFormat, video->frameRate);
      if (!warning.empty()) std::fprintf(stderr, "zelvane analyse: warning: %s\n", warning.c_str());
    }
  }
  if (asJson) {
    json.EndArray();
    std::printf("%s\n", json.Text().c_str());
  }
  return status;
}

}  // namespace

}  // namespace zvapp
