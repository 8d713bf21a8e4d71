// `zelvane build P.zvpj OUTFOLDER [--yes]`: the Build command. The progress
// window of the build is the terminal's progress display, open while the
// films and the navigation files are built; Ctrl-C asks before it cancels.
// With --image the built disc is also written as a UDF image.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/command.h"
#include "app/image_options.h"
#include "app/terminal.h"
#include "model/build.h"
#include "model/project.h"
#include "platform/paths.h"
#include "platform/settings.h"

namespace zvapp {

namespace {

int RunBuild(const std::vector<std::string>& argv);

ZV_COMMAND("build", "build the project into a Blu-ray disc folder OUTFOLDER/Zelvane/DISC",
           "zelvane build P.zvpj OUTFOLDER [--yes] [--image OUT.iso [--image-only] [--label TEXT] [--time T]\n"
           "              [--capacity C]]\n"
           "  OUTFOLDER     the disc goes to OUTFOLDER/Zelvane/DISC (BDMV and CERTIFICATE), with an empty\n"
           "                OUTFOLDER/Zelvane/TEMP; the folder is remembered as OutFolder\n"
           "  --yes         overwrite an existing OUTFOLDER/Zelvane and OUT.iso without asking; Ctrl-C cancels\n"
           "                at once\n"
           "  --image       also write the disc as a UDF 2.50 image to burn\n"
           "  --image-only  remove the DISC folder once the image is written\n"
           "  --label       volume label (default: the project file's name, cut to 30 characters)\n"
           "  --time        time stamp of every entry of the image, SECONDS since 1970 or\n"
           "                YYYY-MM-DDTHH:MM:SSZ; default: SOURCE_DATE_EPOCH when set, else the build's start\n"
           "  --capacity    BD-25, BD-50, BD-100 or bytes: warn when the image exceeds it\n"
           "exit status: 0 built, 1 cancelled, 2 failed",
           "zelvane build disc.zvpj ~/discs --yes", RunBuild);

int RunBuild(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("build");
  if (int rc = CheckOptions(self, argv,
                             {"--yes", "--image", "--image-only", "--label", "--time", "--capacity"}))
    return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--image", kImageValued[0], kImageValued[1], kImageValued[2]}, err))
    return UsageError(self, err);
  if (args.Count() != 2) return UsageError(self, "expected P.zvpj and OUTFOLDER");
  // An empty OUTFOLDER would silently mean the current folder.
  if (args[0].empty() || args[1].empty()) return UsageError(self, "P.zvpj and OUTFOLDER must not be empty");
  const bool yes = args.Has("--yes");
  const std::string projectPath = args[0];
  // Every time stamp of the image is the build's own time.
  const int64_t buildTime = static_cast<int64_t>(std::time(nullptr));
  ImageRequest image;
  image.out = args.Value("--image");
  image.label = args.Value("--label");
  image.timeText = args.Value("--time");
  image.capacityText = args.Value("--capacity");
  image.yes = yes;
  image.labelSource = zv::FileNameOf(projectPath);
  if (image.labelSource.size() > 5 && image.labelSource.substr(image.labelSource.size() - 5) == ".zvpj")
    image.labelSource.resize(image.labelSource.size() - 5);
  if (const char* sde = std::getenv("SOURCE_DATE_EPOCH"); sde && image.timeText.empty()) image.timeText = sde;
  if (image.out.empty()) {
    for (const char* opt : {"--image-only", "--label", "--time", "--capacity"})
      if (args.Has(opt) || !args.Value(opt).empty()) return UsageError(self, std::string(opt) + " needs --image");
  } else {
    if (int rc = CheckImageRequest(self, image)) return rc;
    if (int rc = ConfirmImageTarget("build", image.out, yes)) return rc;
  }

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
      if (image.out.empty()) return kExitOk;
      const std::string disc = zv::OutputRoot(zv::AbsolutePath(zv::NormalizeSeparators(args[1]))) + "/DISC";
      image.folder = disc;
      const int rc = MakeImage("build", image, buildTime, false);
      if (rc != kExitOk || !args.Has("--image-only")) return rc;
      if (!zv::DeleteFolderTree(disc, true))
        return Fail("zelvane build: the image is written, but \"" + disc + "\" could not all be removed");
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
