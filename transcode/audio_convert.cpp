#include "transcode/audio_convert.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "media/av_handles.h"
#include "platform/cache_path.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "transcode/audio_wav.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
}

namespace zv {

namespace {

constexpr int kDiscRate = 48000;
constexpr int kAc3FrameSamples = 1536;
// The AC-3 rates a disc takes, kbit/s.
constexpr uint32_t kAc3Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};

struct FifoFreer {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using Fifo = std::unique_ptr<AVAudioFifo, FifoFreer>;

std::string CodecLabel(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_AAC: return "AAC";
    case AV_CODEC_ID_MP3: return "MP3";
    case AV_CODEC_ID_MP2: return "MPEG-1 Layer II";
    case AV_CODEC_ID_FLAC: return "FLAC";
    case AV_CODEC_ID_OPUS: return "Opus";
    case AV_CODEC_ID_VORBIS: return "Vorbis";
    case AV_CODEC_ID_AC3: return "AC-3";
    case AV_CODEC_ID_EAC3: return "E-AC-3";
    case AV_CODEC_ID_DTS: return "DTS";
    case AV_CODEC_ID_TRUEHD: return "TrueHD";
    case AV_CODEC_ID_MLP: return "MLP";
    case AV_CODEC_ID_ALAC: return "ALAC";
    default: break;
  }
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  if (d && std::string(d->name).compare(0, 4, "pcm_") == 0) return "PCM";
  return d ? d->name : "unknown";
}

bool IsDiscRate(int rate) { return rate == 48000 || rate == 96000 || rate == 192000; }

// Whether the disc takes the stream as it is; `why` when not.
bool DiscCarries(const AVCodecParameters* p, std::string& why) {
  const std::string label = CodecLabel(p->codec_id);
  const int rate = p->sample_rate;
  const int channels = p->ch_layout.nb_channels;
  switch (p->codec_id) {
    case AV_CODEC_ID_AC3:
      if (rate == kDiscRate) return true;
      why = "AC-3 at " + std::to_string(rate) + " Hz is not a disc format (a disc takes AC-3 at 48 kHz)";
      return false;
    case AV_CODEC_ID_EAC3:
      why = "E-AC-3 without an AC-3 core is not a disc format";
      return false;
    case AV_CODEC_ID_DTS:
    case AV_CODEC_ID_TRUEHD:
    case AV_CODEC_ID_MLP:
      if (IsDiscRate(rate)) return true;
      break;
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S24LE:
      if (IsDiscRate(rate) && channels >= 2 && channels <= 8 && channels % 2 == 0) return true;
      if (IsDiscRate(rate)) {
        why = "PCM with " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
              " is not a disc format (a disc takes 2, 4, 6 or 8)";
        return false;
      }
      break;
    default:
      why = label + " audio is not a disc format";
      return false;
  }
  why = label + " at " + std::to_string(rate) + " Hz is not a disc format (a disc takes 48, 96 or 192 kHz)";
  return false;
}

int SourceBits(const AVCodecParameters* p) {
  if (p->bits_per_raw_sample > 0) return p->bits_per_raw_sample;
  return av_get_exact_bits_per_sample(p->codec_id);  // 0 for lossy codecs
}

// Opens `path` and picks the audio stream; null with `error` set.
av::Input OpenAudio(const std::string& path, int& streamIndex, std::string& error) {
  std::string why;
  av::Input in = av::OpenInput(path, why);
  if (!in) {
    error = "Cannot read \"" + path + "\": " + why;
    return nullptr;
  }
  if (streamIndex < 0) {
    streamIndex = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
      error = "\"" + path + "\" holds no audio stream";
      return nullptr;
    }
  }
  if (static_cast<unsigned>(streamIndex) >= in->nb_streams ||
      in->streams[streamIndex]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
    error = "stream " + std::to_string(streamIndex) + " of \"" + path + "\" is not an audio stream";
    return nullptr;
  }
  return in;
}

unsigned PopCount(uint64_t v) {
  unsigned n = 0;
  for (; v; v &= v - 1) ++n;
  return n;
}

std::string LayoutName(uint64_t mask) {
  AVChannelLayout l{};
  av_channel_layout_from_mask(&l, mask);
  char buf[128] = {};
  av_channel_layout_describe(&l, buf, sizeof buf);
  return buf;
}

