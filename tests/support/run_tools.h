// Running the program and the independent readers from tests: the zelvane
// binary under test, text split into lines, and ffmpeg's per-frame hashes.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zvtest {

inline RunResult Zelvane(std::vector<std::string> args) {
  args.insert(args.begin(), ZV_BINARY);
  return Run(args);
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
