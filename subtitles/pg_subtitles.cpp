#include "subtitles/pg_subtitles.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "graphics/graphic_object.h"
#include "graphics/object_coding.h"
#include "graphics/segments.h"
#include "platform/file.h"
#include "subtitles/ass_handles.h"

namespace zv {

namespace {

struct FcPatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The family fontconfig gives for `family`, empty when it finds nothing.
std::string MatchedFamily(const std::string& family, bool& exact) {
  exact = false;
  std::unique_ptr<FcPattern, FcPatternDeleter> pat(FcPatternCreate());
  if (!pat) return {};
  FcPatternAddString(pat.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcConfigSubstitute(nullptr, pat.get(), FcMatchPattern);
  FcDefaultSubstitute(pat.get());
  FcResult result = FcResultNoMatch;
  std::unique_ptr<FcPattern, FcPatternDeleter> match(FcFontMatch(nullptr, pat.get(), &result));
  if (!match) return {};
  std::string first;
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    const std::string n = reinterpret_cast<const char*>(name);
    if (i == 0) first = n;
    if (Lower(n) == Lower(family)) exact = true;
  }
  return first;
}

int64_t FrameMs(int64_t n, const SSubtitleVideo& v) {
  return n * 1000 * static_cast<int64_t>(v.rateDen) / v.rateNum;
}

}  // namespace

bool ParseSubtitleVideo(const std::string& text, SSubtitleVideo& out) {
  const size_t x = text.find('x'), at = text.find('@');
  if (x == std::string::npos || at == std::string::npos || at < x) return false;
  const std::string w = text.substr(0, x), h = text.substr(x + 1, at - x - 1), r = text.substr(at + 1);
  static const struct {
    const char* name;
    uint32_t num, den;
    uint8_t code;
  } kRates[] = {{"23.976", 24000, 1001, 1}, {"24", 24, 1, 2},       {"25", 25, 1, 3},
                {"29.97", 30000, 1001, 4},  {"50", 50, 1, 6},       {"59.94", 60000, 1001, 7}};
  static const std::pair<int, int> kSizes[] = {{1920, 1080}, {1440, 1080}, {1280, 720}, {720, 576}, {720, 480}};
  SSubtitleVideo v;
  v.width = std::atoi(w.c_str());
  v.height = std::atoi(h.c_str());
  if (std::to_string(v.width) != w || std::to_string(v.height) != h) return false;
  if (std::find(std::begin(kSizes), std::end(kSizes), std::make_pair(v.width, v.height)) == std::end(kSizes))
    return false;
  for (const auto& k : kRates)
    if (r == k.name) {
      v.rateNum = k.num;
      v.rateDen = k.den;
      v.frameRateCode = k.code;
      out = v;
      return true;
    }
  return false;
}

int64_t FrameAtOrAfter(int64_t ms, const SSubtitleVideo& v) {
  const int64_t den = 1000 * static_cast<int64_t>(v.rateDen);
  return (ms * v.rateNum + den - 1) / den;
}

uint32_t FrameTicks(int64_t n, const SSubtitleVideo& v) {
  return static_cast<uint32_t>((n * 90000 * static_cast<int64_t>(v.rateDen) * 2 + v.rateNum) / (2 * v.rateNum));
}

struct CSubtitleRenderer::Impl {
  ass::Library library;
  ass::Renderer renderer;
  ass::Track track;
  std::vector<float> canvas;  // premultiplied R, G, B, A per pixel, 0..1
};

CSubtitleRenderer::CSubtitleRenderer() : impl_(std::make_unique<Impl>()) {}
CSubtitleRenderer::~CSubtitleRenderer() = default;

bool CSubtitleRenderer::Open(const SSubtitleScript& script, const SSubtitleStyle& style, const SSubtitleVideo& video,
                             std::vector<std::string>& warnings, std::string& error) {
  video_ = video;
  events_.clear();
  impl_->library.reset(ass_library_init());
  if (!impl_->library) {
    error = "the subtitle renderer (libass) cannot be started";
    return false;
  }
  ass_set_message_cb(impl_->library.get(), ass::QuietMessages, nullptr);
  impl_->renderer.reset(ass_renderer_init(impl_->library.get()));
  if (!impl_->renderer) {
    error = "the subtitle renderer (libass) cannot be started";
    return false;
  }
  ASS_Renderer* r = impl_->renderer.get();
  ass_set_frame_size(r, video.width, video.height);
  ass_set_storage_size(r, video.width, video.height);
  ass_set_fonts(r, nullptr, kDefaultSubtitleFont, ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);

  std::vector<char> text(script.ass.begin(), script.ass.end());
  impl_->track.reset(ass_read_memory(impl_->library.get(), text.data(), text.size(), const_cast<char*>("UTF-8")));
  if (!impl_->track) {
    error = "the subtitle renderer (libass) cannot read the script";
    return false;
  }
  ASS_Track* t = impl_->track.get();
  if (!script.times.empty() && static_cast<size_t>(t->n_events) != script.times.size()) {
    error = "the subtitle renderer read " + std::to_string(t->n_events) + " of " +
            std::to_string(script.times.size()) + " events";
    return false;
  }

  // ASS styles take only the options the user set (SRT and WebVTT carry
  // them in their generated style already).
  if (script.times.empty()) {
    const double playY = t->PlayResY > 0 ? t->PlayResY : 288;
    for (int i = 0; i < t->n_styles; ++i) {
      ASS_Style& s = t->styles[i];
      if (style.font) {
        std::free(s.FontName);
        s.FontName = strdup(style.font->c_str());
      }
      if (style.size) s.FontSize = *style.size * playY / 100.0;
      if (style.colour) s.PrimaryColour = (*style.colour << 8) | (s.PrimaryColour & 0xFF);
      if (style.outline) s.Outline = *style.outline * playY / 1080.0;
      if (style.shadow) s.Shadow = *style.shadow * playY / 1080.0;
      if (style.bottomMargin) s.MarginV = static_cast<int>(std::lround(*style.bottomMargin * playY / 100.0));
      if (style.top) s.Alignment = (s.Alignment - 1) % 3 + (*style.top ? 7 : 1);
    }
  }

  // Fonts: fontconfig's fallback is used, with a warning.
  // Only the styles events use count: libass keeps a default style of its
  // own that no event may refer to.
  std::set<std::string> fonts;
  for (int i = 0; i < t->n_events; ++i) {
    const int s = t->events[i].Style;
    if (s >= 0 && s < t->n_styles && t->styles[s].FontName) fonts.insert(t->styles[s].FontName);
  }
  if (FcInit()) {
    for (const std::string& f : fonts) {
      bool exact = false;
      const std::string got = MatchedFamily(f, exact);
      if (!exact)
        warnings.push_back("font \"" + f + "\" is not installed; " +
                           (got.empty() ? std::string("libass's fallback") : "\"" + got + "\"") + " is used instead");
    }
  }

  // Each event moves to whole frames: shown from the first frame at or
  // after its start up to the last before its end, one frame at least.
  events_.reserve(t->n_events);
  for (int i = 0; i < t->n_events; ++i) {
    ASS_Event& e = t->events[i];
    const int64_t start = script.times.empty() ? e.Start : script.times[i].first;
    const int64_t end = script.times.empty() ? e.Start + e.Duration : script.times[i].second;
    SSubtitleEvent ev;
    ev.first = FrameAtOrAfter(std::max<int64_t>(start, 0), video);
    int64_t after = FrameAtOrAfter(std::max<int64_t>(end, 0), video);
    if (after <= ev.first) after = ev.first + 1;
    ev.last = after - 1;
    e.Start = FrameMs(ev.first, video);
    e.Duration = FrameMs(after, video) - e.Start;
    events_.push_back(ev);
  }
  return true;
}

void CSubtitleRenderer::Render(int64_t n, CPicture& out, int& originX, int& originY) {
  const int w = video_.width, h = video_.height;
  int changed = 0;
  ASS_Image* images = ass_render_frame(impl_->renderer.get(), impl_->track.get(), FrameMs(n, video_), &changed);
  // Only the region the glyphs cover is drawn: a frame is mostly empty.
  int x0 = w, y0 = h, x1 = 0, y1 = 0;
  for (ASS_Image* img = images; img; img = img->next) {
    x0 = std::min(x0, std::max(img->dst_x, 0));
    y0 = std::min(y0, std::max(img->dst_y, 0));
    x1 = std::max(x1, std::min(img->dst_x + img->w, w));
    y1 = std::max(y1, std::min(img->dst_y + img->h, h));
  }
  originX = x0;
  originY = y0;
  if (x1 <= x0 || y1 <= y0) {
    out.Allocate(0, 0, PixelFormat::Argb32);
    return;
  }
  const int rw = x1 - x0, rh = y1 - y0;
  std::vector<float>& c = impl_->canvas;
  c.assign(static_cast<size_t>(rw) * rh * 4, 0.0f);
  for (ASS_Image* img = images; img; img = img->next) {
    const float r = ((img->color >> 24) & 0xFF) / 255.0f, g = ((img->color >> 16) & 0xFF) / 255.0f,
                b = ((img->color >> 8) & 0xFF) / 255.0f, opacity = (255 - (img->color & 0xFF)) / 255.0f;
    for (int y = 0; y < img->h; ++y) {
      const int py = img->dst_y + y;
      if (py < y0 || py >= y1) continue;
      const uint8_t* m = img->bitmap + static_cast<size_t>(y) * img->stride;
      for (int x = 0; x < img->w; ++x) {
        const int px = img->dst_x + x;
        if (px < x0 || px >= x1 || m[x] == 0) continue;
        const float a = m[x] / 255.0f * opacity;
        float* d = &c[(static_cast<size_t>(py - y0) * rw + (px - x0)) * 4];
        d[0] = r * a + d[0] * (1 - a);
        d[1] = g * a + d[1] * (1 - a);
        d[2] = b * a + d[2] * (1 - a);
        d[3] = a + d[3] * (1 - a);
      }
    }
  }
  out.Allocate(rw, rh, PixelFormat::Argb32);
  for (size_t i = 0, n4 = static_cast<size_t>(rw) * rh; i < n4; ++i) {
    const float* s = &c[i * 4];
    uint8_t* d = &out.pixels[i * 4];
    const float a = s[3];
    // Values are within 0..1: adding a half and truncating rounds them.
    d[0] = static_cast<uint8_t>(a * 255 + 0.5f);
    if (d[0] == 0) {
      d[1] = d[2] = d[3] = 0;
      continue;
    }
    const float inv = 255 / a;
    for (int k = 0; k < 3; ++k) d[k + 1] = static_cast<uint8_t>(std::min(s[k] * inv, 255.0f) + 0.5f);
  }
}

namespace {

// The palette entry as players read it: BT.709 on HD video, BT.601 on SD.
SPaletteEntry PaletteEntry(uint8_t id, const SColor& c, ColorMatrix m) {
  return RgbToYCrCb(id, c.r, c.g, c.b, c.a, m);
}

struct SBox {
  int x = 0, y = 0, w = 0, h = 0;
};

// The boxes holding every visible pixel: one, or two split at the widest
// band of empty rows (the decoder shows at most two windows).
std::vector<SBox> TextBoxes(const CPicture& pic, int videoHeight) {
  const int w = pic.width, h = pic.height;
  std::vector<int> left(h, w), right(h, -1);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = pic.Row(y);
    for (int x = 0; x < w; ++x)
      if (row[x * 4] != 0) {
        left[y] = std::min(left[y], x);
        right[y] = x;
      }
  }
  int top = 0, bottom = h - 1;
  while (top < h && right[top] < 0) ++top;
  if (top == h) return {};
  while (right[bottom] < 0) --bottom;
  int gapStart = -1, gapLen = 0;
  for (int y = top; y <= bottom;) {
    if (right[y] >= 0) {
      ++y;
      continue;
    }
    int e = y;
    while (right[e] < 0) ++e;
    if (e - y > gapLen) {
      gapLen = e - y;
      gapStart = y;
    }
    y = e;
  }
  auto box = [&](int y0, int y1) {
    SBox b;
    int x0 = w, x1 = -1;
    for (int y = y0; y <= y1; ++y)
      if (right[y] >= 0) {
        x0 = std::min(x0, left[y]);
        x1 = std::max(x1, right[y]);
      }
    b.x = x0;
    b.y = y0;
    b.w = x1 - x0 + 1;
    b.h = y1 - y0 + 1;
    return b;
  };
  // Lines of one event sit close together and share a window; a window
  // of its own pays only across a wide band (text at top and bottom).
  if (gapStart < 0 || gapLen < videoHeight / 20) return {box(top, bottom)};
  return {box(top, gapStart - 1), box(gapStart + gapLen, bottom)};
}

// Decoder model (90 kHz): the graphics plane is cleared at 256 Mbit/s, an
// object decoded at 128 Mbit/s and each window drawn at 256 Mbit/s.
uint32_t PlaneClearTicks(int64_t area) { return static_cast<uint32_t>((area * 9 + 3199) / 3200); }
uint32_t DecodeTicks(int64_t area) { return static_cast<uint32_t>((area * 9 + 1599) / 1600); }

}  // namespace

