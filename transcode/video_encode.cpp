#include "transcode/video_encode.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "media/av_handles.h"
#include "platform/file.h"
#include "platform/cache_path.h"
#include "platform/paths.h"
#include "transcode/tone_map.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <x264.h>
}

namespace zv {

// Under the disc's rate caps the slower presets gain little; bench/encode.sh
// measures the speed of this one beside its neighbours.
const char* const kDefaultVideoPreset = "fast";
const char* const kMsgNoVideoStream = "the file has no video stream";

namespace {

constexpr int kPeakRateKbps = 40000;  // the disc's video peak rate (level 4.1 allows 62500)
constexpr int kCpbKbits = 30000;      // the disc's CPB size for level 4.1 video

struct EncoderCloser {
  void operator()(x264_t* h) const { x264_encoder_close(h); }
};
using Encoder = std::unique_ptr<x264_t, EncoderCloser>;

// The picture handed to the encoder, owned.
class EncoderPicture {
 public:
  ~EncoderPicture() {
    if (allocated_) x264_picture_clean(&pic_);
  }
  bool Alloc(int w, int h) {
    x264_picture_init(&pic_);
    allocated_ = x264_picture_alloc(&pic_, X264_CSP_I420, w, h) == 0;
    return allocated_;
  }
  x264_picture_t* Get() { return &pic_; }

