// The terminal side of adding sources: the progress bar on stderr, messages
// under the command's name on stderr, listings on stdout.
#pragma once

#include <cstdio>
#include <string>

#include "app/command.h"
#include "app/terminal.h"
#include "edit/source_display.h"

namespace zvapp {

class TerminalSourceDisplay : public zvedit::ISourceDisplay {
 public:
  TerminalSourceDisplay(const CommandInfo& self, ProgressDisplay& display) : self_(self), display_(display) {}
  zv::Progress Callback() override { return display_.Callback(); }
  void SetFrames(int64_t frames) override { display_.SetFrames(frames); }
  void Finish() override { display_.Finish(); }
  void Message(const std::string& text) override {
    std::fprintf(stderr, "zelvane %s: %s\n", self_.name, text.c_str());
  }
  void Listing(const std::string& line) override { std::printf("%s\n", line.c_str()); }

 private:
  const CommandInfo& self_;
  ProgressDisplay& display_;
};

}  // namespace zvapp
