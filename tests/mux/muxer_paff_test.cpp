// A field-coded (PAFF) stream multiplexed into a clip: every byte of the
// elementary stream must arrive in the clip's video packets, in order.
#include <gtest/gtest.h>

#include "mux/muxer.h"
#include "muxer_clip_check.h"
#include "streams/stream_test_util.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

TEST(MuxerPaff, EveryByteOfAFieldCodedStreamReachesTheClip) {
  TempDir dir;
  const std::vector<uint8_t> bytes = PaffStream();
  WriteBytes(dir / "paff.264", bytes);
  zv::ScriptedPrompt prompt;
  zv::SRawTrack track;
  ASSERT_TRUE(track.SetSource(dir / "paff.264", {}, &prompt)) << track.LastError();
  std::vector<zv::SMuxTrack*> tracks = zv::AssignPids({static_cast<zv::SMuxTrack*>(&track)});
  zv::CMuxer muxer;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  ASSERT_TRUE(muxer.Prepare(&tracks, prep)) << muxer.Error();
  std::string error;
  ASSERT_EQ(zv::MuxClipFiles(muxer, dir / "00001.m2ts", dir / "00001.clpi", false, {}, error), zv::kOk) << error;

  const ClipReading clip = ReadClip(dir / "00001.m2ts");
  ASSERT_EQ(clip.error, "");
  const auto& video = clip.units.at(0x1011);
  // Two field pairs and the lone field of the first GOP, two pairs and a
  // frame of the second: one PES packet each.
  EXPECT_EQ(video.size(), 6u);
  std::vector<uint8_t> es;
  for (const ClipUnit& u : video) es.insert(es.end(), u.payload.begin(), u.payload.end());
  ASSERT_EQ(es.size(), bytes.size());
  EXPECT_TRUE(es == bytes);
  // Decode times rise through the lone field; no picture is shown before it
  // is decoded.
  for (size_t i = 1; i < video.size(); ++i) EXPECT_GT(video[i].dts, video[i - 1].dts) << i;
  for (const ClipUnit& u : video) EXPECT_GE(u.pts, u.dts);
}

}  // namespace
