// `zelvane mux OUT.m2ts FILE... [--lang CODE ...] [--yes]`: analyses stream
// files and multiplexes them into one clip with its clip information, giving
// PIDs the way a story does.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/terminal.h"
#include "mux/mux_track.h"
#include "mux/clip_mux.h"
#include "mux/ts_syntax.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "streams/analyse_streams.h"
#include "streams/h264_parser.h"
#include "streams/live_analysis.h"
#include "streams/mpeg2_parser.h"
#include "streams/vc1_parser.h"
#include "streams/stream_context.h"

namespace zvapp {

namespace {

int RunMux(const std::vector<std::string>& argv);

ZV_COMMAND("mux", "multiplex stream files into one clip (.m2ts and .clpi)",
           "zelvane mux OUT.m2ts FILE... [--lang CODE ...] [--yes]\n"
           "  OUT.m2ts   the clip to write; its clip information goes to OUT.clpi\n"
           "  FILE       an elementary stream (.264, .ac3, ...); exactly one video stream\n"
           "  --lang     ISO 639-2 code of the next audio or subtitle stream, in FILE order\n"
           "  --yes      replace an existing OUT without asking; Ctrl-C cancels without asking",
           "zelvane mux 00000.m2ts movie.264 audio_eng.ac3 --lang fra audio2.ac3", RunMux);

// The same file, whether or not the paths are spelled alike.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
  const auto full = [](const std::string& p) {
    std::error_code e;
    return std::filesystem::absolute(p, e).lexically_normal();
  };
  return full(a) == full(b);
}

// The largest video stream file without current stream information, or
// none: it is worth analysing while it is multiplexed.
std::string LiveCandidate(const std::vector<std::string>& streams) {
  std::string best;
  uintmax_t bestSize = 0;
  const zv::CH264Parser h264;
  const zv::CM2VParser mpeg2;
  const zv::CVc1Parser vc1;
  for (const std::string& p : streams) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec) ||
        !(h264.MatchExtension(p) || mpeg2.MatchExtension(p) || vc1.MatchExtension(p)))
      continue;
    const uintmax_t size = std::filesystem::file_size(p, ec);
    if (ec || size <= bestSize) continue;
    zv::SSifHeader header;
    std::unique_ptr<zv::CSifData> sif;
    if (zv::LoadStreamInfo(zv::SifPathBeside(p), p, header, sif) ||
        zv::LoadStreamInfo(zv::SifPathInTemp(p), p, header, sif))
      continue;
    best = p;
    bestSize = size;
  }
  // A file named twice, however spelt, is analysed once, before the clip.
  if (best.empty()) return best;
  const auto named = std::count_if(streams.begin(), streams.end(), [&](const std::string& p) { return SameFile(p, best); });
  return named == 1 ? best : std::string();
}

const char* TypeName(uint8_t type) {
  const char* n = zv::GetStreamTypeShortName(type);
  return n ? n : "unknown";
}

