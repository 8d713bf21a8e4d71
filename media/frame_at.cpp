#include "media/frame_at.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "media/av_handles.h"
#include "platform/byte_source.h"
#include "platform/parallel.h"

namespace zv {

namespace {

// `scaler` is kept from picture to picture: making one costs more than
// scaling with it.
bool Scale(const AVFrame& frame, int width, int height, av::Scaler& scaler, CPicture& out) {
  scaler.reset(sws_getCachedContext(scaler.release(), frame.width, frame.height,
                                    static_cast<AVPixelFormat>(frame.format), width, height, AV_PIX_FMT_ARGB,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!scaler) return false;
  // The source's own colour matrix and range (HD video without a tag is
  // BT.709), so that colours come out as a player shows them.
  int space = frame.colorspace;
  if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RGB || space == AVCOL_SPC_RESERVED)
    space = frame.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
  sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(space), frame.color_range == AVCOL_RANGE_JPEG,
                           sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
  out.Allocate(width, height, PixelFormat::Argb32);
  uint8_t* dst[4] = {out.pixels.data(), nullptr, nullptr, nullptr};
  const int stride[4] = {static_cast<int>(out.Stride()), 0, 0, 0};
  sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, dst, stride);
  return true;
}

}  // namespace

int DecodeFramesAt(const std::string& path, const std::vector<int64_t>& frames, int width, int height,
                   std::vector<CPicture>& out, const Progress& progress, std::string& error, int decoderThreads) {
  auto fail = [&](const std::string& why) {
    error = "Cannot decode the pictures of \"" + path + "\": " + why;
    return kFailed;
  };
  out.assign(frames.size(), CPicture{});
  if (frames.empty()) return kOk;
  if (width <= 0 || height <= 0) return fail("no picture size");
  std::string why;
  // A container's track ("movie.mkv#0.264") is decoded from the container.
  std::string source = path, ext;
  int track = -1;
  if (IsTrackPath(path) && !SplitTrackPath(path, source, track, ext)) return fail("not a track of a container");
  av::Input in = av::OpenInput(source, why);
  if (!in) return fail(why);
  const AVCodec* decoder = nullptr;
  int index = -1;
  if (track < 0) {
    index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  } else if (static_cast<unsigned>(track) < in->nb_streams &&
             in->streams[track]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    index = track;
    decoder = avcodec_find_decoder(in->streams[track]->codecpar->codec_id);
  }
  if (index < 0 || !decoder) return fail("it has no video stream that can be decoded");
  av::Codec codec(avcodec_alloc_context3(decoder));
  if (!codec) return fail("out of memory");
  int err = avcodec_parameters_to_context(codec.get(), in->streams[index]->codecpar);
  // Every picture up to the last is decoded: by default on every core.
  codec->thread_count = std::max(0, decoderThreads);
  // The pictures are shown scaled down: the deblocking filter's effect is
  // lost in the scaling, its cost is not.
  codec->skip_loop_filter = AVDISCARD_ALL;
  codec->flags2 |= AV_CODEC_FLAG2_FAST;
  if (err >= 0) err = avcodec_open2(codec.get(), decoder, nullptr);
  if (err < 0) return fail(av::ErrorText(err));
  av::Scaler scaler;
  av::Packet packet(av_packet_alloc());
  av::Frame frame(av_frame_alloc());
  av::Frame last(av_frame_alloc());
  if (!packet || !frame || !last) return fail("out of memory");

  // Pictures are kept in the order of their numbers. A container with
  // timestamps numbers its pictures by time and is sought to a picture
  // far ahead (a seek costs decoding from the keyframe before it); a raw
  // stream is decoded from its start, counting pictures.
  AVStream* st = in->streams[index];
  const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
  // Raw elementary streams (indexed as they are read) carry no times of
  // their own: their pictures are counted.
  const bool timed =
      !(in->iformat->flags & (AVFMT_NOTIMESTAMPS | AVFMT_GENERIC_INDEX)) && rate.num > 0 && rate.den > 0;
  const int64_t seekGap = timed ? int64_t(1.5 * rate.num / rate.den) : 0;
  const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  auto numberOf = [&](int64_t pts) {
    // (pts - start) * time_base * rate, rounded to the nearest picture.
    return av_rescale_q_rnd(pts - start, st->time_base, av_inv_q(rate),
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  };
  std::vector<size_t> order(frames.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return frames[a] < frames[b]; });
  size_t next = 0;
  int64_t counter = 0, current = -1, soughtFor = -1;
  bool flushed = false, any = false;
  while (next < order.size()) {
    const int64_t target = frames[order[next]];
    if (timed && target > current + seekGap && soughtFor != target) {
      soughtFor = target;
      const int64_t ts = start + av_rescale_q(target, av_inv_q(rate), st->time_base);
      if (av_seek_frame(in.get(), index, ts, AVSEEK_FLAG_BACKWARD) >= 0) {
        avcodec_flush_buffers(codec.get());
        flushed = false;
      }
    }
    err = avcodec_receive_frame(codec.get(), frame.get());
    if (err >= 0) {
      const int64_t pts = frame->best_effort_timestamp;
      const int64_t n = timed && pts != AV_NOPTS_VALUE ? numberOf(pts) : counter;
      ++counter;
      current = n;
      for (; next < order.size() && frames[order[next]] <= n; ++next)
        if (!Scale(*frame, width, height, scaler, out[order[next]])) return fail("its pixel format cannot be converted");
      av_frame_unref(last.get());
      av_frame_move_ref(last.get(), frame.get());
      any = true;
      if (counter % 64 == 0 && !progress.Value(static_cast<int32_t>(next * 100 / order.size()))) return kCancelled;
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
    if (out[i].pixels.empty() && last->width > 0 && !Scale(*last, width, height, scaler, out[i])) return fail("its pixel format cannot be converted");
  return kOk;
}

int DecodeFramesOfFiles(std::vector<SFramesWanted>& files, int width, int height, int threads,
                        const Progress& progress) {
  if (files.empty()) return kOk;
  const size_t workers = threads > 0 ? std::min(files.size(), size_t(threads)) : ParallelWidth(files.size());
  // One file at a time uses the decoder's threads; several at once use one
  // core each, which costs less than the decoder's threads keeping in step.
  const int decoderThreads = workers > 1 ? 1 : 0;
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> stop{false};
  std::atomic<size_t> done{0};
  const Progress helper{[](void* c, const SProgressInfo*) { return static_cast<std::atomic<bool>*>(c)->load() ? 0 : 1; },
                        &stop};
  ParallelFor(
      files.size(),
      [&](size_t i) {
        SFramesWanted& f = files[i];
        f.pictures.clear();
        f.error.clear();
        if (stop) {
          f.result = kCancelled;
          return;
        }
        f.result = DecodeFramesAt(f.path, f.frames, width, height, f.pictures, helper, f.error, decoderThreads);
        const size_t finished = ++done;
        if (std::this_thread::get_id() == caller && !progress.Value(int32_t(finished * 100 / files.size())))
          stop = true;
      },
      workers);
  if (stop) return kCancelled;
  for (const SFramesWanted& f : files)
    if (f.result == kCancelled) return kCancelled;
  return kOk;
}

}  // namespace zv
