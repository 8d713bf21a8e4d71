#include "app/image_options.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "app/terminal.h"
#include "udf/udf_image.h"

namespace zvapp {

const char* const kImageValued[3] = {"--label", "--time", "--capacity"};

bool ParseImageTime(const std::string& text, int64_t& seconds) {
  std::string t = text;
  if (!t.empty() && t[0] == '@') t.erase(0, 1);
  if (!t.empty() && t.size() <= 12 && t.find_first_not_of("0123456789") == std::string::npos) {
    seconds = std::stoll(t);
    return true;
  }
  int y, mo, d, h, mi, s;
  char tail = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if (n < 6 || (n == 7 && tail != 'Z') || text.size() > 20) return false;
  if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
  struct tm tm {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  const time_t v = timegm(&tm);
  // timegm normalises 31 February into March; such a date is refused.
  struct tm back {};
  gmtime_r(&v, &back);
  if (back.tm_mday != d || back.tm_mon != mo - 1) return false;
  seconds = v;
  return true;
}

int CheckImageRequest(const CommandInfo& self, const ImageRequest& r) {
  std::string error;
  if (!r.label.empty() && !zv::udf::CheckLabel(r.label, error)) return RefuseValue(self, error);
  int64_t t;
  if (!r.timeText.empty() && !ParseImageTime(r.timeText, t))
    return RefuseValue(self, "--time \"" + r.timeText + "\" is not SECONDS since 1970 or YYYY-MM-DDTHH:MM:SSZ");
  uint64_t c;
  if (!r.capacityText.empty() && !zv::udf::ParseCapacity(r.capacityText, c))
    return RefuseValue(self, "--capacity \"" + r.capacityText + "\" is not BD-25, BD-50, BD-100 or a byte count");
  return 0;
}

int ConfirmImageTarget(const std::string& command, const std::string& out, bool yes) {
  struct stat st;
  if (::lstat(out.c_str(), &st) != 0) return 0;
  if (!S_ISREG(st.st_mode))
    return Fail("zelvane " + command + ": \"" + out + "\" exists and is not a regular file; it is left alone");
  TerminalPrompt prompt(yes);
  if (prompt.Ask("\"" + out + "\" exists. Replace it? ") != zv::Answer::Yes) {
    std::fprintf(stderr, "zelvane %s: \"%s\" was left as it was\n", command.c_str(), out.c_str());
    return kExitCancelled;
  }
  return 0;
}

int MakeImage(const std::string& command, const ImageRequest& r, int64_t defaultTime, bool timeFromFolder) {
  zv::udf::SImageTree tree;
  std::string error;
  if (zv::udf::ScanDiscFolder(r.folder, tree, error) != zv::kOk)
    return Fail("zelvane " + command + ": no image was written: " + error);
  zv::udf::SImageOptions options;
  options.label = r.label.empty() ? zv::udf::LabelFromName(r.labelSource) : r.label;
  options.time = timeFromFolder ? tree.newestTime : defaultTime;
  if (!r.timeText.empty()) ParseImageTime(r.timeText, options.time);
  uint64_t capacity = 0;
  if (!r.capacityText.empty()) zv::udf::ParseCapacity(r.capacityText, capacity);
  const uint64_t bytes = zv::udf::ImageBytes(tree);
  const std::string warning = zv::udf::CapacityWarning(bytes, capacity);
  if (!warning.empty()) std::fprintf(stderr, "zelvane %s: warning: %s\n", command.c_str(), warning.c_str());

  TerminalPrompt prompt(r.yes);
  ProgressDisplay display(prompt, r.yes, "Really want to stop writing the image? ");
  display.SetTotalBytes(bytes);
  const zv::Progress progress = display.Callback();
  progress.Action("Writing the disc image " + r.out);
  const int rc = zv::udf::WriteDiscImage(tree, r.out, options, progress, error);
  display.Finish();
  if (rc == zv::kCancelled) {
    std::fprintf(stderr, "Cancelled: no image was written.\n");
    return kExitCancelled;
  }
  if (rc != zv::kOk) return Fail("zelvane " + command + ": no image was written: " + error);
  std::printf("%s\n", r.out.c_str());
  std::printf("  label: %s\n", options.label.c_str());
  std::printf("  size:  %" PRIu64 " bytes\n", bytes);
  return kExitOk;
}

}  // namespace zvapp