int RunMux(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("mux");
  if (int rc = CheckOptions(self, argv, {"--lang", "--yes"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--lang"}, err)) return UsageError(self, err);
  if (args.Count() < 2) return UsageError(self, "expected OUT.m2ts and at least one FILE");
  const bool yes = args.Has("--yes");
  const std::string out = args[0];
  const std::string clpi = std::filesystem::path(out).replace_extension(".clpi").string();
  if (clpi == out) return RefuseValue(self, "OUT must not end in .clpi");
  // Writing the clip or its clip information over an input would destroy
  // that input.
  for (size_t i = 1; i < args.Count(); ++i)
    for (const std::string& target : {out, clpi})
      if (SameFile(args[i], target))
        return RefuseValue(self, "\"" + args[i] + "\" is an input; the clip must go to another file");
  std::vector<std::string> langs = args.Values("--lang");
  for (const std::string& l : langs)
    if (zv::LanguageIndexOf(l) < 0) return RefuseValue(self, "unknown language code \"" + l + "\"");

  TerminalPrompt prompt(yes);
  // Only a regular file is ever replaced, and only when the user agrees; the
  // clip is written under temporary names and moved into place at the end,
  // so a cancel or a failure leaves what was there before.
  for (const std::string& target : {out, clpi}) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) return Fail("zelvane mux: \"" + target + "\" exists and is not a regular file; it is left alone");
  }
  if (zv::PathExists(out) || zv::PathExists(clpi)) {
    const std::string& existing = zv::PathExists(out) ? out : clpi;
    if (prompt.Ask("\"" + existing + "\" exists. Replace it? ") != zv::Answer::Yes) {
      std::fprintf(stderr, "zelvane mux: \"%s\" was left as it was\n", existing.c_str());
      return kExitCancelled;
    }
  }
  // One display for analysis and multiplexing, so a Ctrl-C between two
  // progress calls is still seen by the next one.
  ProgressDisplay display(prompt, yes);
  const zv::Progress progress = display.Callback();
  // Streams without current stream information are analysed side by side
  // first; each is then opened from it. A file that fails is analysed again
  // below, which shows why. The largest video stream among them is analysed
  // while it is multiplexed instead, so that its bytes are read from memory
  // once, not twice; declared before the tracks, which read from it.
  std::unique_ptr<zv::CLiveAnalysis> live;
  {
    std::vector<std::string> streams;
    for (size_t i = 1; i < args.Count(); ++i) {
      std::filesystem::path p(args[i]);
      std::string ext = p.extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
      if (ext == ".mlp" || ext == ".thd") streams.push_back(std::filesystem::path(p).replace_extension(".ac3").string());
      streams.push_back(args[i]);
    }
    const std::string served = LiveCandidate(streams);
    uint64_t total = 0;
    std::vector<std::string> first;
    for (const std::string& p : streams) {
      if (p == served) continue;
      first.push_back(p);
      std::error_code ec;
      const auto size = std::filesystem::file_size(p, ec);
      if (!ec) total += static_cast<uint64_t>(size);
    }
    if (!served.empty()) live = std::make_unique<zv::CLiveAnalysis>(served);
    display.SetTotalBytes(total);
    if (!progress.Item("Analysing " + std::to_string(args.Count() - 1) + " stream files")) return kExitCancelled;
    if (zv::AnalyseStreams(first, progress, &prompt) == zv::kCancelled) {
      display.Finish();
      std::fprintf(stderr, "Cancelled: no clip was written.\n");
      return kExitCancelled;
    }
  }
  // What the clip is made of; made a second time, from the finished stream
  // information, when the live stream turned out not to match it.
  struct SClipRun {
    std::vector<std::unique_ptr<zv::SRawTrack>> owned;
    zv::SClipJob job;
    zv::CMuxer muxer;
  };
  std::unique_ptr<SClipRun> run;
  // kExitOk with the clip in place, another exit code, or -1 to make the
  // clip again.
  auto makeClip = [&]() -> int {
    run = std::make_unique<SClipRun>();
    std::vector<zv::SMuxTrack*> tracks;
    size_t nextLang = 0;
    // The clip is made again when the live stream did not match its
    // finished analysis, or the analysis failed without saying why: the
    // ordinary way makes it, or says why not.
    auto again = [&] {
      return live && !display.Cancelled() && (live->Diverged() || (live->Ended() && live->Wait() != zv::kOk));
    };
    for (size_t i = 1; i < args.Count(); ++i) {
      const std::string& path = args[i];
      auto track = std::make_unique<zv::SRawTrack>();
      std::error_code ec;
      const auto size = std::filesystem::file_size(path, ec);
      display.SetTotalBytes(ec ? 0 : static_cast<uint64_t>(size));
      if (!progress.Item(path)) return kExitCancelled;
      if (!track->SetSource(path, progress, &prompt)) {
        display.Finish();
        // The prompt has shown the path and the parser's message.
        return display.Cancelled() || track->LastError() == "Cancelled" ? kExitCancelled : kExitFailed;
      }
      const zv::StreamKind c = zv::StreamKindOf(track->GetStreamCodingType());
      if (c != zv::StreamKind::kVideo && nextLang < langs.size()) track->SetLanguageCode(langs[nextLang++]);
      track->m_nOrderKey = static_cast<int32_t>(i);
      track->m_nTrackNumber = static_cast<int32_t>(i);
      tracks.push_back(track.get());
      run->owned.push_back(std::move(track));
    }
    if (nextLang < langs.size()) return RefuseValue(self, "more --lang codes than audio and subtitle streams");
    const auto videos = std::count_if(tracks.begin(), tracks.end(), [](const zv::SMuxTrack* t) {
      return zv::StreamKindOf(t->GetStreamCodingType()) == zv::StreamKind::kVideo;
    });
    if (videos > 1) return Fail("Primary video track must be one! ");

    // The clip is written under temporary names and moved into place at the
    // end, so a cancel or a failure leaves what was there before.
    std::string error;
    // What killed runs of this command left under these names goes first.
    zv::RemoveDeadTempsBeside(out);
    zv::RemoveDeadTempsBeside(clpi);
    const std::string tmpOut = zv::CreateTempBeside(out, error);
    const std::string tmpClpi = tmpOut.empty() ? std::string() : zv::CreateTempBeside(clpi, error);
    if (tmpClpi.empty()) {
      if (!tmpOut.empty()) ::unlink(tmpOut.c_str());
      display.Finish();
      return Fail(error);
    }
    // Removes both temporary files on every way out but success.
    struct TempFiles {
      std::vector<std::string> paths;
      ~TempFiles() {
        for (const std::string& p : paths) ::unlink(p.c_str());
      }
    } temps{{tmpOut, tmpClpi}};
    zv::SClipJob& job = run->job;
    job.tracks = zv::AssignPids(tracks);
    job.m2tsPath = tmpOut;
    job.clpiPath = tmpClpi;
    job.prep.progress = progress;
    job.prep.prompt = &prompt;
    job.prepared = [&](zv::CMuxer&, std::string&) {
      uint64_t total = 0;
      for (const zv::SMuxTrack* t : job.tracks) total += t->GetTotalBytes();
      display.SetTotalBytes(total);
      return zv::kOk;
    };
    const int r = zv::MultiplexClip(run->muxer, job, error);
    display.Finish();
    if (r == zv::kCancelled || (r != zv::kOk && display.Cancelled())) {
      std::fprintf(stderr, "Cancelled: no clip was written.\n");
      return kExitCancelled;
    }
    if (r != zv::kOk && live && !display.Cancelled() && live->Ended() && !live->Diverged() &&
        live->Wait() == zv::kFailed && !live->Messages().empty()) {
      // The live stream was refused at the end of its analysis: said as
      // opening it would say it, without reading it all again.
      for (const std::string& m : live->Messages()) prompt.Message(m);
      return kExitFailed;
    }
    if (r != zv::kOk) return again() ? -1 : Fail(error);
    if (::rename(tmpClpi.c_str(), clpi.c_str()) != 0) return Fail(zv::File::ErrorText("write", clpi, errno));
    if (::rename(tmpOut.c_str(), out.c_str()) != 0) return Fail(zv::File::ErrorText("write", out, errno));
    temps.paths.clear();
    return kExitOk;
  };
  int made = makeClip();
  if (live && (made == kExitOk || made < 0) && live->Ended() && live->Wait() == zv::kOk) {
    // Shown once: the stream information is current from here on.
    for (const std::string& n : live->Notes()) progress.Item(n);
    for (const std::string& m : live->Messages()) prompt.Message(m);
  }
  if (made < 0) {
    // Tracks first: they read from the live analysis.
    run.reset();
    live.reset();
    made = makeClip();
  }
  if (made != kExitOk) return made;
  zv::SClipJob& job = run->job;
  zv::CMuxer& muxer = run->muxer;

  const std::vector<zv::SMuxTrack*>& ordered = job.tracks;
  const zv::SClipTiming& tm = muxer.Timing();
  double seconds = (tm.presentationEnd - tm.presentationStart) / 27e6;
  if (seconds <= 0) seconds = (tm.endTime - tm.firstPacketTime) / 27e6;
  const double bytes = static_cast<double>(muxer.OutputBytes());
  // Counted while the packets were written: reading the clip back would
  // double the I/O of the command.
  const double peak = muxer.PeakPacketsPerSecond() * 188.0 * 8.0;
  std::printf("%s\n", out.c_str());
  std::printf("  clip information: %s\n", clpi.c_str());
  std::printf("  streams:\n");
  for (const zv::SMuxTrack* t : ordered) {
    std::printf("    0x%04X  %-18s %s\n", t->m_nPid, TypeName(t->GetStreamCodingType()), t->GetDescription().c_str());
  }
  std::printf("  duration:         %.3f s\n", seconds);
  std::printf("  size:             %.0f bytes (%u source packets, %s)\n", bytes, static_cast<unsigned>(bytes / 192),
              zv::SRawTrack::FormatClipSize(static_cast<uint64_t>(bytes / 192)).c_str());
  if (seconds > 0) std::printf("  mean rate:        %.3f Mbit/s\n", bytes * 8 / seconds / 1e6);
  std::printf("  peak rate:        %.3f Mbit/s (transport packets in any one second)\n", peak / 1e6);
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
