// Menus as interactive-graphics streams: `menu compile` (the compilation
// log without building the disc), `menu export` (an IES file, optionally
// with its ".mui" index) and `menu import-stream` (a menu rebuilt from an
// IES or headed IG stream).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/menu_compile.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "graphics/ig_compiler.h"
#include "model/menu.h"
#include "model/object_path.h"
#include "model/menu_import.h"
#include "model/menu_render.h"
#include "model/project.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

const CommandInfo& Self(const char* name) { return *Registry::Get().Find(name); }

int FailIn(const CommandInfo& self, const std::string& message) {
  std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  return kExitFailed;
}

// Collects the compilation log and prints it as it comes.
struct SLogPrinter {
  FILE* out = stdout;
  bool onlyProblems = false;
  int warnings = 0;
  int errors = 0;
  zv::Progress Progress() {
    return zv::Progress{[](void* ctx, const zv::SProgressInfo* info) {
                          auto* self = static_cast<SLogPrinter*>(ctx);
                          if (info->kind != zv::kProgressItem) return 1;
                          const bool warning = info->item.find(" Warning:") != std::string::npos;
                          const bool error = info->item.find(" Error:") != std::string::npos;
                          self->warnings += warning;
                          self->errors += error;
                          if (!self->onlyProblems || warning || error) std::fprintf(self->out, "%s\n", info->item.c_str());
                          return 1;
                        },
                        this};
  }
};

zv::CZvIgObject* FindMenu(const CommandInfo& self, zv::CZvObject& project, const std::string& name, int& rc) {
  std::string err;
  zv::CNamedObject* obj = zv::FindObject(project, name, err);
  if (!obj) {
    rc = FailIn(self, err);
    return nullptr;
  }
  auto* menu = dynamic_cast<zv::CZvIgObject*>(obj);
  if (!menu) rc = FailIn(self, "\"" + name + "\" is not a menu");
  return menu;
}

// A menu is drawn over its film's video: without a video format of its own
// it takes the one of the film's primary video track.
bool EnsureVideoFormat(const CommandInfo& self, zv::CZvIgObject& menu, const std::string& name) {
  std::string error;
  if (zv::EnsureMenuVideoFormat(menu, name, error)) return true;
  FailIn(self, error);
  return false;
}

}  // namespace

zv::CZvIgObject* MenuToCompile(const CommandInfo& self, const Args& args, zv::CZvObject& project, const char* what,
                               int& rc) {
  TerminalPrompt prompt(false);
  rc = kExitFailed;
  if (!LoadProjectFor(self.name, args[0], project, prompt, false)) return nullptr;
  zv::CZvIgObject* menu = FindMenu(self, project, args[1], rc);
  if (!menu) return nullptr;
  rc = kExitFailed;
  if (menu->IsEmpty()) {
    FailIn(self, "\"" + args[1] + "\" has no page with a button group to " + what);
    return nullptr;
  }
  return EnsureVideoFormat(self, *menu, args[1]) ? menu : nullptr;
}

