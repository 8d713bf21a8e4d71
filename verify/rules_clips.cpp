// Clips against their clip information, and their transport: packet count
// and alignment, PIDs and coding types, the EP map at the starts of the
// PES packets it names, arrival times and rate, continuity counters and PCR spacing.
#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "mux/mux_track.h"
#include "mux/psi.h"
#include "mux/rip_track.h"
#include "mux/std_models.h"
#include "mux/ts_dump.h"
#include "mux/ts_syntax.h"
#include "platform/worker.h"
#include "streams/nal_reader.h"
#include "verify/check_context.h"
#include "verify/clip_walk.h"

namespace zv::check {

namespace {

constexpr uint32_t kAtsMask = 0x3FFFFFFF;
constexpr int64_t kMaxPcrGap27 = 27'000'000 / 10;       // 100 ms
// PAT and PMT repeat at least every 100 ms of arrival time, the SIT every
// second (the multiplexer writes the pair every 94 ms, the SIT with every
// ninth pair).
constexpr int64_t kMaxPsiGap27 = 27'000'000 / 10;
constexpr int64_t kMaxSitGap27 = 27'000'000;
// An EP map may be coarser than the random-access pictures, but a seek
// must never land further than this before one (90 kHz).
constexpr uint64_t kMaxEpSpacing90 = 90000;
// Bytes of an access unit's start enough to see its picture type.
constexpr size_t kUnitHead = 512;
constexpr uint64_t kPcrWrap27 = (uint64_t{1} << 33) * 300;
constexpr uint64_t kPtsEpMask = ((uint64_t{1} << 33) - 1) & ~uint64_t{0x1FF};  // the bits an EP entry keeps
// Findings of one kind per clip and PID beyond which only a count is given.
constexpr int kMaxRepeats = 3;

std::string Hex(unsigned v, int width = 4) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*X", width, v);
  return b;
}

std::string Spn(uint32_t spn) { return "source packet " + std::to_string(spn); }

struct SEpEntry {
  uint16_t pid;
  size_t index;
  uint64_t pts;
};

// The models the multiplexer gives a stream of an existing clip it reuses,
// from the clip information's coding record: a stream with a core and an
// extension in one PID gets one for each.
SStdCodingParams ModelParams(const StreamCodingInfo& c) {
  SStdCodingParams p;
  p.stream_type = c.StreamCodingType;
  p.video_format = c.VideoFormat;
  p.sampling_frequency = c.SamplingFrequency;
  return p;
}

// Whether the access unit starting with `p` is a random-access picture: an
// IDR or an I picture (H.264 by its access unit delimiter or slice header),
// an MPEG-2 I picture, a VC-1 entry point.
bool IsRandomAccess(uint8_t codingType, const uint8_t* p, size_t n) {
  for (size_t at = FindStartCode(p, 2, n); at < n; at = FindStartCode(p, at + 1, n)) {
    const size_t body = at + 1;
    if (body >= n) break;
    const uint8_t code = p[body];
    try {
      if (codingType == 0x1B || codingType == 0x20) {
        const unsigned type = code & 0x1F;
        if (type == 5) return true;
        if (type == 9) {  // primary_pic_type: 0 I, 3 SI, 5 I and SI
          if (body + 1 >= n) return false;
          const unsigned pic = p[body + 1] >> 5;
          return pic == 0 || pic == 3 || pic == 5;
        }
        if (type == 1) {
          CNalReader r(p + body + 1, n - body - 1);
          r.Ue();  // first_mb_in_slice
          const uint32_t slice = r.Ue() % 5;
          return slice == 2 || slice == 4;
        }
      } else if (codingType == 0x02) {
        if (code == 0x00) return body + 2 < n && ((p[body + 2] >> 3) & 7) == 1;
      } else if (codingType == 0xEA) {
        if (code == 0x0E) return true;
        if (code == 0x0D) return false;  // a frame before any entry point
      }
    } catch (const std::exception&) {
      return false;  // a slice header cut short at the end of the head
    }
  }
  return false;
}

bool IsVideoCoding(uint8_t t) { return t == 0x02 || t == 0x1B || t == 0xEA || t == 0x20; }

// What the rules need of a transport packet's header. Packets without an
// adaptation field (nearly all) are read from their four fixed bytes; the
// rest go through the header's syntax function.
struct SPacketHead {
  uint16_t pid = 0;
  bool start = false;  // payload_unit_start_indicator
  bool payload = false;
  uint8_t cc = 0;
  bool discontinuity = false;
  std::optional<uint64_t> pcr;  // 27 MHz
  size_t bytes = 0;             // header and adaptation field (and a PSI pointer field)
};

// False when the header does not parse (the sync byte lost, or its fields
// not fitting the packet).
bool ReadPacketHead(const uint8_t* ts, TS_PACKET_HEADER& scratch, SPacketHead& h) {
  if (ts[0] != 0x47) return false;
  h.pid = static_cast<uint16_t>((ts[1] & 0x1F) << 8 | ts[2]);
  h.start = ts[1] & 0x40;
  const bool psiStart = h.start && (h.pid == kPatPid || h.pid == kSitPid || h.pid == kPmtPid);
  if (!(ts[3] & 0x20) && !psiStart) {
    h.payload = ts[3] & 0x10;
    h.cc = ts[3] & 0x0F;
    h.discontinuity = false;
    h.pcr.reset();
    h.bytes = 4;
    return true;
  }
  h.bytes = Parse(ts, kTsPacketSize, scratch);
  if (h.bytes == 0) return false;
  h.payload = scratch.adaptation_field_control & 1;
  h.cc = scratch.continuity_counter;
  const auto& af = scratch.adaptation_field;
  h.discontinuity = af && af->discontinuity_indicator;
  h.pcr.reset();
  if (af && af->PCR) h.pcr = af->PCR->base * 300 + af->PCR->extension;
  return true;
}

// The PES header a packet starts, read once for every rule that looks at it.
struct SPesStart {
  bool read = false;
  size_t bytes = 0;  // 0: not a PES header
  PES_HEADER header;
};

// One stream's replay through its buffer models.
struct SReplay {
  uint16_t pid = 0;
  SStdCodingParams params;
  SStdModels models;
  uint64_t units = 0;        // entered since the models started
  bool toExtension = false;  // the unit arriving is an extension unit
  bool unitStart = false;    // its first packet is next
  std::optional<int64_t> decodeTime;  // 27 MHz, of the access unit arriving
  int64_t lastArrival = 0;
};

// What the walk hands the replay of one packet of a replayed stream: 16
// bytes, written for nearly every packet.
struct SReplayPacket {
  enum : uint8_t { kPacket, kPesStart, kNewStc };
  int64_t time;     // arrival, in 27 MHz ticks of the system clock
  uint32_t spn;
  uint16_t stream;  // the replayer's index of the stream
  uint8_t payload;  // bytes after the transport header and adaptation field
  uint8_t kind;     // kPesStart: the packet's copy is the block's next one; kNewStc: every model starts over
};
static_assert(sizeof(SReplayPacket) == 16);

// The replay's share of one block of packets: what it needs of them, so
// that it can run on its own thread while the walk goes on to the next
// block (the packets that start a PES packet are copied whole: their
// headers are read there).
struct SReplayBlock {
  std::unique_ptr<SReplayPacket[]> packets;  // [0, count)
  size_t count = 0;
  size_t capacity = 0;
  std::vector<std::array<uint8_t, kTsPacketSize>> starts;

