// `zelvane build P.zvpj OUTFOLDER [--yes]`: the Build command. The progress
// window of the build is the terminal's progress display, open while the
// films and the navigation files are built; Ctrl-C asks before it cancels.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/command.h"
#include "app/terminal.h"
#include "model/build.h"
#include "model/project.h"
#include "platform/paths.h"
#include "platform/settings.h"

namespace zvapp {

namespace {

int RunBuild(const std::vector<std::string>& argv);

ZV_COMMAND("build", "build the project into a Blu-ray disc folder OUTFOLDER/Zelvane/DISC",
           "zelvane build P.zvpj OUTFOLDER [--yes]\n"
           "  OUTFOLDER  the disc goes to OUTFOLDER/Zelvane/DISC (BDMV and CERTIFICATE), with an empty\n"
           "             OUTFOLDER/Zelvane/TEMP; the folder is remembered as OutFolder\n"
           "  --yes      overwrite an existing OUTFOLDER/Zelvane without asking; Ctrl-C cancels at once\n"
           "exit status: 0 built, 1 cancelled, 2 failed",
           "zelvane build disc.zvpj ~/discs --yes", RunBuild);

int RunBuild(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("build");
  for (const auto& a : argv) {
    if (a == "--") break;
    if (a.size() > 1 && a[0] == '-' && a != "--yes") return UsageError(self, "unknown option " + a);
  }
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 2) return UsageError(self, "expected P.zvpj and OUTFOLDER");
  // An empty OUTFOLDER would silently mean the current folder.
  if (args[0].empty() || args[1].empty()) return UsageError(self, "P.zvpj and OUTFOLDER must not be empty");
  const bool yes = args.Has("--yes");
  const std::string projectPath = args[0];

  TerminalPrompt prompt(yes);
  zv::CZvObject project;
  bool modified = false;
  std::string message;
  if (zv::OpenProjectFile(projectPath, project, prompt, zv::Progress{}, modified, message) != zv::kOk)
    return Fail("zelvane build: cannot load \"" + projectPath + "\": " + message);
  // A disc without the tracks of a lost file is not the disc the project
  // describes.
  if (modified)
    return Fail("zelvane build: \"" + projectPath + "\" was not built: what it refers to could not all be opened "
                "again (see above)");

  zv::Settings settings;
  settings.Load();
  // Killed politely, the build stops and cleans up like a cancel: the
  // previous disc stays as it was.
  TerminationGuard termination;
  if (!settings.Warning().empty()) std::fprintf(stderr, "zelvane build: %s\n", settings.Warning().c_str());
  TerminalTaskDialog dialog(prompt, yes);
  switch (zv::BuildProject(project, zv::AbsolutePath(zv::NormalizeSeparators(args[1])), prompt, dialog, &settings)) {
    case zv::kOk: {
      std::string done = zv::kMsgBuiltOk;
      done.replace(done.find("%s"), 2, zv::FileNameOf(projectPath));
      std::printf("%s\n", done.c_str());
      return kExitOk;
    }
    case zv::kCancelled:
      if (TerminationGuard::Requested())
        std::fprintf(stderr, "zelvane build: stopped by a signal; the previous disc was left as it was\n");
      return kExitCancelled;
    default: return kExitFailed;
  }
}

}  // namespace

}  // namespace zvapp
