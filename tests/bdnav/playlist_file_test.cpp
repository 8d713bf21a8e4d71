#include "bdnav/playlist_file.h"

#include <gtest/gtest.h>

#include "platform/progress.h"

using namespace zv;

namespace {

std::vector<uint8_t> Write(PlaylistFile& p) {
  std::vector<uint8_t> out(p.WritePlaylist(nullptr, 0));
  size_t n = p.WritePlaylist(out.data(), out.size());
  EXPECT_EQ(n, out.size());
  return out;
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t off) {
  return (uint32_t{b[off]} << 24) | (uint32_t{b[off + 1]} << 16) | (uint32_t{b[off + 2]} << 8) | b[off + 3];
}

PRIMARY_STREAM_ENTRY Entry(uint16_t pid, uint8_t coding, uint8_t format, uint8_t rate, const char* lang) {
  PRIMARY_STREAM_ENTRY e;
  e.entry.type = 1;
  e.entry.RefToStreamPidOfMainClip = pid;
  e.attributes.StreamCodingType = coding;
  e.attributes.Format = format;
  e.attributes.Rate = rate;
  e.attributes.Language = lang;
  return e;
}

PLAY_ITEM SimpleItem() {
  PLAY_ITEM pi;
  pi.InTime = 27000000;
  pi.OutTime = 27450000;
  pi.stn.primaryVideo.push_back(Entry(0x1011, 0x1B, 6, 1, ""));
  pi.stn.primaryAudio.push_back(Entry(0x1100, 0x81, 3, 1, "eng"));
  return pi;
}

}  // namespace

TEST(Playlist, SmallPlaylistMatchesHandWrittenBytes) {
  std::vector<uint8_t> exp(170);
  BeWriter w(exp);
  w.Bytes("MPLS0200", 8);  // type indicator, version
  w.U32(58);               // PlayList start
  w.U32(150);              // PlayListMark start: 58 + 92
  w.U32(0);                // no ExtensionData
  w.Zeros(20);             // reserved
  w.U32(14);               // AppInfoPlayList length
  w.U8(0);                 // reserved
  w.U8(1);                 // sequential
  w.U16(0);                // playback count
  w.Zeros(8);              // UO mask
  w.U8(0);                 // flags
  w.U8(0);                 // reserved
  w.U32(88);               // PlayList length
  w.U16(0);                // reserved
  w.U16(1);                // play items
  w.U16(0);                // sub-paths
  w.U16(80);               // PlayItem length
  w.Bytes("00000M2TS", 9); // clip name, codec
  w.U8(0);                 // reserved
  w.U8(0x01);              // not multi-angle, connection condition 1
  w.U8(0);                 // ref_to_STC_id
  w.U32(27000000);         // IN
  w.U32(27450000);         // OUT
  w.Zeros(8);              // UO mask
  w.U8(0);                 // random access flag
  w.U8(0);                 // still mode
  w.U16(0);                // still time
  w.U16(46);               // STN length
  w.U16(0);                // reserved
  w.U8(1);                 // primary video
  w.U8(1);                 // primary audio
  w.Zeros(5);              // PG, IG, secondary audio, secondary video, PiP PG
  w.Zeros(5);              // reserved
  w.U8(9);                 // stream entry length
  w.U8(1);                 // type: play item's clip
  w.U16(0x1011);           // PID
  w.Zeros(6);
  w.U8(5);                 // attributes length
  w.U8(0x1B);              // H.264
  w.U8(0x61);              // 1080p, 23.976
  w.Zeros(3);
  w.U8(9);
  w.U8(1);
  w.U16(0x1100);
  w.Zeros(6);
  w.U8(5);
  w.U8(0x81);              // AC-3
  w.U8(0x31);              // stereo, 48 kHz
  w.Bytes("eng", 3);
  w.U32(16);               // PlayListMark length
  w.U16(1);                // marks
  w.U8(0);                 // reserved
  w.U8(1);                 // entry mark
  w.U16(0);                // play item 0
  w.U32(27000000);         // time stamp
  w.U16(0xFFFF);           // entry ES PID
  w.U32(0);                // duration
  ASSERT_EQ(w.Size(), exp.size());

  PlaylistFile p;
  p.playItems.push_back(SimpleItem());
  p.marks.push_back({1, 0, 27000000, 0xFFFF, 0});
  EXPECT_EQ(Write(p), exp);

  PlaylistFile r;
  std::string err;
  ASSERT_EQ(r.Parse(exp.data(), exp.size(), &err), kOk) << err;
  ASSERT_EQ(r.playItems.size(), 1u);
  EXPECT_EQ(r.playItems[0].OutTime, 27450000u);
  ASSERT_EQ(r.playItems[0].stn.primaryAudio.size(), 1u);
  EXPECT_EQ(r.playItems[0].stn.primaryAudio[0].attributes.Language, "eng");
  EXPECT_EQ(r.playItems[0].stn.primaryVideo[0].entry.RefToStreamPidOfMainClip, 0x1011);
  ASSERT_EQ(r.marks.size(), 1u);
  EXPECT_EQ(r.marks[0].MarkTimeStamp, 27000000u);
}

