#include "media/container_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "media/av_handles.h"
#include "platform/cache_path.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace zv {

namespace {

struct SEvent {
  int64_t order = 0;  // the container's order of the event
  int64_t start = 0, end = -1;  // ms; -1: until the next event
  std::string text;   // SRT text, or the ASS fields after the times
};

// Matroska keeps ASS events as "ReadOrder,Layer,Style,Name,MarginL,MarginR,
// MarginV,Effect,Text"; decoders give the same fields. The read order, and
// the rest from Layer on.
bool SplitAssFields(const std::string& line, int64_t& order, std::string& rest) {
  const size_t comma = line.find(',');
  if (comma == std::string::npos) return false;
  order = std::strtoll(line.substr(0, comma).c_str(), nullptr, 10);
  rest = line.substr(comma + 1);
  return true;
}

// The Text field of the fields from Layer on (after seven commas), as SRT
// text.
std::string AssTextAsSrt(const std::string& fields) {
  size_t at = 0;
  for (int i = 0; i < 7 && at != std::string::npos; ++i) {
    at = fields.find(',', at);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos) return {};
  std::string out;
  const std::string text = fields.substr(at);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'N' || text[i + 1] == 'n')) {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// SRT text cannot hold an empty line (it ends the event) or a CR.
std::string CleanSrtText(const std::string& in) {
  std::string out;
  for (char c : in) {
    if (c == '\r') continue;
    if (c == '\n' && (out.empty() || out.back() == '\n')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string SrtTime(int64_t ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld,%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return b;
}

std::string AssTime(int64_t ms) {
  const int64_t cs = (ms + 5) / 10;
  char b[32];
  std::snprintf(b, sizeof b, "%lld:%02lld:%02lld.%02lld", static_cast<long long>(cs / 360000),
                static_cast<long long>(cs / 6000 % 60), static_cast<long long>(cs / 100 % 60),
                static_cast<long long>(cs % 100));
  return b;
}

// The track's ASS header without its [Events] section, which is written
// anew with the field order of the events.
std::string AssHeader(const AVCodecParameters& par) {
  std::string h;
  if (par.extradata && par.extradata_size > 0)
    h.assign(reinterpret_cast<const char*>(par.extradata), static_cast<size_t>(par.extradata_size));
  h.erase(std::remove(h.begin(), h.end(), '\r'), h.end());
  while (!h.empty() && h.back() == '\0') h.pop_back();
  const size_t events = h.find("[Events]");
  if (events != std::string::npos) h.resize(events);
  while (!h.empty() && h.back() == '\n') h.pop_back();
  return h + "\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
}

}  // namespace

std::string TextSubtitleExtension(const std::string& codec) {
  if (codec == "subrip" || codec == "srt" || codec == "text" || codec == "mov_text") return ".srt";
  if (codec == "ass" || codec == "ssa") return ".ass";
  return {};
}

int ExtractTextSubtitle(const std::string& container, int stream, std::string& outPath, std::string& error,
                        const Progress& progress) {
  std::string why;
  av::Input in = av::OpenInput(container, why);
  if (!in) {
    error = "\"" + container + "\": " + why;
    return kFailed;
  }
  if (stream < 0 || static_cast<unsigned>(stream) >= in->nb_streams) {
    error = "\"" + container + "\" has no track " + std::to_string(stream);
    return kFailed;
  }
  AVStream* st = in->streams[stream];
  const std::string ext = TextSubtitleExtension(avcodec_get_name(st->codecpar->codec_id));
  if (ext.empty()) {
    error = "\"" + container + "\" track " + std::to_string(stream) + " is not a text subtitle track";
    return kFailed;
  }
  const bool ass = ext == ".ass";
  // mov_text is a binary form; libavcodec's decoder gives its text.
  av::Codec decoder;
  if (st->codecpar->codec_id == AV_CODEC_ID_MOV_TEXT) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), st->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
      error = "\"" + container + "\" track " + std::to_string(stream) + ": no decoder for its subtitles";
      return kFailed;
    }
    decoder->pkt_timebase = st->time_base;
  }
  for (unsigned i = 0; i < in->nb_streams; ++i)
    in->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

  const int64_t size = in->pb ? avio_size(in->pb) : -1;
  auto ms = [&](int64_t ts) { return av_rescale_q(ts, st->time_base, AVRational{1, 1000}); };
  std::vector<SEvent> events;
  av::Packet pkt(av_packet_alloc());
  int64_t order = 0;
  int lastPercent = -1;
  for (;;) {
    const int err = av_read_frame(in.get(), pkt.get());
    if (err == AVERROR_EOF) break;
    if (err < 0) {
      error = "\"" + container + "\": " + av::ErrorText(err);
      return kFailed;
    }
    struct Unref {
      AVPacket* p;
      ~Unref() { av_packet_unref(p); }
    } unref{pkt.get()};
    if (size > 0 && in->pb) {
      const int percent = static_cast<int>(std::clamp<int64_t>(avio_tell(in->pb) * 100 / size, 0, 100));
      if (percent != lastPercent && !progress.Value(lastPercent = percent)) return kCancelled;
    }
    if (pkt->stream_index != stream || pkt->pts == AV_NOPTS_VALUE || pkt->size <= 0) continue;
    SEvent e;
    e.order = order++;
    e.start = ms(pkt->pts);
    if (pkt->duration > 0) e.end = ms(pkt->pts + pkt->duration);
    const std::string data(reinterpret_cast<const char*>(pkt->data), static_cast<size_t>(pkt->size));
    if (decoder) {
      AVSubtitle sub{};
      int got = 0;
      if (avcodec_decode_subtitle2(decoder.get(), &sub, &got, pkt.get()) < 0 || !got) continue;
      std::string text;
      for (unsigned r = 0; r < sub.num_rects; ++r) {
        int64_t ignored = 0;
        std::string fields;
        if (sub.rects[r]->ass && SplitAssFields(sub.rects[r]->ass, ignored, fields))
          text += (text.empty() ? "" : "\n") + AssTextAsSrt(fields);
      }
      avsubtitle_free(&sub);
      e.text = CleanSrtText(text);
    } else if (ass) {
      if (!SplitAssFields(data, e.order, e.text)) continue;
      e.text.erase(std::remove(e.text.begin(), e.text.end(), '\r'), e.text.end());
      std::replace(e.text.begin(), e.text.end(), '\n', ' ');
    } else {
      e.text = CleanSrtText(data);
    }
    if (!e.text.empty()) events.push_back(std::move(e));
  }
  progress.Value(100);
  if (events.empty()) {
    error = "\"" + container + "\" track " + std::to_string(stream) + " has no subtitle events";
    return kFailed;
  }
  std::stable_sort(events.begin(), events.end(), [ass](const SEvent& a, const SEvent& b) {
    return ass ? a.order < b.order : a.start < b.start;
  });
  // An event without a duration lasts until the next one starts.
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].end >= 0) continue;
    int64_t next = events[i].start + 5000;
    for (size_t k = i + 1; k < events.size(); ++k)
      if (events[k].start > events[i].start) {
        next = events[k].start;
        break;
      }
    events[i].end = next;
  }

  std::string text = ass ? AssHeader(*st->codecpar) : std::string();
  for (size_t i = 0; i < events.size(); ++i) {
    const SEvent& e = events[i];
    if (ass) {
      const size_t comma = e.text.find(',');
      text += "Dialogue: " + e.text.substr(0, comma) + "," + AssTime(e.start) + "," + AssTime(e.end) + "," +
              (comma == std::string::npos ? std::string() : e.text.substr(comma + 1)) + "\n";
    } else {
      text += std::to_string(i + 1) + "\n" + SrtTime(e.start) + " --> " + SrtTime(e.end) + "\n" + e.text + "\n\n";
    }
  }
  const std::string suffix = ".s" + std::to_string(stream) + ext;
  std::string firstError;
  for (const std::string& place : {CachePathBeside(container, suffix), CachePathInTemp(container, suffix)}) {
    // An unchanged file keeps its time, so what was drawn from it stays.
    std::vector<uint8_t> old;
    std::string ignored;
    if (ReadWholeFile(place, old, ignored) && std::string(old.begin(), old.end()) == text) {
      outPath = place;
      return kOk;
    }
    std::string err;
    if (WriteFileAtomic(place, text.data(), text.size(), err)) {
      outPath = place;
      return kOk;
    }
    if (firstError.empty()) firstError = err;
  }
  error = firstError;
  return kFailed;
}

}  // namespace zv
