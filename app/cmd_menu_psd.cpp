// `zelvane menu import-psd`: a layered design becomes the model of a menu.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "model/menu.h"
#include "model/menu_import.h"
#include "model/project.h"
#include "platform/file_lock.h"

namespace zvapp {

namespace {

int RunMenuImportPsd(const std::vector<std::string>& argv);

ZV_COMMAND("menu import-psd", "build a menu from a layered design (PSD)",
           "zelvane menu import-psd P.zvpj MENU FILE.psd [--force] [--yes]\n"
           "  MENU     a menu, e.g. \"Movie#1/IG#1\"; its pages, buttons and graphics are replaced\n"
           "  FILE.psd groups IG:, DS:, P:, BOG: and B: with state layers N:, S: and A: (see the README)\n"
           "  --force  convert the design again even when its converted stream is newer\n"
           "  --yes    Ctrl-C cancels at once\n"
           "exit status: 0 imported, 1 cancelled, 2 the design was refused (the project is unchanged)",
           "zelvane menu import-psd disc.zvpj Movie#1/IG#1 menu.psd", RunMenuImportPsd);

int Failed(const CommandInfo& self, const std::string& message) {
  std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  return kExitFailed;
}

int RunMenuImportPsd(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("menu import-psd");
  if (int rc = CheckOptions(self, argv, {"--force", "--yes"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 3) return UsageError(self, args.Count() < 3 ? "missing arguments" : "too many arguments");
  const bool yes = args.Has("--yes");
  TerminalPrompt prompt(yes);
  zv::CFileLock lock;
  zv::CZvObject project;
  zv::CZvIgObject* menu = LoadMenuFor(self.name, args[0], args[1], project, prompt, lock,
                                      "is not a menu (for example \"Movie#1/IG#1\")");
  if (!menu) return kExitFailed;

  std::error_code ec;
  const std::string psdPath = std::filesystem::absolute(args[2], ec).lexically_normal().string();
  if (std::filesystem::is_directory(psdPath, ec)) return Failed(self, "\"" + args[2] + "\" is a folder, not a design");

  // The design is kept converted beside it as an IES file, reused while it
  // is newer than the design (--force converts again).
  std::string message, warning;
  int rc = zv::kOk;
  {
    ProgressDisplay display(prompt, yes, "Really want to stop the import? ");
    rc = zv::ImportPsdIntoMenu(*menu, psdPath, args.Has("--force"), display.Callback(), message, warning);
    display.Finish();
  }
  if (!warning.empty()) std::fprintf(stderr, "zelvane %s: %s\n", self.name, warning.c_str());
  if (rc == zv::kCancelled) return kExitCancelled;
  if (rc != zv::kOk) return Failed(self, message);

  size_t pages = 0, buttons = 0;
  for (size_t e = 0; e < menu->GetCount(); ++e)
    for (size_t d = 0; d < menu->GetAt(e)->GetCount(); ++d) {
      const zv::CDisplaySet& ds = *menu->GetAt(e)->GetAt(d);
      pages += ds.GetCount();
      for (size_t p = 0; p < ds.GetCount(); ++p) buttons += ds.GetAt(p)->Buttons().size();
    }
  if (zv::SaveProjectFile(args[0], project, message) != zv::kOk) return Failed(self, message);
  std::printf("%s: %zu pages, %zu buttons from %s\n", args[1].c_str(), pages, buttons, args[2].c_str());
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
