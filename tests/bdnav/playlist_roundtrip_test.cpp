// Playlists that use every block: write, read, write again.
#include <gtest/gtest.h>

#include "bdnav/playlist_file.h"
#include "platform/progress.h"

using namespace zv;

namespace {

std::vector<uint8_t> Write(PlaylistFile& p) {
  std::vector<uint8_t> out(p.WritePlaylist(nullptr, 0));
  p.WritePlaylist(out.data(), out.size());
  return out;
}

PRIMARY_STREAM_ENTRY Entry(uint8_t type, uint16_t pid, uint8_t coding, const char* lang) {
  PRIMARY_STREAM_ENTRY e;
  e.entry.type = type;
  e.entry.RefToStreamPidOfMainClip = pid;
  e.entry.RefToStreamPidOfSubClip = pid;
  e.entry.RefToSubPathId = type == 1 ? 0 : 1;
  e.entry.RefToSubClipEntryId = type == 2 ? 2 : 0;
  e.attributes.StreamCodingType = coding;
  e.attributes.Format = StreamKindOf(coding) == StreamKind::kVideo ? 6 : 3;
  e.attributes.Rate = 1;
  e.attributes.CharacterCode = StreamKindOf(coding) == StreamKind::kTextSt ? 1 : 0;
  e.attributes.Language = StreamKindOf(coding) == StreamKind::kVideo ? "" : lang;
  return e;
}

// The bytes of a ProgramInfo block as a clip information file holds it.
std::vector<uint8_t> ProgramInfoBytes() {
  SProgramInfo pi;
  StreamCodingInfo a;
  a.StreamCodingType = 0x81;
  a.AudioPresentationType = 3;
  a.SamplingFrequency = 1;
  a.Language = "spa";
  pi.sequences[0].streams.push_back({0x1100, a});
  BeWriter m;
  pi.Write(m);
  std::vector<uint8_t> b(m.Size());
  BeWriter w(b);
  pi.Write(w);
  return b;
}

PlaylistFile FullPlaylist() {
  PlaylistFile p;
  p.PlaybackType = 2;
  p.PlaybackCount = 3;
  p.AudioMixAppFlag = true;
  p.uoMask[0] = 0x40;
  p.uoMask[7] = 0x01;  // a reserved bit is kept

  PLAY_ITEM pi;
  pi.ClipName = "00001";
  pi.ConnectionCondition = 5;
  pi.RefToStcId = 1;
  pi.InTime = 27000000;
  pi.OutTime = 27900000;
  pi.RandomAccessFlag = true;
  pi.StillMode = 1;
  pi.StillTime = 12;
  SAngleBlock ab;
  ab.IsDifferentAudios = true;
  ab.entries = {{"00007", "M2TS", 0}};
  pi.angles = ab;
  STN_TABLE& s = pi.stn;
  s.primaryVideo = {Entry(1, 0x1011, 0x1B, "")};
  s.primaryAudio = {Entry(1, 0x1100, 0x83, "eng"), Entry(2, 0x1101, 0x81, "fra")};
  s.pgTextSt = {Entry(1, 0x1200, 0x90, "deu"), Entry(2, 0x1800, 0x92, "jpn")};
  s.pipPgTextSt = {Entry(3, 0x1201, 0x90, "ita")};
  s.ig = {Entry(2, 0x1400, 0x91, "eng")};
  SECONDARD_AUDIO_STREAM_ENTRY sa;
  static_cast<PRIMARY_STREAM_ENTRY&>(sa) = Entry(1, 0x1A00, 0xA1, "eng");
  sa.primaryAudioRefs = {1, 2};
  s.secondaryAudio = {sa};
  SECONDARD_VIDEO_STREAM_ENTRY sv;
  static_cast<PRIMARY_STREAM_ENTRY&>(sv) = Entry(3, 0x1B00, 0x1B, "");
  sv.secondaryAudioRefs = {1};
  sv.pipPgRefs = {1, 2, 3};
  s.secondaryVideo = {sv};
  PRIMARY_STREAM_ENTRY odd;
  odd.entry.type = 9;
  odd.attributes.StreamCodingType = 0x05;
  s.primaryAudio.push_back(odd);
  p.playItems.push_back(pi);
  PLAY_ITEM second;
  second.ClipName = "00002";
  second.stn.primaryVideo = {Entry(1, 0x1011, 0x02, "")};
  p.playItems.push_back(second);

  SUB_PATH ig;
  ig.SubPathType = 3;
  SUB_PLAY_ITEM spi;
  spi.ClipName = "00010";
  spi.InTime = 100;
  spi.OutTime = 900100;
  spi.SyncStartPtsOfPlayItem = 27000000;
  ig.items.push_back(spi);
  p.subPaths.push_back(ig);
  SUB_PATH multi;
  multi.SubPathType = 5;
  multi.IsRepeat = true;
  spi.ClipName = "00011";
  SAngleBlock mc;
  mc.entries = {{"00012", "M2TS", 0}, {"00013", "M2TS", 2}};
  spi.multiClip = mc;
  spi.SpConnectionCondition = 6;
  spi.SyncPlayItemId = 1;
  multi.items.push_back(spi);
  p.subPaths.push_back(multi);

  p.marks = {{1, 0, 27000000, 0xFFFF, 0}, {2, 1, 27450000, 0x1011, 90000}};

  CEdeFolder ext;
  auto pip = std::make_shared<SPipMetaData>();
  SPipMetadataBlock blk;
  blk.RefToPlayItemId = 0;
  blk.RefToSecondaryVideoStreamId = 1;
  blk.TimelineType = 1;
  blk.IsLumaKey = true;
  blk.UpperLimitLumaKey = 16;
  blk.entries = {{27000000, 1280, 720, 2}, {27450000, 100, 50, 1}};
  pip->blocks.push_back(blk);
  ext.entries.push_back(SExtDataEntry::FromRecord(1, 1, pip));
  SExtDataEntry pim;
  pim.id1 = 2;
  pim.id2 = 5;
  pim.data = ProgramInfoBytes();
  ext.entries.push_back(pim);
  SExtDataEntry unknown;
  unknown.id1 = 0x4000;
  unknown.id2 = 9;
  unknown.data = {9, 8, 7};
  ext.entries.push_back(unknown);
  p.extensionData = ext;
  return p;
}

}  // namespace