TEST(Playlist, EmptyPlayItemAndMarkLengths) {
  PlaylistFile p;
  p.playItems.emplace_back();
  std::vector<uint8_t> b = Write(p);
  EXPECT_EQ(Be32(b, 40), 14u);                 // AppInfoPlayList length
  EXPECT_EQ((b[64] << 8) | b[65], 1);          // play items
  EXPECT_EQ((b[66] << 8) | b[67], 0);          // sub-paths
  uint32_t mark = Be32(b, 12);
  EXPECT_EQ(Be32(b, mark), 2u);                // mark block: count only
  EXPECT_EQ((b[mark + 4] << 8) | b[mark + 5], 0);
  EXPECT_EQ(b.size(), mark + 6u);
}

TEST(Playlist, StillTimeOnlyWithStillModeOne) {
  PlaylistFile p;
  PLAY_ITEM pi;
  pi.StillMode = 2;
  pi.StillTime = 30;
  p.playItems.push_back(pi);
  pi.StillMode = 1;
  p.playItems.push_back(pi);
  std::vector<uint8_t> b = Write(p);
  size_t first = 68;  // PlayList 58 + 10
  EXPECT_EQ(b[first + 31], 2);
  EXPECT_EQ((b[first + 32] << 8) | b[first + 33], 0);
  size_t second = first + 2 + ((b[first] << 8) | b[first + 1]);
  EXPECT_EQ(b[second + 31], 1);
  EXPECT_EQ((b[second + 32] << 8) | b[second + 33], 30);
}

TEST(Playlist, AngleBlockCountsTheMainClip) {
  PlaylistFile p;
  PLAY_ITEM pi;
  SAngleBlock a;
  a.IsSeamlessAngleChange = true;
  a.entries = {{"00001", "M2TS", 0}, {"00002", "M2TS", 1}};
  pi.angles = a;
  p.playItems.push_back(pi);
  std::vector<uint8_t> b = Write(p);
  size_t item = 68;
  EXPECT_EQ(b[item + 12], 0x11);  // is_multi_angle, connection condition 1
  EXPECT_EQ(b[item + 34], 3);     // number_of_angles
  EXPECT_EQ(b[item + 35], 0x01);  // seamless angle change
  EXPECT_EQ(std::string(b.begin() + item + 36, b.begin() + item + 45), "00001M2TS");
  EXPECT_EQ(b[item + 45], 0);
  EXPECT_EQ(std::string(b.begin() + item + 46, b.begin() + item + 55), "00002M2TS");
  EXPECT_EQ(b[item + 55], 1);
  EXPECT_EQ((b[item + 56] << 8) | b[item + 57], 16 - 2);  // STN follows: length of an empty table
}

TEST(Playlist, SecondaryAudioCombinationListIsPadded) {
  PlaylistFile p;
  PLAY_ITEM pi;
  SECONDARD_AUDIO_STREAM_ENTRY sa;
  sa.entry.type = 1;
  sa.entry.RefToStreamPidOfMainClip = 0x1A00;
  sa.attributes.StreamCodingType = 0xA1;
  sa.attributes.Format = 3;
  sa.attributes.Rate = 1;
  sa.attributes.Language = "eng";
  sa.primaryAudioRefs = {1, 2, 3};
  pi.stn.secondaryAudio.push_back(sa);
  p.playItems.push_back(pi);
  std::vector<uint8_t> b = Write(p);
  size_t stn = 68 + 34;
  EXPECT_EQ((b[stn] << 8) | b[stn + 1], 14 + 16 + 6);  // STN length
  EXPECT_EQ(b[stn + 8], 1);                            // secondary audio count
  size_t comb = stn + 16 + 16;
  EXPECT_EQ(b[comb], 3);
  EXPECT_EQ(b[comb + 1], 0);
  EXPECT_EQ(b[comb + 2], 1);
  EXPECT_EQ(b[comb + 4], 3);
  EXPECT_EQ(b[comb + 5], 0);  // padding
  EXPECT_EQ(b.size(), comb + 6 + 6);  // then the empty mark block
}

TEST(Playlist, ClearUoBitClearsEveryMask) {
  PlaylistFile p;
  p.uoMask.fill(0xFF);
  p.playItems.resize(2);
  for (auto& pi : p.playItems) pi.uoMask.fill(0xFF);
  p.ClearUoBit(24);
  p.ClearUoBit(25);
  EXPECT_EQ(p.uoMask[3], 0x3F);
  for (auto& pi : p.playItems) {
    EXPECT_EQ(pi.uoMask[3], 0x3F);
    EXPECT_EQ(pi.uoMask[2], 0xFF);
    EXPECT_FALSE(GetUoBit(pi.uoMask, 24));
    EXPECT_TRUE(GetUoBit(pi.uoMask, 26));
  }
  std::vector<uint8_t> b = Write(p);
  EXPECT_EQ(b[40 + 8 + 3], 0x3F);       // AppInfo mask byte 3
  EXPECT_EQ(b[68 + 22 + 3], 0x3F);      // first play item's mask byte 3
  EXPECT_STREQ(UoBitName(24), "Pop On");
  EXPECT_STREQ(UoBitLabel(33), "PiP_PG_TextST_StreamNumberChange");
}
