// Text subtitles rendered into PG streams, read back by ffmpeg's PGS
// decoder: every event appears on its first frame and leaves after its
// last, and each decoded picture matches libass's own drawing of the frame.
#include <ass/ass.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "graphics/segments.h"
#include "platform/file.h"
#include "subtitles/pg_subtitles.h"
#include "support/test_support.h"

using namespace zv;
using namespace zvtest;

namespace {

struct SVideoCase {
  const char* name;
  SSubtitleVideo video;
};

// SD sizes keep the pictures small; ffmpeg converts their palettes with
// BT.601 as we write them.
const SVideoCase kVideos[] = {
    {"23.976", {720, 480, 24000, 1001, 1}},
    {"25", {720, 576, 25, 1, 3}},
    {"29.97", {720, 480, 30000, 1001, 4}},
};

struct SSpan {
  int64_t first, after;  // frames shown: [first, after)
};

int64_t Ceil(int64_t ms, const SSubtitleVideo& v) {
  const int64_t d = 1000 * static_cast<int64_t>(v.rateDen);
  return (ms * v.rateNum + d - 1) / d;
}

// The events' times straight from the file, not through the reader.
std::vector<std::pair<int64_t, int64_t>> FileTimes(const std::string& text, bool ass) {
  std::vector<std::pair<int64_t, int64_t>> out;
  const std::regex srt(R"((\d+):(\d\d):(\d\d),(\d\d\d) --> (\d+):(\d\d):(\d\d),(\d\d\d))");
  const std::regex dlg(R"(Dialogue: \d+,(\d+):(\d\d):(\d\d)\.(\d\d),(\d+):(\d\d):(\d\d)\.(\d\d),)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), ass ? dlg : srt); it != std::sregex_iterator();
       ++it) {
    const std::smatch& m = *it;
    auto ms = [&](int k) {
      const int64_t frac = std::stoll(m[k + 3]) * (ass ? 10 : 1);
      return ((std::stoll(m[k]) * 60 + std::stoll(m[k + 1])) * 60 + std::stoll(m[k + 2])) * 1000 + frac;
    };
    out.emplace_back(ms(1), ms(5));
  }
  return out;
}

// libass's drawing of a script at `ms`, over black and over white (RGB).
struct SDrawing {
  std::vector<float> black, white;
};
SDrawing LibassDraw(const std::string& script, int w, int h, long long ms) {
  SDrawing d;
  d.black.assign(static_cast<size_t>(w) * h * 3, 0.0f);
  d.white.assign(static_cast<size_t>(w) * h * 3, 255.0f);
  ASS_Library* lib = ass_library_init();
  ass_set_message_cb(lib, [](int, const char*, va_list, void*) {}, nullptr);
  ASS_Renderer* r = ass_renderer_init(lib);
  ass_set_frame_size(r, w, h);
  ass_set_storage_size(r, w, h);
  ass_set_fonts(r, nullptr, "DejaVu Sans", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
  std::vector<char> buf(script.begin(), script.end());
  ASS_Track* t = ass_read_memory(lib, buf.data(), buf.size(), const_cast<char*>("UTF-8"));
  EXPECT_NE(t, nullptr);
  int changed = 0;
  for (ASS_Image* img = t ? ass_render_frame(r, t, ms, &changed) : nullptr; img; img = img->next) {
    const float rgb[3] = {static_cast<float>(img->color >> 24), static_cast<float>((img->color >> 16) & 0xFF),
                          static_cast<float>((img->color >> 8) & 0xFF)};
    const float opacity = (255 - (img->color & 0xFF)) / 255.0f;
    for (int y = 0; y < img->h; ++y)
      for (int x = 0; x < img->w; ++x) {
        const int px = img->dst_x + x, py = img->dst_y + y;
        if (px < 0 || py < 0 || px >= w || py >= h) continue;
        const float a = img->bitmap[y * img->stride + x] / 255.0f * opacity;
        for (int k = 0; k < 3; ++k) {
          float& b = d.black[(static_cast<size_t>(py) * w + px) * 3 + k];
          float& wh = d.white[(static_cast<size_t>(py) * w + px) * 3 + k];
          b = rgb[k] * a + b * (1 - a);
          wh = rgb[k] * a + wh * (1 - a);
        }
      }
  }
  if (t) ass_free_track(t);
  ass_renderer_done(r);
  ass_library_done(lib);
  return d;
}

// ffmpeg's pictures of the stream at `frames`, over a plain background.
std::vector<std::vector<uint8_t>> FfmpegDraw(const std::string& sup, const SSubtitleVideo& v, const char* colour,
                                             const std::vector<int64_t>& frames, int64_t lastFrame,
                                             const std::string& out) {
  std::string select;
  for (int64_t f : frames) select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(f) + ")";
  const std::string bg = std::string("color=c=") + colour + ":s=" + std::to_string(v.width) + "x" +
                         std::to_string(v.height) + ":r=" + std::to_string(v.rateNum) + "/" +
                         std::to_string(v.rateDen) + ":d=" + std::to_string((lastFrame + 10) * v.rateDen / v.rateNum + 1);
  RunResult r = Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-copyts", "-f", "lavfi", "-i", bg, "-i", sup,
                     "-filter_complex",
                     "[0:v]format=gbrp[b];[b][1:s]overlay=format=gbrp:eof_action=pass,format=rgb24,select=" + select,
                     "-fps_mode", "passthrough", "-f", "rawvideo", out});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> all = ReadBytes(out);
  const size_t size = static_cast<size_t>(v.width) * v.height * 3;
  std::vector<std::vector<uint8_t>> pics;
  for (size_t at = 0; at + size <= all.size(); at += size) pics.emplace_back(all.begin() + at, all.begin() + at + size);
  return pics;
}

