// Menus and subtitles: every interactive and presentation graphics stream
// the playlists offer, read with the graphics readers; the references of
// pages and buttons, which buttons the arrow keys reach, and the decoder
// limits the menu compiler fits its streams to.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "graphics/composition.h"
#include "graphics/ig_compiler.h"
#include "graphics/page_reach.h"
#include "graphics/segments.h"
#include "verify/check_context.h"
#include "verify/clip_walk.h"

namespace zv::check {

namespace {

constexpr uint16_t kNoId = 0xFFFF;
// A presentation-graphics decoder keeps its decoded objects in 4 MiB.
constexpr int64_t kPgDecodedObjectBuffer = int64_t{4} << 20;
// What a presentation-graphics decoder holds at once.
constexpr size_t kPgMaxObjects = 64;
constexpr size_t kPgMaxPalettes = 8;
constexpr size_t kPgMaxWindows = 2;
constexpr size_t kPgMaxCompositionObjects = 2;
// The coded-data buffer of both graphics decoders (the T-STD replay checks
// its filling; one object larger than it can never be decoded).
constexpr int64_t kGraphicsCodedBuffer = 1048576;

std::string Hex(unsigned v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%04X", v);
  return b;
}

std::string MegaBytes(int64_t bytes) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  return b;
}

std::string Seconds(int64_t ticks90) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3f s", static_cast<double>(ticks90) / 90000);
  return b;
}

// An object as far as its first fragment tells.
struct SObject {
  int64_t width = 0, height = 0;
  int64_t codedBytes = 0;
  uint32_t decodedAt = 0;  // PTS of its last fragment: decoding done
};

// What an epoch has defined so far: objects and palettes by id.
struct SEpochState {
  std::map<uint16_t, SObject> objects;
  std::set<uint8_t> palettes;
  std::map<uint8_t, SWindow> windows;  // subtitles: the windows of the last WDS
  int64_t DecodedBytes() const {
    int64_t n = 0;
    for (const auto& [id, o] : objects) n += o.width * o.height;
    return n;
  }
};

class CMenuRules {
 public:
  CMenuRules(SDisc& disc, CFindings& out) : d_(disc), out_(out) {}

  void Run() {
    // Each stream once, however many playlists offer it.
    std::map<std::string, std::pair<std::string, uint16_t>> streams;  // key -> clip, pid
    std::map<std::string, bool> interactive;
    for (const auto& named : d_.playlists) {
      const auto& pl = named.second;  // a plain name, which the lambda below can capture
      for (const auto& pi : pl.playItems) {
        auto add = [&](const auto& entries, bool ig) {
          for (const auto& e : entries) {
            std::string clip;
            uint16_t pid = 0;
            if (!EntryTarget(pl, pi, e.entry, clip, pid) || !d_.clips.count(clip) || !d_.streamFiles.count(clip)) continue;
            // Text subtitles share the PG entries; only graphics are read.
            if (!ig && d_.CodingOf(clip, pid) != 0x90) continue;
            const std::string key = MenuKey(clip, pid);
            streams.emplace(key, std::make_pair(clip, pid));
            interactive[key] = ig;
          }
        };
        add(pi.stn.ig, true);
        add(pi.stn.pgTextSt, false);
        add(pi.stn.pipPgTextSt, false);
      }
    }
    for (const auto& [key, cp] : streams) Stream(cp.first, cp.second, interactive[key]);
  }