// The speakers of a decoded layout as a mask; the default layout of its
// channel count when the order is not known or a speaker repeats.
uint64_t SpeakerMask(const AVChannelLayout& l) {
  if (l.order == AV_CHANNEL_ORDER_NATIVE) return l.u.mask;
  uint64_t mask = 0;
  if (l.order == AV_CHANNEL_ORDER_CUSTOM) {
    for (int i = 0; i < l.nb_channels; ++i) {
      const AVChannel c = av_channel_layout_channel_from_index(&l, static_cast<unsigned>(i));
      if (c >= 0 && c < 64) mask |= 1ull << c;
    }
    if (PopCount(mask) == static_cast<unsigned>(l.nb_channels)) return mask;
  }
  AVChannelLayout d{};
  av_channel_layout_default(&d, l.nb_channels);
  mask = d.order == AV_CHANNEL_ORDER_NATIVE ? d.u.mask : 0;
  av_channel_layout_uninit(&d);
  return mask;
}

// The layouts the LPCM of a disc takes, in WAV speaker bits (FFmpeg's
// masks use the same bits), smallest first.
constexpr uint64_t kLpcmLayouts[] = {
    AV_CH_LAYOUT_STEREO,
    AV_CH_LAYOUT_4POINT0,                                // L R C, one surround
    AV_CH_LAYOUT_QUAD, AV_CH_LAYOUT_2_2,                 // L R and a back or side pair
    AV_CH_LAYOUT_5POINT1_BACK, AV_CH_LAYOUT_5POINT1,     // 5.1 with a back or side pair
    AV_CH_LAYOUT_7POINT1,
};

// How the decoded channels become the output's.
struct SPlan {
  uint64_t mixMask = 0;  // what the resampler delivers
  uint64_t outMask = 0;  // what is written
  std::string note;
};

SPlan PlanLpcm(uint64_t src, int channels) {
  SPlan p;
  if (channels == 1) {
    p.mixMask = AV_CH_FRONT_CENTER;
    p.outMask = AV_CH_LAYOUT_STEREO;
    p.note = "mono is written as two equal channels (a disc's LPCM has 2 to 8 channels)";
    return p;
  }
  for (uint64_t l : kLpcmLayouts) {
    if ((src & ~l) == 0 && src != 0) {
      p.mixMask = src;
      p.outMask = l;
      if (l != src)
        p.note = "the " + LayoutName(src) + " channels are placed in " + LayoutName(l) + ", the other speakers silent";
      return p;
    }
  }
  p.mixMask = p.outMask = channels > 6 ? AV_CH_LAYOUT_7POINT1 : AV_CH_LAYOUT_5POINT1_BACK;
  p.note = "the " + (src ? LayoutName(src) : std::to_string(channels) + " channels") + " layout is mixed down to " +
           LayoutName(p.mixMask);
  return p;
}

SPlan PlanAc3(const AVCodec* enc, uint64_t src, int channels) {
  SPlan p;
  for (const AVChannelLayout* l = enc->ch_layouts; l && l->nb_channels; ++l) {
    if (l->order == AV_CHANNEL_ORDER_NATIVE && l->u.mask == src && src != 0) {
      p.mixMask = p.outMask = src;
      return p;
    }
  }
  p.mixMask = p.outMask = channels > 2 ? AV_CH_LAYOUT_5POINT1_BACK : channels == 2 ? AV_CH_LAYOUT_STEREO : AV_CH_LAYOUT_MONO;
  p.note = "the " + (src ? LayoutName(src) : std::to_string(channels) + " channels") + " layout is mixed down to " +
           LayoutName(p.mixMask);
  return p;
}

// One conversion into an open file. The decode-side failures name the
// source; a write failure leaves `writeFailed` set so that another place
// may be tried.
class CConversion {
 public:
  CConversion(const std::string& path, int streamIndex, const SAudioTarget& target, const Progress& progress)
      : path_(path), index_(streamIndex), target_(target), progress_(progress) {}

  // Opens the source and plans the output; kFailed with `error`.
  int Open(std::string& error);
  // Converts into `out` (positioned at 0). kOk, kCancelled or kFailed.
  int Run(File& out, std::string& error);