  // Room for `more` packets after those written.
  void Reserve(size_t more) {
    if (count + more <= capacity) return;
    capacity = std::max(count + more, capacity * 2);
    auto grown = std::make_unique_for_overwrite<SReplayPacket[]>(capacity);
    std::copy(packets.get(), packets.get() + count, grown.get());
    packets = std::move(grown);
  }
  void Push(const SReplayPacket& e) {
    Reserve(1);
    packets[count++] = e;
  }
};

// A finding made while a block of packets is walked, held until the replay
// has caught up, so that the rules' and the replay's go out in packet
// order, as one walk would give them. Within a packet the rules' findings
// before the replay's point come first (phase 0), then the replay's (1),
// then the rules' after it (2).
struct SHeldFinding {
  uint32_t spn;
  uint8_t phase;
  const char* rule;
  std::string position;
  std::string message;
};

// Rule ids are literals; ordered by their text so that the "more like the
// above" lines come in the same order from every build.
struct SByRuleText {
  bool operator()(const std::pair<const char*, std::string>& a, const std::pair<const char*, std::string>& b) const {
    const int c = std::strcmp(a.first, b.first);
    return c != 0 ? c < 0 : a.second < b.second;
  }
};
using FindingRepeats = std::map<std::pair<const char*, std::string>, int, SByRuleText>;

// The T-STD replay of a clip's elementary streams, fed block by block with
// what the walk passes it.
class CReplayer {
 public:
  CReplayer(const ClipInformationFile& ci, const std::string& file, CFindings& out) : file_(file), out_(out) {
    for (const auto& seq : ci.programInfo.sequences)
      for (const auto& st : seq.streams) {
        const SStdCodingParams params = ModelParams(st.coding);
        SStdModels models = CreateStdModels(params);
        if (models.primary || models.secondary) {
          SReplay& r = replay_[st.StreamPID];
          r.pid = st.StreamPID;
          r.params = params;
          r.models = std::move(models);
        }
      }
    for (auto& [pid, r] : replay_) streams_.push_back(&r);
  }

  // The index of the stream of `pid`, -1 when it has no models.
  int Find(uint16_t pid) const {
    for (size_t i = 0; i < streams_.size(); ++i)
      if (streams_[i]->pid == pid) return static_cast<int>(i);
    return -1;
  }

  void Run(const SReplayBlock& b) {
    const uint8_t* start = b.starts.empty() ? nullptr : b.starts.front().data();
    const SReplayPacket* const end = b.packets.get() + b.count;
    for (const SReplayPacket* at = b.packets.get(); at != end; ++at) {
      const SReplayPacket& e = *at;
      if (e.kind == SReplayPacket::kNewStc) {
        NewStcSequence();
      } else if (e.kind == SReplayPacket::kPesStart) {
        Replay(*streams_[e.stream], e, start);
        start += kTsPacketSize;
      } else {
        at = ReplayRun(*streams_[e.stream], at, end);
      }
    }
  }

  std::vector<SHeldFinding>& Held() { return held_; }
  const FindingRepeats& Repeats() const { return repeats_; }

  // The end of the clip, `walked` packets long: the units arriving end.
  void Finish(uint32_t walked) {
    walking_ = false;
    for (auto& [pid, r] : replay_) EndUnit(r, walked);
  }

