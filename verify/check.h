// `check`: rules over a finished disc folder (ours or another tool's), run
// with the readers and models the rest of the system writes discs with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/progress.h"

namespace zv {

enum class Severity : uint8_t {
  kNote = 0,     // worth knowing
  kWarning = 1,  // a player may behave unexpectedly
  kError = 2,    // a player may fail
};
const char* SeverityText(Severity s);

struct SCheckRule {
  const char* id;  // "nav.clip"
  Severity severity;
  const char* text;  // one line: what the rule asks of a disc
};
// Every rule, in report order.
const std::vector<SCheckRule>& CheckRules();
const SCheckRule* FindCheckRule(std::string_view id);

struct SFinding {
  std::string rule;
  Severity severity = Severity::kError;
  std::string file;      // relative to the disc folder, "BDMV/PLAYLIST/00000.mpls"
  std::string position;  // "PlayItem 0", "source packet 1234", or empty
  std::string message;   // one line
};

struct SCheckReport {
  std::vector<SFinding> findings;
  size_t Count(Severity s) const;
  // 0 clean (notes at most), 1 warnings only, 2 errors.
  int ExitStatus() const;
};

// "error: FILE (POSITION) [rule] message", as reports and logs show it.
std::string FindingText(const SFinding& f);

struct SCheckOptions {
  bool strict = false;  // warnings count as errors
  // False: the files, menu and navigation rules only, without reading the
  // clips' packets (what the build runs on the disc it wrote).
  bool clips = true;
  Progress progress;    // one item per clip, a value over the clips' bytes
  // False: each clip's buffer replay runs on the calling thread instead of
  // beside the other rules on a second one (the findings are the same).
  bool threads = true;
};

// Checks the disc folder `disc` (the folder holding BDMV, or BDMV itself).
// kOk with the findings in `report`, kCancelled when the progress callback
// stopped it (the findings so far stay), kFailed with `error` when `disc` is
// not a folder.
int CheckDisc(const std::string& disc, const SCheckOptions& options, SCheckReport& report, std::string& error);

}  // namespace zv