  const SPlan& Plan() const { return plan_; }
  uint32_t BitRate() const { return bitRate_; }
  int LpcmBits() const { return lpcmBits_; }
  bool WriteFailed() const { return writeFailed_; }

 private:
  int Fail(std::string& error, const std::string& why) {
    error = "Cannot convert the audio of \"" + path_ + "\": " + why;
    return kFailed;
  }
  int WriteFail(std::string& error, const File& out) {
    writeFailed_ = true;
    error = out.Error();
    return kFailed;
  }
  int Decoded(const AVFrame* frame, File& out, std::string& error);
  int Encode(const AVFrame* frame, File& out, std::string& error);
  int WriteLpcm(const uint8_t* data, int samples, File& out, std::string& error);
  int DrainFifo(bool last, File& out, std::string& error);

  std::string path_;
  int index_;
  SAudioTarget target_;
  Progress progress_;
  av::Input in_;
  av::Codec dec_, enc_;
  av::Resampler swr_;
  Fifo fifo_;
  SPlan plan_;
  uint32_t bitRate_ = 0;
  int lpcmBits_ = 0;
  int mixChannels_ = 0;
  AVSampleFormat mixFormat_ = AV_SAMPLE_FMT_NONE;
  int inRate_ = 0, inFormat_ = AV_SAMPLE_FMT_NONE;
  uint64_t srcMask_ = 0;
  std::vector<uint8_t> mixed_, bytes_;
  std::vector<int> slots_;  // output channel -> mixed channel, -1 silent
  uint64_t dataSize_ = 0;
  int64_t encodedSamples_ = 0;
  int skipSamples_ = 0;
  bool writeFailed_ = false;
};

int CConversion::Open(std::string& error) {
  if (target_.slowNum == 0 || target_.slowDen == 0 || int64_t{kDiscRate} * target_.slowNum % target_.slowDen != 0 ||
      int64_t{kDiscRate} * target_.slowNum / target_.slowDen > 4 * kDiscRate)
    return Fail(error, "cannot slow it by " + std::to_string(target_.slowNum) + "/" + std::to_string(target_.slowDen));
  in_ = OpenAudio(path_, index_, error);
  if (!in_) return kFailed;
  const AVCodecParameters* par = in_->streams[index_]->codecpar;
  const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
  if (!decoder) return Fail(error, "no decoder for " + CodecLabel(par->codec_id));
  dec_.reset(avcodec_alloc_context3(decoder));
  if (!dec_) return Fail(error, av::ErrorText(AVERROR(ENOMEM)));
  int err = avcodec_parameters_to_context(dec_.get(), par);
  // Damage is a failure, not a gap in the result.
  dec_->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
  if (err >= 0) err = avcodec_open2(dec_.get(), decoder, nullptr);
  if (err < 0) return Fail(error, av::ErrorText(err));
  const int channels = dec_->ch_layout.nb_channels;
  if (channels <= 0 || dec_->sample_rate <= 0) return Fail(error, "the stream gives no channel count or sample rate");
  const uint64_t src = SpeakerMask(dec_->ch_layout);
  if (src == 0 || PopCount(src) != static_cast<unsigned>(channels))
    return Fail(error, "its " + std::to_string(channels) + " channels have no speaker layout to convert from");

  if (target_.kind == SAudioTarget::kLpcm) {
    plan_ = PlanLpcm(src, channels);
    const int bits = SourceBits(par);
    lpcmBits_ = bits > 0 && bits <= 16 ? 16 : 24;
    mixFormat_ = lpcmBits_ == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
  } else {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AC3);
    if (!encoder) return Fail(error, "this system's libavcodec has no AC-3 encoder");
    plan_ = PlanAc3(encoder, src, channels);
    bitRate_ = target_.bitRate ? target_.bitRate : PopCount(plan_.outMask) >= 6 ? 640000 : 448000;
    enc_.reset(avcodec_alloc_context3(encoder));
    if (!enc_) return Fail(error, av::ErrorText(AVERROR(ENOMEM)));
    av_channel_layout_from_mask(&enc_->ch_layout, plan_.outMask);
    enc_->sample_rate = kDiscRate;
    enc_->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    enc_->bit_rate = bitRate_;
    enc_->time_base = AVRational{1, kDiscRate};
    err = avcodec_open2(enc_.get(), encoder, nullptr);
    if (err < 0) return Fail(error, "the AC-3 encoder refused the settings: " + av::ErrorText(err));
    mixFormat_ = enc_->sample_fmt;
    skipSamples_ = enc_->initial_padding;
    fifo_.reset(av_audio_fifo_alloc(mixFormat_, enc_->ch_layout.nb_channels, kAc3FrameSamples * 2));
    if (!fifo_) return Fail(error, av::ErrorText(AVERROR(ENOMEM)));
  }
  mixChannels_ = static_cast<int>(PopCount(plan_.mixMask));

  srcMask_ = src;

  // Output channels in WAV order (ascending speaker bits) and where each
  // comes from in the mixed layout.
  for (int bit = 0; bit < 64; ++bit) {
    if (!(plan_.outMask & (1ull << bit))) continue;
    if (plan_.mixMask == AV_CH_FRONT_CENTER) slots_.push_back(0);
    else if (plan_.mixMask & (1ull << bit)) slots_.push_back(static_cast<int>(PopCount(plan_.mixMask & ((1ull << bit) - 1))));
    else slots_.push_back(-1);
  }
  return kOk;
}

