// `zelvane subtitles render IN OUT.sup`: a text subtitle file (SRT, WebVTT,
// ASS/SSA) as a presentation-graphics stream of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/image_options.h"
#include "app/subtitle_options.h"
#include "app/terminal.h"
#include "subtitles/pg_subtitles.h"

namespace zvapp {

namespace {

int RunSubtitlesRender(const std::vector<std::string>& argv);

ZV_COMMAND("subtitles render", "render text subtitles (SRT, WebVTT, ASS/SSA) into a PG subtitle stream (.sup)",
           "zelvane subtitles render IN OUT.sup --video WxH@RATE [style options] [--forced] [--yes]\n"
           "  IN               .srt, .vtt, .ass or .ssa, UTF-8\n"
           "  --video          the video the subtitles go with: 1920x1080, 1440x1080, 1280x720, 720x576 or\n"
           "                   720x480, at 23.976, 24, 25, 29.97, 50 or 59.94 frames a second\n"
           "  --font NAME      font family (default DejaVu Sans); a missing one falls back with a warning\n"
           "  --size P         text height in percent of the video height (default 5.5)\n"
           "  --colour C       white, yellow, ... or #RRGGBB (default white)\n"
           "  --outline PX     outline width in pixels at 1080 lines, scaled (default 3)\n"
           "  --shadow PX      shadow offset in pixels at 1080 lines, scaled (default 1)\n"
           "  --bottom-margin P  distance from the bottom (or top) edge in percent of the height (default 6)\n"
           "  --position top|bottom  where SRT and WebVTT text goes (default bottom)\n"
           "                   ASS/SSA styles are used as written; a style option replaces only what it names\n"
           "  --forced         every subtitle is shown even with subtitles turned off (forced flag)\n"
           "  --yes            replace an existing OUT.sup without asking\n"
           "exit status: 0 written, 1 cancelled, 2 failed",
           "zelvane subtitles render film_fra.srt film_fra.sup --video 1920x1080@23.976 --size 6", RunSubtitlesRender);

int RunSubtitlesRender(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("subtitles render");
  if (int rc = CheckOptions(self, argv,
                            {"--video", "--font", "--size", "--colour", "--outline", "--shadow", "--bottom-margin",
                             "--position", "--forced", "--yes"}))
    return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--video", "--font", "--size", "--colour", "--outline", "--shadow", "--bottom-margin",
                         "--position"},
                  err))
    return UsageError(self, err);
  if (args.Count() != 2) return UsageError(self, "expected IN and OUT.sup");
  if (args.Value("--video").empty()) return UsageError(self, "--video is required");
  zv::SSubtitleRenderOptions options;
  if (!zv::ParseSubtitleVideo(args.Value("--video"), options.video))
    return RefuseValue(self, "--video \"" + args.Value("--video") + "\" is not a disc video format (e.g. 1920x1080@23.976)");
  if (!ParseSubtitleStyleArgs(args, options.style, err)) return RefuseValue(self, err);
  options.forced = args.Has("--forced");
  const std::string in = args[0], out = args[1];
  if (int rc = ConfirmImageTarget("subtitles render", out, args.Has("--yes"))) return rc;

  TerminalPrompt prompt(args.Has("--yes"));
  ProgressDisplay display(prompt, args.Has("--yes"), "Really want to stop rendering the subtitles? ");
  const zv::Progress progress = display.Callback();
  progress.Action("Rendering " + in);
  zv::SSubtitleRenderStats stats;
  std::vector<std::string> warnings;
  const int rc = zv::RenderSubtitleFile(in, out, options, progress, stats, warnings, err);
  display.Finish();
  if (rc == zv::kCancelled) {
    std::fprintf(stderr, "Cancelled: no subtitle stream was written.\n");
    return kExitCancelled;
  }
  if (rc != zv::kOk) return Fail("zelvane subtitles render: no subtitle stream was written: " + err);
  std::printf("%s\n", out.c_str());
  std::printf("  events:       %zu\n", stats.events);
  std::printf("  display sets: %zu\n", stats.displaySets);
  if (stats.lateSets)
    std::fprintf(stderr,
                 "zelvane subtitles render: warning: %zu display sets follow the previous one too closely to be "
                 "decoded before their frame\n",
                 stats.lateSets);
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
