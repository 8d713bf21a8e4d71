// The playlist's one syntax description: errors name the path of sections
// down to the field, and the dump shows the file as it stands.
#include <gtest/gtest.h>

#include "bdnav/playlist_file.h"
#include "platform/progress.h"

using namespace zv;

namespace {

// One play item with a video and an audio entry, one mark, no extension
// data: the play item starts at 68, its STN table at 102, the audio entry's
// attributes at 144 and the mark block at 150.
std::vector<uint8_t> SmallPlaylist() {
  PlaylistFile p;
  PLAY_ITEM pi;
  PRIMARY_STREAM_ENTRY v;
  v.entry.RefToStreamPidOfMainClip = 0x1011;
  v.attributes.StreamCodingType = kSctH264;
  v.attributes.Format = 6;
  v.attributes.Rate = 1;
  pi.stn.primaryVideo.push_back(v);
  PRIMARY_STREAM_ENTRY a;
  a.entry.RefToStreamPidOfMainClip = 0x1100;
  a.attributes.StreamCodingType = kSctAc3;
  a.attributes.Format = 3;
  a.attributes.Rate = 1;
  a.attributes.Language = "eng";
  pi.stn.primaryAudio.push_back(a);
  p.playItems.push_back(pi);
  p.marks.push_back({1, 0, 0, 0xFFFF, 0});
  std::vector<uint8_t> b(p.WritePlaylist(nullptr, 0));
  p.WritePlaylist(b.data(), b.size());
  return b;
}

std::string ParseError(const std::vector<uint8_t>& b) {
  PlaylistFile r;
  std::string err;
  EXPECT_EQ(r.Parse(b.data(), b.size(), &err), kFailed);
  return err;
}

}  // namespace

TEST(PlaylistSyntax, ErrorsNameTheSectionsDownToTheField) {
  const std::vector<uint8_t> good = SmallPlaylist();
  ASSERT_EQ(good.size(), 170u);
  ASSERT_EQ(good[144], 5);  // the audio attributes' length

  std::vector<uint8_t> b = good;
  b[144] = 0xFF;
  EXPECT_NE(ParseError(b).find("PlayList: PlayItem 0: StnTable: PrimaryStreamEntry 0: StreamAttributes: Length: is 255"),
            std::string::npos)
      << ParseError(b);

  b = good;
  b[103] = 200;  // STN table longer than its play item
  EXPECT_NE(ParseError(b).find("PlayList: PlayItem 0: StnTable: Length: is 200"), std::string::npos) << ParseError(b);

  b = good;
  b[155] = 2;  // two marks announced, one present
  EXPECT_NE(ParseError(b).find("PlayListMarks: PlayListMark 1: "), std::string::npos) << ParseError(b);

  b = good;
  b[0] = 'X';
  EXPECT_NE(ParseError(b).find("header: type indicator is not \"MPLS\""), std::string::npos) << ParseError(b);
}

TEST(PlaylistSyntax, DumpShowsLengthsAsReadAndRewriteNormalizes) {
  std::vector<uint8_t> b = SmallPlaylist();
  // A foreign writer's mark block with two bytes of padding at its end.
  ASSERT_EQ(b[153], 16);
  b[153] = 18;
  b.push_back(0);
  b.push_back(0);

  SDumpNode root;
  PlaylistFile::DumpBytes(b.data(), b.size(), root);
  const std::string t = root.Render();
  EXPECT_NE(t.find("PlayListMarks: \n  Length: 18\n"), std::string::npos) << t;
  // Every field is listed, the header's and each entry's length included.
  EXPECT_NE(t.find("  TypeIndicator: MPLS\n  Version: 0200\n  PlayListStartAddress: 58\n"), std::string::npos) << t;
  EXPECT_NE(t.find("StreamEntry: \n"), std::string::npos);
  EXPECT_NE(t.find("Length: 9\n"), std::string::npos);
  EXPECT_NE(t.find("StreamCodingType: AC-3(0x81)\n"), std::string::npos);
  EXPECT_NE(t.find("AudioPresentationType: Stereo(3)\n"), std::string::npos);

  PlaylistFile r;
  std::string err;
  ASSERT_EQ(r.Parse(b.data(), b.size(), &err), kOk) << err;
  std::vector<uint8_t> again(r.WritePlaylist(nullptr, 0));
  r.WritePlaylist(again.data(), again.size());
  EXPECT_EQ(again, SmallPlaylist());
}
