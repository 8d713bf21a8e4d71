#include "edit/source_container.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "edit/source_encode.h"
#include "edit/track_checks.h"
#include "media/container.h"
#include "media/container_text.h"
#include "media/container_demux.h"
#include "model/clip_chapters.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "model/story.h"
#include "model/text_subtitle.h"
#include "mux/mux_track.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "streams/analyse_streams.h"
#include "transcode/audio_convert.h"

namespace zvedit {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The container's language, then the file name's suffix, then English.
std::string LanguageOf(const zv::SContainerTrack& t, const std::string& file) {
  const std::string tagged = Lower(t.language);
  if (tagged.size() == 3 && zv::LanguageIndexOf(tagged) >= 0) return tagged;
  const std::string named = zv::LanguageFromFileName(file);
  return named.empty() ? "eng" : named;
}

// `text` with spaces up to `width` characters, as printf's %-Ns.
std::string Padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

void PrintTracks(ISourceDisplay& display, const std::string& file, const zv::SContainerInfo& info) {
  display.Listing(file + ": " + std::to_string(info.tracks.size()) + " track" + (info.tracks.size() == 1 ? "" : "s") +
                  " (" + info.format + ")");
  for (const zv::SContainerTrack& t : info.tracks) {
    std::string line = "  " + std::to_string(t.index) + "  " + Padded(t.kind, 8) + " " + Padded(t.codec, 18) + " " +
                       Padded(t.language.empty() ? "-" : t.language, 3);
    if (!t.title.empty()) line += "  \"" + t.title + "\"";
    if (t.isDefault) line += "  default";
    if (t.forced) line += "  forced";
    if (t.verdict.need == zv::TrackNeed::kTextSubtitle) line += "  (text, drawn as subtitles)";
    else if (t.verdict.need != zv::TrackNeed::kCarried) line += "  (not carried: " + t.verdict.reason + ")";
    display.Listing(line);
  }
}

}  // namespace

bool IsContainerSource(const std::string& file) {
  const std::string ext = Lower(zv::ExtensionOf(file));
  if (!zv::IsContainerExtension(ext)) return false;
  if (ext != ".m2ts") return true;
  // A disc's clip has its clip information in CLIPINF or beside it.
  const std::filesystem::path p(file);
  const std::string clpi = p.stem().string() + ".clpi";
  std::error_code ec;
  return !std::filesystem::exists(p.parent_path() / clpi, ec) &&
         !std::filesystem::exists(p.parent_path().parent_path() / "CLIPINF" / clpi, ec);
}

bool ParseTrackList(const std::string& text, std::vector<int>& out, std::string& error) {
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string one = text.substr(at, comma - at);
    char* end = nullptr;
    const long v = std::strtol(one.c_str(), &end, 10);
    if (one.empty() || *end != '\0' || v < 0 || v > 9999) {
      error = "--tracks: \"" + one + "\" is not a track number (e.g. 0,2,3)";
      return false;
    }
    out.push_back(static_cast<int>(v));
    at = comma + 1;
  }
  return true;
}

