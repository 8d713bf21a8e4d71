#include "edit/sources.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "edit/source_container.h"
#include "edit/source_convert.h"
#include "edit/track_checks.h"
#include "edit/track_encode.h"
#include "model/text_subtitle.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "mux/rip_track.h"
#include "mux/ts_syntax.h"
#include "platform/paths.h"
#include "streams/sif_data.h"

namespace zvedit {

namespace {

void RelinkItems(zv::CStoryObject& story) {
  if (zv::CFilmObject* film = zv::FilmOf(&story)) zv::RelinkPlayItems(*film, story);
}

// Lists the streams of an existing clip as its clip information and PMT
// describe them; false after saying why the clip cannot be reused.
bool ListClip(ISourceDisplay& display, const std::string& file) {
  zv::SClipListing listing;
  std::string error;
  if (zv::ListClipStreams(file, listing, error) != zv::kOk) {
    Fail(display, error);
    return false;
  }
  display.Listing(file + ": " + std::to_string(listing.streams.size()) + " stream" +
                  (listing.streams.size() == 1 ? "" : "s"));
  for (const zv::SClipStream& s : listing.streams) {
    const uint8_t type = s.info.coding.StreamCodingType;
    const char* name = zv::GetStreamTypeName(type);
    char head[64];
    std::snprintf(head, sizeof head, "  0x%04X  ", s.pid);
    char code[16];
    std::snprintf(code, sizeof code, "(0x%02X)  ", type);
    display.Listing(head + std::string(name ? name : "") + code + s.info.coding.Summary(true));
  }
  return true;
}

}  // namespace

int AddSources(zv::CStoryObject& story, const SAddSources& request, ISourceDisplay& display, zv::IPrompt& prompt) {
  const std::vector<std::string> kept = zv::CStoryObject::DropCoveredAc3(request.files);
  for (const std::string& f : request.files)
    if (std::find(kept.begin(), kept.end(), f) == kept.end())
      display.Message("\"" + f + "\" is the core of the lossless file beside it and is not added on its own");

  SEncodeRequest encode = request.encode;
  const std::string& clipName = request.clipName;
  std::string err;
  // Audio added with video that plays slower than recorded is slowed alike.
  const SRetime retime = PlannedRetime(kept, encode);
  std::string chaptersFrom;  // the container whose chapters come with its encode
  bool stills = false;
  for (const std::string& file : kept) {
    if (zv::IsDirectory(file)) return Fail(display, "\"" + file + "\" is a folder, not a stream file");
    const STracksBefore before = TracksBefore(story);
    // With --encode, a container's video is decoded and encoded as any file's.
    if (IsContainerSource(file) && !encode.encode) {
      if (int rc = AddContainerSource(story, clipName, file, request.tracks, request.chapters, request.convertAudio,
                                      display, prompt)) return rc;
      continue;
    }
    const bool existingClip = zv::EqualsNoCase(zv::ExtensionOf(file), ".m2ts");
    if (existingClip) {
      display.Finish();
      if (!ListClip(display, file)) return zv::kFailed;
    }
    std::string toAdd = file, note, withAudio;
    bool encodedVideo = false;
    const bool still = IsStillPicture(file);
    if ((encode.encode || still) && !existingClip) {
      if (request.chapters && IsContainerSource(file)) {
        if (int rc = ReadEncodeChapters(file, retime, encode, display)) return rc;
        chaptersFrom = file;
      }
      if (int rc = EncodeForStory(file, encode, story, display, toAdd)) return rc;
      encodedVideo = toAdd != file;
      if (int rc = AudioBesideEncode(file, encodedVideo, request.convertAudio, retime, display, toAdd, withAudio))
        return rc;
    } else if (!existingClip) {
      const int arc = AudioSourceToAdd(file, request.convertAudio, display.Callback(), toAdd, note, err);
      if (arc != zv::kOk) display.Finish();
      if (arc == zv::kCancelled) return zv::kCancelled;
      if (arc != zv::kOk) return Fail(display, err);
      if (!note.empty() || toAdd != file) display.Finish();
      if (!note.empty()) display.Message("\"" + file + "\": " + note);
      if (toAdd != file) display.Message("\"" + file + "\" is added as its conversion \"" + toAdd + "\"");
    }
    // A text subtitle is drawn in the style given with it from the start.
    const std::string styleKey = zv::AbsolutePath(zv::NormalizeSeparators(toAdd));
    const bool styled = request.textStyleGiven && !existingClip && zv::IsTextSubtitlePath(toAdd) &&
                        !story.m_textStyles.count(styleKey);
    if (styled) story.m_textStyles[styleKey] = request.textStyle;
    int rc = existingClip ? story.AddClipSource(file, request.pids, true, prompt, request.playlist)
                          : story.AddSource(toAdd, true, display.Callback(), prompt);
    if (styled && rc != zv::kOk) story.m_textStyles.erase(styleKey);
    if (rc == zv::kOk && !withAudio.empty()) rc = story.AddSource(withAudio, true, display.Callback(), prompt);
    if (rc == zv::kCancelled) {
      display.Finish();
      return zv::kCancelled;
    }
    if (rc != zv::kOk) {
      display.Finish();
      const std::string hint = existingClip ? std::string() : ConvertAudioHint(file);
      if (!hint.empty()) display.Message("\"" + file + "\": " + hint);
      return Fail(display, "\"" + file + "\" was not added to \"" + clipName + "\"" +
                               (encode.encode || existingClip ? std::string() : EncodeHint(file)));
    }
    stills |= still;
    // What was made from the file is remembered, so that a setting of the
    // track can encode it again or go back.
    if (encodedVideo) NoteEncodedSource(story, toAdd, file, encode);
    else if (toAdd != file && retime.Slowed()) NoteConvertedAudio(story, toAdd, file, retime);
    if (!withAudio.empty()) NoteConvertedAudio(story, withAudio, file, retime);
    if (int rc = CheckAddedTracks(story, before, file, clipName, display)) return rc;
  }
  display.Finish();
  RelinkItems(story);
  if (stills) HoldStillItems(story);
  if (!chaptersFrom.empty()) return SetEncodeChapters(chaptersFrom, story, encode, display);
  return zv::kOk;
}

int RemoveSource(zv::CZvObject& project, zv::CStoryObject& story, const std::string& clipName,
                 const std::string& projectName, const std::string& what, zv::IPrompt& prompt, std::string& removed,
                 std::string& error) {
  size_t index = story.m_vecSources.size();
  char* end = nullptr;
  const long n = std::strtol(what.c_str(), &end, 10);
  if (!what.empty() && *end == '\0') {
    if (n >= 1 && static_cast<size_t>(n) <= story.m_vecSources.size()) index = static_cast<size_t>(n - 1);
  } else {
    for (size_t i = 0; i < story.m_vecSources.size(); ++i) {
      const std::string& s = story.m_vecSources[i];
      if (s == what || zv::FileNameOf(s) == what) index = i;
    }
    if (index == story.m_vecSources.size()) {
      // A path given relative to the current folder.
      std::error_code ec;
      const std::string abs = std::filesystem::absolute(what, ec).lexically_normal().generic_string();
      for (size_t i = 0; i < story.m_vecSources.size(); ++i)
        if (story.m_vecSources[i] == abs) index = i;
    }
  }
  if (index >= story.m_vecSources.size()) {
    error = "\"" + clipName + "\" has no source \"" + what + "\" (it has " + std::to_string(story.m_vecSources.size()) +
            ")";
    return zv::kFailed;
  }
  removed = story.m_vecSources[index];
  story.RemoveSource(index);
  if (project.ReloadSources(zv::Progress{}, prompt)) {
    error = "\"" + projectName + "\" was left as it was: other files it refers to could not be opened again (see above)";
    return zv::kFailed;
  }
  RelinkItems(story);
  return zv::kOk;
}

}  // namespace zvedit
