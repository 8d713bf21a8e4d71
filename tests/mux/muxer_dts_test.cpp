// DTS and DTS-HD tracks in a multiplexed clip, read back independently: the
// units in their PES packets with the core/extension stream-id extensions,
// the buffers replayed per model (core units through the DTS model, the
// whole stream through the DTS-HD model), and the clip information.
#include <gtest/gtest.h>

#include <algorithm>

#include "mux/clip_info.h"
#include "mux/muxer.h"
#include "muxer_clip_check.h"
#include "streams/stream_test_util.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

struct Built {
  std::string m2ts, clpi, audio;
};

Built Build(const TempDir& dir, const std::string& audioFixture) {
  Built b;
  zv::ScriptedPrompt prompt;
  zv::SRawTrack video, audio;
  EXPECT_TRUE(video.SetSource(CopyFixture("h264_1080p2398.264", dir.Path()), {}, &prompt)) << video.LastError();
  b.audio = CopyFixture(audioFixture, dir.Path());
  EXPECT_TRUE(audio.SetSource(b.audio, {}, &prompt)) << audio.LastError();
  video.m_nOrderKey = 0;
  audio.m_nOrderKey = 1;
  std::vector<zv::SMuxTrack*> ordered = zv::AssignPids({&video, &audio});
  zv::CMuxer muxer;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  EXPECT_TRUE(muxer.Prepare(&ordered, prep)) << muxer.Error();
  b.m2ts = dir / "00001.m2ts";
  b.clpi = dir / "00001.clpi";
  std::string error;
  EXPECT_EQ(zv::MuxClipFiles(muxer, b.m2ts, b.clpi, false, {}, error), zv::kOk) << error;
  return b;
}

bool IsCore(const ClipUnit& u) { return u.idExtension == 0x71; }

// Checks the audio PID of a clip made from `fixture`; `type` is the coding
// type the clip must carry.
void CheckDtsClip(const std::string& fixture, uint8_t type) {
  SCOPED_TRACE(fixture);
  TempDir dir;
  Built b = Build(dir, fixture);
  ClipReading c = ReadClip(b.m2ts);
  ASSERT_TRUE(c.error.empty()) << c.error;
  ASSERT_EQ(c.units.count(0x1100), 1u);
  const std::vector<ClipUnit>& units = c.units.at(0x1100);

  // Every stored unit in its own PES packet, in order, byte for byte; core
  // units marked 0x71, extension substreams 0x72 and timed like their core.
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(b.audio, ctx), zv::kOk);
  const std::vector<zv::AUI> aus = AllUnits(ctx);
  const std::vector<uint8_t> file = ReadBytes(b.audio);
  ASSERT_EQ(units.size(), aus.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const bool extension = aus[i].flags & 1;
    ASSERT_EQ(units[i].streamId, 0xFD) << i;
    ASSERT_EQ(units[i].idExtension, extension ? 0x72 : 0x71) << i;
    ASSERT_EQ(units[i].payload.size(), aus[i].size) << i;
    ASSERT_TRUE(std::equal(units[i].payload.begin(), units[i].payload.end(), file.begin() + aus[i].offset)) << i;
    if (extension) {
      ASSERT_EQ(units[i].pts, units[i - 1].pts) << i;
    }
  }
  const size_t cores = static_cast<size_t>(std::count_if(units.begin(), units.end(), IsCore));
  EXPECT_EQ(cores, type == zv::kSctDts ? units.size() : units.size() / 2);

  // The core units alone fit the DTS model; with a DTS-HD model the whole
  // stream (its core units enter both) fits it too.
  EXPECT_EQ(ReplayStd(c, 0x1100, DtsCore(), IsCore), "");
  if (type != zv::kSctDts) {
    EXPECT_EQ(CoreMarking(c, 0x1100), "");
    EXPECT_EQ(ReplayStd(c, 0x1100, DtsHdPrimary()), "");
  }
  EXPECT_EQ(ReplayStd(c, 0x1011, AvcLevel41()), "");

  zv::ClipInformationFile ci;
  std::vector<uint8_t> raw = ReadBytes(b.clpi);
  std::string err;
  ASSERT_EQ(ci.Parse(raw.data(), raw.size(), &err), zv::kOk) << err;
  const auto& streams = ci.programInfo.sequences.at(0).streams;
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[1].StreamPID, 0x1100);
  EXPECT_EQ(streams[1].coding.StreamCodingType, type);
  EXPECT_EQ(streams[1].coding.AudioPresentationType, 6);
  EXPECT_EQ(streams[1].coding.SamplingFrequency, 1);
}

TEST(MuxerDts, CoreFramesGoThroughTheDtsModel) { CheckDtsClip("dts_51.dts", zv::kSctDts); }

TEST(MuxerDts, MasterAudioCoreAndExtensionUnitsGoToTheirModels) { CheckDtsClip("dtshd_ma.dtshd", zv::kSctDtsHdMa); }

TEST(MuxerDts, HighResolutionCoreAndExtensionUnitsGoToTheirModels) {
  CheckDtsClip("dtshd_hra.dts", zv::kSctDtsHdHr);
}

// A substream-only stream is secondary audio: refused as a clip's track,
// with the message that says so.
TEST(MuxerDts, SubstreamOnlyStreamIsRefusedAsPrimaryTrack) {
  TempDir dir;
  zv::ScriptedPrompt prompt;
  zv::SRawTrack audio;
  const std::string path = CopyFixture("dts_lbr.dts", dir.Path());
  EXPECT_FALSE(audio.SetSource(path, {}, &prompt));
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_NE(prompt.messages.back().find("can only be added as secondary track! "), std::string::npos)
      << prompt.messages.back();
}

}  // namespace
