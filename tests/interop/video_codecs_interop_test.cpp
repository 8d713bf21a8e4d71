// MPEG-2 and VC-1 video through `zelvane mux` and `zelvane build`, read back
// by ffmpeg and libbluray: decoded frames, time stamps, buffer replay, entry
// points, PES and PMT details and the disc's stream attributes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "mux/muxer_clip_check.h"
#include "streams/stream_context.h"
#include "streams/stream_test_util.h"
#include "streams/video_builders.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;
namespace fs = std::filesystem;

// MPEG-2 main profile at high level, as the disc format sizes its buffers.
StdParams Mpeg2MainHigh() { return {512, 48000000, 53333, 42000000, 1222656}; }

// The picture_coding_type of the first picture header in a PES payload; 0
// when there is none.
unsigned FirstPictureType(const std::vector<uint8_t>& p) {
  for (size_t i = 0; i + 5 < p.size(); ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0) return (p[i + 5] >> 3) & 7;
  return 0;
}

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// The payload of the first packet on `pid` (the PMT is on 0x0100).
std::vector<uint8_t> FirstPacketPayload(const ClipReading& clip, uint16_t pid) {
  for (const ClipPacket& k : clip.packets)
    if (k.pid == pid) return std::vector<uint8_t>(k.bytes + 8, k.bytes + 192);
  return {};
}

class Mpeg2Mux : public ::testing::TestWithParam<const char*> {};

