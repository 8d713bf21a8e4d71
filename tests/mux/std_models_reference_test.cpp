// The elementary buffer keeps running totals so that a packet costs no walk
// over the units it holds. Checked against a plain re-simulation that walks
// every unit on every packet, over long random schedules.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "mux/std_models.h"

namespace {

// The buffer as first written: remove decoded units, sum what is held, and
// search the units for the one whose decoding frees room for a payload.
struct ReferenceEb {
  int32_t size = 0;
  int32_t maxUnits = 0;
  struct Unit {
    uint32_t dts;
    int32_t bytes;
  };
  std::vector<Unit> units;
  int64_t nextTime = 0, lastEmpty = 0;

  static int64_t Ticks(uint32_t dts) { return int64_t{dts} * 300; }

  void Update(int64_t t, int32_t bytes) {
    units.back().bytes += bytes;
    units.erase(std::remove_if(units.begin(), units.end() - 1, [t](const Unit& u) { return Ticks(u.dts) <= t; }),
                units.end() - 1);
    int64_t held = 0;
    for (const Unit& u : units) held += u.bytes;
    if (held == 0) lastEmpty = t;
    const int64_t room = size - held - 184;
    if (room >= 0) {
      nextTime = 0;
      return;
    }
    nextTime = Ticks(units.back().dts);
    int64_t freed = room;
    for (const Unit& u : units) {
      freed += u.bytes;
      if (freed >= 0) {
        nextTime = Ticks(u.dts);
        break;
      }
    }
    if (maxUnits != 0 && static_cast<int64_t>(units.size()) >= maxUnits)
      nextTime = std::max(nextTime, Ticks(units.front().dts));
  }
};

struct Scenario {
  int32_t size;
  int32_t maxUnits;
  uint32_t unitBytesMax;
  bool reordered;  // decoding times out of order, as graphics segments may be
};

TEST(ElementaryBufferTotals, MatchAFullWalkOverRandomSchedules) {
  const Scenario scenarios[] = {
      {3750000, 0, 400000, false},  // video-sized buffer, large units
      {18640, 0, 2560, false},      // AC-3
      {100, 0, 600, false},         // smaller than one payload: waits for the newest unit
      {1048576, 128, 30000, true},  // presentation graphics with a unit limit
      {60000, 5, 20000, true},
  };
  std::mt19937 rng(20261209);
  for (const Scenario& sc : scenarios) {
    zv::CElementaryBuffer eb;
    eb.SetSize(sc.size);
    eb.SetMaxAccessUnits(sc.maxUnits);
    ReferenceEb ref;
    ref.size = sc.size;
    ref.maxUnits = sc.maxUnits;
    int64_t t = 0;
    uint32_t dts = 90000;
    size_t packets = 0;
    for (int unit = 0; unit < 3000; ++unit) {
      dts += 1 + rng() % 4000;
      const uint32_t unitDts = sc.reordered && rng() % 3 == 0 ? dts - rng() % 8000 : dts;
      eb.AddAccessUnit(unitDts, unitDts);
      ref.units.push_back({unitDts, 0});
      int64_t left = 1 + rng() % sc.unitBytesMax;
      while (left > 0) {
        // Packets arrive at or after the time the buffer allows, sometimes
        // at once (the same tick) and sometimes after a long gap.
        t = std::max(t, eb.NextTime()) + (rng() % 8 == 0 ? 0 : rng() % 3000);
        if (rng() % 200 == 0) t += 27000000;
        const int32_t bytes = static_cast<int32_t>(std::min<int64_t>(left, 184));
        left -= bytes;
        eb.Update(t, bytes);
        ref.Update(t, bytes);
        ++packets;
        ASSERT_EQ(eb.NextTime(), ref.nextTime) << "size " << sc.size << ", packet " << packets;
        ASSERT_EQ(eb.LastEmptyTime(), ref.lastEmpty) << "size " << sc.size << ", packet " << packets;
        ASSERT_EQ(eb.Units().size(), ref.units.size()) << "size " << sc.size << ", packet " << packets;
      }
    }
    for (size_t i = 0; i < ref.units.size(); ++i) {
      EXPECT_EQ(eb.Units()[i].dts, ref.units[i].dts) << i;
      EXPECT_EQ(eb.Units()[i].size, ref.units[i].bytes) << i;
    }
    EXPECT_GT(packets, 3000u);
  }
}

}  // namespace
