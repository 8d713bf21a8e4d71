// The disc-image options shared by `zelvane image` and `zelvane build
// --image`: label, time stamp and capacity, and the write with its progress
// display and messages.
#pragma once

#include <cstdint>
#include <string>

#include "app/command.h"

namespace zvapp {

// Options taking a value, for Args::Parse and CheckOptions.
extern const char* const kImageValued[3];  // --label, --time, --capacity

struct ImageRequest {
  std::string folder;   // the disc folder (BDMV, CERTIFICATE)
  std::string out;      // the image file
  std::string label;    // empty: from `labelSource`
  std::string labelSource;
  std::string timeText; // --time as given
  std::string capacityText;
  bool yes = false;
};

// "@SECONDS" or SECONDS since the epoch, or "YYYY-MM-DDTHH:MM:SS[Z]" in UTC.
bool ParseImageTime(const std::string& text, int64_t& seconds);
// Checks the label, time and capacity texts before any work: 0, or the exit
// code after the message.
int CheckImageRequest(const CommandInfo& self, const ImageRequest& r);
// Refuses an OUT that exists and is not a regular file, asks before
// replacing a regular one: 0 to go on, else the exit code.
int ConfirmImageTarget(const std::string& command, const std::string& out, bool yes);
// Scans the folder, warns about capacity, writes the image with progress
// and Ctrl-C; `defaultTime` applies without --time. Prints the image's path
// and size. The exit code.
int MakeImage(const std::string& command, const ImageRequest& r, int64_t defaultTime, bool timeFromFolder);

}  // namespace zvapp