TEST_P(Mpeg2Mux, ClipDecodesLikeItsInputsWithinTheBuffersAndEntriesAtIPictures) {
  if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string video = CopyFixture(GetParam(), dir.Path());
  const std::string audio = CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string clip = dir / "00000.m2ts";
  RunResult mux = Zelvane({"mux", clip, video, audio, "--yes"});
  ASSERT_EQ(mux.status, 0) << mux.err;

  RunResult probe = zvtest::Run({"ffprobe", "-v", "error", "-show_entries", "stream=id,codec_name,field_order", "-of",
                         "default=noprint_wrappers=1", clip});
  EXPECT_NE(probe.out.find("codec_name=mpeg2video\nfield_order="), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("id=0x1011"), std::string::npos) << probe.out;

  // Same decoded frames in the same order, repeated fields included.
  const std::vector<std::string> in = FrameHashes(video, "");
  ASSERT_FALSE(in.empty());
  EXPECT_EQ(FrameHashes(clip, "0:v:0"), in);
  EXPECT_EQ(FrameHashes(clip, "0:a:0"), FrameHashes(audio, ""));

  const ClipReading reading = ReadClip(clip);
  ASSERT_TRUE(reading.error.empty()) << reading.error;
  EXPECT_EQ(ReplayStd(reading, 0x1011, Mpeg2MainHigh()), "");

  // The PES time stamps are the analysis's, moved by one offset; I and P
  // pictures carry a DTS, B pictures none.
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(video, ctx), zv::kOk);
  const std::vector<zv::AUI> units = AllUnits(ctx);
  const auto& pes = reading.units.at(0x1011);
  ASSERT_EQ(pes.size(), units.size());
  const int64_t offset = static_cast<int64_t>(pes[0].pts) - units[0].pts;
  for (size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<int64_t>(pes[i].pts) - units[i].pts, offset);
    const unsigned type = units[i].flags & zv::kAuiPictureTypeMask;
    EXPECT_EQ(pes[i].hasDts, type != 3);
    if (pes[i].hasDts) {
      EXPECT_EQ(static_cast<int64_t>(pes[i].dts) - units[i].dts, offset);
    }
    EXPECT_EQ(FirstPictureType(pes[i].payload), type);
  }

  // Every entry point of the clip information lands on an I picture.
  RunResult dump = Zelvane({"dump", dir / "00000.clpi"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  std::map<size_t, const ClipUnit*> byPacket;
  for (const ClipUnit& u : pes) byPacket[u.firstPacket] = &u;
  size_t entries = 0;
  for (const std::string& line : Lines(dump.out)) {
    const size_t at = line.find("Spn Start: ");
    if (at == std::string::npos) continue;
    const size_t spn = std::stoul(line.substr(at + 11));
    auto it = byPacket.find(spn);
    ASSERT_NE(it, byPacket.end()) << line;
    EXPECT_EQ(FirstPictureType(it->second->payload), 1u) << line;
    ++entries;
  }
  const size_t keys = static_cast<size_t>(std::count_if(units.begin(), units.end(), [](const zv::AUI& a) {
    return (a.flags & (zv::kAuiSequenceHeader | zv::kAuiKey)) || (a.flags & zv::kAuiPictureTypeMask) == 1;
  }));
  EXPECT_EQ(entries, keys);
  EXPECT_NE(dump.out.find("StreamCodingType: MPEG-2"), std::string::npos) << dump.out;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mpeg2Mux, ::testing::Values("m2v_1080i2997.m2v", "m2v_1080i2997_pulldown.m2v"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(4, n.find('.') - 4);
                         });

// 2 s of VC-1 1080i 29.97: four entry-point segments of 15 frames.
std::string WriteVc1(const std::string& path) {
  Vc1Sequence s;
  std::string gops;
  for (int g = 0; g < 4; ++g) gops += std::string(g ? "|" : "") + "IPBBPBBPBBPBBPB";
  WriteBytes(path, Vc1Stream(s, gops));
  return path;
}

TEST(Vc1Mux, ClipCarriesTheExtendedStreamIdRegistrationAndTheParsersTimes) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  TempDir dir;
  const std::string video = WriteVc1(dir / "v.vc1");
  const std::string clip = dir / "00000.m2ts";
  RunResult mux = Zelvane({"mux", clip, video, CopyFixture("ac3_stereo.ac3", dir.Path()), "--yes"});
  ASSERT_EQ(mux.status, 0) << mux.err;

  const ClipReading reading = ReadClip(clip);
  ASSERT_TRUE(reading.error.empty()) << reading.error;
  const auto& pes = reading.units.at(0x1011);
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(video, ctx), zv::kOk);
  const std::vector<zv::AUI> units = AllUnits(ctx);
  ASSERT_EQ(pes.size(), units.size());
  for (const ClipUnit& u : pes) EXPECT_EQ(u.streamId, 0xFD);
  // The PES extension ends the header: extension flag 2, length 1, 0x55.
  for (const ClipPacket& k : reading.packets) {
    if (k.pid != 0x1011 || !k.pusi) continue;
    const uint8_t* h = k.bytes + ((k.bytes[7] & 0x20) ? 9 + k.bytes[8] : 8);  // behind any adaptation field
    ASSERT_TRUE(h[7] & 0x01) << "PES_extension_flag, packet " << k.index;
    const uint8_t* end = h + 9 + h[8];
    EXPECT_EQ(end[-2], 0x81) << k.index;
    EXPECT_EQ(end[-1], 0x55) << k.index;
  }
  // The PMT entry: stream type 0xEA with the VC-1 registration descriptor.
  const std::vector<uint8_t> pmt = FirstPacketPayload(reading, 0x0100);
  EXPECT_TRUE(Contains(pmt, {0xEA, 0xF0, 0x11})) << "stream type 0xEA on PID 0x1011";
  EXPECT_TRUE(Contains(pmt, {0x05, 6, 'V', 'C', '-', '1', 0x01, 0x94}));

  // ffprobe finds every frame at the analysis's time, in display order.
  RunResult probe = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                         "stream=codec_name,width,height,r_frame_rate:packet=pts", "-of", "default=nw=1", clip});
  ASSERT_EQ(probe.status, 0) << probe.err;
  EXPECT_NE(probe.out.find("codec_name=vc1\nwidth=1920\nheight=1080"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("r_frame_rate=30000/1001"), std::string::npos) << probe.out;
  std::vector<int64_t> probed;
  for (const std::string& l : Lines(probe.out))
    if (l.rfind("pts=", 0) == 0) probed.push_back(std::stoll(l.substr(4)));
  ASSERT_EQ(probed.size(), units.size());
  for (size_t i = 0; i < units.size(); ++i)
    EXPECT_EQ(probed[i] - probed[0], static_cast<int64_t>(units[i].pts) - units[0].pts) << i;

  RunResult dump = Zelvane({"dump", dir / "00000.clpi"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("(0xEA)"), std::string::npos) << dump.out;
}

// A movie disc of an MPEG-2 1080i clip with AC-3 and a VC-1 1080i clip, as
// libbluray lists their streams.
TEST(VideoCodecDisc, LibblurayListsCodingTypeFormatAndRate) {
  TempDir dir;
  const std::string d = dir.Path();
  CopyFixture("m2v_1080i2997.m2v", d);
  CopyFixture("ac3_stereo.ac3", d);
  WriteVc1(d + "/v.vc1");
  const std::string p = d + "/p.zvpj";
  const std::vector<std::vector<std::string>> steps = {
      {"new", p},
      {"source", "add", p, "Movie#1/Clip#1", d + "/m2v_1080i2997.m2v", d + "/ac3_stereo.ac3"},
      {"movie", "add", p},
      {"source", "add", p, "Movie#2/Clip#1", d + "/v.vc1"},
      {"build", p, d + "/out", "--yes"},
  };
  for (const auto& args : steps) {
    RunResult r = Zelvane(args);
    ASSERT_EQ(r.status, 0) << args[0] << "\n" << r.err;
  }
  const std::string root = d + "/out/Zelvane/DISC";
  RunResult info = zvtest::Run({ZV_BDCLIENT, "info", root});
  ASSERT_EQ(info.status, 0) << info.err;
  auto has = [&](const std::string& part) { return info.out.find(part) != std::string::npos; };
  EXPECT_TRUE(has("stream video 0 coding 0x02 pid 0x1011 format 4 rate 4 aspect 3")) << info.out;
  EXPECT_TRUE(has("stream audio 0 coding 0x81 pid 0x1100")) << info.out;
  EXPECT_TRUE(has("stream video 0 coding 0xea pid 0x1011 format 4 rate 4 aspect 3")) << info.out;
}

}  // namespace