 private:
  void Stream(const std::string& clip, uint16_t pid, bool ig) {
    const std::string rel = StreamPath(clip);
    const std::string pidText = "PID " + Hex(pid);
    std::vector<SMenuButton>* buttons = ig ? &d_.menus[MenuKey(clip, pid)] : nullptr;
    std::vector<uint8_t> segments;
    std::string error;
    if (!JoinGraphicsSegments(d_.Path(rel), pid, segments, error)) {
      out_.Add("menu.parse", rel, pidText, error);
      return;
    }
    CMemoryInput in(segments.data(), segments.size());
    SEpochState epoch;
    bool decoderReported = false;
    bool limitsReported = false;
    std::optional<uint32_t> lastShown;  // subtitles: the PTS of the display set before
    for (int ds = 0;; ++ds) {
      CDsData data;
      const int r = ReadDisplaySet(in, data, true, error);
      if (r == kDsEndOfFile) break;
      const std::string where = pidText + " display set " + std::to_string(ds);
      if (r != kDsOk) {
        out_.Add("menu.parse", rel, where, error);
        break;
      }
      if (data.m_nCompositionState == 2) {
        epoch = SEpochState{};
        decoderReported = false;
        limitsReported = false;
      }
      for (const auto& p : data.m_pds) epoch.palettes.insert(p->m_nPaletteId);
      Objects(data, epoch, ig, rel, where);
      const int64_t decoded = epoch.DecodedBytes();
      const int64_t limit = ig ? kIgDecodedObjectBuffer : kPgDecodedObjectBuffer;
      if (decoded > limit && !decoderReported) {
        decoderReported = true;
        out_.Add("menu.decoder", rel, where,
                 "the epoch's objects take " + MegaBytes(decoded) + " decoded, the player holds " + MegaBytes(limit));
      }
      if (!ig) {
        if (data.m_pcs) Presentation(*data.m_pcs, epoch, rel, where);
        SubtitleOrder(data, lastShown, rel, where);
        SubtitleWindows(data, epoch, limitsReported, rel, where);
        continue;
      }
      if (data.m_ics.empty()) continue;
      try {
        const std::vector<uint8_t> bytes = data.Composition();
        const SInteractiveComposition ic = ParseComposition(bytes.data(), bytes.size());
        Interactive(ic, data.m_ics.front()->m_nPts, epoch, rel, where, *buttons);
      } catch (const std::exception& e) {
        out_.Add("menu.parse", rel, where, e.what());
      }
    }
  }

  // Object sizes, coded sizes and decoding times of a display set's ODSs.
  void Objects(const CDsData& data, SEpochState& epoch, bool ig, const std::string& rel, const std::string& where) {
    const int64_t rate = ig ? kIgObjectRate : kGraphicsPlaneRate;
    SObject* current = nullptr;
    uint32_t firstDts = 0;
    for (const auto& o : data.m_ods) {
      const auto& f = o->m_sequence.fragment;
      if (o->m_sequence.first) {
        SObject& obj = epoch.objects[o->m_nObjectId];
        obj = SObject{};
        // object_data_length (24 bits), then the width and the height.
        if (f.size() >= 7) {
          obj.width = f[3] << 8 | f[4];
          obj.height = f[5] << 8 | f[6];
        }
        current = &obj;
        firstDts = o->m_nDts;
      }
      if (!current) continue;  // a continuation without its start: the reader's business
      current->codedBytes += static_cast<int64_t>(f.size());
      if (!o->m_sequence.last) continue;
      current->decodedAt = o->m_nPts;
      const std::string what = where + " object " + std::to_string(o->m_nObjectId);
      if (current->codedBytes > kGraphicsCodedBuffer)
        out_.Add("menu.decoder", rel, what,
                 MegaBytes(current->codedBytes) + " of coded data, more than the 1 MiB coded-data buffer holds");
      // Time stamps of 0 carry no timing (a stream without DTS).
      const int64_t need = ObjectDecodeTicks(current->width, current->height, rate);
      const int64_t given = int64_t{o->m_nPts} - firstDts;
      if (firstDts != 0 && given < need)
        out_.Add("menu.decode-time", rel, what,
                 std::to_string(current->width) + " x " + std::to_string(current->height) + " pixels decode in " +
                     Seconds(need) + ", its time stamps allow " + Seconds(given));
      current = nullptr;
    }
  }

  void Presentation(const CPcs& pcs, const SEpochState& epoch, const std::string& rel, const std::string& where) {
    if (!pcs.m_objects.empty() && !epoch.palettes.count(pcs.m_nPaletteIdRef))
      out_.Add("menu.object-ref", rel, where, "palette " + std::to_string(pcs.m_nPaletteIdRef) + " is not defined");
    for (const auto& c : pcs.m_objects)
      if (!epoch.objects.count(c.objectIdRef))
        out_.Add("menu.object-ref", rel, where, "object " + std::to_string(c.objectIdRef) + " is not defined");
  }

