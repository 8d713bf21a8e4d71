// Builders for synthetic elementary streams and helpers shared by the
// stream-analysis tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "streams/stream_context.h"

namespace zvtest {

// Runs `f` once to measure and once to write; returns the bytes.
std::vector<uint8_t> BuildBits(const std::function<void(zv::BeWriter&)>& f);
void Ue(zv::BeWriter& w, uint32_t v);
void Se(zv::BeWriter& w, int32_t v);
void RbspTrailing(zv::BeWriter& w);
// Inserts emulation-prevention bytes and prefixes a 4-byte start code.
std::vector<uint8_t> AnnexB(const std::vector<uint8_t>& rbsp);

struct SpsSpec {
  uint8_t profile = 100;
  uint8_t level = 41;
  uint32_t chroma = 1;
  bool gaps = false;
  uint32_t widthMbs = 120;        // 1920
  uint32_t heightMapUnits = 68;   // 1088 progressive
  bool frameMbsOnly = true;
  uint32_t cropBottom = 4;        // 1088 - 2 * 4 = 1080
  bool vui = true;
  bool aspectInfo = true;
  uint8_t aspectIdc = 1;
  bool timing = true;
  uint32_t unitsInTick = 1001;
  uint32_t timeScale = 48000;     // 23.976 frames per second
  bool fixedFrameRate = true;
  bool nalHrd = true;
  uint32_t bitRateMinus1 = 19530;  // x 2^10: 19,999,744 bit/s
  uint32_t cpbSizeMinus1 = 58593;  // x 2^8: 15,000,064 bits
  bool lowDelay = false;
  bool picStructPresent = false;
};
std::vector<uint8_t> Sps(const SpsSpec& s);
std::vector<uint8_t> Pps();
std::vector<uint8_t> Aud();
// Picture timing with 24-bit delays; pic_struct when >= 0.
std::vector<uint8_t> PicTimingSei(uint32_t cpbRemovalDelay, int picStruct = -1);

struct SliceSpec {
  unsigned nalType = 1;   // 5 = IDR
  unsigned refIdc = 2;
  unsigned sliceType = 2;  // 0 P, 1 B, 2 I
  unsigned ppsId = 0;
  uint32_t frameNum = 0;
  bool frameMbsOnly = true;
  bool field = false, bottom = false;
  uint32_t pocLsb = 0;    // 8 bits
  size_t dataBytes = 40;  // stand-in slice data
};
std::vector<uint8_t> Slice(const SliceSpec& s);

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part);

// A 1080i29.97 PAFF stream (field pictures and frame pictures mixed), in
// decode order: {I top, P bottom} {P top, P bottom} P-top-alone, then a
// second GOP {I top, P bottom} P-frame {P top, P bottom}: five pictures
// each, pairs marked by braces. `starts` gets the offset of
// every picture (each begins with its delimiter; the first also holds the
// parameter sets).
std::vector<uint8_t> PaffStream(std::vector<size_t>* starts = nullptr);

// Every access-unit record of an opened stream, untouched by the time offset.
std::vector<zv::AUI> AllUnits(zv::SStreamContext& ctx);

// Opens a whole stream; returns OpenStream's code.
int OpenWhole(const std::string& path, zv::SStreamContext& ctx, zv::IPrompt* prompt = nullptr,
              const zv::Progress& progress = {});

// Counts the analyses a progress callback saw (each starts with "Parsing").
struct ParseCounter {
  int parses = 0;
  zv::Progress Callback() { return zv::Progress{&ParseCounter::Thunk, this}; }
  static int Thunk(void* c, const zv::SProgressInfo* i) {
    if (i->kind == zv::kProgressAction && i->action == "Parsing") ++static_cast<ParseCounter*>(c)->parses;
    return 1;
  }
};

}  // namespace zvtest