// PSNR of ffmpeg's pictures against libass's over the box that either
// shows; over black and over white, so alpha counts as much as colour.
double BoxPsnr(const SDrawing& want, const std::vector<uint8_t>& black, const std::vector<uint8_t>& white, int w,
               int h, int& boxPixels) {
  int x0 = w, y0 = h, x1 = -1, y1 = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = (static_cast<size_t>(y) * w + x) * 3;
      bool seen = false;
      for (int k = 0; k < 3; ++k)
        seen = seen || want.black[i + k] > 2 || want.white[i + k] < 253 || black[i + k] > 2 || white[i + k] < 253;
      if (!seen) continue;
      x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
  boxPixels = x1 < 0 ? 0 : (x1 - x0 + 1) * (y1 - y0 + 1);
  if (boxPixels == 0) return 0;
  double se = 0;
  size_t n = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      for (int k = 0; k < 3; ++k) {
        const size_t i = (static_cast<size_t>(y) * w + x) * 3 + k;
        se += std::pow(want.black[i] - black[i], 2) + std::pow(want.white[i] - white[i], 2);
        n += 2;
      }
  const double mse = se / n;
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// (pts in microseconds, rectangles) of every display set as ffmpeg's
// decoder reports them.
std::vector<std::pair<int64_t, int>> DecodedSets(const std::string& sup) {
  RunResult r = Run({"ffprobe", "-v", "error", "-show_entries", "subtitle=pts,num_rects", "-of", "csv=p=0", sup});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::pair<int64_t, int>> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    const size_t c = line.find(',');
    if (c == std::string::npos) continue;
    out.emplace_back(std::stoll(line.substr(0, c)), std::stoi(line.substr(c + 1)));
  }
  return out;
}

