// The clip record with the sources made from other files (encoded video,
// audio slowed with it): clips stored before they existed still load, and
// clips without them keep their bytes.
#include <gtest/gtest.h>

#include "../named/le_bytes.h"
#include "model/story.h"
#include "platform/archive_io.h"
#include "subtitles/style_keys.h"

using namespace zv;
using zvtest::LeBytes;

namespace {

// A clip with one source and no tracks, as stored before encodes were kept:
// version 0, or version 1 with one text-subtitle style.
std::vector<uint8_t> OldClip(uint8_t version, const std::string& styleText) {
  LeBytes b;
  b.str("Clip#1").i32(0).u8(version)  // name, id, version
      .i32(0).i32(0).i32(-1)            // three reserved values
      .u32(1).str("/m/movie.264")       // sources
      .u32(0);                          // tracks
  if (version >= 1) b.u32(1).str("/m/subs.srt").str(styleText).u8(1);  // style: path, text, forced
  return b.bytes();
}

void Load(const std::vector<uint8_t>& bytes, CStoryObject& story) {
  ArchiveIn in(bytes);
  CArchive ar(in);
  story.Serialize(ar);
  EXPECT_EQ(in.Remaining(), 0u);
}

std::vector<uint8_t> Store(CStoryObject& story) {
  ArchiveOut out;
  CArchive ar(out);
  story.Serialize(ar);
  return out.Bytes();
}

TEST(StoryEncodeArchive, OldClipsLoadAndKeepTheirBytes) {
  SSubtitleStyle style;
  std::string want;
  ASSERT_TRUE(SetSubtitleStyle("size", "10", style, want)) << want;
  const std::string styleText = SubtitleStyleText(style);
  for (uint8_t version : {0, 1}) {
    const std::vector<uint8_t> bytes = OldClip(version, styleText);
    CStoryObject story;
    Load(bytes, story);
    ASSERT_EQ(story.m_vecSources.size(), 1u);
    EXPECT_EQ(story.m_vecSources[0], "/m/movie.264");
    EXPECT_TRUE(story.m_encodes.empty());
    EXPECT_EQ(story.m_textStyles.size(), version);
    // Nothing new to keep: stored again byte for byte.
    EXPECT_EQ(Store(story), bytes) << "version " << int(version);
  }
}

TEST(StoryEncodeArchive, EncodedSourcesRoundTripAndAreDroppedWithTheirSource) {
  CStoryObject story;
  story.SetName("Clip#1");
  story.m_vecSources = {"/m/phone.mp4.1080i29.97-q24.264", "/m/phone.mp4.a1.slow1001-1000.ac3-448.ac3"};
  story.m_encodes["/m/phone.mp4.1080i29.97-q24.264"] = {"/m/phone.mp4", true, "1080i29.97", 24, 0, 2500, 1, 1};
  story.m_encodes["/m/phone.mp4.a1.slow1001-1000.ac3-448.ac3"] = {"/m/phone.mp4", false, "", -1, 0, 0, 1001, 1000};
  const std::vector<uint8_t> bytes = Store(story);
  ASSERT_GT(bytes.size(), 11u);
  EXPECT_EQ(bytes[11], 2) << "the version byte after the name (7 bytes) and id";

  CStoryObject back;
  Load(bytes, back);
  ASSERT_EQ(back.m_encodes.size(), 2u);
  const SSourceEncode& v = back.m_encodes.at("/m/phone.mp4.1080i29.97-q24.264");
  EXPECT_EQ(v.original, "/m/phone.mp4");
  EXPECT_TRUE(v.video);
  EXPECT_EQ(v.format, "1080i29.97");
  EXPECT_EQ(v.quality, 24);
  EXPECT_EQ(v.stillMs, 2500);
  const SSourceEncode& a = back.m_encodes.at("/m/phone.mp4.a1.slow1001-1000.ac3-448.ac3");
  EXPECT_FALSE(a.video);
  EXPECT_EQ(a.slowNum, 1001u);
  EXPECT_EQ(a.slowDen, 1000u);
  EXPECT_EQ(Store(back), bytes);

  // A copy (undo keeps copies) holds them too; removing the source drops its note.
  CStoryObject copy;
  copy.CopyFrom(back);
  EXPECT_EQ(copy.m_encodes.size(), 2u);
  ASSERT_TRUE(back.RemoveSource(1));
  EXPECT_EQ(back.m_encodes.size(), 1u);

  // A damaged record is refused, not read as a rate of zero.
  std::vector<uint8_t> bad = bytes;
  bad[bad.size() - 8] = 0;
  bad[bad.size() - 7] = 0;
  bad[bad.size() - 6] = 0;
  bad[bad.size() - 5] = 0;
  CStoryObject refused;
  ArchiveIn in(bad);
  CArchive ar(in);
  EXPECT_THROW(refused.Serialize(ar), ArchiveError);
}

}  // namespace