namespace {

int RunMenuCompile(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("menu compile");
  if (int rc = CheckOptions(self, argv, {})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 2) return UsageError(self, args.Count() < 2 ? "missing arguments" : "too many arguments");
  zv::CZvObject project;
  int rc = kExitFailed;
  zv::CZvIgObject* menu = MenuToCompile(self, args, project, "compile", rc);
  if (!menu) return rc;
  zv::File sink;
  if (!sink.Open("/dev/null", zv::File::kReadWrite)) return FailIn(self, sink.Error());
  SLogPrinter log;
  std::string error;
  const bool ok = menu->WriteStream(sink, nullptr, false, log.Progress(), true, error);
  if (!error.empty()) return FailIn(self, error);
  std::printf("%s: %s, %d warning%s\n", args[1].c_str(), ok ? "compiled" : "stopped by an error", log.warnings,
              log.warnings == 1 ? "" : "s");
  return ok ? kExitOk : kExitFailed;
}

int RunMenuExport(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("menu export");
  if (int rc = CheckOptions(self, argv, {"--index"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 3) return UsageError(self, args.Count() < 3 ? "missing arguments" : "too many arguments");
  zv::CZvObject project;
  int rc = kExitFailed;
  zv::CZvIgObject* menu = MenuToCompile(self, args, project, "export", rc);
  if (!menu) return rc;
  SLogPrinter log;
  log.out = stderr;
  log.onlyProblems = true;
  const bool index = args.Has("--index");
  if (!menu->ExportStream(args[2], index, err, log.Progress())) return FailIn(self, err);
  std::printf("%s\n", args[2].c_str());
  if (index) std::printf("%s.mui\n", args[2].c_str());
  return kExitOk;
}

int RunMenuImportStream(const std::vector<std::string>& argv) {
  const CommandInfo& self = Self("menu import-stream");
  if (int rc = CheckOptions(self, argv, {})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 3) return UsageError(self, args.Count() < 3 ? "missing arguments" : "too many arguments");
  zv::CFileLock lock;
  zv::CZvObject project;
  TerminalPrompt prompt(false);
  if (!LoadProjectFor(self.name, args[0], project, prompt, true, &lock)) return kExitFailed;
  int rc = kExitFailed;
  zv::CZvIgObject* menu = FindMenu(self, project, args[1], rc);
  if (!menu) return rc;
  const std::string path = zv::AbsolutePath(args[2]);
  // The graphics live in the stream: the project keeps its path and reads
  // them from there when it is opened.
  if (!zv::ImportIesIntoMenu(*menu, path, err)) return FailIn(self, err);
  std::string message;
  if (zv::SaveProjectFile(args[0], project, message) != zv::kOk) return FailIn(self, message);
  size_t sets = 0, pages = 0, buttons = 0, graphics = 0;
  for (size_t e = 0; e < menu->GetCount(); ++e) {
    const zv::CEpoch& epoch = *menu->GetAt(e);
    graphics += epoch.m_graphics.TotalCount();
    for (size_t d = 0; d < epoch.GetCount(); ++d) {
      ++sets;
      pages += epoch.GetAt(d)->GetCount();
      for (size_t p = 0; p < epoch.GetAt(d)->GetCount(); ++p) buttons += epoch.GetAt(d)->GetAt(p)->Buttons().size();
    }
  }
  std::printf("%s: %zu epoch%s, %zu display set%s, %zu page%s, %zu button%s, %zu graphic%s (%s)\n", args[1].c_str(),
              menu->GetCount(), menu->GetCount() == 1 ? "" : "s", sets, sets == 1 ? "" : "s", pages,
              pages == 1 ? "" : "s", buttons, buttons == 1 ? "" : "s", graphics, graphics == 1 ? "" : "s",
              zv::VideoDescriptorText(menu->m_video).c_str());
  return kExitOk;
}

ZV_COMMAND("menu compile", "compile a menu into its interactive-graphics stream and print the log",
           "zelvane menu compile P.zvpj MENU\n"
           "  Prints every line of the compilation log (warnings and errors included) without building\n"
           "  the disc; exits with 2 when an error stops the compilation.",
           "zelvane menu compile disc.zvpj Movie#1/IG#1", RunMenuCompile);
ZV_COMMAND("menu export", "write a menu as an IES file (a raw interactive-graphics stream)",
           "zelvane menu export P.zvpj MENU FILE.ies [--index]\n"
           "  --index  also write the segment index FILE.ies.mui",
           "zelvane menu export disc.zvpj Movie#1/IG#1 menu.ies --index", RunMenuExport);
ZV_COMMAND("menu import-stream", "replace a menu by the one an IES file or a headed IG stream holds",
           "zelvane menu import-stream P.zvpj MENU FILE\n"
           "  FILE  an IES file (raw segments) or an IG stream with \"IG\" headers; the project keeps its path\n"
           "        and reads the menu's pictures from it",
           "zelvane menu import-stream disc.zvpj Movie#1/IG#1 menu.ies", RunMenuImportStream);

}  // namespace

}  // namespace zvapp
