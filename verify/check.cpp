#include "verify/check.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include <cstdlib>
#include <unistd.h>

#include "udf/udf_reader.h"
#include "verify/check_context.h"

namespace zv {

namespace {

constexpr Severity kE = Severity::kError;
constexpr Severity kW = Severity::kWarning;

const std::vector<SCheckRule> kRules = {
    {"files.image", kE, "an image file reads as a UDF volume with its files whole"},
    {"files.tree", kE, "BDMV holds index.bdmv, MovieObject.bdmv and the PLAYLIST, CLIPINF and STREAM folders"},
    {"files.name", kW, "files in PLAYLIST, CLIPINF and STREAM are named with five digits and their extension"},
    {"files.certificate", kW, "CERTIFICATE/id.bdmv is present"},
    {"files.parse", kE, "every navigation and clip information file reads without error"},
    {"files.backup", kE, "BDMV/BACKUP holds an identical copy of every navigation and clip information file"},
    {"files.clip-pair", kE, "every clip has its clip information and every clip information its clip"},
    {"nav.index-object", kE, "index.bdmv's first playback, top menu and titles name movie objects that exist"},
    {"nav.clip", kE, "play items, angles and sub play items name clips the disc has"},
    {"nav.time", kE, "IN and OUT times lie inside the clip's STC sequence, IN before OUT"},
    {"nav.stream", kE, "stream entries name streams the clip has"},
    {"nav.attributes", kW, "stream entry attributes (coding type, format, rate, language) agree with the clip's"},
    {"nav.subpath", kE, "interactive-graphics and text-subtitle sub-paths play clips of that kind"},
    {"nav.mark", kE, "marks refer to a play item and lie inside it"},
    {"nav.target", kE, "jump, call, play and link targets of movie objects and buttons exist"},
    {"nav.unreachable", kW, "every title can be reached from first playback, the top menu or their menus"},
    {"menu.parse", kE, "interactive and presentation graphics streams of the playlists read without error"},
    {"menu.button-ref", kE, "neighbours and default buttons of pages and button groups are buttons of the page"},
    {"menu.object-ref", kE, "buttons, effects and subtitles use objects and palettes their epoch defines"},
    {"menu.unreachable", kW, "every button with graphics can be selected by arrow keys from the page's default"},
    {"menu.decoder", kE, "an epoch's decoded objects fit the decoder (16 MiB menus, 4 MiB subtitles), no object exceeds the 1 MiB coded-data buffer"},
    {"menu.decode-time", kW, "objects have their decoding time at the decoder's rate, and the first page's objects are decoded when it shows"},
    {"subtitle.order", kE, "subtitle display sets follow in presentation order, each segment decoded at or before it is presented"},
    {"subtitle.window", kE, "subtitle windows lie inside the video, and every composition object inside a window its epoch defines"},
    {"subtitle.limits", kE, "a subtitle epoch has at most 64 objects and 8 palettes, a display set at most two windows and two composition objects"},
    {"subtitle.text", kE, "a text subtitle stream is one dialog style segment, then the dialog presentation segments it announces, each shown for a time, in order without overlap"},
    {"subtitle.text-time", kW, "text subtitle dialogs lie inside the play item that shows them"},
    {"clip.packet-count", kE, "a clip is whole 192-byte source packets, as many as its clip information says"},
    {"clip.alignment", kW, "a clip is whole 6144-byte aligned units"},
    {"clip.sync", kE, "every source packet carries a transport packet with its sync byte"},
    {"clip.ats", kE, "arrival time stamps never go back"},
    {"clip.rate", kE, "packets arrive no faster than the clip's recording rate (48 Mbit/s as written)"},
    {"clip.pids", kE, "the clip's elementary PIDs are exactly those of its clip information"},
    {"clip.coding-type", kE, "the PMT lists every stream with the coding type of the clip information"},
    {"clip.ep-map", kE, "every EP map entry is at the start of a PES packet of its PID with the entry's PTS"},
    {"clip.ep-missing", kE, "every random-access picture of a video has an EP map entry at most 1 s before it"},
    {"ts.continuity", kE, "continuity counters count on without a gap"},
    {"ts.pcr-interval", kE, "PCRs are at most 100 ms apart and never go back"},
    {"ts.psi-interval", kE, "PAT and PMT repeat at most 100 ms apart, the SIT at most 1 s"},
    {"tstd.overflow", kE, "replayed through the decoder's buffer models, no packet arrives before there is room"},
    {"tstd.underflow", kE, "every access unit has arrived by its decode time"},
};

}  // namespace

const char* SeverityText(Severity s) {
  switch (s) {
    case Severity::kNote:
      return "note";
    case Severity::kWarning:
      return "warning";
    case Severity::kError:
      return "error";
  }
  return "?";
}

const std::vector<SCheckRule>& CheckRules() { return kRules; }

const SCheckRule* FindCheckRule(std::string_view id) {
  for (const auto& r : kRules)
    if (id == r.id) return &r;
  return nullptr;
}

std::string FindingText(const SFinding& f) {
  std::string where = f.file;
  if (!f.position.empty()) where += " (" + f.position + ")";
  return std::string(SeverityText(f.severity)) + ": " + where + " [" + f.rule + "] " + f.message;
}

size_t SCheckReport::Count(Severity s) const {
  return static_cast<size_t>(std::count_if(findings.begin(), findings.end(), [s](const SFinding& f) { return f.severity == s; }));
}

int SCheckReport::ExitStatus() const {
  if (Count(Severity::kError)) return 2;
  if (Count(Severity::kWarning)) return 1;
  return 0;
}

namespace check {

void CFindings::Add(const char* id, const std::string& file, const std::string& position, const std::string& message) {
  const SCheckRule* rule = FindCheckRule(id);
  if (!rule) throw std::logic_error(std::string("check rule not in the table: ") + id);
  Severity s = rule->severity;
  if (strict_ && s == Severity::kWarning) s = Severity::kError;
  report_.findings.push_back(SFinding{rule->id, s, file, position, message});
}

}  // namespace check

namespace {

// A private folder in the temporary folder, removed with everything in it
// when it goes.
class CScratchFolder {
 public:
  CScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelvane-check-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~CScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  CScratchFolder(const CScratchFolder&) = delete;
  CScratchFolder& operator=(const CScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int CheckDisc(const std::string& disc, const SCheckOptions& options, SCheckReport& report, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_regular_file(disc, ec)) {
    // An image: its files are copied out into a scratch folder, which goes
    // when the check ends.
    CScratchFolder scratch;
    if (scratch.Path().empty()) {
      error = "Cannot create a temporary folder in \"" + fs::temp_directory_path(ec).string() + "\"";
      return kFailed;
    }
    if (!options.progress.Item("reading " + disc)) return kCancelled;
    std::string why;
    const int r = udf::ExtractImage(disc, scratch.Path(), options.progress, why);
    if (r == kCancelled) return kCancelled;
    if (r != kOk) {
      check::CFindings(report, options.strict).Add("files.image", fs::path(disc).filename().string(), "", why);
      return kOk;
    }
    return CheckDisc(scratch.Path(), options, report, error);
  }
  fs::path root(disc);
  if (!fs::is_directory(root, ec)) {
    // A path that is not there is told apart from one that is something else.
    const bool absent = fs::status(root, ec).type() == fs::file_type::not_found;
    error = "\"" + disc + (absent ? "\": no such file or folder" : "\": not a folder");
    return kFailed;
  }
  // BDMV itself given: its parent is the disc.
  if (root.filename() == "BDMV" || (root.filename().empty() && root.parent_path().filename() == "BDMV"))
    root = fs::path(disc).filename().empty() ? root.parent_path().parent_path() : root.parent_path();
  if (root.empty()) root = ".";
  check::SDisc d;
  d.root = root.string();
  check::CFindings out(report, options.strict);
  check::CheckFiles(d, out);
  check::CheckMenus(d, out);
  check::CheckTextSubtitles(d, out);
  check::CheckNavigation(d, out);
  if (!options.clips) return kOk;
  return check::CheckClips(d, options.progress, options.threads, out);
}

}  // namespace zv
