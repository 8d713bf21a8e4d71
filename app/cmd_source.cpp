// `zelvane source add|remove`: stream files of a clip (story). Adding
// analyses each file with a progress bar; the project is saved only when
// every file was accepted, so a refused file leaves the project as it was.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/project_load.h"
#include "app/source_convert.h"
#include "app/source_encode.h"
#include "app/source_container.h"
#include "app/terminal.h"
#include "model/object_path.h"
#include "model/project.h"
#include "mux/rip_track.h"
#include "mux/ts_syntax.h"
#include "platform/paths.h"
#include "streams/sif_data.h"

namespace zvapp {

namespace {

int RunSourceAdd(const std::vector<std::string>& argv);
int RunSourceRemove(const std::vector<std::string>& argv);

ZV_COMMAND("source add", "add stream files to a clip, analysing them",
           "zelvane source add P.zvpj CLIP FILE... [--pids PID,...] [--playlist OLD.mpls] [--tracks N,...] [--chapters]\n"
           "         [--convert-audio ac3[:BITRATE]|lpcm] [--yes]\n"
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

void RelinkItems(zv::CStoryObject& story) {
  if (zv::CFilmObject* film = zv::FilmOf(&story)) zv::RelinkPlayItems(*film, story);
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

// Lists the streams of an existing clip as its clip information and PMT
// describe them; false after saying why the clip cannot be reused.
bool ListClip(const CommandInfo& self, const std::string& file) {
  zv::SClipListing listing;
  std::string error;
  if (zv::ListClipStreams(file, listing, error) != zv::kOk) {
    Failed(self, error);
    return false;
  }
  std::printf("%s: %zu stream%s\n", file.c_str(), listing.streams.size(), listing.streams.size() == 1 ? "" : "s");
  for (const zv::SClipStream& s : listing.streams) {
    const uint8_t type = s.info.coding.StreamCodingType;
    const char* name = zv::GetStreamTypeName(type);
    std::printf("  0x%04X  %s(0x%02X)  %s\n", s.pid, name ? name : "", type, s.info.coding.Summary(true).c_str());
  }
  return true;
}

int RunSourceAdd(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("source add");
  for (const auto& a : argv)
    if (a.size() > 2 && a.compare(0, 2, "--") == 0 && a != "--yes" && a != "--pids" && a != "--playlist" &&
        a != "--convert-audio" && a != "--encode" && a != "--format" && a != "--quality" && a != "--bitrate" &&
        a != "--duration" && a != "--tracks" && a != "--chapters")
      return UsageError(self, "unknown option " + a);
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--pids", "--playlist", "--convert-audio", "--format", "--quality", "--bitrate", "--duration",
                         "--tracks"},
                  err))
    return UsageError(self, err);
  SEncodeRequest encode;
  if (!ReadEncodeOptions(args, encode, err)) return UsageError(self, err);
  if (args.Count() < 3) return UsageError(self, "expected P.zvpj, CLIP and at least one FILE");
  std::vector<uint16_t> pids;
  const bool pidsGiven = !args.Values("--pids").empty();
  if (pidsGiven && !ParsePids(args.Value("--pids"), pids, err)) return UsageError(self, err);
  std::vector<int> tracks;
  if (!args.Values("--tracks").empty() && !ParseTrackList(args.Value("--tracks"), tracks, err))
    return UsageError(self, err);
  const bool withChapters = args.Has("--chapters");
  size_t clips = 0, containers = 0;
  for (size_t i = 2; i < args.Count(); ++i) {
    const bool container = IsContainerSource(args[i]);
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

  std::vector<std::string> files(args.Pos().begin() + 2, args.Pos().end());
  const std::vector<std::string> kept = zv::CStoryObject::DropCoveredAc3(files);
  for (const std::string& f : files)
    if (std::find(kept.begin(), kept.end(), f) == kept.end())
      std::fprintf(stderr, "zelvane %s: \"%s\" is the core of the lossless file beside it and is not added on its own\n",
                   self.name, f.c_str());

  ProgressDisplay display(prompt, yes, "Really want to stop the analysis? ");
  const SRetime retime = PlannedRetime(kept, encode);
  std::string chaptersFrom;  // the container whose chapters come with its encode
  bool stills = false;
  display.SetThroughput(ProgressDisplay::Throughput::kItemIsInput);
  for (const std::string& file : kept) {
    if (zv::IsDirectory(file)) return Failed(self, "\"" + file + "\" is a folder, not a stream file");
    const size_t before = story->m_vecTracks.size();
    bool hadVideo = false;
    for (const zv::STrackRef& t : story->TrackRefs()) hadVideo |= t.enabled && t.primary && t.video;
    // With --encode, a container's video is decoded and encoded as any file's.
    if (IsContainerSource(file) && !encode.encode) {
      if (int rc = AddContainerSource(self, *story, args[1], file, tracks, withChapters,
                                  args.Value("--convert-audio"),
                                  display, prompt)) return rc;
      continue;
    }
    const bool existingClip = zv::EqualsNoCase(zv::ExtensionOf(file), ".m2ts");
    if (existingClip) {
      display.Finish();
      if (!ListClip(self, file)) return kExitFailed;
    }
    std::string toAdd = file, note, withAudio;
    const bool still = IsStillPicture(file);
    if ((encode.encode || still) && !existingClip) {
      if (withChapters && IsContainerSource(file)) {
        if (int rc = ReadEncodeChapters(self, file, retime, encode)) return rc;
        chaptersFrom = file;
      }
      if (int rc = EncodeForStory(self, file, encode, *story, display, toAdd)) return rc;
      if (int rc = AudioBesideEncode(self, file, toAdd != file, args.Value("--convert-audio"), retime, display, toAdd,
                                     withAudio))
        return rc;
    } else if (!existingClip) {
      const int arc = AudioSourceToAdd(file, args.Value("--convert-audio"), display.Callback(), toAdd, note, err);
      if (arc != zv::kOk) display.Finish();
      if (arc == zv::kCancelled) return kExitCancelled;
      if (arc != zv::kOk) return Failed(self, err);
      if (!note.empty() || toAdd != file) display.Finish();
      if (!note.empty()) std::fprintf(stderr, "zelvane %s: \"%s\": %s\n", self.name, file.c_str(), note.c_str());
      if (toAdd != file)
        std::fprintf(stderr, "zelvane %s: \"%s\" is added as its conversion \"%s\"\n", self.name, file.c_str(),
                     toAdd.c_str());
    }
    int rc = existingClip ? story->AddClipSource(file, pids, true, prompt, playlist)
                          : story->AddSource(toAdd, true, display.Callback(), prompt);
    if (rc == zv::kOk && !withAudio.empty()) rc = story->AddSource(withAudio, true, display.Callback(), prompt);
    if (rc == zv::kCancelled) {
      display.Finish();
      return kExitCancelled;
    }
    if (rc != zv::kOk) {
      display.Finish();
      const std::string hint = existingClip ? std::string() : ConvertAudioHint(file);
      if (!hint.empty()) std::fprintf(stderr, "zelvane %s: \"%s\": %s\n", self.name, file.c_str(), hint.c_str());
      return Failed(self, "\"" + file + "\" was not added to \"" + args[1] + "\"" +
                              (encode.encode || existingClip ? std::string() : EncodeHint(file)));
    }
    stills |= still;
    // A clip plays one main video; a second one would fail the build later.
    const std::vector<zv::STrackRef> refs = story->TrackRefs();
    for (size_t i = before; i < refs.size(); ++i) {
      if (hadVideo && refs[i].video && refs[i].primary) {
        display.Finish();
        return Failed(self, "\"" + file + "\": \"" + args[1] + "\" already has a video track");
      }
      const std::string warning =
          refs[i].video ? zv::DisallowedVideoWarning(file, refs[i].videoFormat, refs[i].fpsCode) : std::string();
      if (!warning.empty()) {
        display.Finish();
        std::fprintf(stderr, "zelvane %s: warning: %s\n", self.name, warning.c_str());
      }
    }
  }
  display.Finish();
  RelinkItems(*story);
  if (stills) HoldStillItems(*story);
  if (!chaptersFrom.empty())
    if (int rc = SetEncodeChapters(self, chaptersFrom, *story, encode)) return rc;
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

  const std::string& what = args[2];
  size_t index = story->m_vecSources.size();
  char* end = nullptr;
  const long n = std::strtol(what.c_str(), &end, 10);
  if (!what.empty() && *end == '\0') {
    if (n >= 1 && static_cast<size_t>(n) <= story->m_vecSources.size()) index = static_cast<size_t>(n - 1);
  } else {
    for (size_t i = 0; i < story->m_vecSources.size(); ++i) {
      const std::string& s = story->m_vecSources[i];
      if (s == what || zv::FileNameOf(s) == what) index = i;
    }
    if (index == story->m_vecSources.size()) {
      // A path given relative to the current folder.
      std::error_code ec;
      const std::string abs = std::filesystem::absolute(what, ec).lexically_normal().generic_string();
      for (size_t i = 0; i < story->m_vecSources.size(); ++i)
        if (story->m_vecSources[i] == abs) index = i;
    }
  }
  if (index >= story->m_vecSources.size())
    return Failed(self, "\"" + args[1] + "\" has no source \"" + what + "\" (it has " +
                            std::to_string(story->m_vecSources.size()) + ")");
  const std::string removed = story->m_vecSources[index];
  story->RemoveSource(index);
  if (project.ReloadSources(zv::Progress{}, prompt))
    return Failed(self, "\"" + args[0] + "\" was left as it was: other files it refers to could not be opened "
                        "again (see above)");
  RelinkItems(*story);
  if (int rc = Save(self, args[0], project)) return rc;
  std::printf("removed \"%s\"\n", removed.c_str());
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