 private:
  x264_picture_t pic_{};
  bool allocated_ = false;
};

// The stream while it is written: a temporary name beside its final one,
// removed unless the stream was completed and renamed into place.
class PendingFile {
 public:
  ~PendingFile() {
    if (!temp_.empty()) {
      file_.Close();
      ::unlink(temp_.c_str());
    }
  }
  bool Create(const std::string& final) {
    const size_t slash = final.find_last_of('/');
    RemoveTempsOfDeadRuns(slash == std::string::npos ? std::string() : final.substr(0, slash),
                          final.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp~", false);
    final_ = final;
    temp_ = final + ".tmp~" + std::to_string(::getpid());
    ::unlink(temp_.c_str());
    if (file_.Open(temp_, File::kCreateNew)) return true;
    temp_.clear();
    return false;
  }
  File& file() { return file_; }
  // Closes, stamps the stream with the source's time (what a later run
  // checks to reuse it) and renames it into place.
  bool Commit(const struct timespec& sourceTime, std::string& error) {
    const struct timespec times[2] = {sourceTime, sourceTime};
    if (::futimens(file_.Descriptor(), times) != 0 || !file_.Close()) {
      error = file_.Error().empty() ? File::ErrorText("write", temp_, errno) : file_.Error();
      return false;
    }
    if (::rename(temp_.c_str(), final_.c_str()) != 0) {
      error = File::ErrorText("write", final_, errno);
      return false;
    }
    temp_.clear();
    return true;
  }

 private:
  File file_;
  std::string temp_, final_;
};

// The frame numbers of the encode that are forced to IDR pictures, sorted,
// the first (always one) left out.
std::vector<int64_t> IdrSlots(const SVideoEncodeOptions& o, const SVideoTarget& t) {
  std::vector<int64_t> slots;
  if (o.stillSeconds > 0) return slots;
  for (double s : o.idrSeconds) {
    const int64_t slot = std::llround(s * t.Fps());
    if (slot > 0) slots.push_back(slot);
  }
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  return slots;
}

std::string SettingsTag(const SVideoEncodeOptions& o, const SVideoTarget& t) {
  std::string tag = t.name;
  for (char& c : tag)
    if (c == ':') c = 'x';
  if (o.stillSeconds > 0) {
    char s[32];
    std::snprintf(s, sizeof s, "-still%gs", o.stillSeconds);
    tag += s;
  }
  if (o.bitrateKbps > 0)
    tag += "-b" + std::to_string(o.bitrateKbps);
  else
    tag += "-q" + std::to_string(o.quality >= 0 ? o.quality : kDefaultVideoQuality);
  if (!o.preset.empty() && o.preset != kDefaultVideoPreset) tag += "-" + o.preset;
  // Forced random-access pictures: their frame numbers, hashed, so that an
  // encode for other chapters is made anew.
  const std::vector<int64_t> idr = IdrSlots(o, t);
  if (!idr.empty()) {
    uint64_t h = 1469598103934665603ull;
    for (int64_t slot : idr) {
      for (int i = 0; i < 8; ++i) h = (h ^ static_cast<uint8_t>(slot >> (8 * i))) * 1099511628211ull;
    }
    char s[32];
    std::snprintf(s, sizeof s, "-idr%08x", static_cast<unsigned>(h ^ (h >> 32)));
    tag += s;
  }
  return "." + tag + ".264";
}

int SwsSpace(int colorspace, bool hd) {
  switch (colorspace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return hd ? SWS_CS_ITU709 : SWS_CS_ITU601;
  }
}

AVStream* FindVideo(AVFormatContext* in, int index, std::string& message) {
  if (index < 0) {
    for (unsigned i = 0; i < in->nb_streams; ++i)
      if (in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
          !(in->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return in->streams[i];
    message = kMsgNoVideoStream;
    return nullptr;
  }
  if (static_cast<unsigned>(index) >= in->nb_streams ||
      in->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    message = "stream " + std::to_string(index) + " of the file is not a video stream";
    return nullptr;
  }
  return in->streams[index];
}

SVideoSourceInfo InfoOf(AVFormatContext* in, AVStream* st) {
  SVideoSourceInfo info;
  info.width = static_cast<uint32_t>(st->codecpar->width);
  info.height = static_cast<uint32_t>(st->codecpar->height);
  const AVRational sar = av_guess_sample_aspect_ratio(in, st, nullptr);
  if (sar.num > 0 && sar.den > 0) {
    info.sarNum = static_cast<uint32_t>(sar.num);
    info.sarDen = static_cast<uint32_t>(sar.den);
  }
  const AVRational rate = av_guess_frame_rate(in, st, nullptr);
  if (rate.num > 0 && rate.den > 0) info.fps = av_q2d(rate);
  // A variable rate is better told by the average.
  if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) info.fps = av_q2d(st->avg_frame_rate);
  const AVFieldOrder fo = st->codecpar->field_order;
  info.interlaced = fo != AV_FIELD_UNKNOWN && fo != AV_FIELD_PROGRESSIVE;
  return info;
}

int64_t PlannedFrames(AVFormatContext* in, AVStream* st, const SVideoEncodeOptions& o, const SVideoTarget& t,
                      double retime) {
  double duration = 0;
  if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
    duration = static_cast<double>(st->duration) * av_q2d(st->time_base);
  else if (in->duration > 0)
    duration = static_cast<double>(in->duration) / AV_TIME_BASE;
  const double seconds = o.stillSeconds > 0 ? o.stillSeconds : duration * retime;
  return std::llround(seconds * t.Fps());
}

// Everything one encode holds; the steps return false with `message` set.
class VideoEncode {
 public:
  VideoEncode(const SVideoEncodeOptions& o, const Progress& p, std::string& m) : opt_(o), progress_(p), message_(m) {}

  bool SetUp(AVFormatContext* in, AVStream* st, const SVideoTarget& target, const SVideoSourceInfo& info);
  // Feeds one decoded picture; false on failure or cancel (cancelled_).
  bool Take(const AVFrame* frame);
  bool Finish();
  bool Cancelled() const { return cancelled_; }
  bool StillDone() const { return opt_.stillSeconds > 0 && held_; }
  int64_t Frames() const { return nextSlot_; }
  double Retime() const { return retime_; }
  const SVideoTarget& Target() const { return target_; }
  void SetOutput(File* out, const std::string& name) {
    out_ = out;
    name_ = name;
  }

 private:
  bool Emit(int64_t untilSlot);
  bool Encode(x264_picture_t* pic);
  bool Report();

  const SVideoEncodeOptions& opt_;
  Progress progress_;
  std::string& message_;
  File* out_ = nullptr;
  std::string name_;
  SVideoTarget target_;
  SActiveArea area_;
  Encoder enc_;
  EncoderPicture pic_;
  av::Scaler scaler_;
  AVRational timeBase_{1, 1};
  double sourceFps_ = 0;
  double retime_ = 1.0;
  bool hdSource_ = true;
  bool held_ = false;
  bool haveTime_ = false;
  double firstTime_ = 0, lastTime_ = 0;
  int64_t nextSlot_ = 0;
  int64_t expectedSlots_ = 0;
  std::vector<int64_t> idrSlots_;
  bool cancelled_ = false;
  std::chrono::steady_clock::time_point lastReport_;
};

bool VideoEncode::SetUp(AVFormatContext* in, AVStream* st, const SVideoTarget& target, const SVideoSourceInfo& info) {
  target_ = target;
  if (target_.scan == ScanMode::kFakeInterlaced && info.interlaced && info.height == target_.height)
    target_.scan = ScanMode::kInterlaced;
  area_ = FitPicture(info, target_);
  timeBase_ = st->time_base;
  sourceFps_ = info.fps;
  hdSource_ = info.height >= 720;
  retime_ = opt_.stillSeconds > 0 ? 1.0 : RetimeFactor(info.fps, target_);
  expectedSlots_ = PlannedFrames(in, st, opt_, target_, retime_);
  idrSlots_ = IdrSlots(opt_, target_);

  x264_param_t p;
  const std::string preset = opt_.preset.empty() ? kDefaultVideoPreset : opt_.preset;
  if (x264_param_default_preset(&p, preset.c_str(), nullptr) < 0) {
    message_ = "unknown encoder preset \"" + preset + "\"";
    return false;
  }
  p.i_log_level = X264_LOG_NONE;
  p.i_threads = opt_.threads > 0 ? opt_.threads : X264_THREADS_AUTO;
  p.i_width = static_cast<int>(target_.width);
  p.i_height = static_cast<int>(target_.height);
  p.i_csp = X264_CSP_I420;
  p.i_fps_num = target_.fpsNum;
  p.i_fps_den = target_.fpsDen;
  p.i_timebase_num = target_.fpsDen;
  p.i_timebase_den = target_.fpsNum;
  p.b_vfr_input = 0;
  if (expectedSlots_ > 0) p.i_frame_total = static_cast<int>(std::min<int64_t>(expectedSlots_, 1 << 30));
  p.vui.i_sar_width = static_cast<int>(target_.sarNum);
  p.vui.i_sar_height = static_cast<int>(target_.sarDen);
  // BT.709 at HD sizes; BT.601 of PAL or NTSC at SD (the pictures are
  // converted to match, whatever the source's matrix).
  const int sd = target_.height == 576 ? 5 : 6;
  p.vui.i_colorprim = target_.Hd() ? 1 : sd;
  p.vui.i_transfer = target_.Hd() ? 1 : 6;
  p.vui.i_colmatrix = target_.Hd() ? 1 : sd;
  p.vui.b_fullrange = 0;
  p.b_bluray_compat = 1;
  p.i_level_idc = 41;
  p.b_aud = 1;
  p.i_nal_hrd = X264_NAL_HRD_VBR;
  p.rc.i_vbv_max_bitrate = kPeakRateKbps;
  p.rc.i_vbv_buffer_size = kCpbKbits;
  // A random-access picture at least every second, every GOP closed.
  p.i_keyint_max = std::max(1, static_cast<int>(std::lround(target_.Fps())));
  p.i_keyint_min = std::min(p.i_keyint_min, p.i_keyint_max);
  p.b_open_gop = 0;
  p.i_slice_count = 4;
  p.i_bframe = std::min(p.i_bframe, 3);
  p.b_pic_struct = 1;
  if (target_.scan == ScanMode::kFakeInterlaced) p.b_fake_interlaced = 1;
  if (target_.scan == ScanMode::kInterlaced) {
    p.b_interlaced = 1;
    p.b_tff = st->codecpar->field_order != AV_FIELD_BB && st->codecpar->field_order != AV_FIELD_BT;
  }
  if (opt_.bitrateKbps > 0) {
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = std::min(opt_.bitrateKbps, kPeakRateKbps);
  } else {
    p.rc.i_rc_method = X264_RC_CRF;
    p.rc.f_rf_constant = static_cast<float>(opt_.quality >= 0 ? opt_.quality : kDefaultVideoQuality);
  }
  p.b_annexb = 1;
  p.b_repeat_headers = 1;
  if (x264_param_apply_profile(&p, "high") < 0) {
    message_ = "the encoder refused its settings";
    return false;
  }
  enc_.reset(x264_encoder_open(&p));
  if (!enc_) {
    message_ = "the encoder refused its settings";
    return false;
  }
  if (!pic_.Alloc(p.i_width, p.i_height)) {
    message_ = "out of memory";
    return false;
  }
  // Black around the picture, written once: the area never moves.
  x264_image_t& img = pic_.Get()->img;
  std::memset(img.plane[0], 16, static_cast<size_t>(img.i_stride[0]) * target_.height);
  std::memset(img.plane[1], 128, static_cast<size_t>(img.i_stride[1]) * target_.height / 2);
  std::memset(img.plane[2], 128, static_cast<size_t>(img.i_stride[2]) * target_.height / 2);
  lastReport_ = std::chrono::steady_clock::now();
  if (!progress_.Action("Encoding " + name_ + " as " + target_.name)) {
    cancelled_ = true;
    return false;
  }
  return true;
}

bool VideoEncode::Take(const AVFrame* f) {
  // Its time on the disc's clock, from the first picture.
  double t = lastTime_ + (sourceFps_ > 0 ? 1.0 / sourceFps_ : 1.0 / target_.Fps());
  if (f->best_effort_timestamp != AV_NOPTS_VALUE) t = static_cast<double>(f->best_effort_timestamp) * av_q2d(timeBase_);
  if (!haveTime_) {
    firstTime_ = t;
    haveTime_ = true;
  }
  // The picture held so far fills the slots up to this one's time: repeated
  // when the source is slower, left out when it is faster (variable rates).
  if (held_ && !Emit(std::llround((t - firstTime_) * retime_ * target_.Fps()))) return false;
  lastTime_ = t;

  scaler_.reset(sws_getCachedContext(scaler_.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                     static_cast<int>(area_.width), static_cast<int>(area_.height),
                                     AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!scaler_) {
    const char* fmt = av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
    message_ = std::string("cannot convert pictures of format ") + (fmt ? fmt : "?");
    return false;
  }
  sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(SwsSpace(f->colorspace, hdSource_)),
                           f->color_range == AVCOL_RANGE_JPEG, sws_getCoefficients(target_.Hd() ? SWS_CS_ITU709 : SWS_CS_ITU601),
                           0, 0, 1 << 16, 1 << 16);
  x264_image_t& img = pic_.Get()->img;
  uint8_t* dst[4] = {img.plane[0] + area_.y * img.i_stride[0] + area_.x,
                     img.plane[1] + area_.y / 2 * img.i_stride[1] + area_.x / 2,
                     img.plane[2] + area_.y / 2 * img.i_stride[2] + area_.x / 2, nullptr};
  const int stride[4] = {img.i_stride[0], img.i_stride[1], img.i_stride[2], 0};
  if (sws_scale(scaler_.get(), f->data, f->linesize, 0, f->height, dst, stride) <= 0) {
    message_ = "cannot convert a picture";
    return false;
  }
  held_ = true;
  if (opt_.stillSeconds > 0) return Emit(std::max<int64_t>(1, expectedSlots_));
  return true;
}

bool VideoEncode::Emit(int64_t untilSlot) {
  for (; nextSlot_ < untilSlot; ++nextSlot_) {
    pic_.Get()->i_pts = nextSlot_;
    pic_.Get()->i_type =
        std::binary_search(idrSlots_.begin(), idrSlots_.end(), nextSlot_) ? X264_TYPE_IDR : X264_TYPE_AUTO;
    if (!Encode(pic_.Get()) || !Report()) return false;
  }
  return true;
}

bool VideoEncode::Encode(x264_picture_t* pic) {
  x264_nal_t* nals = nullptr;
  int count = 0;
  x264_picture_t out;
  const int size = x264_encoder_encode(enc_.get(), &nals, &count, pic, &out);
  if (size < 0) {
    message_ = "the encoder failed";
    return false;
  }
  // The payloads of one call follow each other in one buffer.
  if (size > 0 && !out_->Write(nals[0].p_payload, static_cast<size_t>(size))) {
    message_ = out_->Error();
    return false;
  }
  return true;
}

bool VideoEncode::Report() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastReport_ < std::chrono::milliseconds(100) && nextSlot_ > 1) return true;
  lastReport_ = now;
  const int percent =
      expectedSlots_ > 0 ? static_cast<int>(std::min<int64_t>(99, nextSlot_ * 100 / expectedSlots_)) : 0;
  if (!progress_.Value(percent)) {
    cancelled_ = true;
    return false;
  }
  return true;
}

bool VideoEncode::Finish() {
  if (!held_) {
    message_ = "the video has no picture";
    return false;
  }
  if (opt_.stillSeconds <= 0) {
    const double frame = sourceFps_ > 0 ? 1.0 / sourceFps_ : 1.0 / target_.Fps();
    const int64_t end = std::llround((lastTime_ + frame - firstTime_) * retime_ * target_.Fps());
    if (!Emit(std::max<int64_t>(1, end)))
      return false;
  }
  while (x264_encoder_delayed_frames(enc_.get()) > 0)
    if (!Encode(nullptr)) return false;
  return true;
}

int Decode(AVFormatContext* in, AVStream* st, VideoEncode& enc, std::string& message) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) {
    message = std::string("no decoder for ") + avcodec_get_name(st->codecpar->codec_id) + " video";
    return kFailed;
  }
  av::Codec dec(avcodec_alloc_context3(codec));
  if (!dec) {
    message = "out of memory";
    return kFailed;
  }
  int err = avcodec_parameters_to_context(dec.get(), st->codecpar);
  dec->pkt_timebase = st->time_base;
  // Damage is reported, not concealed.
  dec->err_recognition |= AV_EF_EXPLODE;
  if (err >= 0) err = avcodec_open2(dec.get(), codec, nullptr);
  if (err < 0) {
    message = av::ErrorText(err);
    return kFailed;
  }
  av::Packet pkt(av_packet_alloc());
  av::Frame frame(av_frame_alloc());
  if (!pkt || !frame) {
    message = "out of memory";
    return kFailed;
  }
  // HDR pictures are tone-mapped on their way to the encoder.
  std::unique_ptr<CToneMap> toneMap;
  if (IsHdrVideo(st->codecpar)) toneMap = std::make_unique<CToneMap>(st->time_base);
  auto take = [&](const AVFrame* f) -> int {
    if (!toneMap) return enc.Take(f) ? kOk : enc.Cancelled() ? kCancelled : kFailed;
    bool stopped = false;
    if (toneMap->Push(f, [&](const AVFrame* mapped) { return enc.Take(mapped) && !enc.StillDone(); }, stopped, message))
      return kOk;
    if (!stopped) return kFailed;
    return enc.Cancelled() ? kCancelled : enc.StillDone() ? kOk : kFailed;
  };
  auto drain = [&]() -> int {
    for (;;) {
      const int r = avcodec_receive_frame(dec.get(), frame.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return kOk;
      if (r < 0) {
        message = av::ErrorText(r);
        return kFailed;
      }
      // A picture the decoder had to patch up is damage too.
      if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) {
        message = av::ErrorText(AVERROR_INVALIDDATA);
        return kFailed;
      }
      const int rc = take(frame.get());
      av_frame_unref(frame.get());
      if (rc != kOk) return rc;
      if (enc.StillDone()) return kOk;
    }
  };
  for (;;) {
    err = av_read_frame(in, pkt.get());
    if (err == AVERROR_EOF) break;
    if (err < 0) {
      message = av::ErrorText(err);
      return kFailed;
    }
    if (pkt->stream_index != st->index) {
      av_packet_unref(pkt.get());
      continue;
    }
    err = avcodec_send_packet(dec.get(), pkt.get());
    av_packet_unref(pkt.get());
    if (err < 0 && err != AVERROR(EAGAIN)) {
      message = av::ErrorText(err);
      return kFailed;
    }
    if (int rc = drain()) return rc;
    if (enc.StillDone()) return kOk;
  }
  avcodec_send_packet(dec.get(), nullptr);
  if (int rc = drain()) return rc;
  return toneMap && !enc.StillDone() ? take(nullptr) : kOk;
}

