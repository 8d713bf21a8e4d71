// What adding sources shows its shell while it works: the progress of each
// long step, and the lines the shell passes on to its user. The command line
// prints them; the window puts them in its log.
#pragma once

#include <cstdint>
#include <string>

#include "platform/progress.h"

namespace zvedit {

class ISourceDisplay {
 public:
  virtual ~ISourceDisplay() = default;
  // The callback of the step that runs now; a 0 from it stops the work.
  virtual zv::Progress Callback() = 0;
  // Frames that 100 % stands for while a video is encoded (0: off).
  virtual void SetFrames(int64_t frames) = 0;
  // The progress line ends (before a listing or a message follows it).
  virtual void Finish() = 0;
  // A note, warning or refusal about a file, as a whole sentence.
  virtual void Message(const std::string& text) = 0;
  // A line of a listing: a clip's streams, a container's tracks, chapters taken.
  virtual void Listing(const std::string& line) = 0;
};

// Message(text), then kFailed.
inline int Fail(ISourceDisplay& display, const std::string& text) {
  display.Message(text);
  return zv::kFailed;
}

// The result of a step that ends the progress line unless it succeeded: a
// cancel stays a cancel, a failure shows its reason.
inline int EndUnlessOk(ISourceDisplay& display, int rc, const std::string& error) {
  if (rc == zv::kOk) return rc;
  display.Finish();
  return rc == zv::kCancelled ? rc : Fail(display, error);
}

}  // namespace zvedit
