#include "app/terminal.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "platform/paths.h"

namespace zvapp {

namespace {
volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_terminated = 0;
void OnInterrupt(int) { g_interrupted = 1; }
void OnTerminate(int) { g_terminated = 1; }
}  // namespace

namespace {
// Without SA_RESTART, so a question waiting for its answer on the terminal
// gives up (and answers No) when the process is asked to end.
using Handler = void (*)(int);
Handler Install(int sig, Handler handler) {
  struct sigaction act {}, old {};
  act.sa_handler = handler;
  sigemptyset(&act.sa_mask);
  act.sa_flags = 0;
  if (::sigaction(sig, &act, &old) != 0) return SIG_ERR;
  return old.sa_handler;
}
}  // namespace

// A request that came before a nested guard is kept: it stops the work
// that follows.
TerminationGuard::TerminationGuard() {
  oldTerm_ = Install(SIGTERM, OnTerminate);
  oldHup_ = Install(SIGHUP, OnTerminate);
}

TerminationGuard::~TerminationGuard() {
  Install(SIGTERM, oldTerm_ == SIG_ERR ? SIG_DFL : oldTerm_);
  Install(SIGHUP, oldHup_ == SIG_ERR ? SIG_DFL : oldHup_);
}

bool TerminationGuard::Requested() { return g_terminated != 0; }

void TerminalPrompt::Message(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

zv::Answer TerminalPrompt::Ask(const std::string& text) {
  if (yes_) {
    std::fprintf(stderr, "%s[yes]\n", text.c_str());
    return zv::Answer::Yes;
  }
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "%s[no: not a terminal, use --yes]\n", text.c_str());
    return zv::Answer::No;
  }
  for (;;) {
    std::fprintf(stderr, "%s[y]es/[n]o/[c]ancel: ", text.c_str());
    std::fflush(stderr);
    std::string line;
    if (g_terminated || !std::getline(std::cin, line) || g_terminated) {
      std::cin.clear();
      return zv::Answer::No;
    }
    if (line == "y" || line == "Y" || line == "yes" || line == "Yes") return zv::Answer::Yes;
    if (line == "n" || line == "N" || line == "no" || line == "No") return zv::Answer::No;
    if (line == "c" || line == "C" || line == "cancel" || line == "Cancel") return zv::Answer::Cancel;
  }
}

ProgressDisplay::ProgressDisplay(zv::IPrompt& prompt, bool assumeYes, std::string cancelQuestion)
    : prompt_(prompt), yes_(assumeYes), question_(std::move(cancelQuestion)), tty_(isatty(STDERR_FILENO)) {
  start_ = lastDraw_ = std::chrono::steady_clock::now();
  g_interrupted = 0;
  oldHandler_ = std::signal(SIGINT, OnInterrupt);
}

ProgressDisplay::~ProgressDisplay() {
  Finish();
  std::signal(SIGINT, oldHandler_ == SIG_ERR ? SIG_DFL : oldHandler_);
}

int ProgressDisplay::Thunk(void* ctx, const zv::SProgressInfo* info) {
  return static_cast<ProgressDisplay*>(ctx)->Handle(*info);
}

int ProgressDisplay::Handle(const zv::SProgressInfo& info) {
  switch (info.kind) {
    case zv::kProgressItem:
      ClearBar();
      std::fprintf(stderr, "%s\n", info.item.c_str());
      if (throughput_ != Throughput::kNone && !zv::IsDirectory(info.item) && zv::FileSize(info.item) >= 0) {
        if (throughput_ == Throughput::kItemIsInput) totalBytes_ = static_cast<uint64_t>(zv::FileSize(info.item));
        else outputFile_ = info.item;
      }
      break;
    case zv::kProgressAction:
      ClearBar();
      action_ = info.action;
      if (!action_.empty()) std::fprintf(stderr, "%s\n", action_.c_str());
      start_ = std::chrono::steady_clock::now();
      outputFile_.clear();
      lastValue_ = -1;
      lastPlainDecile_ = -1;
      hidden_ = false;
      break;
    case zv::kProgressHide:
      ClearBar();
      hidden_ = true;
      break;
    default:
      if (!hidden_) DrawBar(info.value);
      break;
  }
  // Asked to end (SIGTERM, a closed terminal): stop without a question.
  if (g_terminated && !cancelled_) cancelled_ = true;
  if (g_interrupted && !cancelled_) {
    g_interrupted = 0;
    ClearBar();
    if (yes_ || prompt_.Ask(question_) == zv::Answer::Yes) cancelled_ = true;
  }
  std::fflush(stderr);
  return cancelled_ ? 0 : 1;
}

void ProgressDisplay::DrawBar(int value) {
  if (value < 0) value = 0;
  if (value > 100) value = 100;
  auto now = std::chrono::steady_clock::now();
  double secs = std::chrono::duration<double>(now - start_).count();
  if (!tty_) {
    int decile = value / 10;
    if (decile != lastPlainDecile_) {
      lastPlainDecile_ = decile;
      std::fprintf(stderr, "%3d%%\n", value);
    }
    return;
  }
  if (value == lastValue_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  lastValue_ = value;
  lastDraw_ = now;
  const int width = 30;
  int filled = value * width / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  char extra[96] = "";
  if (secs > 0.2 && value > 0) {
    double left = secs * (100 - value) / value;
    int n = 0;
    double done = -1;
    if (!outputFile_.empty()) done = static_cast<double>(zv::FileSize(outputFile_));
    else if (totalBytes_ > 0) done = totalBytes_ * (value / 100.0);
    if (done >= 0) n = std::snprintf(extra, sizeof extra, "  %.1f MB/s", done / secs / 1e6);
    if (frames_ > 0) n = std::snprintf(extra, sizeof extra, "  %.1f fps", frames_ * (value / 100.0) / secs);
    std::snprintf(extra + n, sizeof extra - static_cast<size_t>(n), "  %d:%02d left", static_cast<int>(left) / 60,
                  static_cast<int>(left) % 60);
  }
  std::fprintf(stderr, "\r[%s] %3d%%%s\x1b[K", bar.c_str(), value, extra);
  barShown_ = true;
}

void ProgressDisplay::ClearBar() {
  if (barShown_) {
    std::fprintf(stderr, "\r\x1b[K");
    barShown_ = false;
  }
}

void ProgressDisplay::Finish() {
  if (barShown_) {
    std::fprintf(stderr, "\n");
    barShown_ = false;
  }
}

zv::Progress TerminalTaskDialog::Open() {
  display_ = std::make_unique<ProgressDisplay>(prompt_, yes_, zv::kMsgStopBuild);
  display_->SetThroughput(ProgressDisplay::Throughput::kItemIsOutput);
  return display_->Callback();
}

}  // namespace zvapp