int CConversion::WriteLpcm(const uint8_t* data, int samples, File& out, std::string& error) {
  const size_t inBytes = lpcmBits_ == 16 ? 2 : 4, outBytes = lpcmBits_ / 8;
  bytes_.resize(static_cast<size_t>(samples) * slots_.size() * outBytes);
  uint8_t* o = bytes_.data();
  for (int i = 0; i < samples; ++i) {
    const uint8_t* frame = data + static_cast<size_t>(i) * mixChannels_ * inBytes;
    for (int slot : slots_) {
      if (slot < 0) {
        std::fill(o, o + outBytes, uint8_t{0});
      } else if (lpcmBits_ == 16) {
        std::copy(frame + slot * 2, frame + slot * 2 + 2, o);  // little-endian host and file
      } else {
        std::copy(frame + slot * 4 + 1, frame + slot * 4 + 4, o);  // the top 24 bits of the 32
      }
      o += outBytes;
    }
  }
  if (!out.Write(bytes_.data(), bytes_.size())) return WriteFail(error, out);
  dataSize_ += bytes_.size();
  return kOk;
}

int CConversion::Encode(const AVFrame* frame, File& out, std::string& error) {
  int err = avcodec_send_frame(enc_.get(), frame);
  if (err < 0) return Fail(error, "the AC-3 encoder failed: " + av::ErrorText(err));
  av::Packet pkt(av_packet_alloc());
  if (!pkt) return Fail(error, av::ErrorText(AVERROR(ENOMEM)));
  while ((err = avcodec_receive_packet(enc_.get(), pkt.get())) >= 0) {
    const bool ok = out.Write(pkt->data, static_cast<size_t>(pkt->size));
    av_packet_unref(pkt.get());
    if (!ok) return WriteFail(error, out);
  }
  if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) return Fail(error, "the AC-3 encoder failed: " + av::ErrorText(err));
  return kOk;
}

int CConversion::DrainFifo(bool last, File& out, std::string& error) {
  while (av_audio_fifo_size(fifo_.get()) >= kAc3FrameSamples || (last && av_audio_fifo_size(fifo_.get()) > 0)) {
    av::Frame f(av_frame_alloc());
    if (!f) return Fail(error, av::ErrorText(AVERROR(ENOMEM)));
    f->nb_samples = kAc3FrameSamples;
    f->format = mixFormat_;
    f->sample_rate = kDiscRate;
    av_channel_layout_copy(&f->ch_layout, &enc_->ch_layout);
    if (int err = av_frame_get_buffer(f.get(), 0); err < 0) return Fail(error, av::ErrorText(err));
    // The last frame is filled up with silence.
    av_samples_set_silence(f->extended_data, 0, kAc3FrameSamples, f->ch_layout.nb_channels, mixFormat_);
    const int n = av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(f->extended_data), kAc3FrameSamples);
    if (n < 0) return Fail(error, av::ErrorText(n));
    f->pts = encodedSamples_;
    encodedSamples_ += kAc3FrameSamples;
    if (int rc = Encode(f.get(), out, error)) return rc;
  }
  return kOk;
}

