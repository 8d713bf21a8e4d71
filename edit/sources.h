// `source add` and `source remove` for both shells: the stream files of a
// clip. Both change the project in memory only; the shell saves it when they
// return kOk and drops it (or undoes) otherwise, so a refused file never
// reaches the stored project.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "edit/source_display.h"
#include "edit/source_encode.h"
#include "model/project.h"
#include "platform/prompt.h"

namespace zvedit {

struct SAddSources {
  std::string clipName;  // the clip as the user named it, for messages
  std::vector<std::string> files;
  std::vector<uint16_t> pids;     // of an existing clip (empty: all)
  std::string playlist;           // an old playlist that plays the existing clip
  std::vector<int> tracks;        // of a container (empty: all a disc carries)
  bool chapters = false;          // a container's chapters to the titles
  std::string convertAudio;       // "ac3[:BITRATE]" or "lpcm"; empty: no conversion
  SEncodeRequest encode;
  zv::STextTrackStyle textStyle;  // of the text subtitles among `files`
  bool textStyleGiven = false;
};

// Analyses and adds each file in turn, then relinks the film's play items.
// kOk, kCancelled, or kFailed after telling `display` the file and the reason.
int AddSources(zv::CStoryObject& story, const SAddSources& request, ISourceDisplay& display, zv::IPrompt& prompt);

// Removes the source `what` (its number from 1, its path or file name) and
// reopens the project's files. kOk with `removed` its path, or kFailed with
// `error`; `projectName` names the project in that message.
int RemoveSource(zv::CZvObject& project, zv::CStoryObject& story, const std::string& clipName,
                 const std::string& projectName, const std::string& what, zv::IPrompt& prompt, std::string& removed,
                 std::string& error);

}  // namespace zvedit
