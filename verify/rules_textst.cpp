// Text subtitle streams (coding type 0x92). Their decoder model sets no
// buffer limit to replay (the multiplexer never delays them); what the
// format does lay down is checked: private-stream-2 PES packets carrying
// one dialog style segment, then as many dialog presentation segments as
// it announces, each shown for a time, in order and without overlap, and
// every dialog inside the play item that shows the stream.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "verify/check_context.h"
#include "verify/clip_walk.h"

namespace zv::check {

namespace {

constexpr uint8_t kPrivateStream2 = 0xBF;
constexpr uint8_t kDialogStyleSegment = 0x81;
constexpr uint8_t kDialogPresentationSegment = 0x82;
constexpr uint8_t kTextSubtitle = 0x92;
// Findings of one kind per stream beyond which only a count is given.
constexpr int kMaxRepeats = 3;

std::string Hex(unsigned v, int width) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*X", width, v);
  return b;
}

std::string Seconds(uint64_t ticks90) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3f s", static_cast<double>(ticks90) / 90000);
  return b;
}

// A 33-bit time stamp after 7 reserved bits.
uint64_t TimeStamp(const uint8_t* p) {
  return (uint64_t{p[0]} & 1) << 32 | uint64_t{p[1]} << 24 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 8 | p[4];
}

struct SDialog {
  uint64_t start = 0, end = 0;  // 90 kHz
};

// Where a playlist shows a stream: its play item and the times (45 kHz)
// the item, or the sub play item carrying the stream, plays of the clip.
struct SShown {
  std::string playlist;
  size_t item = 0;
  uint32_t in = 0, out = 0;
};

class CTextRules {
 public:
  CTextRules(const SDisc& disc, CFindings& out) : d_(disc), out_(out) {}

  void Run() {
    std::map<std::pair<std::string, uint16_t>, std::vector<SShown>> streams;
    for (const auto& [name, pl] : d_.playlists)
      for (size_t i = 0; i < pl.playItems.size(); ++i) {
        const PLAY_ITEM& pi = pl.playItems[i];
        for (const CPseFolder* list : {&pi.stn.pgTextSt, &pi.stn.pipPgTextSt})
          for (const auto& e : *list) {
            std::string clip;
            uint16_t pid = 0;
            if (!EntryTarget(pl, pi, e.entry, clip, pid) || !d_.clips.count(clip) || !d_.streamFiles.count(clip) ||
                d_.CodingOf(clip, pid) != kTextSubtitle)
              continue;
            SShown shown{name, i, pi.InTime, pi.OutTime};
            if (e.entry.type == 2) {
              const SUB_PLAY_ITEM& it = pl.subPaths[e.entry.RefToSubPathId].items[0];
              shown.in = it.InTime;
              shown.out = it.OutTime;
            }
            streams[{clip, pid}].push_back(shown);
          }
      }
    for (const auto& [key, shown] : streams) Stream(key.first, key.second, shown);
  }

