#include "edit/source_convert.h"

#include <algorithm>

#include "platform/paths.h"
#include "transcode/audio_convert.h"

namespace zvedit {

namespace {

constexpr const char* kOption = "--convert-audio ac3[:BITRATE] or --convert-audio lpcm";

// Audio files no parser of ours reads: always converted.
bool IsForeignAudio(const std::string& file) {
  static const char* const kExt[] = {".aac", ".mp3", ".mp2", ".flac", ".opus", ".ogg", ".oga", ".eac3", ".ec3"};
  const std::string ext = zv::ToLower(zv::ExtensionOf(file));
  return std::any_of(std::begin(kExt), std::end(kExt), [&](const char* e) { return ext == e; });
}

// Audio files our parsers read, which a disc may or may not carry.
bool IsDiscAudio(const std::string& file) {
  const std::string ext = zv::ToLower(zv::ExtensionOf(file));
  return ext == ".wav" || ext == ".ac3";
}

}  // namespace

int AudioSourceToAdd(const std::string& file, const std::string& convert, const zv::Progress& progress,
                     std::string& toAdd, std::string& note, std::string& error) {
  toAdd = file;
  note.clear();
  const bool foreign = IsForeignAudio(file);
  if (!foreign && (convert.empty() || !IsDiscAudio(file))) return zv::kOk;
  zv::SAudioTarget target;
  if (!convert.empty() && !zv::ParseAudioTarget(convert, target, error)) return zv::kFailed;
  zv::SAudioFacts facts;
  if (!zv::ProbeAudio(file, -1, facts, error)) return zv::kFailed;
  if (facts.discCarries) {
    if (!convert.empty()) note = "the disc carries its " + facts.codec + " as it is; it is not converted";
    return zv::kOk;
  }
  if (convert.empty()) {
    error = "\"" + file + "\": " + facts.whyNot + "; add it with " + kOption + " to convert it";
    return zv::kFailed;
  }
  return ConvertInto(file, facts.streamIndex, target, progress, toAdd, note, error);
}

int ConvertInto(const std::string& file, int streamIndex, const zv::SAudioTarget& target, const zv::Progress& progress,
                std::string& toAdd, std::string& note, std::string& error) {
  zv::SConvertedAudio out;
  const int rc = zv::ConvertAudio(file, streamIndex, target, progress, out, error);
  if (rc != zv::kOk) return rc;
  toAdd = out.path;
  note = out.note;
  return zv::kOk;
}

std::string ConvertAudioHint(const std::string& file) {
  if (!IsDiscAudio(file)) return {};
  zv::SAudioFacts facts;
  std::string error;
  if (!zv::ProbeAudio(file, -1, facts, error) || facts.discCarries) return {};
  return facts.whyNot + "; add it with " + kOption + " to convert it";
}

}  // namespace zvedit