int CConversion::Decoded(const AVFrame* frame, File& out, std::string& error) {
  // Set up for what the decoder really delivers; the resampler then reads
  // the planes of that format, so a change midway is refused.
  if (frame && !swr_) {
    if (frame->ch_layout.nb_channels != static_cast<int>(PopCount(srcMask_)))
      return Fail(error, "it decodes to another channel count than its header gives");
    AVChannelLayout inLayout{}, mixLayout{};
    av_channel_layout_from_mask(&inLayout, srcMask_);
    av_channel_layout_from_mask(&mixLayout, plan_.mixMask);
    // Slowed audio is resampled to more samples than 48 kHz gives, which
    // are then played at 48 kHz.
    const int outRate = static_cast<int>(int64_t{kDiscRate} * target_.slowNum / target_.slowDen);
    SwrContext* s = nullptr;
    int err = swr_alloc_set_opts2(&s, &mixLayout, mixFormat_, outRate, &inLayout,
                                  static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    swr_.reset(s);
    if (err >= 0) err = swr_init(swr_.get());
    if (err < 0) return Fail(error, "cannot resample it: " + av::ErrorText(err));
    inRate_ = frame->sample_rate;
    inFormat_ = frame->format;
  }
  if (!swr_) return kOk;  // flushing a stream that gave no samples
  if (frame && (frame->ch_layout.nb_channels != static_cast<int>(PopCount(srcMask_)) || frame->sample_rate != inRate_ ||
                frame->format != inFormat_))
    return Fail(error, "its channel count, sample rate or sample format changes midway");
  const int inSamples = frame ? frame->nb_samples : 0;
  const int capacity = swr_get_out_samples(swr_.get(), inSamples);
  if (capacity < 0) return Fail(error, av::ErrorText(capacity));
  if (capacity == 0) return kOk;
  const int planes = av_sample_fmt_is_planar(mixFormat_) ? mixChannels_ : 1;
  const int bytesPerSample = av_get_bytes_per_sample(mixFormat_) * (planes == 1 ? mixChannels_ : 1);
  const size_t planeSize = static_cast<size_t>(capacity) * bytesPerSample;
  mixed_.resize(planeSize * planes);
  std::vector<uint8_t*> planePtrs(planes);
  for (int i = 0; i < planes; ++i) planePtrs[i] = mixed_.data() + i * planeSize;
  const int n = swr_convert(swr_.get(), planePtrs.data(), capacity, frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                            inSamples);
  if (n < 0) return Fail(error, "cannot resample it: " + av::ErrorText(n));
  if (n == 0) return kOk;
  if (target_.kind == SAudioTarget::kLpcm) return WriteLpcm(mixed_.data(), n, out, error);
  if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planePtrs.data()), n) < n)
    return Fail(error, av::ErrorText(AVERROR(ENOMEM)));
  // The encoder's output lags its input by its padding, which an elementary
  // AC-3 file has no field to announce: as many samples are left out at the
  // start, so that the audio starts where the source's does.
  if (skipSamples_ > 0) {
    const int skip = std::min(skipSamples_, av_audio_fifo_size(fifo_.get()));
    av_audio_fifo_drain(fifo_.get(), skip);
    skipSamples_ -= skip;
  }
  return DrainFifo(false, out, error);
}

