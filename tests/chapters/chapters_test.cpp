#include <gtest/gtest.h>

#include "chapters/chapters.h"
#include "support/test_support.h"

using namespace zv;

TEST(Timecode, ParsesFramesAndMillisecondForms) {
  EXPECT_EQ(ParseTimecode("00:01:00:12", 25), 1512);
  // trunc(60 x 29.97002997 + 0.5) + 12
  EXPECT_EQ(ParseTimecode("00:01:00:12", FpsOfCode(4)), 1810);
  EXPECT_EQ(ParseTimecode("00:01:00.500", 24), 1452);
  EXPECT_EQ(ParseTimecode("00:01:00;500", 24), 1452);
  EXPECT_EQ(ParseTimecode("01:00:00:00", FpsOfCode(1)), 86314);  // trunc(3600 x 23.976 + 0.5)
}

TEST(Timecode, RejectsOutOfRangeFieldsAndBadShapes) {
  EXPECT_EQ(ParseTimecode("00:61:00:00", 25), 0);  // minutes tens digit above 5
  EXPECT_EQ(ParseTimecode("00:00:00:40", 25), 0);  // frame tens digit above 3
  EXPECT_EQ(ParseTimecode("00:00:00:40", FpsOfCode(4)), 0);
  // At 50 and 59.94 fps frame numbers up to 59 are real frames.
  EXPECT_EQ(ParseTimecode("00:00:10:45", 50), 545);
  EXPECT_EQ(ParseTimecode("00:00:01:59", FpsOfCode(7)), 119);
  EXPECT_EQ(ParseTimecode("00:00:01:60", FpsOfCode(7)), 0);
  EXPECT_EQ(ParseTimecode("00:00:10:5", 25), 0);
  EXPECT_EQ(ParseTimecode("00-00-10-05", 25), 0);
  EXPECT_EQ(ParseTimecode("00:00:10.05x", 25), 0);
  EXPECT_EQ(ParseTimecode("", 25), 0);
}

TEST(Timecode, FormatsWithCarryIntoTheNextSecond) {
  EXPECT_EQ(FormatTimecode(1799, FpsOfCode(4)), "00:01:00:01");
  EXPECT_EQ(FormatTimecode(1512, 25), "00:01:00:12");
  EXPECT_EQ(FormatTimecode(0, 25), "00:00:00:00");
  // 23.976: frame 24 is 1.001 s; ff = trunc(24 - 23.976 + 0.5) = 0
  EXPECT_EQ(FormatTimecode(24, FpsOfCode(1)), "00:00:01:00");
  // A frame that rounds up to a whole second carries: 29.97 fps, frame 29.
  EXPECT_EQ(FormatTimecode(29, FpsOfCode(4)), "00:00:00:29");
  EXPECT_EQ(FormatTimecode(3600 * 25 * 2 + 3, 25), "02:00:00:03");
  EXPECT_EQ(FormatTimecode(7, 0), "00:00:00:07");  // reserved code: no division by zero
  EXPECT_EQ(FormatMilliseconds(3723004), "01:02:03:004");
}

TEST(ChapterText, UsesTheListRateAndIgnoresNonTimecodeLines) {
  CChapters c;
  c.m_nFpsCode = 3;  // 25
  std::string msg;
  ASSERT_TRUE(ParseChapterText("Chapters of my film\n00:00:10;05 Opening scene\r\n\n00:61:00:00 Bad\n"
                               "00:01:00:12,Second\nnot a line\n",
                               c, msg));
  ASSERT_EQ(c.Count(), 3u);
  EXPECT_EQ(c.m_points[0].time, 255);
  EXPECT_EQ(c.m_points[0].name, "Opening scene");  // the name is the rest of the line
  EXPECT_EQ(c.m_points[0].type, 1);
  EXPECT_EQ(c.m_points[1].time, 0);  // out-of-range field still makes a point, at 0
  EXPECT_EQ(c.m_points[2].time, 1512);
  EXPECT_EQ(c.m_points[2].name, "Second");

  CChapters noRate;
  EXPECT_FALSE(ParseChapterText("00:00:01:00\n", noRate, msg));
  EXPECT_EQ(noRate.Count(), 0u);
}

