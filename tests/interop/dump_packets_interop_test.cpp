// `zelvane dump CLIP.m2ts --packets N` read against ffprobe on the same
// clip: the program's PIDs, the PCR values (ffprobe's raw demuxer reports
// each packet's PCR in 27 MHz) and the time stamps of the first video PES.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "interop/json_reader.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

// "key=value" of every line of ffprobe's flat output that begins with `prefix`.
std::vector<std::map<std::string, std::string>> Records(const std::string& text, const std::string& prefix) {
  std::vector<std::map<std::string, std::string>> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix + "|", 0) != 0) continue;
    auto& rec = out.emplace_back();
    std::istringstream fields(line.substr(prefix.size() + 1));
    for (std::string f; std::getline(fields, f, '|');)
      if (auto eq = f.find('='); eq != std::string::npos) rec[f.substr(0, eq)] = f.substr(eq + 1);
  }
  return out;
}

class DumpPacketsInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    std::vector<std::string> argv{ZV_BINARY, "mux", dir_ / "00000.m2ts", CopyFixture("h264_1080p2398.264", dir_.Path()),
                                  CopyFixture("ac3_stereo.ac3", dir_.Path()), "--yes"};
    RunResult mux = zvtest::Run(argv);
    ASSERT_EQ(mux.status, 0) << mux.err;
    clip_ = dir_ / "00000.m2ts";
  }
  TempDir dir_;
  std::string clip_;
};

TEST_F(DumpPacketsInterop, PidsPcrAndFirstVideoTimeStampsMatchFfprobe) {
  constexpr int kPackets = 40;
  RunResult dump = zvtest::Run({ZV_BINARY, "dump", clip_, "--packets", std::to_string(kPackets), "--json"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  JsonValue doc = JsonValue::Parse(dump.out);
  EXPECT_EQ(doc["type"].Str(), "m2ts");
  const auto& packets = doc["content"]["SourcePacket"].Items();
  ASSERT_EQ(packets.size(), static_cast<size_t>(kPackets));

  // The PMT as dumped against the program ffprobe finds.
  const JsonValue* pmt = nullptr;
  for (const auto& p : packets)
    if (p.Has("PMT")) pmt = &p["PMT"];
  ASSERT_NE(pmt, nullptr) << "no PMT in the first packets";
  RunResult programs = zvtest::Run({"ffprobe", "-v", "error", "-show_programs", "-show_entries",
                            "program=pmt_pid,pcr_pid:stream=id", "-of", "compact", clip_});
  ASSERT_EQ(programs.status, 0) << programs.err;
  auto prog = Records(programs.out, "program");
  ASSERT_EQ(prog.size(), 1u) << programs.out;
  EXPECT_EQ(std::to_string((*pmt)["PCR_PID"].Int()), prog[0]["pcr_pid"]);
  std::set<std::string> dumped, probed;
  for (const auto& s : (*pmt)["stream"].Items()) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%llx", static_cast<long long>(s["elementary_PID"].Int()));
    dumped.insert(id);
  }
  for (auto& s : Records(programs.out, "stream")) probed.insert(s["id"]);
  EXPECT_EQ(dumped, probed);
  // The PAT names the PMT's PID the way ffprobe found it.
  const auto& pat = packets[0]["PAT"]["program"].Items();
  ASSERT_EQ(pat.size(), 2u);
  EXPECT_EQ(std::to_string(pat[1]["program_map_PID"].Int()), prog[0]["pmt_pid"]);

  // Every PCR against the raw demuxer's PCR of the same packet.
  RunResult raw = zvtest::Run({"ffprobe", "-v", "error", "-f", "mpegtsraw", "-compute_pcr", "1", "-show_entries", "packet=pts",
                       "-read_intervals", "%+#" + std::to_string(kPackets), "-of", "compact", clip_});
  ASSERT_EQ(raw.status, 0) << raw.err;
  auto rawPackets = Records(raw.out, "packet");
  ASSERT_GE(rawPackets.size(), static_cast<size_t>(kPackets)) << raw.out;
  int pcrs = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& ts = packets[i]["transport_packet"];
    if (!ts.Has("adaptation_field") || !ts["adaptation_field"].Has("PCR")) continue;
    ++pcrs;
    EXPECT_EQ(std::to_string(ts["PID"].Int()), prog[0]["pcr_pid"]) << "packet " << i;
    EXPECT_EQ(std::to_string(ts["adaptation_field"]["PCR"]["value_27MHz"].Int()), rawPackets[i]["pts"])
        << "packet " << i;
  }
  EXPECT_GE(pcrs, 1) << "no PCR in the first packets";

  // The first video PES header against ffprobe's first video packet.
  const JsonValue* pes = nullptr;
  for (const auto& p : packets)
    if (!pes && p["transport_packet"]["PID"].Int() == 0x1011 && p.Has("PES_header")) pes = &p["PES_header"];
  ASSERT_NE(pes, nullptr) << "no video PES in the first packets";
  RunResult video = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts,dts",
                         "-read_intervals", "%+#1", "-of", "compact", clip_});
  ASSERT_EQ(video.status, 0) << video.err;
  auto first = Records(video.out, "packet");
  ASSERT_FALSE(first.empty()) << video.out;
  EXPECT_EQ((*pes)["stream_id"].Int(), 0xE0);
  EXPECT_EQ(std::to_string((*pes)["PTS"].Int()), first[0]["pts"]);
  EXPECT_EQ(std::to_string((*pes)["DTS"].Int()), first[0]["dts"]);
}

// Damage reported with the packet it is in, after the packets before it.
TEST_F(DumpPacketsInterop, TruncatedFileAndLostSyncNameThePacket) {
  std::vector<uint8_t> bytes = ReadBytes(clip_);
  ASSERT_GT(bytes.size(), 10u * 192);
  const std::string cut = dir_ / "cut.m2ts";
  WriteBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3 * 192 + 100));
  RunResult r = zvtest::Run({ZV_BINARY, "dump", cut, "--packets", "10"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("packet 3 (byte 576) holds only 100 of its 192 bytes"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("SourcePacket 2: "), std::string::npos) << "the whole packets are dumped";

  bytes[5 * 192 + 4] = 0x46;
  const std::string lost = dir_ / "lost.m2ts";
  WriteBytes(lost, bytes);
  r = zvtest::Run({ZV_BINARY, "dump", lost, "--packets", "10"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("packet 5 (byte 960): lost sync"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("SourcePacket 4: "), std::string::npos);
  EXPECT_EQ(r.out.find("SourcePacket 5: "), std::string::npos);
}

}  // namespace