int CConversion::Run(File& out, std::string& error) {
  if (target_.kind == SAudioTarget::kLpcm) {
    const std::vector<uint8_t> head = ConvertedWavHeader(0, 0, 0, 0, 0);
    if (!out.Write(head.data(), head.size())) return WriteFail(error, out);
  }
  const AVStream* st = in_->streams[index_];
  // The length in the stream's time base, for the progress bar.
  int64_t total = st->duration;
  if (total <= 0 && in_->duration > 0) total = av_rescale_q(in_->duration, AVRational{1, AV_TIME_BASE}, st->time_base);
  const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
  av::Packet pkt(av_packet_alloc());
  av::Frame frame(av_frame_alloc());
  if (!pkt || !frame) return Fail(error, av::ErrorText(AVERROR(ENOMEM)));
  progress_.Value(0);
  int lastPercent = -1;
  uint32_t packets = 0;
  bool flushing = false;
  while (!flushing) {
    int err = av_read_frame(in_.get(), pkt.get());
    if (err == AVERROR_EOF) {
      flushing = true;
      err = avcodec_send_packet(dec_.get(), nullptr);
    } else if (err < 0) {
      return Fail(error, av::ErrorText(err));
    } else {
      if (pkt->stream_index != index_) {
        av_packet_unref(pkt.get());
        continue;
      }
      int percent = std::max(lastPercent, 0);
      if (total > 0 && pkt->pts != AV_NOPTS_VALUE)
        percent = static_cast<int>(std::clamp<int64_t>((pkt->pts - start) * 100 / total, 0, 100));
      // A stream of unknown length still hears a cancel now and then.
      if (percent != lastPercent || ++packets % 256 == 0) {
        lastPercent = percent;
        if (!progress_.Value(percent)) return kCancelled;
      }
      err = avcodec_send_packet(dec_.get(), pkt.get());
      av_packet_unref(pkt.get());
    }
    if (err < 0) return Fail(error, av::ErrorText(err));
    while ((err = avcodec_receive_frame(dec_.get(), frame.get())) >= 0) {
      const int rc = Decoded(frame.get(), out, error);
      av_frame_unref(frame.get());
      if (rc != kOk) return rc;
    }
    if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) return Fail(error, av::ErrorText(err));
  }
  // What the resampler still holds, then the encoder's tail.
  if (int rc = Decoded(nullptr, out, error)) return rc;
  if (target_.kind == SAudioTarget::kAc3) {
    if (int rc = DrainFifo(true, out, error)) return rc;
    if (int rc = Encode(nullptr, out, error)) return rc;
  } else {
    if (dataSize_ == 0) return Fail(error, "it decodes to no samples");
    const std::vector<uint8_t> head =
        ConvertedWavHeader(static_cast<uint16_t>(slots_.size()), kDiscRate, static_cast<uint16_t>(lpcmBits_),
                           static_cast<uint32_t>(plan_.outMask), dataSize_);
    if (!out.Seek(0) || !out.Write(head.data(), head.size())) return WriteFail(error, out);
  }
  if (target_.kind == SAudioTarget::kAc3 && encodedSamples_ == 0) return Fail(error, "it decodes to no samples");
  if (!progress_.Value(100)) return kCancelled;
  return kOk;
}

// The identity of the source a conversion was made from, kept beside it.
std::string SourceIdentity(const std::string& path) {
  // 2: AC-3 without the encoder's padding at the start.
  return "zelvane audio conversion 2\nsource " + std::to_string(FileSize(path)) + " " +
         std::to_string(FileTimeNs(path)) + " " + std::to_string(RealPathHash(path)) + "\n";
}

std::string IdentityPath(const std::string& converted) { return converted + ".source"; }

bool IsCurrent(const std::string& converted, const std::string& identity) {
  if (!PathExists(converted)) return false;
  std::vector<uint8_t> bytes;
  std::string err;
  if (!ReadWholeFile(IdentityPath(converted), bytes, err)) return false;
  return std::string(bytes.begin(), bytes.end()) == identity + "output " + std::to_string(FileSize(converted)) + "\n";
}

}  // namespace

bool ParseAudioTarget(const std::string& text, SAudioTarget& out, std::string& error) {
  out = SAudioTarget{};
  const std::string t = ToLower(text);
  if (t == "lpcm") {
    out.kind = SAudioTarget::kLpcm;
    return true;
  }
  if (t == "ac3") return true;
  if (t.compare(0, 4, "ac3:") == 0) {
    std::string n = t.substr(4);
    if (!n.empty() && n.back() == 'k') n.pop_back();
    const bool digits = !n.empty() && n.size() <= 4 && std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; });
    const uint32_t kbit = digits ? static_cast<uint32_t>(std::stoul(n)) : 0;
    if (std::find(std::begin(kAc3Rates), std::end(kAc3Rates), kbit) != std::end(kAc3Rates)) {
      out.bitRate = kbit * 1000;
      return true;
    }
    error = "\"" + text.substr(4) + "\" is not an AC-3 bit rate a disc takes (kbit/s: 32, 40, 48, 56, 64, 80, 96, 112, "
            "128, 160, 192, 224, 256, 320, 384, 448, 512, 576 or 640)";
    return false;
  }
  error = "\"" + text + "\" is not a conversion: ac3, ac3:BITRATE (kbit/s) or lpcm";
  return false;
}

