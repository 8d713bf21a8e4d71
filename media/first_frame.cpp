#include "media/first_frame.h"

#include "media/av_handles.h"

namespace zv {

bool DecodeFirstFrame(const std::string& path, int width, int height, CPicture& out, std::string& error) {
  auto fail = [&](const std::string& why) {
    error = "Cannot decode the first picture of \"" + path + "\": " + why;
    return false;
  };
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
  if (!packet || !frame) return fail("out of memory");
  bool got = false, flushed = false;
  while (!got) {
    err = avcodec_receive_frame(codec.get(), frame.get());
    if (err >= 0) {
      got = true;
      break;
    }
    if (err != AVERROR(EAGAIN) || flushed) return fail(err == AVERROR_EOF ? "it holds no picture" : av::ErrorText(err));
    // More input: the stream's next packet, or the end that drains the
    // decoder.
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
  av::Scaler scaler(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width, height,
                                   AV_PIX_FMT_ARGB, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!scaler) return fail("its pixel format cannot be converted");
  out.Allocate(width, height, PixelFormat::Argb32);
  uint8_t* dst[4] = {out.pixels.data(), nullptr, nullptr, nullptr};
  const int stride[4] = {static_cast<int>(out.Stride()), 0, 0, 0};
  sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, dst, stride);
  return true;
}

}  // namespace zv
