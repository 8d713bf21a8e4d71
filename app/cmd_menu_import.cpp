// `zelvane menu import-ies` and `zelvane menu import`: a design from an IES
// file or from a menu description file replaces a menu's model.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "model/menu_import.h"
#include "model/project.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

int RunImport(const char* name, const std::vector<std::string>& argv, bool description) {
  const CommandInfo& self = *Registry::Get().Find(name);
  if (int rc = CheckOptions(self, argv, {})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 3) return UsageError(self, args.Count() < 3 ? "missing arguments" : "too many arguments");
  TerminalPrompt prompt(false);
  zv::CFileLock lock;
  zv::CZvObject project;
  zv::CZvIgObject* menu = LoadMenuFor(self.name, args[0], args[1], project, prompt, lock, "is not a menu");
  if (!menu) return kExitFailed;
  // The menu keeps the stream's path (its pictures are read from there
  // when the project opens), so it is stored whole.
  const std::string path = zv::AbsolutePath(args[2]);
  const bool ok = description ? zv::ImportMenuDescription(*menu, path, err) : zv::ImportIesIntoMenu(*menu, path, err);
  if (!ok) {
    // The project file is not written: the menu stays as it was.
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, err.c_str());
    return kExitFailed;
  }
  if (zv::SaveProjectFile(args[0], project, err) != zv::kOk) {
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, err.c_str());
    return kExitFailed;
  }
  size_t pages = 0, buttons = 0;
  for (size_t e = 0; e < menu->GetCount(); ++e)
    for (size_t d = 0; d < menu->GetAt(e)->GetCount(); ++d)
      for (size_t p = 0; p < menu->GetAt(e)->GetAt(d)->GetCount(); ++p) {
        ++pages;
        buttons += menu->GetAt(e)->GetAt(d)->GetAt(p)->Buttons().size();
      }
  std::printf("%s%s%s: %zu page%s, %zu button%s\n", description ? zv::kMsgImportOk : "", description ? "\n" : "",
              args[1].c_str(), pages, pages == 1 ? "" : "s", buttons, buttons == 1 ? "" : "s");
  return kExitOk;
}

int RunImportIes(const std::vector<std::string>& argv) { return RunImport("menu import-ies", argv, false); }
int RunImportDescription(const std::vector<std::string>& argv) { return RunImport("menu import", argv, true); }

ZV_COMMAND("menu import-ies", "replace a menu by the design an IES file holds",
           "zelvane menu import-ies P.zvpj MENU FILE.ies\n"
           "  FILE  an IES file (a raw interactive-graphics stream, as `menu export` writes it) or a headed IG\n"
           "        stream; parts without a visible button are left out, the menu keeps its pop-up, time-out\n"
           "        and stream settings, and a BOG with a button named after a button type (\"Title\",\n"
           "        \"Page\"...) gets that type\n"
           "exit status: 0 imported, 2 the file was refused (the project is unchanged), 64 usage error",
           "zelvane menu import-ies disc.zvpj \"Top Menu/IG#1\" design.ies", RunImportIes);
ZV_COMMAND("menu import", "replace a menu by the one a menu description file places on its pages",
           "zelvane menu import P.zvpj MENU FILE.xml\n"
           "  FILE  a menu description (see the README, \"Menus from pictures\"): pages of button overlap groups\n"
           "        and buttons, each with its normal, selected and activated pictures at a position, and\n"
           "        optionally its button type; picture paths are relative to the file\n"
           "exit status: 0 imported, 2 the file was refused (the project is unchanged), 64 usage error",
           "zelvane menu import disc.zvpj \"Top Menu/IG#1\" menu.xml", RunImportDescription);

}  // namespace

}  // namespace zvapp