// An earlier encode, stamped with the time of the source it was made from.
bool EncodeIsCurrent(const std::string& path, const struct stat& source) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
         st.st_mtim.tv_sec == source.st_mtim.tv_sec && st.st_mtim.tv_nsec == source.st_mtim.tv_nsec;
}

}  // namespace

bool CheckVideoEncodeOptions(const SVideoEncodeOptions& o, std::string& message) {
  SVideoTarget t;
  if (!o.format.empty() && !ParseVideoTarget(o.format, t)) {
    message = "unknown video format \"" + o.format + "\" (one of";
    for (const std::string& n : VideoTargetNames()) message += " " + n;
    message += ")";
    return false;
  }
  if (o.quality > 51) {
    message = "the quality is a number from 0 (best) to 51";
    return false;
  }
  if (o.bitrateKbps < 0 || o.bitrateKbps > kPeakRateKbps) {
    message = "the bit rate is at most " + std::to_string(kPeakRateKbps) + " kbit/s";
    return false;
  }
  return true;
}

std::string EncodedPathBeside(const std::string& source, const SVideoEncodeOptions& o, const SVideoTarget& t) {
  return source + SettingsTag(o, t);
}

std::string EncodedPathInTemp(const std::string& source, const SVideoEncodeOptions& o, const SVideoTarget& t) {
  return CachePathInTemp(source, SettingsTag(o, t));
}