TEST(ChapterCsv, HeaderRulesAndMessages) {
  CChapters c;
  c.m_nFpsCode = 1;
  std::string msg;
  ASSERT_TRUE(ParseChapterCsv("FrameRate 23.976\nDrop\n00:05:00:00 Scene2\n", c, msg));
  ASSERT_EQ(c.Count(), 1u);
  EXPECT_EQ(c.m_points[0].time, 7193);  // trunc(300 * 24000 / 1001 + 0.5)
  EXPECT_EQ(c.m_points[0].name, "Scene2");
  // Read at the file's rate, counted at the clip's: 00:05:00:00 at 23.976
  // (7193 frames, 300.0 s) is frame 7500 of a 25 fps clip, and 00:00:01:00
  // at 25 (25 frames) is frame 24 at 23.976, not 25.
  c.m_nFpsCode = 3;
  ASSERT_TRUE(ParseChapterCsv("FrameRate 23.976\nDrop\n00:05:00:00 Scene2\n", c, msg));
  EXPECT_EQ(c.m_points.at(0).time, 7500);
  c.m_nFpsCode = 1;
  ASSERT_TRUE(ParseChapterCsv("FrameRate 25\nNonDrop\n00:00:01:00\n", c, msg));
  EXPECT_EQ(c.m_points.at(0).time, 24);

  // Header complete without chapters still succeeds.
  ASSERT_TRUE(ParseChapterCsv("nondrop,25\n", c, msg));
  EXPECT_EQ(c.Count(), 0u);

  // "Reserved" means zero frames per second: only the frame field counts.
  ASSERT_TRUE(ParseChapterCsv("Reserved NonDrop\n00:01:00:12\n", c, msg));
  EXPECT_EQ(c.m_points.at(0).time, 12);

  std::string noFlag = "FrameRate 25\n";
  for (int i = 0; i < 12; ++i) noFlag += "00:00:0" + std::to_string(i % 10) + ":00 X\n";
  EXPECT_FALSE(ParseChapterCsv(noFlag, c, msg));
  EXPECT_EQ(msg, "Drop frame flag is not defined! ");
  EXPECT_EQ(c.Count(), 0u);

  EXPECT_FALSE(ParseChapterCsv("NonDrop\n00:00:01:00\n", c, msg));
  EXPECT_EQ(msg, "Frame rate is not defined! ");
  EXPECT_FALSE(ParseChapterCsv("", c, msg));
  EXPECT_EQ(msg, "Frame rate is not defined! ");

  // The flag arriving on the eleventh header line is still in time; the
  // twelfth is not.
  std::string late = "25\n";
  for (int i = 0; i < 9; ++i) late += "comment\n";
  ASSERT_TRUE(ParseChapterCsv(late + "Drop\n00:00:01:00\n", c, msg));
  EXPECT_EQ(c.Count(), 1u);
  EXPECT_FALSE(ParseChapterCsv(late + "comment\nDrop\n00:00:01:00\n", c, msg));
}

TEST(ChapterImport, KeepsTheListOnFailureAndChecksTheClip) {
  zvtest::TempDir dir;
  CChapters list;
  list.m_nFpsCode = 1;
  list.AddPoint().name = "old";
  std::string msg;
  EXPECT_EQ(ImportChapterFile(list, false, 1, dir / "x.csv", msg), ImportResult::kFailed);
  EXPECT_EQ(msg, "Please select clip first! ");
  EXPECT_EQ(ImportChapterFile(list, true, 0, dir / "x.csv", msg), ImportResult::kFailed);
  EXPECT_EQ(msg, "Please add video track first! ");
  EXPECT_EQ(ImportChapterFile(list, true, 1, dir / "missing.csv", msg), ImportResult::kFailed);
  EXPECT_NE(msg.find("Cannot open \"" + (dir / "missing.csv") + "\""), std::string::npos) << msg;

  zvtest::WriteText(dir / "bad.CSV", "00:00:01:00 A\n");
  EXPECT_EQ(ImportChapterFile(list, true, 1, dir / "bad.CSV", msg), ImportResult::kFailed);
  EXPECT_EQ(msg, "Frame rate is not defined! ");
  zvtest::WriteText(dir / "empty.txt", "nothing here\n");
  EXPECT_EQ(ImportChapterFile(list, true, 1, dir / "empty.txt", msg), ImportResult::kNoChapters);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.m_points[0].name, "old");

  zvtest::WriteText(dir / "ok.txt", "00:00:02:00 A\n00:00:04:00 B\n");
  EXPECT_EQ(ImportChapterFile(list, true, 2, dir / "ok.txt", msg), ImportResult::kImported);
  EXPECT_EQ(list.m_nFpsCode, 2);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.m_points[1].time, 96);
}

