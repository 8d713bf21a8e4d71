// Playlist stream entries made from raw tracks.
#include <gtest/gtest.h>

#include "model/playlist_stn.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

TEST(TrackPlaylist, StreamEntriesGoToTheirLists) {
  TempDir dir;
  zv::ScriptedPrompt prompt;
  zv::SRawTrack audio;
  ASSERT_TRUE(audio.SetSource(CopyFixture("ac3_51.ac3", dir.Path()), {}, &prompt));
  audio.m_nPid = 0x1103;
  audio.SetLanguageCode("spa");
  zv::STN_TABLE stn;
  ASSERT_TRUE(zv::AddToStn(audio, stn));
  ASSERT_EQ(stn.primaryAudio.size(), 1u);
  const zv::PRIMARY_STREAM_ENTRY& e = stn.primaryAudio[0];
  EXPECT_EQ(e.entry.type, 1);
  EXPECT_EQ(e.entry.RefToStreamPidOfMainClip, 0x1103);
  EXPECT_EQ(e.attributes.StreamCodingType, 0x81);
  EXPECT_EQ(e.attributes.Format, 6);  // multi-channel
  EXPECT_EQ(e.attributes.Rate, 1);    // 48 kHz
  EXPECT_EQ(e.attributes.Language, "spa");

  audio.m_bPrimary = false;
  audio.m_nPid = 0x1A00;
  ASSERT_TRUE(zv::AddToStn(audio, stn));
  ASSERT_EQ(stn.secondaryAudio.size(), 1u);
  EXPECT_EQ(stn.secondaryAudio[0].entry.RefToStreamPidOfMainClip, 0x1A00);
  EXPECT_EQ(stn.primaryAudio.size(), 1u);

  // An existing sub-path entry keeps its kind and takes the PID where that kind holds it.
  zv::PRIMARY_STREAM_ENTRY sub;
  sub.entry.type = 2;
  zv::FillStreamEntry(audio, sub);
  EXPECT_EQ(sub.entry.RefToStreamPidOfSubClip, 0x1A00);
  EXPECT_EQ(sub.entry.RefToStreamPidOfMainClip, 0);
  EXPECT_EQ(sub.attributes.Language, "spa");

  zv::SRawTrack video;
  ASSERT_TRUE(video.SetSource(CopyFixture("h264_1080p2398.264", dir.Path()), {}, &prompt));
  video.m_nPid = 0x1011;
  ASSERT_TRUE(zv::AddToStn(video, stn));
  ASSERT_EQ(stn.primaryVideo.size(), 1u);
  EXPECT_EQ(stn.primaryVideo[0].attributes.Format, 6);  // 1080p
  EXPECT_EQ(stn.primaryVideo[0].attributes.Rate, 1);    // 23.976
  EXPECT_EQ(stn.primaryVideo[0].attributes.Language, "");
  EXPECT_DOUBLE_EQ(video.GetFrameDuration(), 1001.0 / 24);
  EXPECT_EQ(video.GetFormatText(), "1920x1080");
}

}  // namespace
