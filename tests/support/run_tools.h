// Running the program and the independent readers from tests: the zelvane
// binary under test, text split into lines, and ffmpeg's per-frame hashes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zvtest {

inline RunResult Zelvane(std::vector<std::string> args) {
  args.insert(args.begin(), ZV_BINARY);
  return Run(args);
}

// Runs zelvane with stdin and stdout on /dev/null, watching its stderr:
// `setup` runs in the child before the program starts, `onLine` sees every
// stderr line with the child's pid (to signal it at a chosen moment).
// The result holds the child's peak memory.
inline RunResult RunWatched(const std::vector<std::string>& args, const std::function<void()>& setup,
                            const std::function<void(const std::string&, pid_t)>& onLine) {
  RunResult r;
  int err[2];
  if (pipe(err) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err[1], 2);
    close(err[0]);
    close(err[1]);
    if (setup) setup();
    std::vector<std::string> all = {ZV_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(err[1]);
  char buf[4096];
  std::string line;
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;)
    for (ssize_t i = 0; i < n; ++i) {
      r.err += buf[i];
      if (buf[i] != '\n') {
        line += buf[i];
        continue;
      }
      if (onLine) onLine(line, pid);
      line.clear();
    }
  close(err[0]);
  int status = 0;
  rusage use{};
  wait4(pid, &status, 0, &use);
  r.peakKb = use.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// The non-empty lines of `text`.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) out.push_back(l);
  return out;
}

inline bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& l : Lines(text))
    if (l == line) return true;
  return false;
}

// The per-frame hashes of one stream of `input` (the last field of each
// framemd5 line); `map` picks the stream, `coreOnly` decodes DTS without its
// extensions.
inline std::vector<std::string> FrameHashes(const std::string& input, const std::string& map, bool coreOnly = false) {
  std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error"};
  if (coreOnly) argv.insert(argv.end(), {"-core_only", "1"});
  argv.insert(argv.end(), {"-i", input});
  if (!map.empty()) argv.insert(argv.end(), {"-map", map});
  argv.insert(argv.end(), {"-f", "framemd5", "-"});
  const RunResult r = Run(argv);
  EXPECT_EQ(r.status, 0) << input << " " << map << "\n" << r.err;
  std::vector<std::string> hashes;
  for (const std::string& line : Lines(r.out))
    if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.find_last_of(',') + 1));
  return hashes;
}

}  // namespace zvtest
