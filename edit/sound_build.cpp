#include "edit/sound_build.h"

#include <filesystem>

#include "bdnav/sound_bdmv.h"
#include "platform/progress.h"

namespace zvedit {

int BuildSoundFile(const std::string& out, const std::vector<std::string>& wavs, zv::IPrompt& prompt,
                   std::vector<SBuiltSound>& built, std::string& error) {
  zv::CSoundList list;
  for (size_t i = 0; i < wavs.size(); ++i) {
    const std::string& wav = wavs[i];
    std::string why;
    switch (list.Add(wav, &why)) {
      case zv::CSoundList::kAdded:
        break;
      case zv::CSoundList::kSkipped:
        prompt.Message(wav + " is listed already; skipped");
        break;
      case zv::CSoundList::kFull:
        error = std::string(zv::kMsgMaxSoundCount) + "(" + wav + " is sound " + std::to_string(i + 1) + ")";
        return zv::kFailed;
      case zv::CSoundList::kIncompatible:
        error = wav + ": " + zv::kMsgIncompatibleWav + "(" + why + ")";
        return zv::kFailed;
    }
  }

  std::error_code ec;
  const auto st = std::filesystem::symlink_status(out, ec);
  if (std::filesystem::exists(st)) {
    // A link is replaced itself, wherever it points.
    if (!std::filesystem::is_symlink(st) && !std::filesystem::is_regular_file(st)) {
      error = "\"" + out + "\" exists and is not a regular file; it is left alone";
      return zv::kFailed;
    }
    if (prompt.Ask("\"" + out + "\" exists. Replace it? ") != zv::Answer::Yes) return zv::kCancelled;
  }

  switch (list.Build(out, error)) {
    case zv::CSoundList::kBuilt:
      break;
    case zv::CSoundList::kTooBig:
      error = out + ": " + zv::kMsgSoundTooBig + "(" + error + "; nothing was written)";
      return zv::kFailed;
    case zv::CSoundList::kBuildFailed:
      return zv::kFailed;
  }
  const auto& entries = list.Builder().index.entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    SBuiltSound s;
    s.path = list.Paths()[i];
    s.mono = e.channelConfiguration == 1;
    s.frames = e.length / (s.mono ? 2u : 4u);
    built.push_back(s);
  }
  return zv::kOk;
}

}  // namespace zvedit