  // Display sets are presented one after another, and each segment is
  // decoded at or before its presentation time (time stamps of 0 carry none).
  void SubtitleOrder(const CDsData& data, std::optional<uint32_t>& lastShown, const std::string& rel,
                     const std::string& where) {
    for (const CSegmentBase* seg : data.Segments())
      if (seg->m_nDts != 0 && seg->m_nDts > seg->m_nPts) {
        out_.Add("subtitle.order", rel, where,
                 "a segment is decoded at " + Seconds(seg->m_nDts) + ", after its presentation at " + Seconds(seg->m_nPts));
        break;
      }
    if (!data.m_pcs) return;
    const uint32_t shown = data.m_pcs->m_nPts;
    if (lastShown && shown <= *lastShown)
      out_.Add("subtitle.order", rel, where,
               "shows at " + Seconds(shown) + ", not after the display set before it (" + Seconds(*lastShown) + ")");
    lastShown = shown;
  }

  // Windows inside the video; composition objects, as placed and cropped,
  // inside the window they name; the decoder's counts.
  void SubtitleWindows(const CDsData& data, SEpochState& epoch, bool& limitsReported, const std::string& rel,
                       const std::string& where) {
    if (data.m_wds) {
      epoch.windows.clear();
      for (const SWindow& w : data.m_wds->m_windows) epoch.windows[w.id] = w;
    }
    auto limit = [&](size_t n, size_t most, const std::string& what) {
      if (n <= most || limitsReported) return;
      limitsReported = true;
      out_.Add("subtitle.limits", rel, where, std::to_string(n) + " " + what + " where the decoder holds " + std::to_string(most));
    };
    limit(epoch.objects.size(), kPgMaxObjects, "objects in the epoch");
    limit(epoch.palettes.size(), kPgMaxPalettes, "palettes in the epoch");
    if (data.m_wds) limit(data.m_wds->m_windows.size(), kPgMaxWindows, "windows");
    if (!data.m_pcs) return;
    const CPcs& pcs = *data.m_pcs;
    limit(pcs.m_objects.size(), kPgMaxCompositionObjects, "composition objects");
    const int64_t videoW = pcs.m_composition.video.width, videoH = pcs.m_composition.video.height;
    if (data.m_wds)
      for (const SWindow& w : data.m_wds->m_windows)
        if (int64_t{w.x} + w.width > videoW || int64_t{w.y} + w.height > videoH)
          out_.Add("subtitle.window", rel, where,
                   "window " + std::to_string(w.id) + " (" + Rect(w.x, w.y, w.width, w.height) + ") reaches outside the " +
                       std::to_string(videoW) + " x " + std::to_string(videoH) + " video");
    for (const SCompositionObject& c : pcs.m_objects) {
      const std::string what = "object " + std::to_string(c.objectIdRef);
      auto win = epoch.windows.find(c.windowIdRef);
      if (win == epoch.windows.end()) {
        out_.Add("subtitle.window", rel, where, what + " is placed in window " + std::to_string(c.windowIdRef) + ", which is not defined");
        continue;
      }
      auto obj = epoch.objects.find(c.objectIdRef);
      if (obj == epoch.objects.end()) continue;  // reported as menu.object-ref
      const SObject& o = obj->second;
      if (c.cropped && (int64_t{c.cropX} + c.cropWidth > o.width || int64_t{c.cropY} + c.cropHeight > o.height)) {
        out_.Add("subtitle.window", rel, where,
                 what + " is cropped to " + Rect(c.cropX, c.cropY, c.cropWidth, c.cropHeight) + ", outside its " +
                     std::to_string(o.width) + " x " + std::to_string(o.height) + " pixels");
        continue;
      }
      const int64_t w = c.cropped ? c.cropWidth : o.width, h = c.cropped ? c.cropHeight : o.height;
      const SWindow& ww = win->second;
      if (c.x < ww.x || c.y < ww.y || c.x + w > int64_t{ww.x} + ww.width || c.y + h > int64_t{ww.y} + ww.height)
        out_.Add("subtitle.window", rel, where,
                 what + " at " + Rect(c.x, c.y, w, h) + " reaches outside window " + std::to_string(ww.id) + " (" +
                     Rect(ww.x, ww.y, ww.width, ww.height) + ")");
    }
  }

  static std::string Rect(int64_t x, int64_t y, int64_t w, int64_t h) {
    return std::to_string(w) + " x " + std::to_string(h) + " at " + std::to_string(x) + "," + std::to_string(y);
  }

