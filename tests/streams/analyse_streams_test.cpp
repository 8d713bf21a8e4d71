// Several stream files analysed side by side: the stream information is
// what analysing them one by one writes, a stop reaches every analysis and
// leaves no partial file, and a bad file among good ones is left for its
// caller to report.
#include "streams/analyse_streams.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "streams/stream_context.h"
#include "support/test_support.h"

using namespace zv;

namespace {

const char* const kFixtures[] = {"h264_1080p2398.264", "ac3_51.ac3", "lpcm_51_24_48.wav", "dts_51.dts"};

int OpenOne(const std::string& path) {
  SSourceParams params;
  params.path = path;
  SStreamContext ctx;
  ScriptedPrompt prompt;
  return OpenStream(params, ctx, {}, &prompt);
}

TEST(AnalyseStreams, WritesWhatOneByOneAnalysisWritesAndStopsWhenAsked) {
  zvtest::TempDir side, alone;
  std::vector<std::string> paths;
  for (const char* name : kFixtures) {
    paths.push_back(zvtest::CopyFixture(name, side.Path()));
    const std::string one = zvtest::CopyFixture(name, alone.Path());
    // The stream information records the stream's time.
    std::filesystem::last_write_time(one, std::filesystem::last_write_time(paths.back()));
    ASSERT_EQ(OpenOne(one), kOk) << name;
  }
  paths.push_back(paths[0]);  // named twice: analysed once
  ScriptedPrompt prompt;
  int reports = 0;
  Progress counting{[](void* c, const SProgressInfo*) {
                      ++*static_cast<int*>(c);
                      return 1;
                    },
                    &reports};
  ASSERT_EQ(AnalyseStreams(paths, counting, &prompt), kOk);
  EXPECT_GE(reports, 1);
  EXPECT_TRUE(prompt.messages.empty());
  for (const char* name : kFixtures) {
    // The same record and unit table; the trailers differ in their times.
    SSifHeader a, b;
    std::unique_ptr<CSifData> sa, sb;
    ASSERT_TRUE(LoadStreamInfo(SifPathBeside(side / name), side / name, a, sa)) << name;
    ASSERT_TRUE(LoadStreamInfo(SifPathBeside(alone / name), alone / name, b, sb)) << name;
    EXPECT_EQ(a.streamCodingType, b.streamCodingType) << name;
    EXPECT_EQ(a.auCount, b.auCount) << name;
    EXPECT_EQ(a.auDuration, b.auDuration) << name;
    EXPECT_EQ(a.bitRate, b.bitRate) << name;
    EXPECT_EQ(a.payloadSize, b.payloadSize) << name;
    EXPECT_EQ(std::filesystem::file_size(SifPathBeside(side / name)), std::filesystem::file_size(SifPathBeside(alone / name)))
        << name;
  }
  // Cached now: nothing is analysed again.
  ASSERT_EQ(AnalyseStreams(paths, {}, &prompt), kOk);

  // A stop at the first report: no analysis completes a large file, and
  // whatever stream information exists reads back as current.
  zvtest::TempDir big;
  const std::vector<uint8_t> frames = zvtest::ReadBytes(zvtest::DataPath("ac3_51.ac3"));
  std::vector<uint8_t> many;
  for (int i = 0; i < 300; ++i) many.insert(many.end(), frames.begin(), frames.end());
  std::vector<std::string> large;
  for (const char* name : {"a.ac3", "b.ac3", "c.ac3"}) {
    zvtest::WriteBytes(big / name, many);
    large.push_back(big / name);
  }
  Progress stop{[](void*, const SProgressInfo*) { return 0; }, nullptr};
  EXPECT_EQ(AnalyseStreams(large, stop, &prompt), kCancelled);
  for (const std::string& p : large) {
    EXPECT_FALSE(std::filesystem::exists(SifPathBeside(p))) << p;
  }
  for (const auto& entry : std::filesystem::directory_iterator(big.Path()))
    EXPECT_EQ(entry.path().extension(), ".ac3") << entry.path() << " was left behind";
  // Not stopped, the same files are analysed in full.
  EXPECT_EQ(AnalyseStreams(large, {}, &prompt), kOk);
  for (const std::string& p : large) EXPECT_TRUE(std::filesystem::exists(SifPathBeside(p))) << p;
}

TEST(AnalyseStreams, ABadFileIsLeftForItsCallerAndTheGoodOnesAreAnalysed) {
  zvtest::TempDir dir;
  const std::string good = zvtest::CopyFixture("ac3_51.ac3", dir.Path());
  const std::string bad = zvtest::CopyFixture("fail_44k.ac3", dir.Path());
  zvtest::WriteText(dir / "text.ac3", "not a stream at all\n");
  ScriptedPrompt prompt;
  EXPECT_EQ(AnalyseStreams({bad, good, dir / "text.ac3", dir / "missing.ac3"}, {}, &prompt), kFailed);
  // The failures are told by whoever opens the files next, not twice.
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_TRUE(std::filesystem::exists(SifPathBeside(good)));
  EXPECT_FALSE(std::filesystem::exists(SifPathBeside(bad)));
  ScriptedPrompt next;
  EXPECT_EQ(OpenOne(bad), kFailed);
}

}  // namespace
