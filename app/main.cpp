// zelvane: the command-line shell.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/terminal.h"
#include "media/container.h"

using namespace zvapp;

static void PrintCommandList() {
  std::printf("usage: zelvane COMMAND [ARGS...]\n       zelvane COMMAND --help\n\ncommands:\n");
  // Names padded to the longest one, so at least two blanks separate each
  // name from its summary.
  int width = 16;
  for (const auto& entry : Registry::Get().All()) width = std::max(width, static_cast<int>(entry.first.size()) + 1);
  for (const auto& [name, info] : Registry::Get().All()) std::printf("  %-*s %s\n", width, name.c_str(), info.summary);
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Tracks of containers are read as the stream files they hold.
  zv::RegisterContainerTracks();
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() >= 2 && args[0] == "help") {
      std::string two = args.size() >= 3 ? args[1] + " " + args[2] : "";
      const CommandInfo* c = Registry::Get().Find(two);
      if (!c) c = Registry::Get().Find(args[1]);
      if (c) {
        PrintHelp(*c);
        return kExitOk;
      }
    }
    PrintCommandList();
    return args.empty() ? kExitUsage : kExitOk;
  }
  if (args[0] == "--version") {
    std::printf("zelvane %s\n", ZV_VERSION);
    return kExitOk;
  }
  const CommandInfo* cmd = nullptr;
  size_t used = 0;
  if (args.size() >= 2 && (cmd = Registry::Get().Find(args[0] + " " + args[1]))) used = 2;
  if (!cmd && (cmd = Registry::Get().Find(args[0]))) used = 1;
  if (!cmd) {
    std::fprintf(stderr, "zelvane: unknown command \"%s\"\n\n", args[0].c_str());
    PrintCommandList();
    return kExitUsage;
  }
  std::vector<std::string> rest(args.begin() + static_cast<long>(used), args.end());
  for (const auto& a : rest) {
    if (a == "--help" || a == "-h") {
      PrintHelp(*cmd);
      return kExitOk;
    }
    if (a == "--") break;
  }
  // SIGTERM and SIGHUP stop every command as a cancel does: at its next
  // progress step, with what it made removed.
  TerminationGuard termination;
  try {
    const int rc = cmd->run(rest);
    if (rc == kExitCancelled && TerminationGuard::Requested() && std::strcmp(cmd->name, "build") != 0)
      std::fprintf(stderr, "zelvane %s: stopped by a signal\n", cmd->name);
    return rc;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelvane %s: internal error: %s\n", cmd->name, e.what());
    return kExitFailed;
  }
}
