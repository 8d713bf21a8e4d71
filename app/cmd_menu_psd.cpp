// `zelvane menu import-psd`: a layered design becomes the model of a menu.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "graphics/psd_file.h"
#include "graphics/psd_import.h"
#include "model/menu.h"
#include "model/menu_import.h"
#include "model/object_path.h"
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

// Reads the design and builds a fresh model from it: kOk, kCancelled, or
// kFailed with `message` set.
int ConvertDesign(const std::string& path, zv::CIgObject& ig, const zv::Progress& progress, std::string& message) {
  zv::CPsdFile psd;
  std::string fileError, detail;
  if (zv::ParsePsdFile(path, psd, fileError, &detail) != zv::kOk) {
    if (!fileError.empty()) message = fileError;
    else message = path + ":\n" + zv::PsdImportMessage(zv::kPsdWrongFile) + "\n(" + detail + ")";
    return zv::kFailed;
  }
  const int rc = zv::BuildMenuFromPsd(ig, psd, progress);
  if (rc == zv::kPsdImportCancelled) return zv::kCancelled;
  if (rc != zv::kPsdImportOk) {
    message = zv::PsdImportMessage(rc);
    return zv::kFailed;
  }
  return zv::kOk;
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
  if (!LoadProjectFor(self.name, args[0], project, prompt, true, &lock)) return kExitFailed;
  zv::CNamedObject* obj = zv::FindObject(project, args[1], err);
  if (!obj) return Failed(self, err);
  auto* menu = dynamic_cast<zv::CZvIgObject*>(obj);
  if (!menu) return Failed(self, "\"" + args[1] + "\" is not a menu (for example \"Movie#1/IG#1\")");

  std::error_code ec;
  const std::string psdPath = std::filesystem::absolute(args[2], ec).lexically_normal().string();
  if (std::filesystem::is_directory(psdPath, ec)) return Failed(self, "\"" + args[2] + "\" is a folder, not a design");

  // The design is kept converted beside it as an IES file, and that stream
  // is what the menu imports; while the stream is newer than the design the
  // conversion is skipped (--force converts again).
  const std::string stream = zv::ConvertedStreamPath(psdPath);
  zv::CIgObject built;
  if (args.Has("--force") || !zv::ConvertedStreamIsCurrent(psdPath, stream)) {
    ProgressDisplay display(prompt, yes, "Really want to stop the import? ");
    std::string message;
    const int rc = ConvertDesign(psdPath, built, display.Callback(), message);
    if (rc == zv::kCancelled) {
      display.Finish();
      return kExitCancelled;
    }
    if (rc != zv::kOk) {
      display.Finish();
      return Failed(self, message);
    }
    built.m_video.frameRateCode = menu->m_video.frameRateCode != 0 ? menu->m_video.frameRateCode : 1;
    const bool written = built.ExportStream(stream, false, message, display.Callback());
    display.Finish();
    if (!written) return Failed(self, message.empty() ? "the design cannot be compiled into \"" + stream + "\"" : message);
    if (!zv::WriteConversionSideFile(stream, message)) std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  }
  // A design converted just now is the stream's model (the export numbered
  // its graphics as the stream does) and keeps the design's names; from
  // the stream alone the names are gone.
  if (built.GetCount() > 0) zv::AdoptDesign(*menu, built, stream);
  else if (!zv::ImportIesIntoMenu(*menu, stream, err)) return Failed(self, err);

  size_t pages = 0, buttons = 0;
  for (size_t e = 0; e < menu->GetCount(); ++e)
    for (size_t d = 0; d < menu->GetAt(e)->GetCount(); ++d) {
      const zv::CDisplaySet& ds = *menu->GetAt(e)->GetAt(d);
      pages += ds.GetCount();
      for (size_t p = 0; p < ds.GetCount(); ++p) buttons += ds.GetAt(p)->Buttons().size();
    }
  std::string message;
  if (zv::SaveProjectFile(args[0], project, message) != zv::kOk) return Failed(self, message);
  std::printf("%s: %zu pages, %zu buttons from %s\n", args[1].c_str(), pages, buttons, args[2].c_str());
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