 private:
  void Limited(const char* rule, uint16_t pid, uint32_t spn, const std::string& message) {
    int& n = repeats_[{rule, Hex(pid)}];
    if (++n > kMaxRepeats) return;
    if (walking_)
      held_.push_back({spn, 1, rule, Spn(spn), message});
    else
      out_.Add(rule, file_, Spn(spn), message);
  }

  // A new system clock: the streams' models start over.
  void NewStcSequence() {
    for (auto& [pid, r] : replay_) {
      r.models = CreateStdModels(r.params);
      r.units = 0;
      r.toExtension = false;
      r.decodeTime.reset();
    }
  }

  // Feeds one packet to its stream's model, as the multiplexer did when it
  // wrote it: a new access unit enters at its PES start (`ts`, the packet),
  // and a packet that arrives before the model has room overflows a buffer.
  void Replay(SReplay& r, const SReplayPacket& e, const uint8_t* ts) {
    const int64_t t = e.time;
    int32_t payload = e.payload;
    if (ts && !StartUnit(r, ts, e.spn, payload)) return;
    // Bytes before the stream's first unit (a clip that starts inside a PES
    // packet, a PES header without a PTS) have no unit to go to.
    if (r.units == 0) return;
    // A stream of one model (nearly every packet) asks it directly; the
    // shared functions route a core and an extension.
    CStdBase* primary = r.models.primary.get();
    CStdBase* secondary = r.models.secondary.get();
    const int64_t next =
        secondary ? ModelsNextTime(primary, secondary, r.toExtension, r.unitStart) : primary->GetNextTime();
    r.unitStart = false;
    if (t < next) Overflow(r.pid, e.spn, t, next);
    if (secondary)
      DeliverToModels(primary, secondary, r.toExtension, SPacketArrival{t, payload});
    else
      primary->DeliverPacket(SPacketArrival{t, payload});
    r.lastArrival = t;
  }

  // The packets from `at` on that continue one PES packet of a stream of
  // one model, each as Replay() would take it, its model called once for
  // all that find room; the last packet replayed.
  const SReplayPacket* ReplayRun(SReplay& r, const SReplayPacket* at, const SReplayPacket* end) {
    const SReplayPacket& e = *at;
    CStdBase* primary = r.models.primary.get();
    if (r.units == 0 || r.models.secondary) {
      Replay(r, e, nullptr);
      return at;
    }
    const SReplayPacket* last = at + 1;
    while (last != end && last->kind == SReplayPacket::kPacket && last->stream == e.stream && last->payload == e.payload)
      ++last;
    r.unitStart = false;
    for (const SReplayPacket* p = at; p != last; ++p) {
      const auto* times = reinterpret_cast<const uint8_t*>(p) + offsetof(SReplayPacket, time);
      const size_t delivered =
          primary->DeliverWhileRoom(times, sizeof(SReplayPacket), static_cast<size_t>(last - p), e.payload);
      if (delivered > 0) r.lastArrival = p[delivered - 1].time;
      p += delivered;
      if (p == last) break;
      // One arriving before there is room: found, and delivered all the same.
      Replay(r, *p, nullptr);
    }
    return last - 1;
  }

  [[gnu::noinline, gnu::cold]] void Overflow(uint16_t pid, uint32_t spn, int64_t t, int64_t next) {
    Limited("tstd.overflow", pid, spn,
            "PID " + Hex(pid) + " arrives at " + Ms(t) + ", before its decoder buffers have room (at " + Ms(next) + ")");
  }

  // A PES start of a replayed stream: the unit before ends, and a new one
  // enters its models. False when the replay cannot follow the packet.
  [[gnu::noinline]] bool StartUnit(SReplay& r, const uint8_t* ts, uint32_t spn, int32_t& payload) {
    EndUnit(r, spn);
    const size_t hl = kTsPacketSize - static_cast<size_t>(payload);
    PES_HEADER header;
    const size_t bytes = hl < kTsPacketSize ? Parse(ts + hl, kTsPacketSize - hl, header) : 0;
    if (bytes == 0) return false;  // not a PES start the replay can follow
    payload -= static_cast<int32_t>(bytes);
    if (header.PTS) {
      // A video's models take the profile and level its first unit shows,
      // as the multiplexer reads them when it reuses the stream.
      if (r.units == 0 && IsVideoCoding(r.params.stream_type)) {
        int profile = 0, level = 0;
        VideoProfileLevel(r.params.stream_type, ts, profile, level);
        if (profile != r.params.profile || level != r.params.level) {
          r.params.profile = profile;
          r.params.level = level;
          r.models = CreateStdModels(r.params);
        }
      }
      const uint64_t decode = header.DTS ? header.DTS->value : header.PTS->value;
      // Core and extension units are told apart as the multiplexer does
      // when it reuses the stream: by stream_id_extension, else by the
      // transport priority.
      if (r.models.secondary)
        r.toExtension = RoutesToExtension(CoreByStreamIdExtension(header), ts[1] & 0x20, r.units == 0, r.toExtension);
      EnterUnit(r.models.primary.get(), r.models.secondary.get(), r.toExtension, static_cast<uint32_t>(decode),
                static_cast<uint32_t>(header.PTS->value));
      ++r.units;
      r.unitStart = true;
      r.decodeTime = static_cast<int64_t>(static_cast<uint32_t>(decode)) * 300;
    }
    return true;
  }

