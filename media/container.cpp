#include "media/container.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

#include "media/av_handles.h"
#include "media/container_demux.h"
#include "media/container_direct.h"
#include "platform/byte_source.h"
#include "platform/file.h"
#include "platform/paths.h"

extern "C" {
#include <libavcodec/bsf.h>
}

namespace zv {

namespace {

std::string Tag(const AVDictionary* d, const char* key) {
  const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
  return e && e->value ? e->value : "";
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

std::string IndexPathBeside(const std::string& container) { return container + ".zvi"; }

std::string IndexPathInTemp(const std::string& container) {
  std::string key = container;
  std::replace(key.begin(), key.end(), '/', '_');
  return (std::filesystem::temp_directory_path() / ("zelvane" + key + ".zvi")).string();
}

// "zvi1 SIZE TIME" then "STREAM LENGTH" lines.
std::string Identity(const std::string& path) {
  return "zvi1 " + std::to_string(FileSize(path)) + " " + std::to_string(FileTimeNs(path));
}

enum class IndexState { kMissing, kStale, kValid };

IndexState LoadIndex(const std::string& container, std::map<int, int64_t>& lengths) {
  IndexState state = IndexState::kMissing;
  for (const std::string& p : {IndexPathBeside(container), IndexPathInTemp(container)}) {
    std::vector<uint8_t> bytes;
    std::string err;
    if (!ReadWholeFile(p, bytes, err)) continue;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string first;
    state = IndexState::kStale;
    if (!std::getline(in, first) || first != Identity(container)) continue;
    std::map<int, int64_t> got;
    int stream = 0;
    int64_t length = 0;
    while (in >> stream >> length) got[stream] = length;
    if (!in.eof()) continue;
    lengths = std::move(got);
    return IndexState::kValid;
  }
  return state;
}

// The table of the tracks read straight from the file, beside the index.
std::string TablePath(const std::string& index) { return index.substr(0, index.size() - 4) + ".zvd"; }

bool StoreIndex(const std::string& container, const std::map<int, int64_t>& lengths, const CDirectTableMaker& direct,
                std::string& error) {
  std::string text = Identity(container) + "\n";
  for (const auto& [stream, length] : lengths) text += std::to_string(stream) + " " + std::to_string(length) + "\n";
  for (const std::string& p : {IndexPathBeside(container), IndexPathInTemp(container)}) {
    // The table first: an index never stands beside an older table (whose
    // identity would not match it anyway). Without a table the tracks
    // are read through the demuxer.
    std::string ignored;
    if (!direct.Store(TablePath(p), Identity(container), lengths, ignored)) ::unlink(TablePath(p).c_str());
    if (WriteFileAtomic(p, text.data(), text.size(), error)) return true;
  }
  return false;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The demuxer an extension stands for: a damaged file is read as what it
// claims to be, not as whatever its remains resemble.
const char* DemuxerOf(const std::string& path) {
  const size_t dot = path.find_last_of("./");
  const std::string ext = dot == std::string::npos || path[dot] != '.' ? "" : Lower(path.substr(dot));
  if (ext == ".mkv" || ext == ".mka" || ext == ".webm") return "matroska";
  if (ext == ".mp4" || ext == ".m4v" || ext == ".m4a" || ext == ".mov") return "mov";
  if (ext == ".ts" || ext == ".m2ts" || ext == ".mts") return "mpegts";
  if (ext == ".mpg" || ext == ".mpeg" || ext == ".vob") return "mpeg";
  return nullptr;
}

// `look` (for what a file holds, and for the times of presentation
// graphics): the stream information libavformat finds by reading the
// file's start and decoding some of it. Matroska and MP4 files declare
// their tracks, and what reading a track's packets needs, in their headers.
av::Input OpenContainer(const std::string& path, std::string& why, bool look = true) {
  av_log_set_level(AV_LOG_QUIET);
  const char* name = DemuxerOf(path);
  const AVInputFormat* format = name ? av_find_input_format(name) : nullptr;
  AVFormatContext* raw = nullptr;
  int err = avformat_open_input(&raw, path.c_str(), format, nullptr);
  if (err < 0) {
    why = av::ErrorText(err);
    return nullptr;
  }
  av::Input in(raw);
  const std::string demuxer = in->iformat->name;
  const bool declared = demuxer.rfind("matroska", 0) == 0 || demuxer.rfind("mov", 0) == 0;
  if (!look && declared) return in;
  err = avformat_find_stream_info(in.get(), nullptr);
  if (err < 0) {
    why = av::ErrorText(err);
    return nullptr;
  }
  if (in->nb_streams == 0) {
    why = "no tracks found";
    return nullptr;
  }
  return in;
}

// The E-AC-3 tracks of `opened` whose first frame is an AC-3 one (bsid 8
// or less): an AC-3 core with dependent substreams. Read from an opening of
// its own, so that `opened` still starts at the beginning.
std::set<int> TracksWithAc3Core(const std::string& path, const AVFormatContext& opened) {
  std::set<int> waiting, out;
  for (unsigned i = 0; i < opened.nb_streams; ++i)
    if (opened.streams[i]->codecpar->codec_id == AV_CODEC_ID_EAC3) waiting.insert(static_cast<int>(i));
  if (waiting.empty()) return out;
  std::string why;
  av::Input in = OpenContainer(path, why, false);
  if (!in) return out;
  for (unsigned i = 0; i < in->nb_streams; ++i)
    if (!waiting.count(static_cast<int>(i))) in->streams[i]->discard = AVDISCARD_ALL;
  av::Packet pkt(av_packet_alloc());
  // A track without a packet in the first few thousand is judged unknown.
  for (int n = 0; pkt && !waiting.empty() && n < 4096 && av_read_frame(in.get(), pkt.get()) >= 0; ++n) {
    const uint8_t* d = pkt->data;
    if (waiting.erase(pkt->stream_index) && pkt->size >= 6 && d[0] == 0x0B && d[1] == 0x77 && (d[5] >> 3) <= 8)
      out.insert(pkt->stream_index);
    av_packet_unref(pkt.get());
  }
  return out;
}

// Opens the container with every stream a disc does not carry discarded.
// What is carried is told by the codec and rate, which Matroska and MP4
// declare: no look (which decodes pictures, a quarter of a first run).
av::Input OpenCarried(const std::string& path, std::string& error) {
  av::Input in = OpenContainer(path, error, false);
  if (!in) return nullptr;
  if (in->nb_streams == 0) {
    error = "no tracks found";
    return nullptr;
  }
  const std::set<int> cores = TracksWithAc3Core(path, *in);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const bool wanted =
        TrackVerdictFor(*in->streams[i]->codecpar, in->iformat->name, cores.count(static_cast<int>(i)) != 0).need ==
        TrackNeed::kCarried;
    in->streams[i]->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  return in;
}

}  // namespace

void BsfFreer::operator()(AVBSFContext* c) const { av_bsf_free(&c); }

int CTrackConverter::Init(const AVFormatContext& fmt, const AVStream& st, std::string& error) {
  st_ = &st;
  startTime_ = fmt.start_time == AV_NOPTS_VALUE ? 0 : fmt.start_time;
  pgs_ = st.codecpar->codec_id == AV_CODEC_ID_HDMV_PGS_SUBTITLE;
  const AVCodecParameters& par = *st.codecpar;
  if (par.codec_id == AV_CODEC_ID_H264 && par.extradata_size > 0 && par.extradata[0] == 1) {
    const AVBitStreamFilter* f = av_bsf_get_by_name("h264_mp4toannexb");
    AVBSFContext* raw = nullptr;
    int err = f ? av_bsf_alloc(f, &raw) : AVERROR_BSF_NOT_FOUND;
    if (err >= 0) {
      bsf_.reset(raw);
      err = avcodec_parameters_copy(bsf_->par_in, &par);
      bsf_->time_base_in = st.time_base;
      if (err >= 0) err = av_bsf_init(bsf_.get());
    }
    if (err < 0) {
      error = av::ErrorText(err);
      return kFailed;
    }
    out_.reset(av_packet_alloc());
  }
  return kOk;
}

SBytes SBytes::Made(std::vector<uint8_t>&& bytes) {
  SBytes b;
  b.made = std::move(bytes);
  b.data = b.made.data();
  b.size = b.made.size();
  return b;
}

SBytes SBytes::Taken(AVPacket* p) {
  if (!p->buf) return Made(std::vector<uint8_t>(p->data, p->data + p->size));
  SBytes b;
  b.pkt.reset(av_packet_alloc());
  if (!b.pkt) throw std::bad_alloc();
  av_packet_move_ref(b.pkt.get(), p);
  b.data = b.pkt->data;
  b.size = static_cast<size_t>(b.pkt->size);
  return b;
}

SBytes SBytes::Share() const {
  if (!pkt) return Made(std::vector<uint8_t>(data, data + size));
  SBytes b;
  b.pkt.reset(av_packet_alloc());
  if (!b.pkt || av_packet_ref(b.pkt.get(), pkt.get()) < 0) throw std::bad_alloc();
  b.data = data;
  b.size = size;
  return b;
}

int CTrackConverter::Convert(AVPacket* pkt, std::vector<SBytes>& out, std::string& error) {
  if (bsf_) {
    int err = av_bsf_send_packet(bsf_.get(), pkt);
    if (err < 0) {
      error = av::ErrorText(err);
      return kFailed;
    }
    while ((err = av_bsf_receive_packet(bsf_.get(), out_.get())) >= 0) {
      if (out_->size > 0) out.push_back(SBytes::Taken(out_.get()));
      av_packet_unref(out_.get());
    }
    if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) {
      error = av::ErrorText(err);
      return kFailed;
    }
    return kOk;
  }
  if (!pkt) return kOk;
  if (!pgs_) {
    if (pkt->size > 0) out.push_back(SBytes::Taken(pkt));
    return kOk;
  }
  // Times from the start of the file, at 90 kHz.
  int64_t pts = pkt->pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(pkt->pts, st_->time_base, AVRational{1, 90000});
  pts -= av_rescale_q(startTime_, AV_TIME_BASE_Q, AVRational{1, 90000});
  const auto pts32 = static_cast<uint32_t>(std::max<int64_t>(pts, 0));
  std::vector<uint8_t> bytes;
  for (int at = 0; at + 3 <= pkt->size;) {
    const int len = 3 + (pkt->data[at + 1] << 8 | pkt->data[at + 2]);
    if (at + len > pkt->size) {
      error = "a presentation-graphics segment runs past its packet";
      return kFailed;
    }
    bytes.push_back('P');
    bytes.push_back('G');
    PutU32(bytes, pts32);
    PutU32(bytes, 0);
    bytes.insert(bytes.end(), pkt->data + at, pkt->data + at + len);
    at += len;
  }
  if (!bytes.empty()) out.push_back(SBytes::Made(std::move(bytes)));
  return kOk;
}


av::Input OpenTrackDemuxer(const std::string& path, const std::map<int, int64_t>& keep, std::string& error) {
  av::Input in = OpenContainer(path, error, false);
  if (!in) return nullptr;
  const int last = keep.empty() ? -1 : keep.rbegin()->first;
  if (last >= static_cast<int>(in->nb_streams)) {
    error = "the container has no stream " + std::to_string(last);
    return nullptr;
  }
  bool pgs = false;
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const bool wanted = keep.count(static_cast<int>(i)) > 0;
    in->streams[i]->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    pgs = pgs || (wanted && in->streams[i]->codecpar->codec_id == AV_CODEC_ID_HDMV_PGS_SUBTITLE);
  }
  // The graphics' times count from the file's start time, which only the
  // full look finds; nothing was read yet, so looking now is as at open.
  if (pgs && in->start_time == AV_NOPTS_VALUE) {
    const int err = avformat_find_stream_info(in.get(), nullptr);
    if (err < 0) {
      error = av::ErrorText(err);
      return nullptr;
    }
  }
  return in;
}

int CTrackConverter::DirectLengthSize() const {
  if (pgs_) return -1;
  if (!bsf_) return 0;
  const AVCodecParameters& par = *st_->codecpar;
  return par.extradata_size >= 5 ? (par.extradata[4] & 3) + 1 : -1;
}

std::unique_ptr<IByteSource> OpenDirectContainerTrack(const std::string& container, int stream, int64_t length) {
  if (!DirectContainerReading()) return nullptr;
  for (const std::string& p : {IndexPathBeside(container), IndexPathInTemp(container)}) {
    if (auto src = OpenDirectTrack(TablePath(p), Identity(container), container, stream, length)) return src;
  }
  return nullptr;
}

int TrackLengths(const std::string& container, std::map<int, int64_t>& lengths, std::string& error) {
  const IndexState state = LoadIndex(container, lengths);
  // A container changed since its tracks were measured is not read as
  // the streams the project was made with; a lost index is made again.
  if (state == IndexState::kStale) {
    error = "\"" + container + "\" changed since its tracks were added (size or time); remove it and add it again";
    return kFailed;
  }
  if (state == IndexState::kMissing && IndexContainer(container, lengths, error) != kOk) return kFailed;
  return kOk;
}

bool IsContainerExtension(const std::string& ext) {
  static const char* const kExts[] = {".mkv", ".mka", ".webm", ".mp4", ".m4v",  ".m4a", ".mov",
                                      ".ts",  ".m2ts", ".mts", ".mpg", ".mpeg", ".vob"};
  const std::string e = Lower(ext);
  return std::any_of(std::begin(kExts), std::end(kExts), [&](const char* k) { return e == k; });
}

int ProbeContainer(const std::string& path, SContainerInfo& info, std::string& error) {
  std::string why;
  av::Input in = OpenContainer(path, why);
  if (!in) {
    error = "\"" + path + "\": " + why;
    return kFailed;
  }
  info = SContainerInfo{};
  info.format = in->iformat->name;
  const std::set<int> cores = TracksWithAc3Core(path, *in);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVStream& st = *in->streams[i];
    SContainerTrack t;
    t.index = static_cast<int>(i);
    const char* kind = av_get_media_type_string(st.codecpar->codec_type);
    t.kind = kind ? kind : "data";
    const AVCodecDescriptor* d = avcodec_descriptor_get(st.codecpar->codec_id);
    t.codec = d ? d->name : "unknown";
    t.language = Tag(st.metadata, "language");
    if (t.language == "und") t.language.clear();
    t.title = Tag(st.metadata, "title");
    t.isDefault = (st.disposition & AV_DISPOSITION_DEFAULT) != 0;
    t.forced = (st.disposition & AV_DISPOSITION_FORCED) != 0;
    t.verdict = TrackVerdictFor(*st.codecpar, info.format, cores.count(static_cast<int>(i)) != 0);
    info.tracks.push_back(std::move(t));
  }
  for (unsigned i = 0; i < in->nb_chapters; ++i) {
    const AVChapter& c = *in->chapters[i];
    info.chapters.push_back({av_rescale_q(c.start, c.time_base, AVRational{1, 1000}), Tag(c.metadata, "title")});
  }
  return kOk;
}