bool ProbeAudio(const std::string& path, int streamIndex, SAudioFacts& out, std::string& error) {
  out = SAudioFacts{};
  av::Input in = OpenAudio(path, streamIndex, error);
  if (!in) return false;
  const AVCodecParameters* p = in->streams[streamIndex]->codecpar;
  out.streamIndex = streamIndex;
  out.codec = CodecLabel(p->codec_id);
  out.sampleRate = p->sample_rate;
  out.channels = p->ch_layout.nb_channels;
  out.bits = SourceBits(p);
  out.discCarries = DiscCarries(p, out.whyNot);
  return true;
}

int ConvertAudio(const std::string& path, int streamIndex, const SAudioTarget& target, const Progress& progress,
                 SConvertedAudio& out, std::string& error) {
  out = SConvertedAudio{};
  auto conv = std::make_unique<CConversion>(path, streamIndex, target, progress);
  if (int rc = conv->Open(error)) return rc;
  // One name per stream and target, so conversions of one source coexist.
  const bool slowed = target.slowNum != target.slowDen;
  const std::string suffix =
      ".a" + std::to_string(std::max(streamIndex, 0)) +
      (slowed ? ".slow" + std::to_string(target.slowNum) + "-" + std::to_string(target.slowDen) : std::string()) +
      (target.kind == SAudioTarget::kLpcm ? ".lpcm" + std::to_string(conv->LpcmBits()) + ".wav"
                                          : ".ac3-" + std::to_string(conv->BitRate() / 1000) + ".ac3");
  const std::string identity = SourceIdentity(path);
  const std::string places[2] = {CachePathBeside(path, suffix), CachePathInTemp(path, suffix)};
  out.note = conv->Plan().note;
  for (const std::string& place : places) {
    if (IsCurrent(place, identity)) {
      out.path = place;
      out.reused = true;
      return kOk;
    }
  }
  progress.Action("Converting \"" + FileNameOf(path) + "\" to " +
                  (target.kind == SAudioTarget::kLpcm ? "LPCM " + std::to_string(conv->LpcmBits()) + "-bit 48 kHz"
                                                      : "AC-3 " + std::to_string(conv->BitRate() / 1000) + " kbit/s") +
                  (slowed ? ", slowed to match its video" : ""));
  std::string writeError;
  for (const std::string& place : places) {
    RemoveDeadTempsBeside(place);
    std::string err;
    const std::string temp = CreateTempBeside(place, err);
    if (temp.empty()) {
      writeError = err;
      continue;
    }
    File file;
    int rc = file.Open(temp, File::kReadWrite) ? kOk : kFailed;
    if (rc != kOk) {
      writeError = file.Error();
      ::unlink(temp.c_str());
      continue;
    }
    // A second place starts the conversion again from the beginning.
    if (&place != &places[0]) {
      conv = std::make_unique<CConversion>(path, streamIndex, target, progress);
      if (int orc = conv->Open(error)) {
        ::unlink(temp.c_str());
        return orc;
      }
    }
    rc = conv->Run(file, error);
    bool writeFailed = conv->WriteFailed();
    if (rc == kOk && !file.Close()) {
      rc = kFailed;
      writeFailed = true;
      error = file.Error();
    }
    if (rc == kOk) {
      // The old identity goes first: a crash before the new one is written
      // leaves a conversion that is made again, never a stale one trusted.
      ::unlink(IdentityPath(place).c_str());
      if (::rename(temp.c_str(), place.c_str()) != 0) {
        writeError = File::ErrorText("create", place, errno);
        ::unlink(temp.c_str());
        continue;
      }
      const std::string record = identity + "output " + std::to_string(FileSize(place)) + "\n";
      std::string idError;
      WriteFileAtomic(IdentityPath(place), record.data(), record.size(), idError);  // without it, made again next time
      out.path = place;
      return kOk;
    }
    file.Close();
    ::unlink(temp.c_str());
    if (!writeFailed) return rc;
    writeError = error;
  }
  error = "Cannot write the converted audio of \"" + path + "\": " + writeError;
  return kFailed;
}

}  // namespace zv