  // An access unit whose last byte arrives after its decode time underflows.
  void EndUnit(SReplay& r, uint32_t spn) {
    if (r.decodeTime && r.lastArrival > *r.decodeTime)
      Limited("tstd.underflow", r.pid, spn,
              "PID " + Hex(r.pid) + ": the access unit decoded at " + Ms(*r.decodeTime) + " arrives until " +
                  Ms(r.lastArrival));
    r.decodeTime.reset();
  }

  static std::string Ms(int64_t ticks27) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3f s", static_cast<double>(ticks27) / 27e6);
    return b;
  }

  const std::string file_;
  CFindings& out_;
  std::map<uint16_t, SReplay> replay_;
  std::vector<SReplay*> streams_;  // by index
  bool walking_ = true;
  std::vector<SHeldFinding> held_;
  FindingRepeats repeats_;
};

class CClipRules {
 public:
  CClipRules(const std::string& name, const ClipInformationFile& ci, CFindings& out, bool threads)
      : name_(name), ci_(ci), out_(out), file_(StreamPath(name)), pids_(kPidCount), replay_(ci, file_, out),
        threads_(threads) {
    for (const auto& e : ci.cpi.entries)
      for (size_t i = 0; i < e.keyPoints.size(); ++i)
        ep_.push_back({e.keyPoints[i].firstSpn, SEpEntry{e.StreamPid, i, e.keyPoints[i].pts}});
    // In packet order; entries of one packet in the order the map lists them.
    std::stable_sort(ep_.begin(), ep_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (!ci.atcSequences.empty() && !ci.atcSequences[0].stc.empty()) {
      pcrPid_ = ci.atcSequences[0].stc[0].PcrPid;
      for (size_t i = 1; i < ci.atcSequences[0].stc.size(); ++i)
        stcStarts_.emplace(ci.atcSequences[0].stc[i].SpnStcStart, ci.atcSequences[0].stc[i].PcrPid);
    }
    nextStc_ = stcStarts_.begin();
    for (const auto& e : ci.cpi.entries) {
      auto& pts = epPts_[e.StreamPid];
      for (const auto& kp : e.keyPoints) pts.insert(kp.pts & kPtsEpMask);
    }
    // A transport packet's 188 bytes at the recording rate, in 27 MHz ticks.
    if (ci.TsRecordingRate > 0) minAtsDelta_ = static_cast<uint32_t>(uint64_t{188} * 27000000 / ci.TsRecordingRate);
    for (const auto& seq : ci.programInfo.sequences)
      for (const auto& st : seq.streams) {
        if (IsVideoCoding(st.coding.StreamCodingType) && epPts_.count(st.StreamPID)) {
          SHead& hd = heads_[st.StreamPID];
          hd.codingType = st.coding.StreamCodingType;
          hd.pid = st.StreamPID;
        }
      }
    for (auto& [pid, hd] : heads_)
      if (pid < kPidCount) pids_[pid].head = &hd;
    for (uint16_t pid = 0; pid < kPidCount; ++pid) pids_[pid].replay = static_cast<int16_t>(replay_.Find(pid));
    if (!ci.programInfo.sequences.empty()) pmtPid_ = ci.programInfo.sequences[0].ProgramMapPid;
  }

  // False when cancelled.
  bool Run(const std::string& path, const std::function<bool(int64_t)>& bytesDone) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
      out_.Add("clip.packet-count", file_, "", "cannot be read: " + ec.message());
      return true;
    }
    if (size % kSourcePacketSize != 0)
      out_.Add("clip.packet-count", file_, "", std::to_string(size) + " bytes are not whole 192-byte source packets");
    else if (size / kSourcePacketSize != ci_.NumberOfSourcePackets)
      out_.Add("clip.packet-count", file_, "",
               std::to_string(size / kSourcePacketSize) + " source packets where " + ClipInfoPath(name_) + " says " +
                   std::to_string(ci_.NumberOfSourcePackets));
    else if (size % 6144 != 0)
      out_.Add("clip.alignment", file_, "", std::to_string(size) + " bytes are not whole 6144-byte aligned units");

