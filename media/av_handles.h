// Owning handles for the FFmpeg libraries' objects (demuxer, decoder,
// encoder, frames, packets, resampler, scaler), so that every early return
// frees them, and the one way we turn their error codes into words.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace zv::av {

struct InputCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrFreer {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct SwsFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Resampler = std::unique_ptr<SwrContext, SwrFreer>;
using Scaler = std::unique_ptr<SwsContext, SwsFreer>;

// The library's own wording for an AVERROR code ("Invalid data found when
// processing input").
std::string ErrorText(int err);

// Opens `path` with libavformat and reads its stream information. On failure
// returns null and sets `why` to the library's reason.
Input OpenInput(const std::string& path, std::string& why);

}  // namespace zv::av
