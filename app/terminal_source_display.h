// The terminal side of adding sources: the progress bar on stderr, messages
// under the command's name on stderr, listings on stdout (unless a command
// prints its own summary there instead).
#pragma once

#include <cstdio>
#include <string>

#include "app/command.h"
#include "app/terminal.h"
#include "edit/source_display.h"

namespace zvapp {

class TerminalSourceDisplay : public zvedit::ISourceDisplay {
 public:
  TerminalSourceDisplay(const CommandInfo& self, ProgressDisplay& display, bool listings = true)
      : self_(self), display_(display), listings_(listings) {}
  zv::Progress Callback() override { return display_.Callback(); }
  void SetFrames(int64_t frames) override { display_.SetFrames(frames); }
  void Finish() override { display_.Finish(); }
  void Message(const std::string& text) override {
    display_.Finish();  // a message starts on a line of its own
    std::fprintf(stderr, "zelvane %s: %s\n", self_.name, text.c_str());
  }
  void Listing(const std::string& line) override {
    if (listings_) std::printf("%s\n", line.c_str());
  }

 private:
  const CommandInfo& self_;
  ProgressDisplay& display_;
  bool listings_;
};

}  // namespace zvapp