int AddContainerSource(zv::CStoryObject& story, const std::string& clipName, const std::string& fileIn,
                       const std::vector<int>& tracks, bool chapters, const std::string& convertAudio,
                       ISourceDisplay& display, zv::IPrompt& prompt) {
  zv::SAudioTarget target;
  std::string targetError;
  const bool convert = !convertAudio.empty();
  if (convert && !zv::ParseAudioTarget(convertAudio, target, targetError)) return Fail(display, targetError);
  // Audio the disc cannot carry goes in as its conversion when one is asked for.
  auto takes = [convert](const zv::SContainerTrack& t) {
    return t.verdict.need == zv::TrackNeed::kCarried || t.verdict.need == zv::TrackNeed::kTextSubtitle ||
           (convert && t.verdict.need == zv::TrackNeed::kConvertAudio);
  };
  const std::string file = zv::AbsolutePath(fileIn);
  zv::SContainerInfo info;
  std::string error;
  display.Finish();
  if (zv::ProbeContainer(file, info, error) != zv::kOk) return Fail(display, error);
  PrintTracks(display, fileIn, info);

  std::vector<const zv::SContainerTrack*> chosen;
  for (int n : tracks) {
    const auto it = std::find_if(info.tracks.begin(), info.tracks.end(),
                                 [n](const zv::SContainerTrack& t) { return t.index == n; });
    if (it == info.tracks.end())
      return Fail(display, "\"" + fileIn + "\" has no track " + std::to_string(n));
    if (!takes(*it))
      return Fail(display, "\"" + fileIn + "\" track " + std::to_string(n) + ": " + it->verdict.reason);
    chosen.push_back(&*it);
  }
  if (tracks.empty()) {
    for (const zv::SContainerTrack& t : info.tracks) {
      if (takes(t)) {
        chosen.push_back(&t);
      } else if (t.verdict.need == zv::TrackNeed::kRefused) {
        display.Message("\"" + fileIn + "\" track " + std::to_string(t.index) + " is left out: " + t.verdict.reason);
      } else {
        return Fail(display, "\"" + fileIn + "\" track " + std::to_string(t.index) + ": " + t.verdict.reason +
                              "; or choose the tracks to add with --tracks");
      }
    }
  }
  if (chosen.empty()) return Fail(display, "\"" + fileIn + "\" has no track a disc carries");

  // One pass measures every track, so that each can then be read as a file.
  std::map<int, int64_t> lengths;
  const int rc = zv::IndexContainer(file, lengths, error, display.Callback());
  if (rc != zv::kOk) return EndUnlessOk(display, rc, error);
  // The tracks taken as they are get their stream information in one more
  // reading of the container, all at once; each is then added from it. A
  // track that fails here is analysed again when it is added, which says why.
  std::vector<std::string> carried;
  for (const zv::SContainerTrack* t : chosen)
    if (t->verdict.need == zv::TrackNeed::kCarried) carried.push_back(zv::TrackPath(file, t->index, t->verdict.ext));
  if (carried.size() > 1) {
    const zv::Progress progress = display.Callback();
    if (!progress.Item("Analysing " + std::to_string(carried.size()) + " tracks of \"" + fileIn + "\"")) {
      display.Finish();
      return zv::kCancelled;
    }
    std::string holdError;  // without the hold, the analyses share what they can
    const std::shared_ptr<void> reading = zv::HoldContainerReading(file, holdError);
    const int arc = zv::AnalyseStreams(carried, progress, &prompt, true);
    display.Finish();
    if (arc == zv::kCancelled) return zv::kCancelled;
  }
  for (const zv::SContainerTrack* t : chosen) {
    const STracksBefore before = TracksBefore(story);
    std::string path = zv::TrackPath(file, t->index, t->verdict.ext);
    if (t->verdict.need == zv::TrackNeed::kConvertAudio) {
      zv::SConvertedAudio converted;
      const int crc = zv::ConvertAudio(file, t->index, target, display.Callback(), converted, error);
      display.Finish();
      if (crc == zv::kCancelled) return zv::kCancelled;
      if (crc != zv::kOk) return Fail(display, error);
      if (!converted.note.empty())
        display.Message("\"" + fileIn + "\" track " + std::to_string(t->index) + ": " + converted.note);
      path = converted.path;
    }
    bool madeStyle = false;  // this command made the track's style entry
    if (t->verdict.need == zv::TrackNeed::kTextSubtitle) {
      const int xrc = zv::ExtractTextSubtitle(file, t->index, path, error, display.Callback());
      display.Finish();
      if (xrc == zv::kCancelled) return zv::kCancelled;
      if (xrc != zv::kOk) return Fail(display, error);
      // Drawn with the container's forced flag from the first time.
      if (t->forced && !story.m_textStyles.count(path)) {
        story.m_textStyles[path].forced = true;
        madeStyle = true;
      }
    }
    const int added = story.AddSource(path, true, display.Callback(), prompt);
    if (added != zv::kOk && madeStyle) story.m_textStyles.erase(path);
    if (added == zv::kCancelled) {
      display.Finish();
      return zv::kCancelled;
    }
    if (added != zv::kOk) {
      display.Finish();
      // Video our analysis refuses is what --encode is for.
      return Fail(display, "\"" + fileIn + "\" track " + std::to_string(t->index) + " was not added to \"" + clipName +
                            "\"" + (t->kind == "video" ? EncodeHint(fileIn) : std::string()));
    }
    // The same checks and warnings as a stream file's, naming the track.
    if (int checked = CheckAddedTracks(story, before, zv::TrackPath(fileIn, t->index, t->verdict.ext), clipName,
                                       display))
      return checked;
    if (story.m_vecTracks.size() > before.count && t->kind != "video")
      story.m_vecTracks.back()->SetLanguageCode(LanguageOf(*t, fileIn));
  }
  display.Finish();
  if (chapters) {
    if (zv::CFilmObject* film = zv::FilmOf(&story)) zv::RelinkPlayItems(*film, story);
    std::vector<zv::STimedChapter> list;
    for (const zv::SContainerChapter& c : info.chapters) list.push_back({c.startMs, c.title});
    std::string message;
    const size_t items = zv::SetClipChapters(story, list, message);
    if (items == 0) return Fail(display, "\"" + fileIn + "\": no chapters taken: " + message);
    display.Listing(std::to_string(list.size()) + " chapters to " + std::to_string(items) + " play item" +
                    (items == 1 ? "" : "s"));
  }
  return zv::kOk;
}

}  // namespace zvedit