    std::string error;
    bool cancelled = false;
    // Each block's replay runs on the worker while the walk goes on with
    // the next one; the findings go out once the replay has caught up.
    SReplayBlock blocks[2];
    std::exception_ptr thrown;
    CWorker worker;  // after what its jobs use, so that it ends first
    auto replay = [this, &thrown](const SReplayBlock& b) {
      try {
        replay_.Run(b);
      } catch (...) {
        thrown = std::current_exception();
      }
    };
    // Waits for the replay under way and lets out what was found before `spn`.
    auto catchUp = [&](uint32_t spn) {
      worker.Wait();
      if (thrown) std::rethrow_exception(thrown);
      Release(spn);
    };
    size_t fill = 0;
    const bool ok = WalkPacketBlocks(
        path,
        [&](const uint8_t* p, size_t n, uint32_t spn) {
          const uint32_t first = spn;
          block_ = &blocks[fill];
          block_->count = 0;
          block_->starts.clear();
          bool go = true;
          // Packets a few ahead are asked for early (in the plain run):
          // the walk reads only their headers, too little for the hardware
          // to see a stream across pages.
          for (size_t at = 0; go;) {
            at = PlainRun(p, at, n, spn);
            if (at >= n) break;
            go = Packet(p + at, spn);
            Prime();
            at += kSourcePacketSize;
            ++spn;
          }
          catchUp(first);
          if (threads_) {
            const SReplayBlock* b = block_;
            worker.Start([replay, b]() -> int64_t {
              replay(*b);
              return 0;
            });
          } else {
            replay(*block_);
          }
          fill ^= 1;
          return go;
        },
        bytesDone, error, &cancelled);
    catchUp(UINT32_MAX);
    if (cancelled) return false;
    if (!ok) {
      out_.Add("clip.sync", file_, "", error);
      stopped_ = true;
    }
    Finish();
    return true;
  }

 private:
  static constexpr size_t kPidCount = 0x2000;

  // Adds a finding unless `key` has had kMaxRepeats already; counts the rest.
  void Limited(const char* rule, const std::string& key, const std::string& position, const std::string& message) {
    int& n = repeats_[{rule, key}];
    if (++n <= kMaxRepeats) Add(rule, position, message);
  }

  // A finding, held while a block is walked.
  void Add(const char* rule, const std::string& position, const std::string& message) {
    if (walking_)
      held_.push_back({walked_ - 1, phase_, rule, position, message});
    else
      out_.Add(rule, file_, position, message);
  }

  // The findings held of the packets before `spn`, the rules' and the
  // replay's, in packet order.
  void Release(uint32_t spn) {
    std::vector<SHeldFinding>& replayed = replay_.Held();
    auto before = [spn](const SHeldFinding& f) { return f.spn < spn; };
    const auto ownEnd = std::partition_point(held_.begin(), held_.end(), before);
    const auto replayedEnd = std::partition_point(replayed.begin(), replayed.end(), before);
    auto order = [](const SHeldFinding& a, const SHeldFinding& b) {
      return a.spn != b.spn ? a.spn < b.spn : a.phase < b.phase;
    };
    auto own = held_.begin();
    auto rep = replayed.begin();
    while (own != ownEnd || rep != replayedEnd) {
      const SHeldFinding& f = rep == replayedEnd || (own != ownEnd && order(*own, *rep)) ? *own++ : *rep++;
      out_.Add(f.rule, file_, f.position, f.message);
    }
    held_.erase(held_.begin(), ownEnd);
    replayed.erase(replayed.begin(), replayedEnd);
  }

  // The PES header `ts` starts, parsed on the first rule that asks.
  const SPesStart& PesStart(const uint8_t* ts, size_t hl) {
    if (!pes_.read) {
      pes_.read = true;
      pes_.bytes = hl < kTsPacketSize ? Parse(ts + hl, kTsPacketSize - hl, pes_.header) : 0;
    }
    return pes_;
  }

  // The packets nearly all of a clip is made of: the next of the PID walked
  // last, its payload alone, its continuity counter one on, arriving
  // within the rate, with no EP entry or STC sequence starting there. For
  // those the rules come down to counting, done here in a loop of its own
  // from the block's offset `at` (packet `spn`) on; returns the offset of
  // the first packet that is not one, for the full walk.
  size_t PlainRun(const uint8_t* p, size_t at, size_t n, uint32_t& spn) {
    if (plain_.pid == kNoPid) return at;
    SPid& state = *plain_.state;
    const uint16_t pid = static_cast<uint16_t>(plain_.pid);
    const uint32_t event = nextEvent_;
    const uint32_t minDelta = minAtsDelta_;
    const uint32_t deltas = (kAtsMask + 1) / 2 - minDelta;  // of arrival steps within the rate
    const bool replay = plain_.replay >= 0;
    const auto stream = static_cast<uint16_t>(plain_.replay);
    const int64_t stcOffset = plain_.stcOffset;
    uint32_t lastAts = lastAts_;
    int64_t ticks = atsTicks_;
    unsigned cc = static_cast<unsigned>(state.cc);
    block_->Reserve((n - at) / kSourcePacketSize);
    SReplayPacket* out = block_->packets.get() + block_->count;
    const uint32_t first = spn;
    constexpr size_t kAhead = kSourcePacketSize * 48;
    for (; at < n; at += kSourcePacketSize, ++spn) {
      if (at + kAhead < n) __builtin_prefetch(p + at + kAhead);
      const uint8_t* sp = p + at;
      const uint8_t* ts = sp + 4;
      if (ts[0] != 0x47 || (ts[1] & 0x40) || (ts[3] & 0x30) != 0x10) break;
      if (static_cast<uint16_t>((ts[1] & 0x1F) << 8 | ts[2]) != pid || spn == event) break;
      const uint32_t ats = (uint32_t{sp[0]} << 24 | uint32_t{sp[1]} << 16 | uint32_t{sp[2]} << 8 | sp[3]) & kAtsMask;
      const uint32_t delta = (ats - lastAts) & kAtsMask;
      if (delta - minDelta >= deltas) break;
      const unsigned next = ts[3] & 0x0Fu;
      if (next != ((cc + 1) & 0x0Fu)) break;
      cc = next;
      lastAts = ats;
      ticks += delta;
      if (replay) *out++ = SReplayPacket{ticks + stcOffset, spn, stream, kTsPacketSize - 4, SReplayPacket::kPacket};
    }
    if (spn != first) {
      walked_ = spn;
      lastAts_ = lastAts;
      atsTicks_ = ticks;
      state.cc = static_cast<int16_t>(cc);
      state.packets += spn - first;
      block_->count = static_cast<size_t>(out - block_->packets.get());
    }
    return at;
  }

  // After a packet of the full walk: what PlainRun() needs to take the next
  // packets of its PID, all of which can change only on the full walk.
  void Prime() {
    plain_.pid = kNoPid;
    const SPacketHead& h = head_;
    if (stopped_ || h.pid == kNullPid || !h.payload) return;
    SPid& state = pids_[h.pid];
    if (state.cc < 0) return;
    // A video's unit head still being gathered.
    if (const SHead* hd = state.head; hd && hd->pts && hd->bytes.size() < kUnitHead) return;
    plain_.pid = h.pid;
    plain_.state = &state;
    plain_.replay = state.replay >= 0 && stcOffset_ && !replayOff_ && !state.waiting ? state.replay : -1;
    plain_.stcOffset = stcOffset_.value_or(0);
    nextEvent_ = std::min(nextEp_ < ep_.size() ? ep_[nextEp_].first : UINT32_MAX,
                          nextStc_ != stcStarts_.end() ? nextStc_->first : UINT32_MAX);
  }

  bool Packet(const uint8_t* sp, uint32_t spn) {
    walked_ = spn + 1;
    const uint8_t* ts = sp + 4;
    const uint32_t ats = (uint32_t{sp[0]} << 24 | uint32_t{sp[1]} << 16 | uint32_t{sp[2]} << 8 | sp[3]) & kAtsMask;
    const uint32_t delta = (ats - lastAts_) & kAtsMask;
    if (spn > 0 && delta >= (kAtsMask + 1) / 2) {
      // Arrival times that go back leave no clock to replay the buffers on.
      replayOff_ = true;
      Limited("clip.ats", "", Spn(spn), "arrival time stamp " + std::to_string(ats) + " is before the previous one (" +
                                              std::to_string(lastAts_) + ")");
    } else if (spn > 0 && delta < minAtsDelta_) {
      Limited("clip.rate", "", Spn(spn), "arrives " + std::to_string(delta) + " ticks after the previous packet; " +
                                             std::to_string(ci_.TsRecordingRate * 8 / 1000000) + " Mbit/s allow " +
                                             std::to_string(minAtsDelta_));
    }
    if (spn > 0 && delta < (kAtsMask + 1) / 2) atsTicks_ += delta;
    lastAts_ = ats;

    SPacketHead& h = head_;
    phase_ = 0;
    if (!ReadPacketHead(ts, scratch_, h)) {
      Add("clip.sync", Spn(spn),
               ts[0] != 0x47 ? "the sync byte is lost; the rest of the clip is not checked"
                             : "the transport header does not fit the packet; the rest of the clip is not checked");
      stopped_ = true;
      return false;
    }
    const uint16_t pid = h.pid;
    const size_t hl = h.bytes;
    SPid& state = pids_[pid];
    ++state.packets;
    sawPacket_ = true;
    pes_.read = false;
    if (nextStc_ != stcStarts_.end() && nextStc_->first == spn) NewStcSequence((nextStc_++)->second);

    // PSI cadence, in arrival time, from each table's first packet on (and
    // not after the arrival clock went back).
    if (h.start && !replayOff_ && (pid == kPatPid || pid == pmtPid_ || pid == kSitPid)) {
      auto [it, first] = lastPsi_.emplace(pid, atsTicks_);
      if (!first) {
        const int64_t gap = atsTicks_ - it->second;
        const int64_t most = pid == kSitPid ? kMaxSitGap27 : kMaxPsiGap27;
        if (gap > most)
          Limited("ts.psi-interval", Hex(pid), Spn(spn),
                  std::string(pid == kPatPid ? "PAT" : pid == kSitPid ? "SIT" : "PMT") + " " +
                      std::to_string(gap / 27000) + " ms after the previous one (at most " +
                      std::to_string(most / 27000) + " ms)");
        it->second = atsTicks_;
      }
    }

    // Continuity: a payload packet counts on by one; one duplicate may repeat it.
    if (pid != kNullPid && h.payload) {
      if (state.cc >= 0 && !h.discontinuity) {
        const uint8_t want = (state.cc + 1) & 0x0F;
        if (h.cc != want && h.cc != state.cc)
          Limited("ts.continuity", Hex(pid), Spn(spn),
                  "PID " + Hex(pid) + " continuity counter " + std::to_string(h.cc) + " where " +
                      std::to_string(want) + " follows");
      }
      state.cc = h.cc;
    }

    if (pid == pcrPid_ && h.pcr) {
      const uint64_t pcr = *h.pcr;
      if (lastPcr_ && !h.discontinuity) {
        const uint64_t gap = (pcr + kPcrWrap27 - *lastPcr_) % kPcrWrap27;
        if (gap > kPcrWrap27 / 2)
          Limited("ts.pcr-interval", "", Spn(spn), "PCR goes back by " + std::to_string((kPcrWrap27 - gap) / 27000) + " ms");
        else if (static_cast<int64_t>(gap) > kMaxPcrGap27)
          Limited("ts.pcr-interval", "", Spn(spn),
                  "PCR " + std::to_string(gap / 27000) + " ms after the previous one (at most 100 ms)");
      }
      lastPcr_ = pcr;
      // The arrival clock against the system clock the time stamps count in.
      if (!stcOffset_) stcOffset_ = static_cast<int64_t>(pcr) - atsTicks_;
    }

    if (state.replay >= 0 && stcOffset_ && h.payload && !replayOff_) {
      // After a new STC sequence a stream is followed from its next PES start.
      if (h.start) state.waiting = false;
      if (!state.waiting) ToReplay(static_cast<uint16_t>(state.replay), ts, h, spn);
    }
    // The replay's place: what follows comes after its findings.
    phase_ = 2;
    if (SHead* hd = state.head; hd && h.payload) Head(*hd, ts, h, spn);

    if (pid == pmtPid_ && h.start && !pmt_ && hl < kTsPacketSize) {
      PMT_SECTION pmt;
      if (Parse(ts + hl, kTsPacketSize - hl, pmt) > 0) pmt_ = std::move(pmt);
    }

    for (; nextEp_ < ep_.size() && ep_[nextEp_].first == spn; ++nextEp_) CheckEpEntry(ep_[nextEp_].second, ts, h, spn);
    return true;
  }

  // A new STC sequence: a new system clock, so PCR spacing, the clock the
  // replay runs on and the streams' models start over.
  void NewStcSequence(uint16_t pcrPid) {
    pcrPid_ = pcrPid;
    lastPcr_.reset();
    stcOffset_.reset();
    for (SPid& state : pids_)
      if (state.replay >= 0) state.waiting = true;
    block_->Push(SReplayPacket{0, 0, 0, 0, SReplayPacket::kNewStc});
  }

  // Hands a packet of replayed stream `stream` to the replay, with its
  // arrival time.
  void ToReplay(uint16_t stream, const uint8_t* ts, const SPacketHead& h, uint32_t spn) {
    uint8_t kind = SReplayPacket::kPacket;
    if (h.start) {
      kind = SReplayPacket::kPesStart;
      std::copy(ts, ts + kTsPacketSize, block_->starts.emplace_back().begin());
    }
    block_->Push(
        SReplayPacket{atsTicks_ + *stcOffset_, spn, stream, static_cast<uint8_t>(kTsPacketSize - h.bytes), kind});
  }

  // The first bytes of each access unit of a video with an EP map, to find
  // its random-access pictures.
  struct SHead {
    uint8_t codingType = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> bytes;
    std::optional<uint64_t> pts;
    uint32_t spn = 0;
  };

  void Head(SHead& hd, const uint8_t* ts, const SPacketHead& h, uint32_t spn) {
    size_t from = h.bytes;
    if (h.start) {
      FinishHead(hd);
      const SPesStart& pes = PesStart(ts, h.bytes);
      if (pes.bytes == 0 || !pes.header.PTS) return;
      hd.pts = pes.header.PTS->value;
      hd.spn = spn;
      from = h.bytes + pes.bytes;
    }
    if (!hd.pts || hd.bytes.size() >= kUnitHead || from >= kTsPacketSize) return;
    hd.bytes.insert(hd.bytes.end(), ts + from, ts + kTsPacketSize);
  }

  void FinishHead(SHead& hd) {
    if (hd.pts && IsRandomAccess(hd.codingType, hd.bytes.data(), hd.bytes.size())) {
      const uint64_t pts = *hd.pts & kPtsEpMask;
      const std::set<uint64_t>& entries = epPts_[hd.pid];
      // The nearest entry at or before the picture (time stamps as the EP map keeps them).
      auto it = entries.upper_bound(pts);
      const bool covered = it != entries.begin() && pts - *std::prev(it) <= kMaxEpSpacing90;
      if (!covered)
        Limited("clip.ep-missing", Hex(hd.pid), Spn(hd.spn),
                "a random-access picture of PID " + Hex(hd.pid) + " (PTS " + std::to_string(*hd.pts) +
                    ") has no EP map entry within 1 s before it");
    }
    hd.bytes.clear();
    hd.pts.reset();
  }

  void CheckEpEntry(const SEpEntry& e, const uint8_t* ts, const SPacketHead& h, uint32_t spn) {
    const std::string what = "EP map entry " + std::to_string(e.index) + " of PID " + Hex(e.pid);
    if (h.pid != e.pid || !h.start) {
      Limited("clip.ep-map", Hex(e.pid), Spn(spn), what + ": the packet does not start a PES packet of that PID");
      return;
    }
    const SPesStart& pes = PesStart(ts, h.bytes);
    if (pes.bytes == 0 || !pes.header.PTS) {
      Limited("clip.ep-map", Hex(e.pid), Spn(spn), what + ": the PES packet there has no PTS");
      return;
    }
    if ((pes.header.PTS->value & kPtsEpMask) != (e.pts & kPtsEpMask))
      Limited("clip.ep-map", Hex(e.pid), Spn(spn),
              what + ": PTS " + std::to_string(e.pts) + " where the PES packet has " + std::to_string(pes.header.PTS->value));
  }

  void Finish() {
    walking_ = false;
    if (!stopped_)
      for (auto& [pid, hd] : heads_) FinishHead(hd);
    if (!replayOff_ && !stopped_) replay_.Finish(walked_);
    const uint32_t count = walked_;
    // What a walk that stopped early did not see is not held against the clip.
    const bool whole = !stopped_ && sawPacket_;
    for (size_t i = nextEp_; i < ep_.size(); ++i)
      if (ep_[i].first >= count && whole)
        Limited("clip.ep-map", Hex(ep_[i].second.pid), Spn(ep_[i].first),
                "EP map entry " + std::to_string(ep_[i].second.index) + " of PID " + Hex(ep_[i].second.pid) +
                    " is past the clip's last packet");
    // The replay's rules are its own, so the two counts never share a key.
    repeats_.insert(replay_.Repeats().begin(), replay_.Repeats().end());
    for (const auto& [key, n] : repeats_)
      if (n > kMaxRepeats)
        out_.Add(key.first, file_, key.second.empty() ? "" : "PID " + key.second,
                 std::to_string(n - kMaxRepeats) + " more like the above");

    auto packetsOf = [&](uint16_t pid) -> uint64_t { return pid < kPidCount ? pids_[pid].packets : 0; };
    std::set<uint16_t> listed;
    for (const auto& seq : ci_.programInfo.sequences)
      for (const auto& s : seq.streams) {
        listed.insert(s.StreamPID);
        if (whole && packetsOf(s.StreamPID) == 0)
          out_.Add("clip.pids", file_, "", "PID " + Hex(s.StreamPID) + " of " + ClipInfoPath(name_) + " has no packets");
        if (!pmt_) continue;
        const ESI* esi = nullptr;
        for (const auto& e : pmt_->streams)
          if (e.elementary_PID == s.StreamPID) esi = &e;
        if (!esi)
          out_.Add("clip.coding-type", file_, "PMT", "PID " + Hex(s.StreamPID) + " is not in the PMT");
        else if (esi->stream_type != s.coding.StreamCodingType)
          out_.Add("clip.coding-type", file_, "PMT",
                   "PID " + Hex(s.StreamPID) + " has stream type " + Hex(esi->stream_type, 2) + " where " +
                       ClipInfoPath(name_) + " says " + Hex(s.coding.StreamCodingType, 2));
      }
    for (uint16_t pid = 0; pid < kPidCount; ++pid)
      if (const uint64_t n = pids_[pid].packets; n > 0 && whole && IsElementaryPid(pid) && !listed.count(pid))
        out_.Add("clip.pids", file_, "", "PID " + Hex(pid) + " (" + std::to_string(n) + " packets) is not in " +
                                             ClipInfoPath(name_));
    if (!pmt_ && whole) out_.Add("clip.coding-type", file_, "", "no PMT on PID " + Hex(pmtPid_));
  }

  // What each PID has shown so far, looked up by PID for every packet.
  struct SPid {
    uint64_t packets = 0;
    int16_t cc = -1;  // the last continuity counter, -1 before the first payload
    bool waiting = false;  // for the first PES start of a new STC sequence
    int16_t replay = -1;  // the replayer's index of the stream
    SHead* head = nullptr;
  };

  const std::string name_;
  const ClipInformationFile& ci_;
  CFindings& out_;
  const std::string file_;
  std::vector<std::pair<uint32_t, SEpEntry>> ep_;  // by source packet
  size_t nextEp_ = 0;                              // the first entry not yet reached
  uint16_t pcrPid_ = kPcrPid;
  uint16_t pmtPid_ = kPmtPid;
  uint32_t lastAts_ = 0;
  uint32_t minAtsDelta_ = 0;
  int64_t atsTicks_ = 0;  // arrival time, unwrapped
  std::optional<int64_t> stcOffset_;
  std::map<uint32_t, uint16_t> stcStarts_;  // source packet of each later STC sequence -> its PCR PID
  std::map<uint32_t, uint16_t>::const_iterator nextStc_;
  std::map<uint16_t, std::set<uint64_t>> epPts_;  // EP map times by PID
  std::map<uint16_t, SHead> heads_;
  std::vector<SPid> pids_;
  std::map<uint16_t, int64_t> lastPsi_;  // arrival time of each table's last start
  bool replayOff_ = false;
  bool sawPacket_ = false;
  SPacketHead head_;
  TS_PACKET_HEADER scratch_;
  SPesStart pes_;
  std::optional<uint64_t> lastPcr_;
  std::optional<PMT_SECTION> pmt_;
  bool stopped_ = false;
  uint32_t walked_ = 0;
  FindingRepeats repeats_;
  CReplayer replay_;
  SReplayBlock* block_ = nullptr;  // what the block walked hands the replay
  static constexpr uint32_t kNoPid = 0x10000;
  struct SPlain {
    uint32_t pid = kNoPid;  // none
    SPid* state = nullptr;
    int replay = -1;  // the replayer's index of the stream, -1: not replayed now
    int64_t stcOffset = 0;
  } plain_;
  uint32_t nextEvent_ = 0;  // the next packet with an EP entry or a new STC sequence
  const bool threads_;
  std::vector<SHeldFinding> held_;  // of the block walked
  uint8_t phase_ = 0;               // of a finding of the packet walked
  bool walking_ = true;
};

}  // namespace

int CheckClips(const SDisc& disc, const Progress& progress, bool threads, CFindings& out) {
  // Clips whose clip information did not read are reported as such alone.
  std::vector<std::string> names;
  uint64_t total = 0;
  for (const auto& [name, ci] : disc.clips)
    if (disc.streamFiles.count(name)) {
      names.push_back(name);
      std::error_code ec;
      total += std::filesystem::file_size(disc.Path(StreamPath(name)), ec);
    }
  uint64_t before = 0;
  for (const auto& name : names) {
    if (!progress.Item("checking " + StreamPath(name))) return kCancelled;
    const std::string path = disc.Path(StreamPath(name));
    CClipRules rules(name, disc.clips.at(name), out, threads);
    const bool done = rules.Run(path, [&](int64_t bytes) {
      const uint64_t at = before + static_cast<uint64_t>(bytes);
      return progress.Value(total ? static_cast<int32_t>(at * 100 / total) : 100);
    });
    if (!done) return kCancelled;
    std::error_code ec;
    before += std::filesystem::file_size(path, ec);
  }
  progress.Hide();
  return kOk;
}

}  // namespace zv::check
