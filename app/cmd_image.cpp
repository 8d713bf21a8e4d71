// `zelvane image DISC OUT.iso`: a UDF 2.50 image of any disc folder, ready
// to burn.
#include <string>
#include <vector>

#include "app/command.h"
#include "app/image_options.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

int RunImage(const std::vector<std::string>& argv);

ZV_COMMAND("image", "write a UDF 2.50 disc image (.iso) of a disc folder",
           "zelvane image DISC OUT.iso [--label TEXT] [--time T] [--capacity C] [--yes]\n"
           "  DISC        the disc folder, holding BDMV (and CERTIFICATE)\n"
           "  --label     volume label: up to 30 characters (15 beyond U+00FF); default: DISC's parent folder\n"
           "              name when DISC is called DISC, else DISC's name\n"
           "  --time      time stamp of every entry, SECONDS since 1970 or YYYY-MM-DDTHH:MM:SSZ; default: the\n"
           "              newest modification time in DISC, so the same folder gives the same image\n"
           "  --capacity  BD-25, BD-50, BD-100 or bytes: warn when the image exceeds it (default: warn past BD-25)\n"
           "  --yes       replace an existing OUT.iso without asking; Ctrl-C cancels without asking\n"
           "exit status: 0 written, 1 cancelled, 2 failed",
           "zelvane image ~/discs/Zelvane/DISC movie.iso --label MOVIE", RunImage);

int RunImage(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("image");
  if (int rc = CheckOptions(self, argv, {"--label", "--time", "--capacity", "--yes"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {kImageValued[0], kImageValued[1], kImageValued[2]}, err)) return UsageError(self, err);
  if (args.Count() != 2) return UsageError(self, "expected DISC and OUT.iso");
  if (args[0].empty() || args[1].empty()) return UsageError(self, "DISC and OUT.iso must not be empty");
  ImageRequest r;
  r.folder = zv::AbsolutePath(args[0]);
  r.out = args[1];
  r.label = args.Value("--label");
  r.timeText = args.Value("--time");
  r.capacityText = args.Value("--capacity");
  r.yes = args.Has("--yes");
  // A built disc sits in .../NAME/Zelvane/DISC: the folder above says more than "DISC".
  std::string name = zv::FileNameOf(r.folder);
  if (name == "DISC") {
    const std::string up = zv::FolderOf(r.folder);
    name = zv::FileNameOf(up) == "Zelvane" ? zv::FileNameOf(zv::FolderOf(up)) : zv::FileNameOf(up);
  }
  r.labelSource = name;
  if (int rc = CheckImageRequest(self, r)) return rc;
  if (int rc = ConfirmImageTarget("image", r.out, r.yes)) return rc;
  return MakeImage("image", r, 0, true);
}

}  // namespace

}  // namespace zvapp