int IndexContainer(const std::string& path, std::map<int, int64_t>& lengths, std::string& error,
                   const Progress& progress) {
  if (LoadIndex(path, lengths) == IndexState::kValid) return kOk;
  std::string why;
  av::Input in = OpenCarried(path, why);
  if (!in) {
    error = "\"" + path + "\": " + why;
    return kFailed;
  }
  std::map<int, std::unique_ptr<CTrackConverter>> convs;
  std::map<int, int64_t> got;
  CDirectTableMaker direct;
  const bool tables = direct.Open(path);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    if (in->streams[i]->discard == AVDISCARD_ALL) continue;
    auto c = std::make_unique<CTrackConverter>();
    if (c->Init(*in, *in->streams[i], why) != kOk) {
      error = "\"" + path + "\": " + why;
      return kFailed;
    }
    if (tables) direct.AddTrack(static_cast<int>(i), c->DirectLengthSize());
    convs[static_cast<int>(i)] = std::move(c);
    got[static_cast<int>(i)] = 0;
  }
  const int64_t size = std::max<int64_t>(FileSize(path), 1);
  av::Packet pkt(av_packet_alloc());
  std::vector<SBytes> bytes;
  auto count = [&](int stream) {
    for (const SBytes& b : bytes) got[stream] += static_cast<int64_t>(b.size);
  };
  int64_t lastReport = 0;
  for (;;) {
    const int err = av_read_frame(in.get(), pkt.get());
    if (err == AVERROR_EOF) break;
    if (err < 0) {
      error = "\"" + path + "\": " + av::ErrorText(err);
      return kFailed;
    }
    const auto it = convs.find(pkt->stream_index);
    bytes.clear();
    if (tables && it != convs.end()) direct.Before(*pkt);
    const int r = it == convs.end() ? kOk : it->second->Convert(pkt.get(), bytes, why);
    av_packet_unref(pkt.get());
    if (r != kOk) {
      error = "\"" + path + "\": " + why;
      return kFailed;
    }
    if (it != convs.end()) {
      if (tables) direct.After(it->first, bytes);
      count(it->first);
    }
    const int64_t at = avio_tell(in->pb);
    if (progress.fn && at - lastReport >= (int64_t{4} << 20)) {
      lastReport = at;
      if (!progress.Value(static_cast<int32_t>(std::min<int64_t>(at * 100 / size, 100)))) return kCancelled;
    }
  }
  for (auto& [stream, conv] : convs) {
    bytes.clear();
    if (conv->Convert(nullptr, bytes, why) != kOk) {
      error = "\"" + path + "\": " + why;
      return kFailed;
    }
    if (tables) direct.AtEnd(stream, bytes);
    count(stream);
  }
  if (!StoreIndex(path, got, direct, why)) {
    error = why;
    return kFailed;
  }
  lengths = std::move(got);
  return kOk;
}

void RegisterContainerTracks() { SetByteSourceOpener(&OpenContainerTrack); }

}  // namespace zv