void CheckFile(const std::string& fixture, bool ass) {
  if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  const std::string path = DataPath("subtitles/" + fixture);
  const std::string text = ReadText(path);
  const auto times = FileTimes(text, ass);
  ASSERT_GE(times.size(), 3u);
  for (const SVideoCase& vc : kVideos) {
    SCOPED_TRACE(fixture + " at " + vc.name);
    const SSubtitleVideo& v = vc.video;
    TempDir dir;
    SSubtitleRenderOptions options;
    options.video = v;
    SSubtitleRenderStats stats;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_EQ(RenderSubtitleFile(path, dir / "out.sup", options, Progress{}, stats, warnings, error), kOk) << error;
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(stats.events, times.size());

    // Expected: a display set at every frame where the shown events change.
    std::vector<SSpan> spans;
    std::map<int64_t, int> shownFrom;  // change frame -> events shown from it
    for (auto [s, e] : times) {
      SSpan sp{Ceil(s, v), std::max(Ceil(e, v), Ceil(s, v) + 1)};
      spans.push_back(sp);
      shownFrom[sp.first] = 0;
      shownFrom[sp.after] = 0;
    }
    for (auto& [f, n] : shownFrom)
      for (const SSpan& sp : spans) n += sp.first <= f && f < sp.after;
    std::vector<std::pair<int64_t, bool>> want, got;
    for (auto [f, n] : shownFrom) want.emplace_back(f, n > 0);
    for (auto [pts, rects] : DecodedSets(dir / "out.sup")) {
      const double frame = static_cast<double>(pts) * v.rateNum / (1e6 * v.rateDen);
      EXPECT_NEAR(frame, std::round(frame), 0.01) << "pts " << pts << " is not on a frame";
      got.emplace_back(static_cast<int64_t>(std::llround(frame)), rects > 0);
    }
    EXPECT_EQ(got, want);

    // Pictures: the disc holds one still picture per change, libass's
    // drawing of the middle frame of the span (fades in, not yet out).
    // ffmpeg's overlay of subtitles lags one frame behind a change, so
    // spans of three frames and more are compared, at their middle.
    std::vector<int64_t> frames;
    for (auto it = shownFrom.begin(); std::next(it) != shownFrom.end(); ++it) {
      const int64_t length = std::next(it)->first - it->first;
      if (it->second > 0 && length >= 3) frames.push_back(it->first + (length - 1) / 2);
    }
    ASSERT_FALSE(frames.empty());
    const int64_t last = shownFrom.rbegin()->first;
    const auto black = FfmpegDraw(dir / "out.sup", v, "black", frames, last, dir / "black.rgb");
    const auto white = FfmpegDraw(dir / "out.sup", v, "white", frames, last, dir / "white.rgb");
    ASSERT_EQ(black.size(), frames.size());
    ASSERT_EQ(white.size(), frames.size());
    SSubtitleScript script;
    ASSERT_TRUE(ReadSubtitleText(text, ass ? SubtitleFormat::kAss : SubtitleFormat::kSrt, {}, v.width, v.height,
                                 script, error))
        << error;
    for (size_t i = 0; i < frames.size(); ++i) {
      const long long ms = frames[i] * 1000 * static_cast<long long>(v.rateDen) / v.rateNum;
      const SDrawing d = LibassDraw(script.ass, v.width, v.height, ms);
      int box = 0;
      const double psnr = BoxPsnr(d, black[i], white[i], v.width, v.height, box);
      EXPECT_GT(box, 500) << "frame " << frames[i] << " shows nothing";
      EXPECT_GE(psnr, 30.0) << "frame " << frames[i];
    }
  }
}

}  // namespace

TEST(PgSubtitles, SrtEventsOnTheirFramesAsLibassDrawsThem) { CheckFile("film_eng.srt", false); }
TEST(PgSubtitles, AssEventsOnTheirFramesAsLibassDrawsThem) { CheckFile("styled.ass", true); }

// Malformed input: a message naming the line, nothing written.
TEST(PgSubtitles, MalformedInputIsRefusedNamingTheLine) {
  struct {
    const char* name;
    std::string text;
    const char* message;
  } cases[] = {
      {"bad.srt", "1\n00:00:01,000 --> 00:00:0x,500\nhi\n", "line 2: bad timecode \"00:00:0x,500\""},
      {"backwards.srt", "1\n00:00:03,000 --> 00:00:01,000\nhi\n", "line 2: the event ends"},
      {"notime.srt", "1\nhello\nworld\n", "line 1: expected a timecode line"},
      {"binary.srt", std::string("1\n00:00:01,000 --> 00:00:02,000\nab") + '\0' + "\x01\xff", "line 3: binary data"},
      {"long.srt", "1\n00:00:01,000 --> 00:00:02,000\n" + std::string(10000, 'x') + "\n",
       "line 3: the event starting on line 1 holds more than 2000 characters"},
      {"bad.ass",
       "[Script Info]\n\n[Events]\nFormat: Layer, Start, End, Style, Text\nDialogue: 0,0:00:01.00,0:0x:02.00,Default,hi\n",
       "line 5: bad timecode \"0:0x:02.00\""},
      {"late.srt", "1\n12:00:00,000 --> 12:00:01,000\nhi\n", "line 2: the event ends after 12:00:00"},
      {"bad.vtt", "WEBVTT\n\n00:01.000 --> 00:02.000\nok\n\n00:03.000 -> 00:04.000\nno\n", "line 6: expected a timecode"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(dir / c.name, c.text);
    SSubtitleRenderOptions options;
    SSubtitleRenderStats stats;
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_EQ(RenderSubtitleFile(dir / c.name, dir / "out.sup", options, Progress{}, stats, warnings, error), kFailed);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_NE(error.find(c.name), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.sup"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out.sup.part"));
  }
}