 private:
  void Stream(const std::string& clip, uint16_t pid, const std::vector<SShown>& shown) {
    file_ = StreamPath(clip);
    pidText_ = "PID " + Hex(pid, 4);
    repeats_.clear();
    std::vector<SDialog> dialogs;
    int styles = 0;
    uint32_t announced = 0;
    size_t packet = 0;
    std::string error;
    const bool read = EachPesPacket(
        d_.Path(file_), pid,
        [&](const PES_HEADER& h, const uint8_t* p, size_t n) {
          const std::string where = pidText_ + " PES packet " + std::to_string(packet++);
          if (h.stream_id != kPrivateStream2)
            Limited("subtitle.text", "stream", where,
                    "stream_id " + Hex(h.stream_id, 2) + " where text subtitles use private stream 2 (0xBF)");
          for (size_t at = 0; at < n;) {
            if (at + 3 > n) {
              Limited("subtitle.text", "cut", where, "a segment header cut short");
              return;
            }
            const uint8_t type = p[at];
            const size_t len = size_t{p[at + 1]} << 8 | p[at + 2];
            const uint8_t* body = p + at + 3;
            if (at + 3 + len > n) {
              Limited("subtitle.text", "cut", where,
                      "a segment of " + std::to_string(len) + " bytes where the PES packet holds " +
                          std::to_string(n - at - 3));
              return;
            }
            at += 3 + len;
            if (type == kDialogStyleSegment) {
              if (++styles > 1 || !dialogs.empty())
                Limited("subtitle.text", "style", where, "a dialog style segment after the stream's first segment");
              else if (len < 2)
                Limited("subtitle.text", "style", where, "a dialog style segment without its dialog count");
              else
                announced = uint32_t{body[len - 2]} << 8 | body[len - 1];
            } else if (type == kDialogPresentationSegment) {
              const std::string what = pidText_ + " dialog " + std::to_string(dialogs.size());
              if (styles == 0 && dialogs.empty())
                Limited("subtitle.text", "style", where, "a dialog presentation segment before the dialog style segment");
              if (len < 10) {
                Limited("subtitle.text", "cut", what, "a dialog presentation segment without its times");
                continue;
              }
              const SDialog dl{TimeStamp(body), TimeStamp(body + 5)};
              if (dl.end <= dl.start)
                Limited("subtitle.text", "time", what,
                        "ends at " + Seconds(dl.end) + ", not after it starts (" + Seconds(dl.start) + ")");
              else if (!dialogs.empty() && dl.start < dialogs.back().end)
                Limited("subtitle.text", "time", what,
                        "starts at " + Seconds(dl.start) + ", before the dialog before it ends (" +
                            Seconds(dialogs.back().end) + ")");
              dialogs.push_back(dl);
            } else {
              Limited("subtitle.text", "type", where, "segment type " + Hex(type, 2) + " is not a text subtitle segment");
            }
          }
        },
        error);
    if (!read) {
      out_.Add("subtitle.text", file_, pidText_, error);
      return;
    }
    if (styles == 0)
      Limited("subtitle.text", "style", pidText_, "no dialog style segment");
    else if (announced != dialogs.size())
      Limited("subtitle.text", "count", pidText_,
              "the dialog style segment announces " + std::to_string(announced) + " dialogs, the stream has " +
                  std::to_string(dialogs.size()));

    for (const SShown& s : shown) {
      const uint64_t in = uint64_t{s.in} * 2, out = uint64_t{s.out} * 2;
      for (size_t i = 0; i < dialogs.size(); ++i)
        if (dialogs[i].start < in || dialogs[i].end > out)
          Limited("subtitle.text-time", s.playlist + "/" + std::to_string(s.item),
                  pidText_ + " dialog " + std::to_string(i),
                  "shown from " + Seconds(dialogs[i].start) + " to " + Seconds(dialogs[i].end) + ", outside PlayItem " +
                      std::to_string(s.item) + " of " + PlaylistPath(s.playlist) + " (" + Seconds(in) + " to " +
                      Seconds(out) + ")");
    }
    for (const auto& [key, n] : repeats_)
      if (n > kMaxRepeats)
        out_.Add(key.first.c_str(), file_, pidText_, std::to_string(n - kMaxRepeats) + " more like the above");
  }

  // Adds a finding unless `kind` has had kMaxRepeats already; counts the rest.
  void Limited(const char* rule, const std::string& kind, const std::string& position, const std::string& message) {
    int& n = repeats_[{rule, kind}];
    if (++n <= kMaxRepeats) out_.Add(rule, file_, position, message);
  }

  const SDisc& d_;
  CFindings& out_;
  std::string file_;
  std::string pidText_;
  std::map<std::pair<std::string, std::string>, int> repeats_;
};

}  // namespace

void CheckTextSubtitles(const SDisc& disc, CFindings& out) { CTextRules(disc, out).Run(); }

}  // namespace zv::check
