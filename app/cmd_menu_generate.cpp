// `zelvane menu generate`: menus made from the project's titles, chapters
// and tracks with a template's look.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/project_load.h"
#include "app/template_folders.h"
#include "app/terminal.h"
#include "app/terminal_source_display.h"
#include "edit/generated_pictures.h"
#include "edit/menu_generate.h"
#include "edit/menu_template.h"
#include "model/project.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

namespace fs = std::filesystem;

int RunMenuGenerate(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("menu generate");
  if (int rc = CheckOptions(self, argv, {"--template", "--pages", "--background", "--no-popups", "--no-thumbnails", "--times", "--yes"}))
    return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--template", "--pages", "--background"}, err)) return UsageError(self, err);
  if (args.Count() != 2) return UsageError(self, args.Count() < 2 ? "missing arguments" : "too many arguments");
  zvedit::SGenerateOptions options;
  options.templateFolders = ProgramTemplateFolders();
  options.templateName = args.Value("--template", options.templateName);
  if (!args.Values("--pages").empty() && !zvedit::ParseMenuPages(args.Value("--pages"), options, err)) return UsageError(self, err);
  if (!args.Values("--background").empty()) options.background = zv::AbsolutePath(args.Value("--background"));
  options.popups = !args.Has("--no-popups");
  options.thumbnails = !args.Has("--no-thumbnails");
  const fs::path projectPath = zv::AbsolutePath(args[0]);
  options.pictureFolder = (projectPath.parent_path() / (projectPath.stem().string() + "-menus")).string();

  const bool yes = args.Has("--yes");
  TerminalPrompt prompt(yes);
  const auto started = std::chrono::steady_clock::now();
  auto since = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  };
  zv::CFileLock lock;
  zv::CZvObject project;
  options.topMenu = LoadMenuFor(self.name, args[0], args[1], project, prompt, lock,
                                "is not a menu of the top menu (for example \"Top Menu/IG#1\")", true);
  if (!options.topMenu) return kExitFailed;
  const double loading = since(started);

  ProgressDisplay display(prompt, yes, "Really want to stop making the menus? ");
  // The summary below is the command's listing on stdout.
  TerminalSourceDisplay shown(self, display, false);
  zvedit::SGenerateReport report;
  const int rc = zvedit::GenerateMenus(project, options, shown, prompt, report, err);
  display.Finish();
  if (rc == zv::kCancelled) return kExitCancelled;
  if (rc != zv::kOk) {
    // The project file is not written: its menus stay as they were.
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, err.c_str());
    return kExitFailed;
  }
  const auto saveStart = std::chrono::steady_clock::now();
  if (zv::SaveProjectFile(args[0], project, err) != zv::kOk) {
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, err.c_str());
    return kExitFailed;
  }
  // Pictures an earlier run made that no menu uses now go; the project
  // that used them is saved over already.
  if (!zvedit::RemoveStalePictures(project, options.pictureFolder, report.pictures, err))
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, err.c_str());
  if (args.Has("--times")) {
    std::printf("time: loading the project %.2f s\n", loading);
    for (const auto& [step, seconds] : report.times) std::printf("time: %s %.2f s\n", step.c_str(), seconds);
    std::printf("time: saving the project %.2f s\ntime: total %.2f s\n", since(saveStart), since(started));
  }
  for (const std::string& note : report.notes) std::fprintf(stderr, "zelvane %s: %s\n", self.name, note.c_str());
  std::printf("%d menu%s, %d pages, %d buttons; pictures in %s\n", report.menus, report.menus == 1 ? "" : "s",
              report.pages, report.buttons, options.pictureFolder.c_str());
  if (report.backgroundAdded) std::printf("background: %s\n", report.backgroundPicture.c_str());
  return kExitOk;
}

ZV_COMMAND("menu generate", "make a top menu and pop-up menus from the project's titles, chapters and tracks",
           "zelvane menu generate P.zvpj MENU [--template NAME] [--pages titles,chapters,audio,subtitles]\n"
           "                     [--background FILE] [--no-popups] [--no-thumbnails] [--times]\n"
           "  MENU            the top menu to fill, e.g. \"Top Menu/IG#1\"; each movie's pop-up menu is\n"
           "                  made too (unless --no-popups) with that movie's chapters, audio and subtitles\n"
           "  --template      the look: classic (default), modern, cinema, or any NAME.ini in a templates folder\n"
           "  --pages         the pages to make (default: all); title buttons are always on the first page\n"
           "  --background    a picture under the top menu; default: the first movie's picture, blurred\n"
           "                  and darkened; it becomes the top menu's background clip when it has none\n"
           "  --times         print how long each step took\n"
           "  The pictures go to the folder P-menus beside the project; the menus replace what MENU and\n"
           "  the pop-up menus held, and stay ordinary menus to edit.\n"
           "exit status: 0 made, 1 cancelled, 2 refused (the project is unchanged), 64 usage error",
           "zelvane menu generate disc.zvpj \"Top Menu/IG#1\" --template modern", RunMenuGenerate);

}  // namespace

}  // namespace zvapp
