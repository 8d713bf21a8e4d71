// `zelvane check DISC`: the verifier's findings as text or JSON.
#include <cstdio>

#include "app/command.h"
#include "app/json.h"
#include "app/terminal.h"
#include "verify/check.h"

namespace zvapp {

static int RunCheck(const std::vector<std::string>& argv);

ZV_COMMAND("check", "verify a disc folder against the format's rules",
           "zelvane check DISC [--json] [--strict] [--rules]\n"
           "  DISC      a disc folder (the one holding BDMV), its BDMV folder, or a UDF image file\n"
           "  --json    print the findings as a JSON document\n"
           "  --strict  count warnings as errors\n"
           "  --rules   list every rule with its id and one line, and check nothing\n"
           "  exit status: 0 clean (notes at most), 1 warnings only, 2 errors or DISC unreadable,\n"
           "               3 cancelled (no report), 64 usage error",
           "zelvane check ~/discs/Zelvane/DISC", RunCheck);

namespace {

// A cancelled check has no report; its status must not read as "warnings
// only", which is the usual cancel status.
constexpr int kExitCheckCancelled = 3;

void PrintRules(bool asJson) {
  if (asJson) {
    Json j;
    j.BeginArray();
    for (const auto& r : zv::CheckRules())
      j.BeginObject().Key("id").Str(r.id).Key("severity").Str(zv::SeverityText(r.severity)).Key("text").Str(r.text).EndObject();
    j.EndArray();
    std::printf("%s\n", j.Text().c_str());
    return;
  }
  for (const auto& r : zv::CheckRules()) std::printf("%-22s %-8s %s\n", r.id, zv::SeverityText(r.severity), r.text);
}

void PrintReport(const std::string& disc, const zv::SCheckReport& report, bool asJson) {
  const size_t e = report.Count(zv::Severity::kError), w = report.Count(zv::Severity::kWarning),
               n = report.Count(zv::Severity::kNote);
  if (asJson) {
    Json j;
    j.BeginObject().Key("disc").Str(disc).Key("findings").BeginArray();
    for (const auto& f : report.findings)
      j.BeginObject()
          .Key("rule").Str(f.rule)
          .Key("severity").Str(zv::SeverityText(f.severity))
          .Key("file").Str(f.file)
          .Key("position").Str(f.position)
          .Key("message").Str(f.message)
          .EndObject();
    j.EndArray();
    j.Key("errors").Int(static_cast<int64_t>(e)).Key("warnings").Int(static_cast<int64_t>(w));
    j.Key("notes").Int(static_cast<int64_t>(n)).EndObject();
    std::printf("%s\n", j.Text().c_str());
    return;
  }
  for (const auto& f : report.findings) std::printf("%s\n", zv::FindingText(f).c_str());
  std::printf("%s: %zu error%s, %zu warning%s, %zu note%s\n", disc.c_str(), e, e == 1 ? "" : "s", w, w == 1 ? "" : "s", n,
              n == 1 ? "" : "s");
}

}  // namespace

static int RunCheck(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("check");
  if (int rc = CheckOptions(self, argv, {"--json", "--strict", "--rules"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  const bool asJson = args.Has("--json");
  if (args.Has("--rules")) {
    if (args.Count() != 0) return UsageError(self, "--rules takes no DISC");
    PrintRules(asJson);
    return kExitOk;
  }
  if (args.Count() != 1) return UsageError(self, "expected one DISC");

  TerminalPrompt prompt(true);
  // Ctrl-C asks, a signal stops at the next block like a confirmed cancel.
  TerminationGuard termination;
  zv::SCheckReport report;
  int r;
  {
    ProgressDisplay display(prompt, false, "Really want to stop the check? ");
    zv::SCheckOptions options;
    options.strict = args.Has("--strict");
    options.progress = display.Callback();
    r = zv::CheckDisc(args[0], options, report, err);
  }
  if (r == zv::kFailed) return Fail(err);
  if (r == zv::kCancelled) {
    std::fprintf(stderr, "zelvane check: cancelled\n");
    return kExitCheckCancelled;
  }
  PrintReport(args[0], report, asJson);
  return report.ExitStatus();
}

}  // namespace zvapp