TEST(PlaylistRoundTrip, EveryBlockSurvivesWriteReadWrite) {
  PlaylistFile p = FullPlaylist();
  std::vector<uint8_t> first = Write(p);
  PlaylistFile r;
  std::string err;
  ASSERT_EQ(r.Parse(first.data(), first.size(), &err), kOk) << err;
  EXPECT_EQ(Write(r), first);

  EXPECT_EQ(r.PlaybackCount, 3);
  EXPECT_TRUE(r.AudioMixAppFlag);
  EXPECT_FALSE(r.RandomAccessFlag);
  EXPECT_EQ(r.uoMask[7], 0x01);
  ASSERT_EQ(r.playItems.size(), 2u);
  const PLAY_ITEM& pi = r.playItems[0];
  EXPECT_EQ(pi.StillTime, 12);
  EXPECT_EQ(pi.ConnectionCondition, 5);
  ASSERT_TRUE(pi.angles);
  EXPECT_TRUE(pi.angles->IsDifferentAudios);
  EXPECT_EQ(pi.angles->entries[0].ClipName, "00007");
  EXPECT_EQ(pi.stn.primaryAudio.size(), 3u);
  EXPECT_EQ(pi.stn.primaryAudio[1].entry.RefToSubClipEntryId, 2);
  EXPECT_EQ(pi.stn.primaryAudio[2].entry.type, 9);
  EXPECT_EQ(pi.stn.pgTextSt[1].attributes.CharacterCode, 1);
  EXPECT_EQ(pi.stn.pipPgTextSt[0].attributes.Language, "ita");
  EXPECT_EQ(pi.stn.ig[0].entry.RefToStreamPidOfSubClip, 0x1400);
  EXPECT_EQ(pi.stn.secondaryAudio[0].primaryAudioRefs, (CRefList{1, 2}));
  EXPECT_EQ(pi.stn.secondaryVideo[0].pipPgRefs, (CRefList{1, 2, 3}));
  EXPECT_EQ(pi.stn.secondaryVideo[0].entry.RefToStreamPidOfMainClip, 0x1B00);
  ASSERT_EQ(r.subPaths.size(), 2u);
  EXPECT_TRUE(r.subPaths[1].IsRepeat);
  const SUB_PLAY_ITEM& spi = r.subPaths[1].items[0];
  EXPECT_EQ(spi.SpConnectionCondition, 6);
  ASSERT_TRUE(spi.multiClip);
  EXPECT_EQ(spi.multiClip->entries[1].RefToStcId, 2);
  EXPECT_EQ(r.marks[1].Duration, 90000u);

  ASSERT_TRUE(r.extensionData);
  const auto& ext = r.extensionData->entries;
  ASSERT_EQ(ext.size(), 3u);
  auto* pip = dynamic_cast<const SPipMetaData*>(ext[0].record.get());
  ASSERT_NE(pip, nullptr);
  EXPECT_EQ(pip->blocks[0].UpperLimitLumaKey, 16);
  EXPECT_EQ(pip->blocks[0].entries[0].HorizontalPosition, 1280);
  EXPECT_EQ(pip->blocks[0].entries[1].Scale, 1);
  // The ProgramInfo entry is shown through its record and written back as read.
  auto* pim = dynamic_cast<const SPiMeta*>(ext[1].record.get());
  ASSERT_NE(pim, nullptr);
  EXPECT_EQ(pim->programInfo.sequences[0].streams[0].coding.Language, "spa");
  EXPECT_EQ(ext[1].data, ProgramInfoBytes());
  EXPECT_EQ(ext[2].record, nullptr);
  EXPECT_EQ(ext[2].data, (std::vector<uint8_t>{9, 8, 7}));
}