int WritePgSubtitles(CSubtitleRenderer& renderer, const SSubtitleRenderOptions& options, File& out,
                     const Progress& progress, SSubtitleRenderStats& stats, std::string& error) {
  const SSubtitleVideo& v = options.video;
  const SVideoDescriptor video{static_cast<uint16_t>(v.width), static_cast<uint16_t>(v.height), v.frameRateCode, 0};
  const ColorMatrix matrix = ColorMatrixForHeight(v.height);
  const std::vector<SSubtitleEvent>& events = renderer.Events();
  stats = SSubtitleRenderStats();
  stats.events = events.size();

  // Every frame where the set of shown events changes.
  // An event ending where another starts changes the text as well.
  struct SChange {
    int starts = 0, ends = 0;
  };
  std::map<int64_t, SChange> changes;
  for (const SSubtitleEvent& e : events) {
    ++changes[e.first].starts;
    ++changes[e.last + 1].ends;
  }
  uint16_t number = 0;
  uint32_t prevPts = 0;
  std::vector<SWindow> windows;  // of the current epoch
  int active = 0;
  size_t done = 0;
  CPicture frame;
  int ox = 0, oy = 0;  // the frame's place in the video
  for (auto it = changes.begin(); it != changes.end(); ++it) {
    const int64_t at = it->first;
    const SChange& change = it->second;
    if (!progress.Value(static_cast<int32_t>(done++ * 100 / changes.size()))) return kCancelled;
    active += change.starts - change.ends;
    const uint32_t pts = FrameTicks(at, v);
    CDsData ds;
    ds.m_pcs = std::make_unique<CPcs>();
    ds.m_pcs->m_composition.video = video;
    ds.m_pcs->m_composition.number = number++;
    ds.m_wds = std::make_unique<CWds>();
    ds.m_end = std::make_unique<CEs>();
    std::vector<SBox> boxes;
    if (active > 0) {
      // The disc shows one still picture until the next change: the one
      // from the middle of the span, where fades have come in and not yet
      // gone out.
      const int64_t next = std::next(it) == changes.end() ? at + 1 : std::next(it)->first;
      renderer.Render(at + (next - at - 1) / 2, frame, ox, oy);
      boxes = TextBoxes(frame, v.height);
    }
    uint32_t lead = 0;
    std::vector<uint32_t> decode;
    if (!boxes.empty()) {
      // A new epoch: windows sized to the text, one object in each.
      ds.m_pcs->m_composition.state = 2;
      std::vector<SColor> pixels;
      for (const SBox& b : boxes)
        for (int y = b.y; y < b.y + b.h; ++y)
          for (int x = b.x; x < b.x + b.w; ++x) {
            const uint8_t* p = frame.Row(y) + x * 4;
            if (p[0] != 0) pixels.push_back(SColor{p[1], p[2], p[3], p[0]});
          }
      std::vector<uint8_t> index;
      // Entry 0 is the transparent one; the text takes up to 254 more.
      const std::vector<SColor> palette = QuantizeColoursWithAlpha(pixels, 254, index);
      auto pds = std::make_unique<CPds>();
      pds->m_entries.push_back(PaletteEntry(0, SColor{0, 0, 0, 0}, matrix));
      for (size_t i = 0; i < palette.size(); ++i)
        pds->m_entries.push_back(PaletteEntry(static_cast<uint8_t>(i + 1), palette[i], matrix));
      ds.m_pds.push_back(std::move(pds));
      windows.clear();
      size_t next = 0;
      for (size_t k = 0; k < boxes.size(); ++k) {
        const SBox& b = boxes[k];
        windows.push_back(SWindow{static_cast<uint8_t>(k), static_cast<uint16_t>(ox + b.x), static_cast<uint16_t>(oy + b.y),
                                  static_cast<uint16_t>(b.w), static_cast<uint16_t>(b.h)});
        CPicture obj;
        obj.Allocate(b.w, b.h, PixelFormat::Indexed8);
        for (int y = 0; y < b.h; ++y)
          for (int x = 0; x < b.w; ++x) {
            const uint8_t* p = frame.Row(b.y + y) + (b.x + x) * 4;
            if (p[0] == 0) {
              obj.Row(y)[x] = 0;
              continue;
            }
            // A pixel too faint to show (alpha below 5) has no entry of its own.
            const uint8_t entry = index[next++];
            obj.Row(y)[x] = entry < palette.size() ? static_cast<uint8_t>(entry + 1) : 0;
          }
        const std::vector<uint8_t> data = EncodeObject(obj);
        if (data.empty()) {
          error = "frame " + std::to_string(at) + ": the subtitle picture is too large to code";
          return kFailed;
        }
        FragmentObject(data.data(), data.size(), static_cast<uint16_t>(k), ds.m_ods);
        decode.push_back(DecodeTicks(static_cast<int64_t>(b.w) * b.h));
        SCompositionObject o;
        o.objectIdRef = static_cast<uint16_t>(k);
        o.windowIdRef = static_cast<uint8_t>(k);
        o.forcedOn = options.forced;
        o.x = static_cast<uint16_t>(ox + b.x);
        o.y = static_cast<uint16_t>(oy + b.y);
        ds.m_pcs->m_objects.push_back(o);
      }
      lead = PlaneClearTicks(static_cast<int64_t>(v.width) * v.height);
    } else {
      // Nothing shown: the epoch's windows are cleared.
      if (windows.empty()) continue;
      ds.m_pcs->m_composition.state = 0;
    }
    ds.m_wds->m_windows = windows;
    uint32_t draw = 0, decodeSum = 0;
    for (const SWindow& w : windows) draw += PlaneClearTicks(static_cast<int64_t>(w.width) * w.height);
    for (uint32_t d : decode) decodeSum += d;
    const uint32_t need = lead + decodeSum + draw;
    uint32_t dts = pts >= need ? pts - need : 0;
    if (dts < prevPts) dts = prevPts;
    if (dts + need > pts) ++stats.lateSets;
    ds.m_pcs->m_nPts = pts;
    ds.m_pcs->m_nDts = dts;
    ds.m_wds->m_nPts = pts;
    ds.m_wds->m_nDts = dts;
    for (auto& p : ds.m_pds) p->m_nPts = dts;
    uint32_t t = dts + lead;
    for (auto& o : ds.m_ods) {
      // Fragments of one object share its decode times.
      const uint16_t id = o->m_nObjectId;
      o->m_nDts = t;
      o->m_nPts = std::min(pts, t + decode[id]);
      if (o->m_sequence.last) t += decode[id];
    }
    ds.m_end->m_nPts = std::min(pts, t);
    if (!WriteDisplaySet(out, ds, true, nullptr, error)) return kFailed;
    prevPts = pts;
    ++stats.displaySets;
    if (boxes.empty()) windows.clear();
  }
  progress.Value(100);
  return kOk;
}

