// `zelvane source add|remove`: stream files of a clip (story). Adding
// analyses each file with a progress bar; the project is saved only when
// every file was accepted, so a refused file leaves the project as it was.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/encode_options.h"
#include "app/subtitle_options.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "app/terminal_source_display.h"
#include "edit/source_container.h"
#include "edit/sources.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

int RunSourceAdd(const std::vector<std::string>& argv);
int RunSourceRemove(const std::vector<std::string>& argv);

ZV_COMMAND("source add", "add stream files to a clip, analysing them",
           "zelvane source add P.zvpj CLIP FILE... [--pids PID,...] [--playlist OLD.mpls] [--tracks N,...] [--chapters]\n"
           "         [--convert-audio ac3[:BITRATE]|lpcm] [subtitle style options] [--yes]\n"
           "zelvane source add P.zvpj CLIP FILE --encode [--format F] [--quality N|--bitrate B]\n"
           "zelvane source add P.zvpj CLIP PICTURE.png [--duration S] [--format F]\n"
           "  CLIP   a clip by name, e.g. \"Movie#1/Clip#1\" or \"Logos/Clip#1\"\n"
           "  FILE   elementary streams (.264, .ac3, .sup, ...); an .ac3 file beside a .thd/.mlp file of the same\n"
           "         name is taken as the core of that file; or an existing clip (BDMV/STREAM/nnnnn.m2ts with its\n"
           "         CLIPINF/nnnnn.clpi), whose streams are listed and reused as they are, without re-encoding\n"
           "  --pids the streams of the existing clip to reuse, e.g. 0x1011,0x1100 (default: all)\n"
           "  --playlist  a playlist of the old disc that plays the existing clip: the reused streams get its\n"
           "         stream entries (attributes, languages and order) in the clip's playlists\n"
           "         A container (.mkv .mka .webm .mp4 .m4v .m4a .mov .ts .mts .mpg .mpeg .vob, an .m2ts without clip\n"
           "         information) has its tracks listed and those a disc carries added, read from the container\n"
           "  --tracks  the container's tracks to add, by number as listed, e.g. 0,2,3 (default: all it can carry)\n"
           "  --chapters  the container's chapters become the chapters of the titles that play the clip\n"
           "  --convert-audio  audio a disc cannot carry (AAC, MP3, FLAC, Opus, Vorbis, E-AC-3 without a core,\n"
           "         44.1 kHz) is converted, beside the file, to AC-3 (default 640 kbit/s for 5.1, else 448) or\n"
           "         to 48 kHz LPCM (16 or 24 bits as the source, samples kept exactly); the result is added\n"
           "  --encode  encode a video the disc cannot take (any file with video) to disc H.264 first;\n"
           "            the stream is kept beside the file and reused\n"
           "  --format  1080p23.976, 1080p24, 1080i25, 1080i29.97, 720p23.976, 720p24, 720p50, 720p59.94,\n"
           "            576i25, 576i25-4:3, 480i29.97, 480i29.97-4:3 (default: chosen from the video)\n"
           "  --quality constant quality, 0 (best) to 51 (default 20); --bitrate kbit/s (or 15M) instead\n"
           "  --duration  seconds of the clip made of a picture (PNG, JPEG, BMP, GIF; default 5)\n"
           "  --font, --size, --colour, --outline, --shadow, --bottom-margin, --position, --forced\n"
           "         the style of text subtitles (.srt .vtt .ass .ssa) added here, as \"zelvane subtitles render\"\n"
           "         takes them; later changed with the track's keys of the same names (\"zelvane set\")\n"
           "  --yes  Ctrl-C cancels at once\n"
           "exit status: 0 added, 1 cancelled, 2 a file was refused (the project is unchanged)",
           "zelvane source add disc.zvpj Movie#1/Clip#1 movie.264 movie_eng.ac3 subtitles_fra.sup", RunSourceAdd);
ZV_COMMAND("source remove", "remove a stream file and its tracks from a clip",
           "zelvane source remove P.zvpj CLIP N|FILE\n"
           "  N      the source's number (1-based, as \"zelvane show\" lists them), or FILE its path",
           "zelvane source remove disc.zvpj Movie#1/Clip#1 2", RunSourceRemove);

int Failed(const CommandInfo& self, const std::string& message) {
  std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  return kExitFailed;
}

// Finds the clip in a loaded project; null after printing why.
zv::CStoryObject* FindStory(const CommandInfo& self, const std::string& name, zv::CZvObject& project) {
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, name, error);
  if (!obj) {
    Failed(self, error);
    return nullptr;
  }
  auto* story = dynamic_cast<zv::CStoryObject*>(obj);
  if (!story) Failed(self, "\"" + name + "\" is not a clip (for example \"Movie#1/Clip#1\")");
  return story;
}

int Save(const CommandInfo& self, const std::string& path, zv::CZvObject& project) {
  std::string message;
  if (zv::SaveProjectFile(path, project, message) != zv::kOk) return Failed(self, message);
  return kExitOk;
}

// "0x1011,0x1100" (hexadecimal with 0x, else decimal).
bool ParsePids(const std::string& text, std::vector<uint16_t>& out, std::string& error) {
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string one = text.substr(at, comma - at);
    char* end = nullptr;
    const unsigned long v = std::strtoul(one.c_str(), &end, 0);
    if (one.empty() || *end != '\0' || v > 0x1FFF) {
      error = "--pids: \"" + one + "\" is not a PID (e.g. 0x1011)";
      return false;
    }
    out.push_back(static_cast<uint16_t>(v));
    at = comma + 1;
  }
  return true;
}

int RunSourceAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("source add");
  for (const auto& a : argv)
    if (a.size() > 2 && a.compare(0, 2, "--") == 0 && a != "--yes" && a != "--pids" && a != "--playlist" &&
        a != "--convert-audio" && a != "--encode" && a != "--format" && a != "--quality" && a != "--bitrate" &&
        a != "--duration" && a != "--tracks" && a != "--chapters" && a != "--font" && a != "--size" &&
        a != "--colour" && a != "--outline" && a != "--shadow" && a != "--bottom-margin" && a != "--position" &&
        a != "--forced")
      return UsageError(self, "unknown option " + a);
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--pids", "--playlist", "--convert-audio", "--format", "--quality", "--bitrate", "--duration",
                         "--tracks", "--font", "--size", "--colour", "--outline", "--shadow", "--bottom-margin",
                         "--position"},
                  err))
    return UsageError(self, err);
  zvedit::SAddSources request;
  if (!ReadEncodeOptions(args, request.encode, err)) return UsageError(self, err);
  if (!ParseSubtitleStyleArgs(args, request.textStyle.style, err)) return UsageError(self, err);
  request.textStyle.forced = args.Has("--forced");
  for (const char* o : {"--font", "--size", "--colour", "--outline", "--shadow", "--bottom-margin", "--position", "--forced"})
    request.textStyleGiven |= args.Has(o) || !args.Values(o).empty();
  if (args.Count() < 3) return UsageError(self, "expected P.zvpj, CLIP and at least one FILE");
  std::vector<uint16_t>& pids = request.pids;
  const bool pidsGiven = !args.Values("--pids").empty();
  if (pidsGiven && !ParsePids(args.Value("--pids"), pids, err)) return UsageError(self, err);
  std::vector<int>& tracks = request.tracks;
  if (!args.Values("--tracks").empty() && !zvedit::ParseTrackList(args.Value("--tracks"), tracks, err))
    return UsageError(self, err);
  const bool withChapters = args.Has("--chapters");
  size_t clips = 0, containers = 0;
  for (size_t i = 2; i < args.Count(); ++i) {
    const bool container = zvedit::IsContainerSource(args[i]);
    containers += container;
    clips += !container && zv::EqualsNoCase(zv::ExtensionOf(args[i]), ".m2ts");
  }
  if ((!tracks.empty() || withChapters) && containers != 1)
    return UsageError(self, "--tracks and --chapters go with one container file (.mkv, .mp4, .ts, ...)");
  if (pidsGiven && (clips != 1 || args.Count() != 3)) return UsageError(self, "--pids goes with one existing clip (.m2ts) alone");
  const std::string playlist = args.Values("--playlist").empty() ? std::string() : args.Value("--playlist");
  if (!playlist.empty() && (clips != 1 || args.Count() != 3))
    return UsageError(self, "--playlist goes with one existing clip (.m2ts) alone");
  for (size_t i = 2; i < args.Count(); ++i)
    if (zv::EqualsNoCase(zv::ExtensionOf(args[i]), ".mpls"))
      return UsageError(self, "a playlist is given with the existing clip it plays: --playlist " + args[i]);
  const bool yes = args.Has("--yes");
  TerminalPrompt prompt(yes);
  zv::CFileLock lock;
  zv::CZvObject project;
  if (!LoadProjectFor(self.name, args[0], project, prompt, true, &lock)) return kExitFailed;
  zv::CStoryObject* story = FindStory(self, args[1], project);
  if (!story) return kExitFailed;

  request.clipName = args[1];
  request.files.assign(args.Pos().begin() + 2, args.Pos().end());
  request.playlist = playlist;
  request.chapters = withChapters;
  request.convertAudio = args.Value("--convert-audio");

  ProgressDisplay display(prompt, yes, "Really want to stop the analysis? ");
  display.SetThroughput(ProgressDisplay::Throughput::kItemIsInput);
  TerminalSourceDisplay shown(self, display);
  const int added = zvedit::AddSources(*story, request, shown, prompt);
  if (added == zv::kCancelled) return kExitCancelled;
  if (added != zv::kOk) return kExitFailed;
  if (int rc = Save(self, args[0], project)) return rc;
  const std::vector<zv::STrackRef> refs = story->TrackRefs();
  for (size_t i = 0; i < refs.size(); ++i)
    std::printf("%s/Track#%zu  %s\n", args[1].c_str(), i + 1, refs[i].description.c_str());
  return kExitOk;
}

int RunSourceRemove(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("source remove");
  if (int rc = CheckOptions(self, argv, {})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 3) return UsageError(self, "expected P.zvpj, CLIP and N or FILE");
  TerminalPrompt prompt(false);
  // The source is removed from the project as stored, before the files are
  // reopened, so that a source whose file is lost can be dropped on purpose.
  zv::CFileLock lock;
  if (!LockProject(self.name, args[0], lock)) return kExitFailed;
  zv::CZvObject project;
  std::string message;
  if (zv::ReadProjectFile(args[0], project, message) != zv::kOk)
    return Failed(self, "cannot load \"" + args[0] + "\": " + message);
  zv::CStoryObject* story = FindStory(self, args[1], project);
  if (!story) return kExitFailed;

  std::string removed;
  if (zvedit::RemoveSource(project, *story, args[1], args[0], args[2], prompt, removed, message) != zv::kOk)
    return Failed(self, message);
  if (int rc = Save(self, args[0], project)) return rc;
  std::printf("removed \"%s\"\n", removed.c_str());
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