  void Interactive(const SInteractiveComposition& ic, uint32_t shownAt, const SEpochState& epoch, const std::string& rel,
                   const std::string& where, std::vector<SMenuButton>& buttons) {
    for (size_t pi = 0; pi < ic.pages.size(); ++pi) {
      const SIgPage& page = ic.pages[pi];
      const std::string at = where + " page " + std::to_string(page.id);
      std::map<uint16_t, const SButton*> byId;
      for (const auto& bog : page.bogs)
        for (const auto& b : bog.buttons) byId.emplace(b.id, &b);
      auto button = [&](uint16_t id, const std::string& pos, const std::string& what) {
        if (id != kNoId && !byId.count(id))
          out_.Add("menu.button-ref", rel, pos, what + " " + std::to_string(id) + " is not a button of the page");
      };
      auto palette = [&](uint8_t id, const std::string& pos, const std::string& what) {
        if (!epoch.palettes.count(id)) out_.Add("menu.object-ref", rel, pos, what + " " + std::to_string(id) + " is not defined");
      };
      std::set<uint16_t> pageObjects;
      auto objects = [&](const SButtonState& s, const std::string& pos, const char* state) {
        if (s.startObjectId == kNoId && s.endObjectId == kNoId) return;
        // The animation runs through every id from start to end.
        const uint16_t a = s.startObjectId == kNoId ? s.endObjectId : s.startObjectId;
        const uint16_t b = s.endObjectId == kNoId ? s.startObjectId : s.endObjectId;
        for (uint32_t id = std::min(a, b); id <= std::max(a, b); ++id) {
          pageObjects.insert(static_cast<uint16_t>(id));
          if (!epoch.objects.count(static_cast<uint16_t>(id))) {
            out_.Add("menu.object-ref", rel, pos,
                     std::string(state) + " object " + std::to_string(id) + " is not defined");
            break;
          }
        }
      };
      button(page.defaultSelectedButtonId, at, "default selected button");
      button(page.defaultActivatedButtonId, at, "default activated button");
      palette(page.paletteIdRef, at, "palette");
      for (const SEffectSequence* seq : {&page.inEffects, &page.outEffects})
        for (const auto& e : seq->effects) {
          palette(e.paletteIdRef, at, "effect palette");
          for (const auto& c : e.objects)
            if (!epoch.objects.count(c.objectIdRef))
              out_.Add("menu.object-ref", rel, at, "effect object " + std::to_string(c.objectIdRef) + " is not defined");
        }
      for (size_t g = 0; g < page.bogs.size(); ++g) {
        const SBog& bog = page.bogs[g];
        button(bog.defaultButtonIdRef, at + " BOG " + std::to_string(g), "default button");
        for (const auto& b : bog.buttons) {
          const std::string pos = at + " button " + std::to_string(b.id);
          button(b.up, pos, "upper neighbour");
          button(b.down, pos, "lower neighbour");
          button(b.left, pos, "left neighbour");
          button(b.right, pos, "right neighbour");
          objects(b.normal, pos, "normal");
          objects(b.selected, pos, "selected");
          objects(b.activated, pos, "activated");
          SMenuButton mb;
          mb.where = pos;
          for (const auto& raw : b.commands) {
            CNavCmd c;
            c.bytes = raw;
            mb.commands.Add(c);
          }
          buttons.push_back(std::move(mb));
        }
      }
      Reach(page, rel, at);
      // The first page shows at the composition's time: its pictures must be
      // decoded by then.
      if (pi == 0 && shownAt != 0)
        for (uint16_t id : pageObjects) {
          auto it = epoch.objects.find(id);
          if (it != epoch.objects.end() && it->second.decodedAt > shownAt) {
            out_.Add("menu.decode-time", rel, at,
                     "object " + std::to_string(id) + " is decoded " + Seconds(it->second.decodedAt - shownAt) +
                         " after the page shows");
            break;
          }
        }
    }
  }

  // Every button with graphics can be selected by arrow keys from the
  // page's default selected button.
  void Reach(const SIgPage& page, const std::string& rel, const std::string& at) {
    for (uint16_t id : UnreachableButtons(page))
      out_.Add("menu.unreachable", rel, at + " button " + std::to_string(id),
               "no arrow key leads here from the page's default button");
  }

  SDisc& d_;
  CFindings& out_;
};

}  // namespace

void CheckMenus(SDisc& disc, CFindings& out) { CMenuRules(disc, out).Run(); }

}  // namespace zv::check
