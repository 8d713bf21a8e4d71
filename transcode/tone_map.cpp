#include "transcode/tone_map.h"

#include "media/av_handles.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

namespace zv {

bool IsHdrVideo(const AVCodecParameters* p) {
  return p->color_trc == AVCOL_TRC_SMPTE2084 || p->color_trc == AVCOL_TRC_ARIB_STD_B67;
}

void CToneMap::GraphFreer::operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }

CToneMap::CToneMap(AVRational timeBase) : timeBase_(timeBase) {}
CToneMap::~CToneMap() = default;

bool CToneMap::SetUp(const AVFrame* f, std::string& message) {
  for (const char* name : {"zscale", "tonemap"}) {
    if (!avfilter_get_by_name(name)) {
      message = std::string("HDR video needs FFmpeg's \"") + name +
                "\" filter to be shown on a disc, and this system's libavfilter lacks it";
      return false;
    }
  }
  graph_.reset(avfilter_graph_alloc());
  if (!graph_) {
    message = "out of memory";
    return false;
  }
  const char* pix = av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
  const AVRational sar = f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : AVRational{1, 1};
  const std::string args = "video_size=" + std::to_string(f->width) + "x" + std::to_string(f->height) +
                           ":pix_fmt=" + (pix ? pix : "yuv420p10le") + ":time_base=" + std::to_string(timeBase_.num) +
                           "/" + std::to_string(timeBase_.den) + ":pixel_aspect=" + std::to_string(sar.num) + "/" +
                           std::to_string(sar.den);
  int err = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", args.c_str(), nullptr,
                                         graph_.get());
  if (err >= 0)
    err = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                       graph_.get());
  if (err < 0) {
    message = "cannot set up the tone mapping: " + av::ErrorText(err);
    return false;
  }
  // To linear light (100 nits as 1.0), BT.709 primaries, Hable's curve
  // without desaturation, then BT.709's transfer and matrix in video range.
  const bool hlg = f->color_trc == AVCOL_TRC_ARIB_STD_B67;
  const std::string chain = std::string("zscale=tin=") + (hlg ? "arib-std-b67" : "smpte2084") +
                            ":pin=bt2020:min=" + (f->colorspace == AVCOL_SPC_BT2020_CL ? "bt2020c" : "bt2020nc") +
                            ":rin=" + (f->color_range == AVCOL_RANGE_JPEG ? "pc" : "tv") +
                            ":t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=hable:desat=0,"
                            "zscale=t=bt709:m=bt709:r=tv,format=yuv420p";
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  if (!outputs || !inputs) {
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    message = "out of memory";
    return false;
  }
  outputs->name = av_strdup("in");
  outputs->filter_ctx = source_;
  inputs->name = av_strdup("out");
  inputs->filter_ctx = sink_;
  err = avfilter_graph_parse_ptr(graph_.get(), chain.c_str(), &inputs, &outputs, nullptr);
  avfilter_inout_free(&outputs);
  avfilter_inout_free(&inputs);
  if (err >= 0) err = avfilter_graph_config(graph_.get(), nullptr);
  if (err < 0) {
    message = "cannot set up the tone mapping: " + av::ErrorText(err);
    return false;
  }
  return true;
}

bool CToneMap::Push(const AVFrame* frame, const std::function<bool(const AVFrame*)>& take, bool& stopped,
                    std::string& message) {
  stopped = false;
  if (!graph_) {
    if (!frame) return true;  // nothing was ever decoded
    if (!SetUp(frame, message)) return false;
  }
  int err = 0;
  if (frame) {
    av::Frame copy(av_frame_clone(frame));
    if (!copy) {
      message = "out of memory";
      return false;
    }
    copy->pts = copy->best_effort_timestamp;
    err = av_buffersrc_add_frame(source_, copy.get());
  } else {
    err = av_buffersrc_add_frame(source_, nullptr);
  }
  if (err < 0) {
    message = "the tone mapping failed: " + av::ErrorText(err);
    return false;
  }
  av::Frame out(av_frame_alloc());
  if (!out) {
    message = "out of memory";
    return false;
  }
  for (;;) {
    err = av_buffersink_get_frame(sink_, out.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return true;
    if (err < 0) {
      message = "the tone mapping failed: " + av::ErrorText(err);
      return false;
    }
    out->best_effort_timestamp = out->pts;
    const bool ok = take(out.get());
    av_frame_unref(out.get());
    if (!ok) {
      stopped = true;
      return false;
    }
  }
}

}  // namespace zv
