// Terminal side of the library's prompt and progress interfaces.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "model/build.h"
#include "platform/progress.h"
#include "platform/prompt.h"

namespace zvapp {

// While it lives, SIGTERM and SIGHUP do not end the process: they make
// every ProgressDisplay cancel at its next call, so the work in progress is
// stopped and cleaned up as after a confirmed Ctrl-C.
class TerminationGuard {
 public:
  TerminationGuard();
  ~TerminationGuard();
  TerminationGuard(const TerminationGuard&) = delete;
  TerminationGuard& operator=(const TerminationGuard&) = delete;
  static bool Requested();

 private:
  void (*oldTerm_)(int) = nullptr;
  void (*oldHup_)(int) = nullptr;
};

// Messages go to stderr; questions are asked on the terminal. `--yes`
// answers Yes; with no terminal the answer is No.
class TerminalPrompt : public zv::IPrompt {
 public:
  explicit TerminalPrompt(bool assumeYes) : yes_(assumeYes) {}
  void Message(const std::string& text) override;
  zv::Answer Ask(const std::string& text) override;

 private:
  bool yes_;
};

// Shows log lines (kind 1), the current action (kind 2) and a progress bar
// with percent, throughput and time left (kind 0) on stderr; plain lines
// when stderr is not a terminal. While it lives, Ctrl-C asks `cancelQuestion`
// (or cancels at once with assumeYes) and a Yes makes the callback answer 0.
class ProgressDisplay {
 public:
  ProgressDisplay(zv::IPrompt& prompt, bool assumeYes,
                  std::string cancelQuestion = "Really want to stop current build? ");
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Where the throughput figure comes from. Analysis names each input file
  // in a log line before reading it; the multiplexer names the clip it
  // writes, whose growing size is the work done.
  enum class Throughput { kNone, kItemIsInput, kItemIsOutput };

  zv::Progress Callback() { return zv::Progress{&ProgressDisplay::Thunk, this}; }
  // Bytes that 100 % stands for, for the throughput figure (0: not shown).
  void SetTotalBytes(uint64_t bytes) { totalBytes_ = bytes; }
  void SetThroughput(Throughput t) { throughput_ = t; }
  // Frames that 100 % stands for: the bar shows frames per second (an
  // encode) instead of bytes; 0 turns it off.
  void SetFrames(int64_t total) { frames_ = total; }
  bool Cancelled() const { return cancelled_; }
  // Ends the bar line, if one is shown.
  void Finish();

 private:
  static int Thunk(void* ctx, const zv::SProgressInfo* info);
  int Handle(const zv::SProgressInfo& info);
  void DrawBar(int value);
  void ClearBar();

  zv::IPrompt& prompt_;
  bool yes_;
  std::string question_;
  bool tty_;
  bool cancelled_ = false;
  bool barShown_ = false;
  bool hidden_ = false;
  int lastValue_ = -1;
  int lastPlainDecile_ = -1;
  uint64_t totalBytes_ = 0;
  Throughput throughput_ = Throughput::kNone;
  int64_t frames_ = 0;
  std::string outputFile_;  // kItemIsOutput: the file being written
  std::string action_;
  std::chrono::steady_clock::time_point start_, lastDraw_;
  void (*oldHandler_)(int) = nullptr;
};

// The build's progress window on the terminal: a ProgressDisplay that lives
// while the films and navigation files are built, asking
// "Really want to stop current build? " on Ctrl-C.
class TerminalTaskDialog : public zv::ITaskDialog {
 public:
  TerminalTaskDialog(zv::IPrompt& prompt, bool yes) : prompt_(prompt), yes_(yes) {}
  zv::Progress Open() override;
  void Close() override { display_.reset(); }

 private:
  zv::IPrompt& prompt_;
  bool yes_;
  std::unique_ptr<ProgressDisplay> display_;
};

}  // namespace zvapp