// Worked around with a warning naming the line: an unclosed tag, a font
// that is not installed.
TEST(PgSubtitles, UnclosedTagsAndMissingFontsWarn) {
  TempDir dir;
  WriteText(dir / "a.srt", "1\n00:00:01,000 --> 00:00:02,000\n<i>open\n\n2\n00:00:03,000 --> 00:00:04,000\nfine\n");
  SSubtitleRenderOptions options;
  options.style.font = "Zelvane No Such Font";
  SSubtitleRenderStats stats;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_EQ(RenderSubtitleFile(dir / "a.srt", dir / "a.sup", options, Progress{}, stats, warnings, error), kOk)
      << error;
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("line 3: <i> is not closed"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("font \"Zelvane No Such Font\" is not installed"), std::string::npos) << warnings[1];
  EXPECT_EQ(stats.displaySets, 4u);
  EXPECT_TRUE(std::filesystem::exists(dir / "a.sup"));
}

TEST(PgSubtitles, CancelLeavesNothing) {
  TempDir dir;
  WriteText(dir / "a.srt", "1\n00:00:01,000 --> 00:00:02,000\none\n\n2\n00:00:03,000 --> 00:00:04,000\ntwo\n");
  int calls = 0;
  auto stopAtSecond = [](void* ctx, const SProgressInfo* info) {
    return info->kind == kProgressValue && ++*static_cast<int*>(ctx) >= 2 ? 0 : 1;
  };
  SSubtitleRenderOptions options;
  SSubtitleRenderStats stats;
  std::vector<std::string> warnings;
  std::string error;
  EXPECT_EQ(RenderSubtitleFile(dir / "a.srt", dir / "a.sup", options, Progress{stopAtSecond, &calls}, stats,
                               warnings, error),
            kCancelled);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.sup"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.sup.part"));
}

// The stream's structure as our segment reader sees it: with --forced every
// shown object carries the forced-on flag; at most two windows and objects,
// palettes within 255 entries; each picture starts an epoch, each clear is
// a normal set on the epoch's windows.
TEST(PgSubtitles, ForcedFlagsWindowsAndPalettes) {
  TempDir dir;
  SSubtitleRenderOptions options;
  options.video = {1920, 1080, 24000, 1001, 1};
  options.forced = true;
  SSubtitleRenderStats stats;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_EQ(RenderSubtitleFile(DataPath("subtitles/film_eng.srt"), dir / "f.sup", options, Progress{}, stats, warnings,
                               error),
            kOk)
      << error;
  EXPECT_EQ(stats.lateSets, 0u);
  File f;
  ASSERT_TRUE(f.Open(dir / "f.sup", File::kRead));
  CFileInput in(f);
  size_t sets = 0, shown = 0, twoWindows = 0;
  std::vector<SWindow> epochWindows;
  for (;;) {
    CDsData ds;
    const int rc = ReadDisplaySet(in, ds, true, error);
    if (rc == kDsEndOfFile) break;
    ASSERT_EQ(rc, kDsOk) << error;
    ++sets;
    ASSERT_TRUE(ds.m_pcs && ds.m_wds);
    EXPECT_LE(ds.m_wds->m_windows.size(), 2u);
    EXPECT_LE(ds.m_pcs->m_objects.size(), 2u);
    if (ds.m_pcs->m_objects.empty()) {
      EXPECT_EQ(ds.m_pcs->m_composition.state, 0);
      ASSERT_EQ(ds.m_wds->m_windows.size(), epochWindows.size());
      continue;
    }
    ++shown;
    twoWindows += ds.m_wds->m_windows.size() == 2;
    EXPECT_EQ(ds.m_pcs->m_composition.state, 2);
    epochWindows = ds.m_wds->m_windows;
    ASSERT_EQ(ds.m_pds.size(), 1u);
    EXPECT_LE(ds.m_pds[0]->m_entries.size(), 255u);
    EXPECT_GT(ds.m_pds[0]->m_entries.size(), 16u) << "anti-aliased edges need more than a few entries";
    for (const SCompositionObject& o : ds.m_pcs->m_objects) EXPECT_TRUE(o.forcedOn);
    EXPECT_LE(ds.m_pcs->m_nDts + 0u, ds.m_pcs->m_nPts);
  }
  EXPECT_EQ(sets, stats.displaySets);
  EXPECT_EQ(shown, 6u);
  EXPECT_GE(twoWindows, 1u);  // the {\an8} event over a bottom one
}