int RenderSubtitleFile(const std::string& inPath, const std::string& outPath, const SSubtitleRenderOptions& options,
                       const Progress& progress, SSubtitleRenderStats& stats, std::vector<std::string>& warnings,
                       std::string& error) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(inPath, ec);
  if (!ec && size > kMaxSubtitleFile) {
    error = inPath + ": " + std::to_string(size) + " bytes is too large for a subtitle file";
    return kFailed;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(inPath, bytes, error)) return kFailed;
  const std::string text(bytes.begin(), bytes.end());
  SSubtitleScript script;
  if (!ReadSubtitleText(text, DetectSubtitleFormat(inPath, text), options.style, options.video.width,
                        options.video.height, script, error)) {
    error = inPath + ": " + error;
    return kFailed;
  }
  for (const std::string& w : script.warnings) warnings.push_back(inPath + ": " + w);
  CSubtitleRenderer renderer;
  std::vector<std::string> fontWarnings;
  if (!renderer.Open(script, options.style, options.video, fontWarnings, error)) {
    error = inPath + ": " + error;
    return kFailed;
  }
  for (const std::string& w : fontWarnings) warnings.push_back(inPath + ": " + w);
  for (const std::string& w : warnings) progress.Item("warning: " + w);

  const std::string temp = outPath + ".part";
  int rc = kOk;
  {
    File out;
    if (!out.Open(temp, File::kCreate)) {
      error = out.Error();
      return kFailed;
    }
    rc = WritePgSubtitles(renderer, options, out, progress, stats, error);
    if (rc == kOk && !out.Close()) {
      error = out.Error();
      rc = kFailed;
    }
  }
  if (rc == kOk) {
    std::filesystem::rename(temp, outPath, ec);
    if (ec) {
      error = outPath + ": " + ec.message();
      rc = kFailed;
    }
  }
  if (rc != kOk) std::filesystem::remove(temp, ec);
  return rc;
}

}  // namespace zv