TEST(PlaylistRoundTrip, DumpLabelsAndNames) {
  PlaylistFile p = FullPlaylist();
  std::vector<uint8_t> b = Write(p);
  PlaylistFile r;
  std::string err;
  ASSERT_EQ(r.Parse(b.data(), b.size(), &err), kOk) << err;
  std::string t = r.DumpText();
  EXPECT_NE(t.find("PlaylistPlaybackType: 2(Random)\n"), std::string::npos);
  EXPECT_NE(t.find("UoMaskTable: 0x4000000000000001\n"), std::string::npos);
  EXPECT_NE(t.find("  TitleSearch: 1\n"), std::string::npos);
  EXPECT_NE(t.find("SubPathType: 3(IG menu)\n"), std::string::npos);
  EXPECT_NE(t.find("MarkType: 2(LinkPoint)\n"), std::string::npos);
  EXPECT_NE(t.find("EntryES_PID: 0x1011\n"), std::string::npos);
  EXPECT_NE(t.find("StreamCodingType: TrueHD/Dolby Lossless(0x83)\n"), std::string::npos);
  EXPECT_NE(t.find("SecondardVideoPiP_PG_TextST_StreamCombInfo: \n"), std::string::npos);
  EXPECT_NE(t.find("RefID 2: 3\n"), std::string::npos);
  EXPECT_NE(t.find("PipHorPos: 1280\n"), std::string::npos);
  EXPECT_NE(t.find("UpperLimitLumaKey: 16\n"), std::string::npos);
  EXPECT_NE(t.find("Language: spa\n"), std::string::npos);  // from the (2, 5) record
  EXPECT_NE(t.find("NumberOfAngles: 2\n"), std::string::npos);
}

TEST(PlaylistRoundTrip, TruncatedOrInconsistentFilesGiveErrors) {
  PlaylistFile p = FullPlaylist();
  std::vector<uint8_t> good = Write(p);
  for (size_t n = 0; n < good.size(); ++n) {
    PlaylistFile r;
    std::string err;
    ASSERT_EQ(r.Parse(good.data(), n, &err), kFailed) << n;
    EXPECT_FALSE(err.empty());
  }
  auto expectFail = [](std::vector<uint8_t> b, const char* what) {
    PlaylistFile r;
    std::string err;
    EXPECT_EQ(r.Parse(b.data(), b.size(), &err), kFailed) << what;
    EXPECT_NE(err.find(what), std::string::npos) << err;
  };
  std::vector<uint8_t> b = good;
  b[3] = 'X';
  expectFail(b, "MPLS");
  b = good;
  b[65] = 9;  // nine play items announced, two present
  expectFail(b, "PlayList");
  b = good;
  b[68] = 0xFF;  // first play item longer than the PlayList block
  expectFail(b, "PlayItem 0");
  b = good;
  b[12] = 0x10;  // mark address outside the file
  expectFail(b, "PlayListMark");
  b = good;
  size_t ext = (good[16] << 24) | (good[17] << 16) | (good[18] << 8) | good[19];
  b[ext + 12 + 4 + 3] = 0xF0;  // first entry's data address past the block
  expectFail(b, "ExtensionData");
}
