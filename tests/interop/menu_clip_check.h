// The menu clips of a built disc through the independent clip reader and
// the re-simulation of the graphics decoder's coded-data buffer.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "mux/muxer_clip_check.h"

namespace zvtest {

// Every clip of the disc reads as a transport stream; each menu clip (only
// the 0x1400 stream) delivers every unit in time without overflowing the
// buffer, with PCRs close enough. Returns how many menu clips were checked.
inline int ExpectMenuClipsDecodable(const std::string& disc) {
  int menus = 0;
  for (const auto& e : std::filesystem::directory_iterator(disc + "/BDMV/STREAM")) {
    const ClipReading clip = ReadClip(e.path().string());
    EXPECT_TRUE(clip.error.empty()) << e.path() << ": " << clip.error;
    if (!clip.error.empty() || clip.units.size() != 1 || !clip.units.count(0x1400)) continue;
    ++menus;
    EXPECT_EQ(ReplayStd(clip, 0x1400, GraphicsStream()), "") << e.path();
    EXPECT_LE(MaxPcrGap(clip), kMaxPcrGap) << e.path();
  }
  return menus;
}

}  // namespace zvtest
