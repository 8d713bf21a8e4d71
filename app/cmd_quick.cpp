// `zelvane quick OUT FILE...`: from movie files to a built disc (and an
// image) in one command. OUT is a new folder holding the project
// (OUT/NAME.zvpj, NAME being OUT's own name) and the disc
// (OUT/Zelvane/DISC); a command that does not finish removes it.
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
#include "app/template_folders.h"
#include "app/terminal_source_display.h"
#include "edit/quick.h"
#include "model/build.h"
#include "model/project.h"
#include "platform/paths.h"
#include "platform/settings.h"

namespace zvapp {

namespace {

int RunQuick(const std::vector<std::string>& argv);

ZV_COMMAND("quick", "make a disc (and an image) from movie files in one command",
           "zelvane quick OUT FILE... [--subtitles A.srt,B.srt] [--image OUT.iso] [--template NAME] [--yes]\n"
           "  OUT          a new (or empty) folder: it gets the project OUT/NAME.zvpj (NAME is OUT's name) and\n"
           "               the disc OUT/Zelvane/DISC; when the command fails or is cancelled it is removed\n"
           "  FILE         movie files (.mkv .mp4 .mov .ts .m2ts ..., or elementary streams); each becomes a\n"
           "               movie with its own title. Video the disc cannot carry (codec, rate, size, profile)\n"
           "               is encoded and audio it cannot carry converted to AC-3, each said on the way; the\n"
           "               results are kept beside the file and reused; chapters come from the file, else\n"
           "               one every 5 minutes\n"
           "  --subtitles  text subtitles (.srt .vtt .ass .ssa), each going with the movie whose file name\n"
           "               starts its name (trip.mp4: trip_fra.srt), or with the only movie; the language\n"
           "               comes from a _eng, _fra, ... suffix\n"
           "  --image      also write the disc as a UDF 2.50 image to burn\n"
           "  --template   the look of the generated menus (as \"zelvane menu generate\": classic, modern,\n"
           "               cinema, or any NAME.ini in a templates folder); the top menu has a button per\n"
           "               title and pages for chapters, audio and subtitles, each movie a pop-up menu;\n"
           "               their pictures go to OUT/NAME-menus\n"
           "  --yes        replace an existing OUT.iso without asking; Ctrl-C cancels at once\n"
           "exit status: 0 made, 1 cancelled, 2 failed (OUT is removed)",
           "zelvane quick ~/discs/trip trip.mkv phone.mp4 --subtitles trip_fra.srt --image trip.iso", RunQuick);

// Removes OUT, or empties the folder that was there, unless kept.
class OutGuard {
 public:
  OutGuard(std::string folder, bool created) : folder_(std::move(folder)), created_(created) {}
  ~OutGuard() {
    if (!keep_ && !zv::DeleteFolderTree(folder_, created_))
      std::fprintf(stderr, "zelvane quick: \"%s\" could not all be removed; it is not a finished disc\n",
                   folder_.c_str());
  }
  OutGuard(const OutGuard&) = delete;
  OutGuard& operator=(const OutGuard&) = delete;
  void Keep() { keep_ = true; }

 private:
  std::string folder_;
  bool created_;
  bool keep_ = false;
};

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    if (comma > at) out.push_back(text.substr(at, comma - at));
    at = comma + 1;
  }
  return out;
}

int Failed(const std::string& message) { return Fail("zelvane quick: " + message); }

int RunQuick(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("quick");
  if (int rc = CheckOptions(self, argv, {"--subtitles", "--image", "--template", "--yes"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--subtitles", "--image", "--template"}, err)) return UsageError(self, err);
  if (args.Count() < 2) return UsageError(self, "expected OUT and at least one FILE");
  if (args[0].empty()) return UsageError(self, "OUT must not be empty");
  const bool yes = args.Has("--yes");

  zvedit::SQuickRequest request;
  request.movies.assign(args.Pos().begin() + 1, args.Pos().end());
  for (const std::string& list : args.Values("--subtitles"))
    for (const std::string& s : SplitList(list)) request.subtitles.push_back(s);
  request.menuTemplate = args.Value("--template");
  request.templateFolders = ProgramTemplateFolders();
  // Every file and the template are looked at before anything is made.
  if (!zvedit::CheckQuickFiles(request, err)) return Failed(err);
  if (!zvedit::CheckQuickTemplate(request, err)) return Failed(err);
  std::vector<std::vector<std::string>> perMovie;
  if (!zvedit::MatchSubtitles(request.movies, request.subtitles, perMovie, err)) return Failed(err);

  const std::string out = zv::AbsolutePath(zv::NormalizeSeparators(args[0]));
  std::error_code ec;
  bool created = false;
  if (std::filesystem::exists(out, ec)) {
    if (!std::filesystem::is_directory(out, ec) || !std::filesystem::is_empty(out, ec))
      return Failed("\"" + args[0] + "\" exists and is not an empty folder; name a new folder");
  } else if (!std::filesystem::create_directories(out, ec)) {
    return Failed("Cannot create \"" + args[0] + "\": " + ec.message());
  } else {
    created = true;
  }
  std::string name = zv::FileNameOf(out);
  if (name.empty()) name = "disc";
  request.pictureFolder = out + "/" + name + "-menus";

  ImageRequest image;
  image.out = args.Value("--image");
  image.yes = yes;
  image.labelSource = name;
  if (const char* sde = std::getenv("SOURCE_DATE_EPOCH")) image.timeText = sde;
  OutGuard guard(out, created);
  if (!image.out.empty()) {
    if (int rc = CheckImageRequest(self, image)) return rc;
    if (int rc = ConfirmImageTarget("quick", image.out, yes)) return rc;
  }
  const int64_t startTime = static_cast<int64_t>(std::time(nullptr));

  TerminalPrompt prompt(yes);
  zv::CZvObject project;
  {
    ProgressDisplay display(prompt, yes, "Really want to stop making the disc? ");
    display.SetThroughput(ProgressDisplay::Throughput::kItemIsInput);
    TerminalSourceDisplay shown(self, display);
    const int made = zvedit::MakeQuickProject(project, request, shown, prompt);
    if (made == zv::kCancelled) return kExitCancelled;
    if (made != zv::kOk) return kExitFailed;
  }
  const std::string projectPath = out + "/" + name + ".zvpj";
  std::string message;
  if (zv::SaveProjectFile(projectPath, project, message) != zv::kOk) return Failed(message);

  zv::Settings settings;
  settings.Load();
  if (!settings.Warning().empty()) std::fprintf(stderr, "zelvane quick: %s\n", settings.Warning().c_str());
  TerminalTaskDialog dialog(prompt, yes);
  const int built = zv::BuildProject(project, out, prompt, dialog, &settings);
  if (built == zv::kCancelled) return kExitCancelled;
  if (built != zv::kOk) return kExitFailed;
  const std::string disc = zv::OutputRoot(out) + "/DISC";
  if (!image.out.empty()) {
    image.folder = disc;
    if (int rc = MakeImage("quick", image, startTime, false)) return rc;
  }
  guard.Keep();
  std::printf("project: %s\ndisc:    %s\n", projectPath.c_str(), disc.c_str());
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