bool ProbeVideoSource(const std::string& source, int streamIndex, SVideoSourceInfo& info, std::string& message) {
  av::Input in = av::OpenInput(source, message);
  if (!in) return false;
  AVStream* st = FindVideo(in.get(), streamIndex, message);
  if (!st) return false;
  info = InfoOf(in.get(), st);
  return true;
}

bool PlanVideoEncode(const std::string& source, const SVideoEncodeOptions& options, SVideoEncodePlan& plan,
                     std::string& message) {
  if (!CheckVideoEncodeOptions(options, message)) return false;
  av::Input in = av::OpenInput(source, message);
  if (!in) return false;
  AVStream* st = FindVideo(in.get(), options.streamIndex, message);
  if (!st) return false;
  const SVideoSourceInfo info = InfoOf(in.get(), st);
  plan = SVideoEncodePlan{};
  if (options.format.empty())
    plan.target = ChooseVideoTarget(info);
  else
    ParseVideoTarget(options.format, plan.target);
  plan.retime = options.stillSeconds > 0 ? 1.0 : RetimeFactor(info.fps, plan.target);
  plan.frames = PlannedFrames(in.get(), st, options, plan.target, plan.retime);
  return true;
}

int EncodeVideo(const std::string& source, const SVideoEncodeOptions& options, SVideoEncodeResult& result,
                std::string& message, const Progress& progress) {
  if (!CheckVideoEncodeOptions(options, message)) return kFailed;
  struct stat sourceStat;
  if (::stat(source.c_str(), &sourceStat) != 0) {
    message = File::ErrorText("open", source, errno);
    return kFailed;
  }
  av::Input in = av::OpenInput(source, message);
  if (!in) return kFailed;
  AVStream* st = FindVideo(in.get(), options.streamIndex, message);
  if (!st) return kFailed;
  const SVideoSourceInfo info = InfoOf(in.get(), st);
  if (info.width == 0 || info.height == 0) {
    message = "the video's picture size is unknown";
    return kFailed;
  }
  SVideoTarget target;
  if (options.format.empty())
    target = ChooseVideoTarget(info);
  else
    ParseVideoTarget(options.format, target);
  result = SVideoEncodeResult{};
  result.target = target;
  result.toneMapped = options.stillSeconds <= 0 && IsHdrVideo(st->codecpar);
  if (target.scan == ScanMode::kFakeInterlaced && info.interlaced && info.height == target.height)
    result.target.scan = ScanMode::kInterlaced;

  const std::string places[2] = {EncodedPathBeside(source, options, target),
                                 EncodedPathInTemp(source, options, target)};
  for (const std::string& place : places)
    if (EncodeIsCurrent(place, sourceStat)) {
      result.path = place;
      result.reused = true;
      result.retime = options.stillSeconds > 0 ? 1.0 : RetimeFactor(info.fps, target);
      return kOk;
    }

  // Beside the source when its folder takes the file, else the temporary folder.
  PendingFile out;
  std::string createError;
  for (const std::string& place : places) {
    if (out.Create(place)) {
      result.path = place;
      break;
    }
    if (createError.empty()) createError = out.file().Error();
  }
  if (result.path.empty()) {
    message = createError;
    return kFailed;
  }

  VideoEncode enc(options, progress, message);
  enc.SetOutput(&out.file(), FileNameOf(source));
  if (!enc.SetUp(in.get(), st, target, info)) return enc.Cancelled() ? kCancelled : kFailed;
  if (int rc = Decode(in.get(), st, enc, message)) return rc;
  if (!enc.Finish()) return enc.Cancelled() ? kCancelled : kFailed;
  if (!out.Commit(sourceStat.st_mtim, message)) return kFailed;
  result.frames = enc.Frames();
  result.target = enc.Target();
  result.retime = enc.Retime();
  progress.Value(100);
  return kOk;
}

}  // namespace zv
