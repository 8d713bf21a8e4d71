// HDR video (PQ or HLG transfer, BT.2020 colours) brought to the BT.709 SDR
// a disc carries, through libavfilter's zscale and tonemap filters.
#pragma once

#include <functional>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct AVFilterGraph;
struct AVFilterContext;

namespace zv {

// True when the stream's pictures are HDR: a PQ or HLG transfer.
bool IsHdrVideo(const AVCodecParameters* p);

class CToneMap {
 public:
  // `timeBase` is the stream's; pictures keep their time stamps.
  explicit CToneMap(AVRational timeBase);
  ~CToneMap();
  CToneMap(const CToneMap&) = delete;
  CToneMap& operator=(const CToneMap&) = delete;

  // Maps one decoded picture (null: the end) and hands each mapped picture
  // to `take`, which returns false to stop. False with `message` on a
  // failure of the filters; `stopped` when `take` stopped.
  bool Push(const AVFrame* frame, const std::function<bool(const AVFrame*)>& take, bool& stopped,
            std::string& message);

 private:
  bool SetUp(const AVFrame* first, std::string& message);

  AVRational timeBase_;
  struct GraphFreer {
    void operator()(AVFilterGraph* g) const;
  };
  std::unique_ptr<AVFilterGraph, GraphFreer> graph_;
  AVFilterContext* source_ = nullptr;  // owned by the graph
  AVFilterContext* sink_ = nullptr;
};

}  // namespace zv
