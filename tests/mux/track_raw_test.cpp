// Raw tracks: stored form, languages, sources from stream files, delays
// and placeholders.
#include <gtest/gtest.h>

#include <filesystem>

#include "mux/mux_track.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

// Little-endian archive bytes, one call per field.
struct Le {
  std::vector<uint8_t> b;
  Le& u8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  Le& i32(int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Le& str(const std::string& s) {  // length byte below 255, then the bytes
    b.push_back(static_cast<uint8_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Le& raw(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Le& zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
};

TEST(TrackStoredForm, RawTrackBytesAndRoundTrip) {
  const std::string project = "/discs/demo/demo.zvpj";
  zv::SRawTrack t;
  t.m_source.m_strPath = "/discs/demo/media/movie.ac3";
  t.m_source.m_nTimeMode = 1;
  t.m_source.m_nInPoint = 2000;
  t.m_source.m_nOutPoint = 0;
  t.m_nTrackNumber = 3;
  t.m_bEnabled = false;
  t.m_bPrimary = true;
  t.m_bSecond = true;
  t.m_nRefIndex = 2;
  t.m_nDelay = -90000;
  ASSERT_TRUE(t.SetLanguageCode("fra"));
  const int32_t fra = zv::LanguageIndexOf("fra");

  zv::ArchiveOut out;
  t.Store(out, project);
  Le want;
  want.u8(0)                          // SRawTrack version
      .str("").i32(-1)                // source: name, id
      .u8(0)                          // source version
      .u8(0)                          // no file list
      .str("./media/movie.ac3")       // main path, relative to the project
      .str("")                        // second path
      .u8(1)                          // time mode
      .i32(2000).i32(0).i32(0)        // in, out, graphics offset
      .raw("fra")                     // language
      .zeros(12)                      // ISRC
      .u8(0)                          // SMuxTrack version
      .i32(3)                         // track number
      .u8(0).u8(1).u8(1)              // enabled, primary, second
      .u8(2)                          // reference index
      .i32(fra)                       // language index
      .i32(-90000);                   // delay
  EXPECT_EQ(out.Bytes(), want.b);

  // Bools come back from any non-zero byte.
  std::vector<uint8_t> bytes = out.Bytes();
  const size_t enabledAt = bytes.size() - 12;
  bytes[enabledAt] = 7;
  zv::ArchiveIn in(bytes);
  zv::SRawTrack back;
  back.Load(in, project);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_EQ(back.m_source.m_strPath, t.m_source.m_strPath);
  EXPECT_EQ(back.m_source.m_nInPoint, 2000);
  EXPECT_EQ(back.m_nTrackNumber, 3);
  EXPECT_TRUE(back.m_bEnabled);
  EXPECT_TRUE(back.m_bSecond);
  EXPECT_EQ(back.m_nRefIndex, 2);
  EXPECT_EQ(back.GetLanguageCode(), "fra");
  EXPECT_EQ(back.m_nDelay, -90000);

  // A language index outside the table is a corrupt project, not a crash.
  std::vector<uint8_t> bad = out.Bytes();
  const size_t langAt = bad.size() - 8;
  bad[langAt] = 0xFF;
  bad[langAt + 1] = 0xFF;
  zv::ArchiveIn badIn(bad);
  zv::SRawTrack broken;
  EXPECT_THROW(broken.Load(badIn, project), zv::ArchiveError);
}

TEST(TrackLanguage, CodesAndIndices) {
  zv::SRawTrack t;
  EXPECT_EQ(t.GetLanguageCode(), "eng");
  EXPECT_TRUE(t.SetLanguageCode("DEU"));  // letter case does not matter
  EXPECT_EQ(t.GetLanguageCode(), "deu");
  EXPECT_EQ(t.m_source.m_language.Text(), "deu");
  EXPECT_FALSE(t.SetLanguage(t.m_nLanguage));
  EXPECT_FALSE(t.SetLanguage(-1));
  EXPECT_TRUE(t.SetLanguageCode("xqz"));  // unknown: English
  EXPECT_EQ(t.GetLanguageCode(), "eng");
  EXPECT_FALSE(t.SetLanguageCode("zzzz"));  // unknown again: already English
}

TEST(TrackSource, LanguageFromFileNameAndRefusals) {
  TempDir dir;
  const std::string ac3 = DataPath("ac3_stereo.ac3");
  struct Case {
    const char* name;
    const char* language;
  } cases[] = {{"movie_fra.ac3", "fra"}, {"movie-fra.ac3", "eng"}, {"x_ab.ac3", "eng"}, {"m_xyz.ac3", "eng"}};
  for (const Case& k : cases) {
    const std::string path = dir / k.name;
    std::filesystem::copy_file(ac3, path);
    zv::SRawTrack t;
    zv::ScriptedPrompt prompt;
    ASSERT_TRUE(t.SetSource(path, {}, &prompt)) << t.LastError();
    EXPECT_EQ(t.GetLanguageCode(), k.language) << k.name;
    EXPECT_EQ(t.GetStreamCodingType(), 0x81);
  }

  // A lossless file needs its AC-3 core beside it.
  const std::string thd = dir / "alone.thd";
  WriteBytes(thd, {0, 1, 2, 3});
  zv::SRawTrack t;
  zv::ScriptedPrompt prompt;
  EXPECT_FALSE(t.SetSource(thd, {}, &prompt));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], thd +
                                    "\r\nCorresponding ac3 file doesn't exist! \n(a Dolby lossless stream plays with "
                                    "its AC-3 core: give the AC-3 core as the main file, \"alone.ac3\" beside it)");
  EXPECT_TRUE(t.m_source.m_strPath.empty()) << "a refused source leaves the track as it was";

  // A file no parser accepts is refused with the parser's message.
  const std::string junk = dir / "junk.ac3";
  WriteBytes(junk, std::vector<uint8_t>(4096, 0x55));
  zv::ScriptedPrompt p2;
  EXPECT_FALSE(t.SetSource(junk, {}, &p2));
  ASSERT_FALSE(p2.messages.empty());
  EXPECT_EQ(p2.messages.back().rfind(junk + "\n", 0), 0u) << p2.messages.back();
}

// Counts the units a prepared track serves.
int DrainUnits(zv::SRawTrack& t, uint32_t* firstPts = nullptr) {
  int n = 0;
  while (t.GetCurrentAu() && t.GetCurrentAu()->size > 0) {
    if (n == 0 && firstPts) *firstPts = t.GetCurrentAu()->pts;
    ++n;
    EXPECT_TRUE(t.NextAu()) << t.LastError();
  }
  return n;
}

TEST(TrackPrepare, DelaysShiftOrCutTheStream) {
  TempDir dir;
  const std::string path = CopyFixture("ac3_stereo.ac3", dir.Path());
  zv::ScriptedPrompt prompt;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  uint32_t pts[3] = {};
  int units[3] = {};
  const int32_t delays[3] = {0, 90000, -45000};
  for (int i = 0; i < 3; ++i) {
    zv::SRawTrack t;
    ASSERT_TRUE(t.SetSource(path, {}, &prompt));
    t.m_nPid = 0x1100;
    t.m_nDelay = delays[i];
    ASSERT_TRUE(t.PrepareForMux(prep)) << t.LastError();
    uint32_t sp, sd, pk;
    t.GetStartInfo(sp, sd, pk);
    EXPECT_EQ(sp, t.GetCurrentAu()->pts);
    EXPECT_GE(pk, 1u);
    units[i] = DrainUnits(t, &pts[i]);
    EXPECT_TRUE(t.m_bEnded);
  }
  EXPECT_EQ(pts[0], 54000000u) << "the clip's base time";
  EXPECT_EQ(pts[1], 54000000u + 90000) << "a positive delay moves every stamp";
  // A negative delay drops half a second: 15 whole frames of 32 ms.
  EXPECT_EQ(units[1], units[0]);
  EXPECT_EQ(units[2], units[0] - 15);
}

TEST(TrackPrepare, PlaceholderServesNothing) {
  TempDir dir;
  zv::ScriptedPrompt prompt;
  zv::SRawTrack real;
  ASSERT_TRUE(real.SetSource(CopyFixture("ac3_stereo.ac3", dir.Path()), {}, &prompt));
  real.SetLanguageCode("jpn");
  zv::SRawTrack empty;
  empty.m_pRefTrack = &real;
  EXPECT_EQ(empty.GetDisplayName(true, false), "Empty track");
  EXPECT_EQ(empty.GetStreamCodingType(), 0x81);
  EXPECT_EQ(empty.GetLanguageCode(), "jpn");
  ASSERT_TRUE(empty.PrepareForMux({}));
  EXPECT_TRUE(empty.m_bEnded);
  EXPECT_EQ(empty.GetCurrentAu(), nullptr);
  EXPECT_EQ(empty.GetTotalBytes(), 0u);
}

}  // namespace
