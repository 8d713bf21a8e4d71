// Stream information for several stream files at once: the files whose
// information is missing or stale are analysed side by side, one on each
// core, before a clip opens them one after another.
#pragma once

#include <string>
#include <vector>

#include "platform/progress.h"
#include "platform/prompt.h"

namespace zv {

// Makes the stream information of `paths` current (a file named twice is
// analysed once). Progress and the prompt are called from this thread only:
// the progress value is the share of all files' bytes analysed, and a 0 from
// the callback stops every analysis. What the analysis of a good file showed
// goes to `prompt` afterwards, in file order; a file that fails is left to
// whoever opens it next, which analyses it again and says why. kOk,
// kCancelled, or kFailed when some file failed.
// With `together`, every analysis runs at once, each on a thread of its own
// (not one per core): the tracks of one container then share one reading
// of it.
// A log line of an analysis that is a note or warning for the user, as
// against the file names and actions of its progress.
bool IsAnalysisNote(const std::string& item);

int AnalyseStreams(const std::vector<std::string>& paths, const Progress& progress, IPrompt* prompt,
                   bool together = false);

}  // namespace zv