TEST(ChapterStore, LayoutAndTruncation) {
  CChapters c;
  c.m_nFpsCode = 3;
  c.m_points.push_back({"Ab", 1, 250});
  c.m_points.push_back({"", 2, -1});
  ArchiveOut out;
  c.Store(out);
  const std::vector<uint8_t> expected = {
      0x00, 0x03,              // version, frame-rate code
      0x02, 0x00, 0x00, 0x00,  // point count
      0x00, 0x01, 0xFA, 0x00, 0x00, 0x00, 0x02, 'A', 'b',  // version, type, time 250, name
      0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,             // version, type 2, time -1, empty name
  };
  EXPECT_EQ(out.Bytes(), expected);
  ArchiveIn in(expected);
  CChapters back;
  back.Load(in);
  EXPECT_TRUE(in.AtEnd());
  ASSERT_EQ(back.Count(), 2u);
  EXPECT_EQ(back.m_points[0].name, "Ab");
  EXPECT_EQ(back.m_points[1].time, -1);
  EXPECT_EQ(back.m_nFpsCode, 3);

  std::vector<uint8_t> huge = {0x00, 0x03, 0xFF, 0xFF, 0xFF, 0x7F, 0x00};
  ArchiveIn in2(huge);
  EXPECT_THROW(back.Load(in2), ArchiveError);
}

// The position a point takes is the chapter number the disc shows: later
// than every point that is not later, the end (-1) after all times.
TEST(Chapters, InsertInTimeOrderReturnsThePositionTaken) {
  CChapters c;
  EXPECT_EQ(c.InsertInTimeOrder({"end", 1, -1}), 0u);
  EXPECT_EQ(c.InsertInTimeOrder({"b", 1, 500}), 0u);
  EXPECT_EQ(c.InsertInTimeOrder({"a", 1, 0}), 0u);
  EXPECT_EQ(c.InsertInTimeOrder({"b2", 1, 500}), 2u);  // after the equal time
  EXPECT_EQ(c.InsertInTimeOrder({"end2", 1, -1}), 4u);
  EXPECT_EQ(c.InsertInTimeOrder({"c", 1, 2000}), 3u);
  std::vector<std::string> names;
  for (const auto& p : c.m_points) names.push_back(p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "b2", "c", "end", "end2"}));
}

TEST(ChapterNames, AreTheRestOfTheLineQuotedOrNot) {
  CChapters c;
  c.m_nFpsCode = 3;
  std::string msg;
  ASSERT_TRUE(ParseChapterCsv("FrameRate 25\nNonDrop\n00:00:00:00 The Storm\n00:00:01:00,\"Storm, the return\"\n"
                              "00:00:02:00,Part 2, the end  \n00:00:03:00\t\"Say \"\"hi\"\"\"\n00:00:04:00\n",
                              c, msg));
  ASSERT_EQ(c.Count(), 5u);
  EXPECT_EQ(c.m_points[0].name, "The Storm");
  EXPECT_EQ(c.m_points[1].name, "Storm, the return");
  EXPECT_EQ(c.m_points[2].name, "Part 2, the end");
  EXPECT_EQ(c.m_points[3].name, "Say \"hi\"");
  EXPECT_EQ(c.m_points[4].name, "");
  EXPECT_EQ(c.m_points[1].time, 25);
}

// The same three chapters as mkvextract (XML and the simple form) and
// ffmpeg (metadata) wrote them out of one Matroska file.
TEST(ChapterImport, ReadsWhatMkvextractAndFfmpegWrite) {
  const std::string folder = std::string(ZV_TEST_DATA) + "/chapters/";
  for (const char* name : {"mkvextract.xml", "mkvextract_simple.txt", "ffmetadata.txt"}) {
    SCOPED_TRACE(name);
    CChapters list;
    std::string msg;
    ASSERT_EQ(ImportChapterFile(list, true, 1, folder + name, msg), ImportResult::kImported) << msg;
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.m_nFpsCode, 1);
    // 0.5 s and 1.25 s at 23.976 fps: frames 12 (11.99) and 30 (29.97).
    EXPECT_EQ(list.m_points[0].time, 0);
    EXPECT_EQ(list.m_points[1].time, 12);
    EXPECT_EQ(list.m_points[2].time, 30);
    EXPECT_EQ(list.m_points[0].name, "Opening");
    EXPECT_EQ(list.m_points[1].name, "The Storm, again");
    EXPECT_EQ(list.m_points[2].name, "Return & \xC3\xA9t\xC3\xA9");
    for (const CChapterPoint& p : list.m_points) EXPECT_EQ(p.type, 1);
  }
}

