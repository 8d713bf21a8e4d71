#include "media/frame_at.h"

#include <algorithm>

#include "media/av_handles.h"

namespace zv {

namespace {

bool Scale(const AVFrame& frame, int width, int height, CPicture& out) {
  av::Scaler scaler(sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width, height,
                                   AV_PIX_FMT_ARGB, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!scaler) return false;
  out.Allocate(width, height, PixelFormat::Argb32);
  uint8_t* dst[4] = {out.pixels.data(), nullptr, nullptr, nullptr};
  const int stride[4] = {static_cast<int>(out.Stride()), 0, 0, 0};
  sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, dst, stride);
  return true;
}

}  // namespace

int DecodeFramesAt(const std::string& path, const std::vector<int64_t>& frames, int width, int height,
                   std::vector<CPicture>& out, const Progress& progress, std::string& error) {
  auto fail = [&](const std::string& why) {
    error = "Cannot decode the pictures of \"" + path + "\": " + why;
    return kFailed;
  };
  out.assign(frames.size(), CPicture{});
  if (frames.empty()) return kOk;
  if (width <= 0 || height <= 0) return fail("no picture size");
  std::string why;
  av::Input in = av::OpenInput(path, why);
  if (!in) return fail(why);
  const AVCodec* decoder = nullptr;
  const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (index < 0 || !decoder) return fail("it has no video stream that can be decoded");
  av::Codec codec(avcodec_alloc_context3(decoder));
  if (!codec) return fail("out of memory");
  int err = avcodec_parameters_to_context(codec.get(), in->streams[index]->codecpar);
  if (err >= 0) err = avcodec_open2(codec.get(), decoder, nullptr);
  if (err < 0) return fail(av::ErrorText(err));
  av::Packet packet(av_packet_alloc());
  av::Frame frame(av_frame_alloc());
  av::Frame last(av_frame_alloc());
  if (!packet || !frame || !last) return fail("out of memory");

  const int64_t wanted = *std::max_element(frames.begin(), frames.end());
  int64_t number = 0;  // of the next picture the decoder gives
  bool flushed = false, any = false;
  auto keep = [&](const AVFrame& f, int64_t n) {
    for (size_t i = 0; i < frames.size(); ++i)
      if (frames[i] == n && !Scale(f, width, height, out[i])) return false;
    return true;
  };
  while (number <= wanted) {
    err = avcodec_receive_frame(codec.get(), frame.get());
    if (err >= 0) {
      if (!keep(*frame, number)) return fail("its pixel format cannot be converted");
      av_frame_unref(last.get());
      av_frame_move_ref(last.get(), frame.get());
      any = true;
      if (++number % 64 == 0 && !progress.Value(static_cast<int32_t>(number * 100 / (wanted + 1))))
        return kCancelled;
      continue;
    }
    if (err == AVERROR_EOF || (err == AVERROR(EAGAIN) && flushed)) break;
    if (err != AVERROR(EAGAIN)) return fail(av::ErrorText(err));
    for (;;) {
      err = av_read_frame(in.get(), packet.get());
      if (err < 0) {
        avcodec_send_packet(codec.get(), nullptr);
        flushed = true;
        break;
      }
      const bool ours = packet->stream_index == index;
      if (ours) err = avcodec_send_packet(codec.get(), packet.get());
      av_packet_unref(packet.get());
      if (ours) {
        if (err < 0 && err != AVERROR(EAGAIN)) return fail(av::ErrorText(err));
        break;
      }
    }
  }
  if (!any) return fail("it holds no picture");
  // Numbers past the end show the last picture.
  for (size_t i = 0; i < frames.size(); ++i)
    if (out[i].pixels.empty() && !Scale(*last, width, height, out[i])) return fail("its pixel format cannot be converted");
  return kOk;
}

}  // namespace zv