TEST(ChapterImport, TimedFormatsDetailsAndFaults) {
  CChapters c;
  c.m_nFpsCode = 3;  // 25
  std::string msg;
  // ffmetadata: its own time base, escapes, sections that are no chapters.
  ASSERT_TRUE(ParseTimedChapters(";FFMETADATA1\ntitle=Film\n[STREAM]\ntitle=x\n[CHAPTER]\nTIMEBASE=1/1000\n"
                                 "START=2000\nEND=3000\ntitle=A \\= B\\; C\n",
                                 c, msg))
      << msg;
  ASSERT_EQ(c.Count(), 1u);
  EXPECT_EQ(c.m_points[0].time, 50);
  EXPECT_EQ(c.m_points[0].name, "A = B; C");
  EXPECT_FALSE(ParseTimedChapters(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/0\nSTART=1\n", c, msg));
  EXPECT_EQ(msg, "line 3: TIMEBASE \"1/0\" is not num/den");
  EXPECT_FALSE(ParseTimedChapters("[CHAPTER]\ntitle=x\n", c, msg));
  EXPECT_EQ(msg, "line 1: a [CHAPTER] without START");
  EXPECT_EQ(c.Count(), 0u);

  // Simple form: names may come before times; numbers pair them.
  ASSERT_TRUE(ParseTimedChapters("CHAPTER02NAME=Two\nCHAPTER01=00:00:00.000\nCHAPTER02=01:00:01.040\n", c, msg));
  ASSERT_EQ(c.Count(), 2u);
  EXPECT_EQ(c.m_points[0].name, "Two");  // in the order the numbers appear
  EXPECT_EQ(c.m_points[0].time, 90026);  // 3601.04 s at 25 fps
  EXPECT_FALSE(ParseTimedChapters("CHAPTER01=00:00:61.000\n", c, msg));
  EXPECT_EQ(msg, "CHAPTER01: \"00:00:61.000\" is not a time (hh:mm:ss.mmm)");
  EXPECT_FALSE(ParseTimedChapters("CHAPTER01NAME=Lonely\n", c, msg));
  EXPECT_EQ(msg, "CHAPTER01NAME has no CHAPTER01 time");

  // Matroska XML: hidden chapters stay out, nested ones are not chapters
  // of the disc, a broken file says where.
  ASSERT_TRUE(ParseTimedChapters("<Chapters><EditionEntry>"
                                 "<ChapterAtom><ChapterTimeStart>00:00:01.000000000</ChapterTimeStart>"
                                 "<ChapterAtom><ChapterTimeStart>00:00:01.500000000</ChapterTimeStart></ChapterAtom>"
                                 "</ChapterAtom>"
                                 "<ChapterAtom><ChapterFlagHidden>1</ChapterFlagHidden>"
                                 "<ChapterTimeStart>00:00:02.000000000</ChapterTimeStart></ChapterAtom>"
                                 "</EditionEntry></Chapters>",
                                 c, msg))
      << msg;
  ASSERT_EQ(c.Count(), 1u);
  EXPECT_EQ(c.m_points[0].time, 25);
  EXPECT_EQ(c.m_points[0].name, "");
  EXPECT_FALSE(ParseTimedChapters("<Chapters><EditionEntry><ChapterAtom></EditionEntry></Chapters>", c, msg));
  EXPECT_EQ(msg.rfind("the Matroska chapter file is not well-formed XML: line 1", 0), 0u) << msg;
  EXPECT_FALSE(ParseTimedChapters("<Chapters><EditionEntry><ChapterAtom/></EditionEntry></Chapters>", c, msg));
  EXPECT_EQ(msg, "line 1: a ChapterAtom without a ChapterTimeStart of hh:mm:ss.nnnnnnnnn");

  // A failed read keeps the list as it was.
  zvtest::TempDir dir;
  CChapters list;
  list.m_nFpsCode = 3;
  list.AddPoint().name = "old";
  zvtest::WriteText(dir / "bad.txt", "CHAPTER01=soon\n");
  EXPECT_EQ(ImportChapterFile(list, true, 3, dir / "bad.txt", msg), ImportResult::kFailed);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.m_points[0].name, "old");
}

TEST(ChapterImport, EveryIntervalUpToTheLength) {
  CChapters c;
  c.m_nFpsCode = 1;
  ChaptersEvery(c, 5 * 60000, 12 * 60000);  // 0, 5 and 10 minutes
  ASSERT_EQ(c.Count(), 3u);
  EXPECT_EQ(c.m_points[0].time, 0);
  EXPECT_EQ(c.m_points[1].time, 7193);  // 300 s at 23.976
  EXPECT_EQ(c.m_points[2].time, 14386);
  ChaptersEvery(c, 5 * 60000, 10 * 60000);  // not one at the very end
  EXPECT_EQ(c.Count(), 2u);
  ChaptersEvery(c, 1000, 3600000);  // a playlist holds 999 marks
  EXPECT_EQ(c.Count(), 999u);
}
