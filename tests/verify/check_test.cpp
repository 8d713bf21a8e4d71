// `zelvane check` end to end: the demo disc checks clean, and each broken
// copy of it is reported under the rule it breaks and no other.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bdnav/index_bdmv.h"
#include "bdnav/movie_objects.h"
#include "bdnav/playlist_file.h"
#include "graphics/composition.h"
#include "graphics/segments.h"
#include "mux/clip_info.h"
#include "mux/psi.h"
#include "platform/file.h"
#include "support/run_tools.h"
#include "support/test_support.h"
#include "verify/check.h"

using zvtest::ReadBytes;
using zvtest::RunResult;
using zvtest::TempDir;
using zvtest::WriteBytes;

namespace fs = std::filesystem;

namespace {

using FindingSet = std::multiset<std::pair<std::string, std::string>>;

RunResult Zv(std::vector<std::string> args) { return zvtest::Zelvane(std::move(args)); }

// (rule, file) of every finding line of a text report.
FindingSet Findings(const std::string& out) {
  FindingSet found;
  static const std::regex line(R"(^(error|warning|note): (\S+)(?: \([^)]*\))? \[([a-z.-]+)\] )");
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (std::regex_search(l, m, line)) found.emplace(m[3], m[2]);
  }
  return found;
}

// Writes `bytes` to `rel` of the disc and to its BACKUP copy when there is one.
void WriteWithBackup(const std::string& disc, const std::string& rel, const std::vector<uint8_t>& bytes) {
  WriteBytes(disc + "/" + rel, bytes);
  std::string backup = rel;
  backup.insert(rel.find('/') + 1, "BACKUP/");
  if (fs::exists(disc + "/" + backup)) WriteBytes(disc + "/" + backup, bytes);
}

// Reads a playlist, lets `edit` change it and writes it back through the
// playlist writer.
void EditPlaylist(const std::string& disc, const std::string& name, const std::function<void(zv::PlaylistFile&)>& edit) {
  const std::string rel = "BDMV/PLAYLIST/" + name + ".mpls";
  const auto bytes = ReadBytes(disc + "/" + rel);
  zv::PlaylistFile pl;
  std::string err;
  ASSERT_EQ(pl.Parse(bytes.data(), bytes.size(), &err), zv::kOk) << err;
  edit(pl);
  std::vector<uint8_t> out(pl.WritePlaylist(nullptr, 0));
  pl.WritePlaylist(out.data(), out.size());
  WriteWithBackup(disc, rel, out);
}

// The same for index.bdmv and MovieObject.bdmv together.
void EditNavigation(const std::string& disc, const std::function<void(zv::INDEX_BDMV&, zv::MOVIE_OBJECTS&)>& edit) {
  const auto ib = ReadBytes(disc + "/BDMV/index.bdmv");
  const auto mb = ReadBytes(disc + "/BDMV/MovieObject.bdmv");
  zv::INDEX_BDMV index;
  zv::MOVIE_OBJECTS mobj;
  zv::ParseIndex(ib.data(), ib.size(), index);
  zv::ParseMovieObjects(mb.data(), mb.size(), mobj);
  edit(index, mobj);
  WriteWithBackup(disc, "BDMV/index.bdmv", zv::EncodeIndex(index));
  WriteWithBackup(disc, "BDMV/MovieObject.bdmv", zv::EncodeMovieObjects(mobj));
}

using FindingSet = FindingSet;

// The same for a clip information file, through its writer.
void EditClipInfo(const std::string& disc, const std::string& name, const std::function<void(zv::ClipInformationFile&)>& edit) {
  const std::string rel = "BDMV/CLIPINF/" + name + ".clpi";
  const auto bytes = ReadBytes(disc + "/" + rel);
  zv::ClipInformationFile ci;
  std::string err;
  ASSERT_EQ(ci.Parse(bytes.data(), bytes.size(), &err), zv::kOk) << err;
  edit(ci);
  WriteWithBackup(disc, rel, ci.Encode());
}

uint16_t PidOf(const uint8_t* sp) { return static_cast<uint16_t>((sp[5] & 0x1F) << 8 | sp[6]); }

// Lets `edit` change source packets of a clip in place: it gets each
// packet and its number and returns false to stop.
void EditPackets(const std::string& disc, const std::string& name, const std::function<bool(uint8_t*, size_t)>& edit) {
  const std::string path = disc + "/BDMV/STREAM/" + name + ".m2ts";
  auto bytes = ReadBytes(path);
  for (size_t at = 0, spn = 0; at + 192 <= bytes.size(); at += 192, ++spn)
    if (!edit(bytes.data() + at, spn)) break;
  WriteBytes(path, bytes);
}

// Packets of the adaptation field with a PCR: its 27 MHz value, and back.
bool HasPcr(const uint8_t* sp) { return (sp[7] & 0x20) && sp[8] >= 7 && (sp[9] & 0x10); }
uint64_t PcrBase(const uint8_t* sp) {
  const uint8_t* p = sp + 10;
  return uint64_t{p[0]} << 25 | uint64_t{p[1]} << 17 | uint64_t{p[2]} << 9 | uint64_t{p[3]} << 1 | p[4] >> 7;
}
void SetPcrBase(uint8_t* sp, uint64_t base) {
  uint8_t* p = sp + 10;
  p[0] = static_cast<uint8_t>(base >> 25);
  p[1] = static_cast<uint8_t>(base >> 17);
  p[2] = static_cast<uint8_t>(base >> 9);
  p[3] = static_cast<uint8_t>(base >> 1);
  p[4] = static_cast<uint8_t>((p[4] & 0x7F) | (base & 1) << 7);
}

struct BreakCase {
  const char* name;
  std::function<void(const std::string&)> breakIt;
  FindingSet want;
  int status;
};

void ShiftAudioPts(const std::string& disc, uint16_t pid, size_t from, int64_t ticks90, const std::string& clip);

class Check : public ::testing::Test {
 protected:
  // One demo disc for the whole suite; every test damages its own copy.
  static void SetUpTestSuite() {
    demoDir_ = std::make_unique<TempDir>();
    const RunResult demo = Zv({"demo", demoDir_->Path()});
    ASSERT_EQ(demo.status, 0) << demo.err;
    // The build checked its own navigation and menus.
    ASSERT_NE(demo.err.find("]: Checked navigation and menus: 0 errors, 0 warnings\n"), std::string::npos) << demo.err;
  }
  static void TearDownTestSuite() { demoDir_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(demoDir_);
    fs::copy(demoDir_->Path() + "/Zelvane/DISC", disc_, fs::copy_options::recursive);
  }
  static std::string Demo() { return demoDir_->Path() + "/Zelvane/DISC"; }
  std::string At(const std::string& rel) const { return disc_ + "/" + rel; }
  // Writes `bytes` to a navigation or clip information file and its backup.
  void Replace(const std::string& rel, const std::vector<uint8_t>& bytes) { WriteWithBackup(disc_, rel, bytes); }
  // Breaks a fresh copy of the demo disc per case; each must give exactly
  // its findings and exit status.
  void RunCases(const std::vector<BreakCase>& cases) {
    for (const auto& c : cases) {
      fs::remove_all(disc_);
      fs::copy(Demo(), disc_, fs::copy_options::recursive);
      c.breakIt(disc_);
      const RunResult r = CheckDisc();
      EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out << r.err;
      EXPECT_EQ(Findings(r.out), c.want) << c.name << "\n" << r.out;
    }
  }
  RunResult CheckDisc(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"check", disc_});
    return Zv(extra);
  }
  // The PID of each coding type in the first clip of `built`.
  static std::map<uint8_t, uint16_t> PidsByCoding(const std::string& built) {
    zv::ClipInformationFile ci;
    std::string err;
    const auto cb = ReadBytes(built + "/BDMV/CLIPINF/00000.clpi");
    EXPECT_EQ(ci.Parse(cb.data(), cb.size(), &err), zv::kOk) << err;
    std::map<uint8_t, uint16_t> pidOf;
    if (!ci.programInfo.sequences.empty())
      for (const auto& st : ci.programInfo.sequences.at(0).streams) pidOf[st.coding.StreamCodingType] = st.StreamPID;
    return pidOf;
  }
  // A copy of `built` whose audio `pid` is decoded 3 s late overflows its
  // buffer and gives nothing else.
  void ExpectOnlyOverflowWhenLate(const std::string& built, uint16_t pid) {
    fs::remove_all(disc_);
    fs::copy(built, disc_, fs::copy_options::recursive);
    ShiftAudioPts(disc_, pid, 200, 90000 * 3, "00000");
    const RunResult r = CheckDisc();
    EXPECT_EQ(r.status, 2) << pid << "\n" << r.out;
    const FindingSet found = Findings(r.out);
    ASSERT_FALSE(found.empty()) << pid;
    EXPECT_EQ(found.count({"tstd.overflow", "BDMV/STREAM/00000.m2ts"}), found.size()) << r.out;
    char name[32];
    std::snprintf(name, sizeof name, "PID 0x%04X arrives at ", pid);
    EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
  }

  TempDir dir_;
  std::string disc_ = dir_ / "DISC";
  static std::unique_ptr<TempDir> demoDir_;
};

std::unique_ptr<TempDir> Check::demoDir_;

TEST_F(Check, DemoDiscChecksCleanInEveryForm) {
  const RunResult text = Zv({"check", Demo()});
  EXPECT_EQ(text.status, 0) << text.out << text.err;
  EXPECT_NE(text.out.find(": 0 errors, 0 warnings, 0 notes\n"), std::string::npos) << text.out;
  const RunResult strict = Zv({"check", Demo() + "/BDMV", "--strict", "--json"});
  EXPECT_EQ(strict.status, 0) << strict.out;
  EXPECT_NE(strict.out.find("\"findings\":[],\"errors\":0,\"warnings\":0,\"notes\":0}"), std::string::npos) << strict.out;
}

TEST_F(Check, RulesAreListedAndBadArgumentsRefused) {
  const RunResult rules = Zv({"check", "--rules"});
  ASSERT_EQ(rules.status, 0);
  for (const auto& r : zv::CheckRules()) {
    EXPECT_NE(rules.out.find(std::string(r.id) + " "), std::string::npos) << r.id;
    EXPECT_NE(rules.out.find(r.text), std::string::npos) << r.id;
  }
  const RunResult json = Zv({"check", "--rules", "--json"});
  EXPECT_NE(json.out.find("{\"id\":\"files.parse\",\"severity\":\"error\""), std::string::npos) << json.out;

  // A path that is not there, with or without --json, is a failure like
  // errors (2), named in the message; so is one that is no folder or image.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"check", dir_ / "nothing"},
                                              std::vector<std::string>{"check", "--json", dir_ / "nothing"},
                                              std::vector<std::string>{"check", dir_ / "nothing/BDMV"}}) {
    const RunResult missing = Zv(args);
    EXPECT_EQ(missing.status, 2) << args.back();
    EXPECT_NE(missing.err.find("\"" + args.back() + "\": no such file or folder"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "");
  }
  const RunResult device = Zv({"check", "/dev/null"});
  EXPECT_EQ(device.status, 2);
  EXPECT_NE(device.err.find("\"/dev/null\": not a folder"), std::string::npos) << device.err;
  EXPECT_EQ(Zv({"check"}).status, 64);
  EXPECT_EQ(Zv({"check", disc_, "--fast"}).status, 64);
  const RunResult empty = Zv({"check", dir_.Path()});
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(Findings(empty.out), (FindingSet{{"files.tree", "BDMV"}}));
}

// Every kind of file, cut short or overwritten, is a finding naming it.
TEST_F(Check, DamagedFilesAreNamedNeverAborting) {
  const std::vector<std::string> files = {"BDMV/index.bdmv",         "BDMV/MovieObject.bdmv",  "BDMV/AUXDATA/sound.bdmv",
                                          "CERTIFICATE/id.bdmv",      "BDMV/PLAYLIST/00002.mpls", "BDMV/CLIPINF/00001.clpi"};
  for (const auto& rel : files) {
    std::vector<uint8_t> bytes = ReadBytes(At(rel));
    ASSERT_GT(bytes.size(), 24u) << rel;
    bytes.resize(bytes.size() / 2);
    Replace(rel, bytes);
  }
  const RunResult r = CheckDisc();
  EXPECT_EQ(r.status, 2) << r.err;
  FindingSet want;
  for (const auto& rel : files) want.emplace("files.parse", rel);
  // What cannot be read is not checked further; nothing else is reported
  // in the structure rules.
  FindingSet got;
  for (const auto& f : Findings(r.out))
    if (f.first.rfind("files.", 0) == 0) got.insert(f);
  EXPECT_EQ(got, want) << r.out;
  // The reader's words: the section and the field that failed.
  EXPECT_NE(r.out.find("BDMV/PLAYLIST/00002.mpls [files.parse] not a valid playlist file: "), std::string::npos) << r.out;
}

TEST_F(Check, StructureFaultsEachUnderTheirRule) {
  RunCases({
      {"backup differs",
       [](const std::string& d) {
         auto b = ReadBytes((d + "/BDMV/BACKUP/index.bdmv"));
         b.back() ^= 1;
         WriteBytes((d + "/BDMV/BACKUP/index.bdmv"), b);
       },
       {{"files.backup", "BDMV/BACKUP/index.bdmv"}},
       2},
      {"backup missing", [](const std::string& d) { fs::remove((d + "/BDMV/BACKUP/CLIPINF/00002.clpi")); },
       {{"files.backup", "BDMV/BACKUP/CLIPINF/00002.clpi"}}, 2},
      {"stray clip", [](const std::string& d) { fs::copy_file((d + "/BDMV/STREAM/00001.m2ts"), (d + "/BDMV/STREAM/00009.m2ts")); },
       {{"files.clip-pair", "BDMV/STREAM/00009.m2ts"}}, 2},
      {"badly named file", [](const std::string& d) { zvtest::WriteText((d + "/BDMV/PLAYLIST/notes.txt"), "x"); },
       {{"files.name", "BDMV/PLAYLIST/notes.txt"}}, 1},
      {"no certificate", [](const std::string& d) { fs::remove_all((d + "/CERTIFICATE")); },
       {{"files.certificate", "CERTIFICATE/id.bdmv"}}, 1},
      {"no movie objects",
       [](const std::string& d) {
         fs::remove((d + "/BDMV/MovieObject.bdmv"));
         fs::remove((d + "/BDMV/BACKUP/MovieObject.bdmv"));
       },
       {{"files.tree", "BDMV/MovieObject.bdmv"}}, 2},
  });
  // --strict makes a warning an error.
  fs::remove_all(disc_);
  fs::copy(Demo(), disc_, fs::copy_options::recursive);
  fs::remove_all(disc_ + "/CERTIFICATE");
  const RunResult strict = CheckDisc({"--strict"});
  EXPECT_EQ(strict.status, 2) << strict.out;
  EXPECT_NE(strict.out.find("error: CERTIFICATE/id.bdmv [files.certificate] missing\n"), std::string::npos) << strict.out;
}

TEST_F(Check, NavigationFaultsEachUnderTheirRule) {
  RunCases({
      {"playlist naming a missing clip", [](const std::string& d) {
         EditPlaylist(d, "00002", [](zv::PlaylistFile& pl) { pl.playItems[0].ClipName = "00042"; });
       },
       {{"nav.clip", "BDMV/PLAYLIST/00002.mpls"}}, 2},
      {"OUT time past the clip", [](const std::string& d) {
         EditPlaylist(d, "00002", [](zv::PlaylistFile& pl) { pl.playItems[0].OutTime += 45000 * 60; });
       },
       {{"nav.time", "BDMV/PLAYLIST/00002.mpls"}}, 2},
      {"mark after its play item", [](const std::string& d) {
         EditPlaylist(d, "00002", [](zv::PlaylistFile& pl) { pl.marks.back().MarkTimeStamp = pl.playItems[0].OutTime + 45000; });
       },
       {{"nav.mark", "BDMV/PLAYLIST/00002.mpls"}}, 2},
      {"audio entry naming a PID the clip lacks", [](const std::string& d) {
         EditPlaylist(d, "00002", [](zv::PlaylistFile& pl) { pl.playItems[0].stn.primaryAudio[0].entry.RefToStreamPidOfMainClip = 0x1107; });
       },
       {{"nav.stream", "BDMV/PLAYLIST/00002.mpls"}}, 2},
      {"audio entry in another language than the clip", [](const std::string& d) {
         EditPlaylist(d, "00002", [](zv::PlaylistFile& pl) { pl.playItems[0].stn.primaryAudio[0].attributes.Language = "deu"; });
       },
       {{"nav.attributes", "BDMV/PLAYLIST/00002.mpls"}}, 1},
      {"a title nothing jumps to", [](const std::string& d) {
         EditNavigation(d, [](zv::INDEX_BDMV& index, zv::MOVIE_OBJECTS& mobj) {
           mobj.objects.push_back(mobj.objects[index.titles.back().movieObjectId]);
           zv::TI t = index.titles.back();
           t.movieObjectId = static_cast<uint16_t>(mobj.objects.size() - 1);
           index.titles.push_back(t);
         });
       },
       {{"nav.unreachable", "BDMV/index.bdmv"}}, 1},
      // The trailer's title is reached only through a button of the top
      // menu: without the menu's stream entry nothing leads there.
      {"top menu without its menu", [](const std::string& d) {
         EditPlaylist(d, "00001", [](zv::PlaylistFile& pl) { pl.playItems[0].stn.ig.clear(); });
       },
       {{"nav.unreachable", "BDMV/index.bdmv"}}, 1},
      {"jumps to a title, a playlist and a mark that do not exist", [](const std::string& d) {
         EditNavigation(d, [](zv::INDEX_BDMV&, zv::MOVIE_OBJECTS& mobj) {
           auto& cmds = mobj.objects[0].commands;
           ASSERT_TRUE(cmds.Add("JumpTitle 9"));
           ASSERT_TRUE(cmds.Add("PlayPlaylist 7"));
           ASSERT_TRUE(cmds.Add("PlayPlaylistAtMark 2 40"));
         });
       },
       {{"nav.target", "BDMV/MovieObject.bdmv"}, {"nav.target", "BDMV/MovieObject.bdmv"}, {"nav.target", "BDMV/MovieObject.bdmv"}}, 2},
      {"a title whose movie object does not exist", [](const std::string& d) {
         EditNavigation(d, [](zv::INDEX_BDMV& index, zv::MOVIE_OBJECTS&) { index.titles[0].movieObjectId = 40; });
       },
       {{"nav.index-object", "BDMV/index.bdmv"}}, 2},
  });
}

// The movie clip of the demo (video, two audio tracks), played by 00002.mpls.
const char* const kMovie = "00003";

TEST_F(Check, ClipAndTransportFaultsEachUnderTheirRule) {
  RunCases({
      {"flipped EP map entry", [](const std::string& d) {
         EditClipInfo(d, kMovie, [](zv::ClipInformationFile& ci) {
           auto& kp = ci.cpi.entries.at(0).keyPoints;
           ASSERT_GT(kp.size(), 3u);
           std::swap(kp[2].firstSpn, kp[3].firstSpn);
         });
       },
       {{"clip.ep-map", "BDMV/STREAM/00003.m2ts"}, {"clip.ep-map", "BDMV/STREAM/00003.m2ts"}}, 2},
      {"packet count off by one", [](const std::string& d) {
         EditClipInfo(d, kMovie, [](zv::ClipInformationFile& ci) { ci.NumberOfSourcePackets += 1; });
       },
       {{"clip.packet-count", "BDMV/STREAM/00003.m2ts"}}, 2},
      {"clip cut by one packet", [](const std::string& d) {
         const std::string path = d + "/BDMV/STREAM/00003.m2ts";
         fs::resize_file(path, fs::file_size(path) - 192);
         EditClipInfo(d, kMovie, [](zv::ClipInformationFile& ci) { ci.NumberOfSourcePackets -= 1; });
       },
       {{"clip.alignment", "BDMV/STREAM/00003.m2ts"}}, 1},
      {"audio coding type changed in the clip information", [](const std::string& d) {
         EditClipInfo(d, kMovie, [](zv::ClipInformationFile& ci) {
           ci.programInfo.sequences[0].streams.at(1).coding.StreamCodingType = 0x82;
         });
       },
       // The playlist's entry no longer agrees either.
       {{"clip.coding-type", "BDMV/STREAM/00003.m2ts"}, {"nav.attributes", "BDMV/PLAYLIST/00002.mpls"}}, 2},
      {"one continuity counter wrong", [](const std::string& d) {
         int seen = 0;
         EditPackets(d, kMovie, [&](uint8_t* sp, size_t) {
           if (PidOf(sp) != 0x1011 || ++seen < 50) return true;
           sp[7] = static_cast<uint8_t>((sp[7] & 0xF0) | ((sp[7] + 5) & 0x0F));
           return false;
         });
       },
       // The wrong one, and the right one after it.
       {{"ts.continuity", "BDMV/STREAM/00003.m2ts"}, {"ts.continuity", "BDMV/STREAM/00003.m2ts"}}, 2},
      {"a PCR gap of 150 ms", [](const std::string& d) {
         int seen = 0;
         EditPackets(d, kMovie, [&](uint8_t* sp, size_t) {
           if (HasPcr(sp) && ++seen >= 20) SetPcrBase(sp, PcrBase(sp) + 13500);
           return true;
         });
       },
       {{"ts.pcr-interval", "BDMV/STREAM/00003.m2ts"}}, 2},
      {"an arrival time that goes back", [](const std::string& d) {
         EditPackets(d, kMovie, [](uint8_t* sp, size_t spn) {
           if (spn != 100) return true;
           sp[0] &= 0xC0;
           sp[1] = sp[2] = sp[3] = 0;
           return false;
         });
       },
       {{"clip.ats", "BDMV/STREAM/00003.m2ts"}}, 2},
      {"two packets closer than 48 Mbit/s allow", [](const std::string& d) {
         uint32_t previous = 0;
         EditPackets(d, kMovie, [&](uint8_t* sp, size_t spn) {
           const uint32_t ats = (uint32_t{sp[0]} << 24 | sp[1] << 16 | sp[2] << 8 | sp[3]) & 0x3FFFFFFF;
           if (spn < 100) {
             previous = ats;
             return true;
           }
           const uint32_t early = previous + 100;
           sp[0] = static_cast<uint8_t>((sp[0] & 0xC0) | early >> 24);
           sp[1] = static_cast<uint8_t>(early >> 16);
           sp[2] = static_cast<uint8_t>(early >> 8);
           sp[3] = static_cast<uint8_t>(early);
           return false;
         });
       },
       {{"clip.rate", "BDMV/STREAM/00003.m2ts"}}, 2},
      {"a lost sync byte", [](const std::string& d) {
         EditPackets(d, kMovie, [](uint8_t* sp, size_t spn) {
           if (spn == 200) sp[4] = 0x48;
           return spn < 200;
         });
       },
       {{"clip.sync", "BDMV/STREAM/00003.m2ts"}}, 2},
  });
}

// A fault that repeats is shown three times per rule and stream, then
// counted; the counts come in the order of the rule ids.
TEST_F(Check, RepeatedFaultsAreShownThriceThenCounted) {
  fs::remove_all(disc_);
  fs::copy(Demo(), disc_, fs::copy_options::recursive);
  int wrongCounters = 0, earlyTimes = 0;
  EditPackets(disc_, kMovie, [&](uint8_t* sp, size_t spn) {
    if (PidOf(sp) == 0x1011 && spn % 500 == 0 && wrongCounters < 6) {
      sp[7] = static_cast<uint8_t>((sp[7] & 0xF0) | ((sp[7] + 5) & 0x0F));
      ++wrongCounters;
    }
    if (spn % 700 == 350 && earlyTimes < 6) {
      sp[0] &= 0xC0;
      sp[1] = sp[2] = sp[3] = 0;
      ++earlyTimes;
    }
    return true;
  });
  ASSERT_EQ(wrongCounters, 6);
  ASSERT_EQ(earlyTimes, 6);
  const RunResult r = CheckDisc();
  EXPECT_EQ(r.status, 2) << r.out;
  const FindingSet found = Findings(r.out);
  // Each wrong counter also makes the next one look wrong: 12 in all.
  EXPECT_EQ(found.count({"ts.continuity", "BDMV/STREAM/00003.m2ts"}), 4u) << r.out;
  EXPECT_EQ(found.count({"clip.ats", "BDMV/STREAM/00003.m2ts"}), 4u) << r.out;
  const size_t ats = r.out.find("[clip.ats] 3 more like the above");
  const size_t cc = r.out.find("(PID 0x1011) [ts.continuity] 9 more like the above");
  ASSERT_NE(ats, std::string::npos) << r.out;
  ASSERT_NE(cc, std::string::npos) << r.out;
  EXPECT_LT(ats, cc);
}

// The engine names each clip as it reads it, moves the bar forward and
// stops at the first "stop" answer with the findings so far.
TEST_F(Check, ProgressOverTheClipsAndCancel) {
  struct Log {
    std::vector<std::string> items;
    std::vector<int32_t> values;
    int stopAtValue = -1;
  };
  auto callback = [](void* ctx, const zv::SProgressInfo* info) -> int {
    auto* log = static_cast<Log*>(ctx);
    if (info->kind == zv::kProgressItem) log->items.push_back(info->item);
    if (info->kind != zv::kProgressValue) return 1;
    log->values.push_back(info->value);
    return static_cast<int>(log->values.size()) != log->stopAtValue;
  };
  Log all;
  zv::SCheckOptions options;
  options.progress = zv::Progress{callback, &all};
  zv::SCheckReport report;
  std::string error;
  ASSERT_EQ(zv::CheckDisc(Demo(), options, report, error), zv::kOk) << error;
  EXPECT_TRUE(report.findings.empty());
  EXPECT_EQ(all.items.size(), 6u);
  EXPECT_EQ(all.items.front(), "checking BDMV/STREAM/00000.m2ts");
  ASSERT_FALSE(all.values.empty());
  EXPECT_TRUE(std::is_sorted(all.values.begin(), all.values.end()));
  EXPECT_EQ(all.values.back(), 100);

  Log stopped;
  stopped.stopAtValue = 2;
  options.progress = zv::Progress{callback, &stopped};
  EXPECT_EQ(zv::CheckDisc(Demo(), options, report, error), zv::kCancelled);
  EXPECT_EQ(stopped.values.size(), 2u);
  EXPECT_LT(stopped.items.size(), all.items.size());

  EXPECT_EQ(zv::CheckDisc(dir_ / "nothing", options, report, error), zv::kFailed);
  EXPECT_NE(error.find("nothing\": no such file or folder"), std::string::npos) << error;
}

// A folder another tool could have made: a clip from ffmpeg, a playlist
// written by hand, then the wrong clip information beside it. Every fault
// is a finding; nothing aborts.
TEST_F(Check, ForeignClipWithAHandWrittenPlaylist) {
  if (!zvtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string disc = dir_ / "foreign";
  fs::create_directories(disc + "/BDMV/STREAM");
  fs::create_directories(disc + "/BDMV/PLAYLIST");
  const RunResult ff = zvtest::Run({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                    "testsrc=size=320x240:rate=25", "-t", "1", "-c:v", "libx264", "-preset", "ultrafast",
                                    "-f", "mpegts", "-mpegts_m2ts_mode", "1", disc + "/BDMV/STREAM/00000.m2ts"});
  if (ff.status != 0) GTEST_SKIP() << "ffmpeg cannot make the clip: " << ff.err;
  zv::PlaylistFile pl;
  pl.playItems.emplace_back();
  pl.playItems[0].ClipName = "00000";
  pl.playItems[0].InTime = 0;
  pl.playItems[0].OutTime = 45000;
  std::vector<uint8_t> bytes(pl.WritePlaylist(nullptr, 0));
  pl.WritePlaylist(bytes.data(), bytes.size());
  WriteBytes(disc + "/BDMV/PLAYLIST/00000.mpls", bytes);

  RunResult r = Zv({"check", disc});
  EXPECT_EQ(r.status, 2) << r.err;
  std::set<std::string> rules;
  for (const auto& f : Findings(r.out)) rules.insert(f.first);
  EXPECT_EQ(rules, (std::set<std::string>{"files.tree", "files.certificate", "files.backup", "files.clip-pair", "nav.clip"}))
      << r.out;

  fs::create_directories(disc + "/BDMV/CLIPINF");
  fs::copy_file(Demo() + "/BDMV/CLIPINF/00003.clpi", disc + "/BDMV/CLIPINF/00000.clpi");
  r = Zv({"check", disc, "--json"});
  EXPECT_EQ(r.status, 2) << r.err;
  for (const char* rule : {"\"clip.packet-count\"", "\"clip.ep-map\"", "\"nav.time\""})
    EXPECT_NE(r.out.find(rule), std::string::npos) << rule << "\n" << r.out;
}

// The README's walk-through disc (no menu pages, two titles, chapters)
// checks clean too.
TEST_F(Check, ProjectBuiltDiscChecksClean) {
  const std::string media = std::string(ZV_TEST_DATA) + "/../../demo/media/";
  const std::string m = dir_ / "media";
  fs::create_directories(m);
  for (const char* f : {"movie.264", "movie_audio_eng.ac3", "movie_audio_fra.ac3", "chapters.csv", "trailer.264",
                        "trailer_audio.ac3"})
    fs::copy_file(media + f, m + "/" + f);
  const std::string p = dir_ / "disc.zvpj";
  const std::vector<std::vector<std::string>> steps = {
      {"new", p},
      {"source", "add", p, "Movie#1/Clip#1", m + "/movie.264", m + "/movie_audio_eng.ac3", m + "/movie_audio_fra.ac3"},
      {"chapters", p, "Movie#1/Title#1/PI#1", "import", m + "/chapters.csv"},
      {"clip", "add", p, "Trailers"},
      {"source", "add", p, "Trailers/Clip#1", m + "/trailer.264", m + "/trailer_audio.ac3"},
      {"item", "add", p, "Trailers/Title#1", "Clip#1"},
      {"build", p, dir_ / "out", "--yes"}};
  for (const auto& step : steps) {
    const RunResult r = Zv(step);
    ASSERT_EQ(r.status, 0) << step[0] << ": " << r.err;
    if (step[0] == "build") {
      EXPECT_NE(r.err.find("Checked navigation and menus: 0 errors, 0 warnings"), std::string::npos) << r.err;
    }
  }
  const RunResult r = Zv({"check", dir_ / "out/Zelvane/DISC"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Findings(r.out).empty()) << r.out;
}

// Shifts the PTS of the PES packets of `pid` that start at or after
// source packet `from` (PTS alone, no DTS: audio) in clip `clip`.
void ShiftAudioPts(const std::string& disc, uint16_t pid, size_t from, int64_t ticks90, const std::string& clip = "00003") {
  EditPackets(disc, clip, [&](uint8_t* sp, size_t spn) {
    uint8_t* ts = sp + 4;
    if (spn < from || PidOf(sp) != pid || !(ts[1] & 0x40)) return true;
    uint8_t* pes = ts + 4 + ((ts[3] & 0x20) ? 1 + ts[4] : 0);
    if ((pes[7] & 0xC0) != 0x80) return true;
    uint8_t* p = pes + 9;
    int64_t pts = int64_t{(p[0] >> 1) & 7} << 30 | int64_t{p[1]} << 22 | int64_t{p[2] >> 1} << 15 | int64_t{p[3]} << 7 | p[4] >> 1;
    pts += ticks90;
    p[0] = static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E));
    p[1] = static_cast<uint8_t>(pts >> 22);
    p[2] = static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1);
    p[3] = static_cast<uint8_t>(pts >> 7);
    p[4] = static_cast<uint8_t>(((pts << 1) & 0xFE) | 1);
    return true;
  });
}

// The replay through the buffer models of the multiplexer: audio decoded
// late piles up in its elementary buffer; audio decoded before it has
// arrived underflows. Each is reported under its rule alone.
TEST_F(Check, BufferReplayFindsOverflowAndUnderflow) {
  ShiftAudioPts(disc_, 0x1100, 2000, 90000 * 3);
  RunResult r = CheckDisc();
  EXPECT_EQ(r.status, 2) << r.out;
  FindingSet found = Findings(r.out);
  ASSERT_FALSE(found.empty()) << r.out;
  for (const auto& f : found) EXPECT_EQ(f, (std::pair<std::string, std::string>{"tstd.overflow", "BDMV/STREAM/00003.m2ts"})) << r.out;
  EXPECT_NE(r.out.find("PID 0x1100 arrives at "), std::string::npos) << r.out;

  fs::remove_all(disc_);
  fs::copy(Demo(), disc_, fs::copy_options::recursive);
  // The second audio track decoded a second before its units arrive.
  ShiftAudioPts(disc_, 0x1101, 2000, -90000);
  r = CheckDisc();
  EXPECT_EQ(r.status, 2) << r.out;
  found = Findings(r.out);
  ASSERT_FALSE(found.empty()) << r.out;
  EXPECT_EQ(found.count({"tstd.underflow", "BDMV/STREAM/00003.m2ts"}), found.size()) << r.out;
}

// The buffer replay runs beside the other rules on a thread of its own:
// the report is the same as on one thread, its findings in packet order.
TEST_F(Check, ReplayOnItsOwnThreadReportsAsOneWalk) {
  ShiftAudioPts(disc_, 0x1100, 2000, 90000 * 3);
  ShiftAudioPts(disc_, 0x1101, 2000, -90000);
  const size_t packets = fs::file_size(At("BDMV/STREAM/00003.m2ts")) / 192;
  ASSERT_GT(packets * 192, size_t{3} << 20) << "the movie clip no longer spans two windows";
  // Video continuity counters broken before the replay's findings and
  // in the last window.
  const size_t at[] = {1500, packets - 2000};
  size_t edited = 0;
  EditPackets(disc_, "00003", [&](uint8_t* sp, size_t spn) {
    if (edited < 2 && spn >= at[edited] && PidOf(sp) == 0x1011) {
      sp[7] = static_cast<uint8_t>((sp[7] & 0xF0) | ((sp[7] + 5) & 0x0F));
      ++edited;
    }
    return true;
  });
  ASSERT_EQ(edited, 2u);
  std::vector<std::vector<zv::SFinding>> reports;
  for (const bool threads : {true, false}) {
    zv::SCheckOptions options;
    options.threads = threads;
    zv::SCheckReport report;
    std::string error;
    ASSERT_EQ(zv::CheckDisc(disc_, options, report, error), zv::kOk) << error;
    reports.push_back(report.findings);
  }
  auto text = [](const std::vector<zv::SFinding>& fs) {
    std::string t;
    for (const auto& f : fs) t += zv::FindingText(f) + "\n";
    return t;
  };
  EXPECT_EQ(text(reports[0]), text(reports[1]));
  std::set<std::string> rules;
  uint64_t last = 0;
  for (const auto& f : reports[0]) {
    rules.insert(f.rule);
    if (f.position.rfind("source packet ", 0) != 0) continue;
    const uint64_t spn = std::stoull(f.position.substr(14));
    EXPECT_LE(last, spn) << text(reports[0]);
    last = spn;
  }
  EXPECT_EQ(rules, (std::set<std::string>{"tstd.overflow", "tstd.underflow", "ts.continuity"})) << text(reports[0]);
}

}  // namespace

namespace {

// The bytes of one PID's TS payloads joined in order, with the file
// offset of each, so that an edit of the joined bytes goes back in place.
struct PidBytes {
  std::vector<uint8_t> bytes;
  std::vector<size_t> at;
};
PidBytes JoinPid(const std::vector<uint8_t>& clip, uint16_t pid) {
  PidBytes j;
  for (size_t p = 0; p + 192 <= clip.size(); p += 192) {
    const uint8_t* ts = clip.data() + p + 4;
    if (PidOf(clip.data() + p) != pid || !(ts[3] & 0x10)) continue;
    const size_t h = 4 + ((ts[3] & 0x20) ? 1 + ts[4] : 0);
    for (size_t k = h; k < 188; ++k) {
      j.bytes.push_back(ts[k]);
      j.at.push_back(p + 4 + k);
    }
  }
  return j;
}

// Lets `edit` change the interactive composition of the first display set
// of a menu clip and writes it back in place (an edit must keep its size).
void EditMenu(const std::string& disc, const std::string& clip, const std::function<void(zv::SInteractiveComposition&)>& edit) {
  const std::string path = disc + "/BDMV/STREAM/" + clip + ".m2ts";
  auto bytes = ReadBytes(path);
  PidBytes j = JoinPid(bytes, 0x1400);
  // The first PES packet carries the ICS: PES header, then segment type,
  // length, video, composition and sequence descriptors, then the
  // composition with its 24-bit length.
  ASSERT_GT(j.bytes.size(), 32u);
  const size_t seg = 9 + j.bytes[8];
  ASSERT_EQ(j.bytes[seg], 0x18) << "no ICS first";
  ASSERT_EQ(j.bytes[seg + 3 + 8] & 0xC0, 0xC0) << "an ICS in more than one fragment";
  const size_t start = seg + 3 + 9;
  const size_t len = 3 + (size_t{j.bytes[start]} << 16 | j.bytes[start + 1] << 8 | j.bytes[start + 2]);
  zv::SInteractiveComposition ic = zv::ParseComposition(j.bytes.data() + start, len);
  edit(ic);
  const std::vector<uint8_t> out = zv::WriteComposition(ic);
  ASSERT_EQ(out.size(), len);
  for (size_t k = 0; k < len; ++k) bytes[j.at[start + k]] = out[k];
  WriteBytes(path, bytes);
}

zv::SButton& ButtonOf(zv::SInteractiveComposition& ic, size_t page, uint16_t id) {
  for (auto& bog : ic.pages.at(page).bogs)
    for (auto& b : bog.buttons)
      if (b.id == id) return b;
  throw std::runtime_error("no button " + std::to_string(id));
}

// The top menu's clip: four pages, the second with four buttons in a
// column (0 to 3, up and down in a ring) and the build's entry button.
const char* const kTopMenu = "00002";

}  // namespace

TEST_F(Check, MenuFaultsEachUnderTheirRule) {
  RunCases({
      {"a button whose neighbour does not exist", [](const std::string& d) {
         EditMenu(d, kTopMenu, [](zv::SInteractiveComposition& ic) { ButtonOf(ic, 1, 0).left = 42; });
       },
       {{"menu.button-ref", "BDMV/STREAM/00002.m2ts"}}, 2},
      {"a page whose default button does not exist", [](const std::string& d) {
         EditMenu(d, kTopMenu, [](zv::SInteractiveComposition& ic) { ic.pages.at(2).defaultActivatedButtonId = 17; });
       },
       {{"menu.button-ref", "BDMV/STREAM/00002.m2ts"}}, 2},
      {"a button nothing leads to", [](const std::string& d) {
         EditMenu(d, kTopMenu, [](zv::SInteractiveComposition& ic) {
           ButtonOf(ic, 1, 2).down = 2;
           ButtonOf(ic, 1, 0).up = 0;
         });
       },
       {{"menu.unreachable", "BDMV/STREAM/00002.m2ts"}}, 1},
      {"a button drawn with an object that does not exist", [](const std::string& d) {
         EditMenu(d, kTopMenu, [](zv::SInteractiveComposition& ic) {
           auto& s = ButtonOf(ic, 1, 1).selected;
           s.startObjectId = s.endObjectId = 900;
         });
       },
       {{"menu.object-ref", "BDMV/STREAM/00002.m2ts"}}, 2},
      {"a page with a palette that does not exist", [](const std::string& d) {
         EditMenu(d, kTopMenu, [](zv::SInteractiveComposition& ic) { ic.pages.at(1).paletteIdRef = 200; });
       },
       {{"menu.object-ref", "BDMV/STREAM/00002.m2ts"}}, 2},
      // Object 0 made 4096 x 4096 pixels: beyond the decoded-object buffer,
      // and far longer to decode than its time stamps allow.
      {"an object too large for the decoder", [](const std::string& d) {
         const std::string path = d + "/BDMV/STREAM/00002.m2ts";
         auto bytes = ReadBytes(path);
         PidBytes j = JoinPid(bytes, 0x1400);
         bool done = false;
         for (size_t k = 0; k + 20 < j.bytes.size() && !done; ++k) {
           // A PES start, then an ODS of object 0 that is its first fragment.
           if (j.bytes[k] != 0 || j.bytes[k + 1] != 0 || j.bytes[k + 2] != 1 || j.bytes[k + 3] != 0xBD) continue;
           const size_t seg = k + 9 + j.bytes[k + 8];
           if (j.bytes[seg] != 0x15 || j.bytes[seg + 3] != 0 || j.bytes[seg + 4] != 0 || !(j.bytes[seg + 6] & 0x80)) continue;
           // Object id and version, sequence flags, data length, then width and height.
           const size_t w = seg + 3 + 4 + 3;
           for (size_t q = 0; q < 4; ++q) bytes[j.at[w + q]] = q % 2 ? 0x00 : 0x10;
           done = true;
         }
         ASSERT_TRUE(done);
         WriteBytes(path, bytes);
       },
       {{"menu.decoder", "BDMV/STREAM/00002.m2ts"}, {"menu.decode-time", "BDMV/STREAM/00002.m2ts"}}, 2},
  });
}

// The build checks the navigation and menus it wrote and logs what it
// finds: a menu whose second button no arrow key reaches builds, with the
// finding in the log, and `check` agrees.
TEST_F(Check, TheBuildLogsItsOwnCheck) {
  const std::string pictures = std::string(ZV_TEST_DATA) + "/../../demo/media/menu/play_n.png";
  std::string buttons;
  for (const char* b : {"Play\" x=\"100\" y=\"100", "More\" x=\"100\" y=\"400"})
    buttons += std::string("<ButtonOverlapGroup><Button name=\"") + b + "\"><Normal path=\"" + pictures +
               "\"/><Selected path=\"" + pictures + "\"/></Button></ButtonOverlapGroup>";
  zvtest::WriteText(dir_ / "menu.xml", "<HDMVExport><InteractiveGraphic width=\"1920\" height=\"1080\"><DisplaySet>"
                                       "<Page name=\"Main\">" + buttons + "</Page></DisplaySet></InteractiveGraphic></HDMVExport>");
  const std::string p = dir_ / "disc.zvpj";
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir_.Path());
  const std::vector<std::vector<std::string>> steps = {
      {"new", p},
      {"source", "add", p, "Movie#1/Clip#1", video},
      {"source", "add", p, "Top Menu/Background AV", video},
      {"menu", "import", p, "Top Menu/IG#1", dir_ / "menu.xml"},
      {"set", p, "Top Menu/IG#1/Epoch#1/DisplaySet#1/Main/Bog#1/Play", "up=Play", "down=Play"}};
  for (const auto& step : steps) {
    const RunResult r = Zv(step);
    ASSERT_EQ(r.status, 0) << step[0] << ": " << r.err;
  }
  const RunResult build = Zv({"build", p, dir_ / "out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_NE(build.err.find("\n  warning: BDMV/STREAM/00001.m2ts (PID 0x1400 display set 0 page 1 button 1) [menu.unreachable] "),
            std::string::npos)
      << build.err;
  EXPECT_NE(build.err.find("]: Checked navigation and menus: 0 errors, 1 warnings\n"), std::string::npos) << build.err;
  const RunResult r = Zv({"check", dir_ / "out/Zelvane/DISC"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(Findings(r.out), (FindingSet{{"menu.unreachable", "BDMV/STREAM/00001.m2ts"}})) << r.out;
}

namespace {

// Runs zelvane and sends `sig` once a stderr line equals `line`; `sent`
// says whether it did.
RunResult SignalAt(const std::vector<std::string>& args, const std::string& line, int sig, bool& sent) {
  return zvtest::RunWatched(args, nullptr, [&](const std::string& l, pid_t pid) {
    if (!sent && l == line) sent = kill(pid, sig) == 0;
  });
}

}  // namespace

// A check stopped by a signal prints no report and exits with its own
// status, which no finished check has.
TEST_F(Check, ACancelledCheckHasItsOwnStatus) {
  // On a loaded machine the signal can come after the last step, when the
  // check has ended or is leaving with its handler gone; a few tries make
  // only a stop that is never heard fail.
  RunResult r;
  for (int attempt = 0; attempt < 5; ++attempt) {
    bool sent = false;
    r = SignalAt({"check", disc_}, "checking BDMV/STREAM/00000.m2ts", SIGTERM, sent);
    ASSERT_TRUE(sent) << r.err;
    if (r.status == 3) break;
  }
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("zelvane check: cancelled\n"), std::string::npos) << r.err;
}

namespace {

// Reads and writes the 33-bit time stamp of five PES header bytes, keeping
// the prefix and marker bits.
int64_t GetStamp(const uint8_t* p) {
  return int64_t{(p[0] >> 1) & 7} << 30 | int64_t{p[1]} << 22 | int64_t{p[2] >> 1} << 15 | int64_t{p[3]} << 7 | p[4] >> 1;
}
void SetStamp(uint8_t* p, int64_t v) {
  p[0] = static_cast<uint8_t>((p[0] & 0xF1) | ((v >> 29) & 0x0E));
  p[1] = static_cast<uint8_t>(v >> 22);
  p[2] = static_cast<uint8_t>(((v >> 14) & 0xFE) | 1);
  p[3] = static_cast<uint8_t>(v >> 7);
  p[4] = static_cast<uint8_t>(((v << 1) & 0xFE) | 1);
}

}  // namespace

// The PSI cadence, EP map completeness and clips of two STC sequences.
TEST_F(Check, PsiCadenceEpCompletenessAndStcSequences) {
  RunCases({
      {"EP map entries of three pictures taken out", [](const std::string& d) {
         EditClipInfo(d, kMovie, [](zv::ClipInformationFile& ci) {
           auto& kp = ci.cpi.entries.at(0).keyPoints;
           ASSERT_GT(kp.size(), 7u);
           kp.erase(kp.begin() + 3, kp.begin() + 6);
         });
       },
       {{"clip.ep-missing", "BDMV/STREAM/00003.m2ts"}, {"clip.ep-missing", "BDMV/STREAM/00003.m2ts"},
        {"clip.ep-missing", "BDMV/STREAM/00003.m2ts"}}, 2},
      // One PAT becomes a null packet; the later ones count on without a gap.
      {"a PAT left out", [](const std::string& d) {
         int seen = 0;
         EditPackets(d, kMovie, [&](uint8_t* sp, size_t) {
           if (PidOf(sp) != 0) return true;
           if (++seen == 10) {
             sp[5] = 0x1F;
             sp[6] = 0xFF;
           } else if (seen > 10) {
             sp[7] = static_cast<uint8_t>((sp[7] & 0xF0) | ((sp[7] - 1) & 0x0F));
           }
           return true;
         });
       },
       {{"ts.psi-interval", "BDMV/STREAM/00003.m2ts"}}, 2},
  });

  // From the fifth EP map entry on, every clock and time stamp moves about
  // an hour on (whole units of the EP map's times), and the clip
  // information says a second STC sequence starts there: a clip made of
  // two, which checks clean.
  fs::remove_all(disc_);
  fs::copy(Demo(), disc_, fs::copy_options::recursive);
  constexpr int64_t kHour = 512 * 632813;
  uint32_t from = 0;
  EditClipInfo(disc_, kMovie, [&](zv::ClipInformationFile& ci) {
    for (auto& e : ci.cpi.entries) {
      ASSERT_GT(e.keyPoints.size(), 5u);
      if (from == 0) from = e.keyPoints[4].firstSpn;
      for (auto& kp : e.keyPoints)
        if (kp.firstSpn >= from) kp.pts += kHour;
    }
    auto& stc = ci.atcSequences.at(0).stc;
    ASSERT_EQ(stc.size(), 1u);
    zv::STC_INFO second = stc[0];
    second.SpnStcStart = from;
    second.PresentationStartTime += kHour / 2;
    second.PresentationEndTime += kHour / 2;
    stc.push_back(second);
  });
  EditPackets(disc_, kMovie, [&](uint8_t* sp, size_t spn) {
    if (spn < from) return true;
    if (HasPcr(sp)) SetPcrBase(sp, PcrBase(sp) + kHour);
    uint8_t* ts = sp + 4;
    if (!(ts[1] & 0x40) || !(ts[3] & 0x10) || PidOf(sp) < 0x1000) return true;
    uint8_t* pes = ts + 4 + ((ts[3] & 0x20) ? 1 + ts[4] : 0);
    if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1) return true;
    if (pes[7] & 0x80) SetStamp(pes + 9, GetStamp(pes + 9) + kHour);
    if (pes[7] & 0x40) SetStamp(pes + 14, GetStamp(pes + 14) + kHour);
    return true;
  });
  const RunResult two = CheckDisc();
  EXPECT_EQ(two.status, 0) << two.out;
  EXPECT_TRUE(Findings(two.out).empty()) << two.out;
}

// An image written by `zelvane image` checks like its folder, through a
// scratch folder that is gone afterwards; a damaged image is a finding
// naming it, and a break inside the image is found as in the folder.
TEST_F(Check, ImageFilesAreCheckedLikeTheirFolder) {
  const std::string tmp = dir_ / "tmp";
  fs::create_directories(tmp);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  const std::string iso = dir_ / "disc.iso";
  ASSERT_EQ(Zv({"image", disc_, iso, "--yes"}).status, 0);
  RunResult r = Zv({"check", iso});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(iso + ": 0 errors, 0 warnings, 0 notes\n"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(tmp));

  // A playlist naming a missing clip, inside the image.
  EditPlaylist(disc_, "00002", [](zv::PlaylistFile& pl) { pl.playItems[0].ClipName = "00042"; });
  const std::string broken = dir_ / "broken.iso";
  ASSERT_EQ(Zv({"image", disc_, broken, "--yes"}).status, 0);
  r = Zv({"check", broken});
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(Findings(r.out), (FindingSet{{"nav.clip", "BDMV/PLAYLIST/00002.mpls"}})) << r.out;

  // The anchor overwritten; the image cut in half.
  auto bytes = ReadBytes(iso);
  auto anchor = bytes;
  anchor[256 * 2048 + 4] ^= 0xFF;
  WriteBytes(dir_ / "anchor.iso", anchor);
  bytes.resize(bytes.size() / 2);
  WriteBytes(dir_ / "half.iso", bytes);
  for (const char* name : {"anchor.iso", "half.iso"}) {
    r = Zv({"check", dir_ / name});
    EXPECT_EQ(r.status, 2) << name << "\n" << r.out << r.err;
    EXPECT_EQ(Findings(r.out), (FindingSet{{"files.image", name}})) << r.out;
    EXPECT_NE(r.out.find("is not a readable UDF image: "), std::string::npos) << r.out;
  }
  EXPECT_TRUE(fs::is_empty(tmp));
  ::unsetenv("TMPDIR");
}

// Subtitles are read and checked like menus: a disc with rendered
// subtitles checks clean, and a composition naming an object its epoch
// does not define is reported under its rule alone.
TEST_F(Check, SubtitleStreamsAreChecked) {
  zvtest::WriteText(dir_ / "s.srt", "1\n00:00:00,200 --> 00:00:01,500\nHello there\n\n2\n00:00:01,600 --> 00:00:02,800\nAgain\n");
  const std::string p = dir_ / "disc.zvpj";
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir_.Path());
  const std::vector<std::vector<std::string>> steps = {
      {"subtitles", "render", dir_ / "s.srt", dir_ / "s.sup", "--video", "1920x1080@23.976"},
      {"new", p},
      {"source", "add", p, "Movie#1/Clip#1", video, dir_ / "s.sup"},
      {"build", p, dir_ / "out", "--yes"}};
  for (const auto& step : steps) {
    const RunResult r = Zv(step);
    ASSERT_EQ(r.status, 0) << step[0] << ": " << r.err;
  }
  const std::string disc = dir_ / "out/Zelvane/DISC";
  RunResult r = Zv({"check", disc});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Findings(r.out).empty()) << r.out;

  // The first PCS that shows an object: its object id becomes 0x0777.
  const std::string path = disc + "/BDMV/STREAM/00000.m2ts";
  auto bytes = ReadBytes(path);
  PidBytes j = JoinPid(bytes, 0x1200);
  bool done = false;
  for (size_t k = 0; k + 32 < j.bytes.size() && !done; ++k) {
    if (j.bytes[k] != 0 || j.bytes[k + 1] != 0 || j.bytes[k + 2] != 1 || j.bytes[k + 3] != 0xBD) continue;
    const size_t seg = k + 9 + j.bytes[k + 8];
    // Segment header, video descriptor, composition descriptor, palette
    // update flag and id, the number of objects, then the first object id.
    if (j.bytes[seg] != 0x16 || j.bytes[seg + 3 + 10] == 0) continue;
    bytes[j.at[seg + 3 + 11]] = 0x07;
    bytes[j.at[seg + 3 + 12]] = 0x77;
    done = true;
  }
  ASSERT_TRUE(done);
  WriteBytes(path, bytes);
  r = Zv({"check", disc});
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(Findings(r.out), (FindingSet{{"menu.object-ref", "BDMV/STREAM/00000.m2ts"}})) << r.out;
}

// The movie clip spans more than one of the windows a clip is walked in:
// a fault past the first is found at its own packet, and the packets
// before it are counted with it.
TEST_F(Check, FaultsPastTheFirstWindowAreNamedAtTheirPacket) {
  const size_t packets = fs::file_size(At("BDMV/STREAM/00003.m2ts")) / 192;
  ASSERT_GT(packets * 192, size_t{3} << 20) << "the movie clip no longer spans two windows";
  const size_t late = packets - 7;
  EditPackets(disc_, "00003", [&](uint8_t* sp, size_t spn) {
    if (spn == late) sp[4] = 0x48;
    return spn < late;
  });
  const RunResult r = CheckDisc();
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(Findings(r.out), (FindingSet{{"clip.sync", "BDMV/STREAM/00003.m2ts"}})) << r.out;
  EXPECT_NE(r.out.find("(source packet " + std::to_string(late) + ") [clip.sync] the sync byte is lost"), std::string::npos)
      << r.out;
}

// Audio with a core and an extension in one PID (TrueHD beside its AC-3
// core, DTS-HD Master Audio and High Resolution) is replayed through the
// core's and the extension's models as the multiplexer fills them: the
// disc checks clean, and each stream decoded late overflows under its PID.
TEST_F(Check, CoreAndExtensionAudioIsReplayed) {
  const std::string p = dir_ / "disc.zvpj";
  std::vector<std::string> add = {"source", "add", p, "Movie#1/Clip#1"};
  for (const char* f : {"h264_1080p2398.264", "thd_51.ac3", "thd_51.thd", "dtshd_ma.dtshd", "dtshd_hra.dts"}) {
    const std::string copy = zvtest::CopyFixture(f, dir_.Path());
    // The lossless stream takes its AC-3 core from the file beside it.
    if (std::string(f) != "thd_51.ac3") add.push_back(copy);
  }
  for (const auto& step : std::vector<std::vector<std::string>>{{"new", p}, add, {"build", p, dir_ / "out", "--yes"}}) {
    const RunResult r = Zv(step);
    ASSERT_EQ(r.status, 0) << step[0] << ": " << r.err;
  }
  const std::string built = dir_ / "out/Zelvane/DISC";
  std::map<uint8_t, uint16_t> pidOf = PidsByCoding(built);
  ASSERT_EQ(pidOf.count(0x83) + pidOf.count(0x85) + pidOf.count(0x86), 3u);

  const RunResult r = Zv({"check", built});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Findings(r.out).empty()) << r.out;
  for (const uint8_t type : {0x83, 0x85, 0x86}) ExpectOnlyOverflowWhenLate(built, pidOf[type]);
}

// E-AC-3 as a disc carries it (each AC-3 core frame followed by a
// dependent E-AC-3 substream in one PID, coding type 0x84) is replayed
// through the AC-3 model for the core and the E-AC-3 model for both: the
// disc checks clean, and decoded 3 s late it overflows under its PID alone.
TEST_F(Check, EnhancedAc3WithItsCoreIsReplayed) {
  const std::string p = dir_ / "disc.zvpj";
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir_.Path());
  const std::string audio = zvtest::CopyFixture("eac3_71.ac3", dir_.Path());
  for (const auto& step : std::vector<std::vector<std::string>>{
           {"new", p}, {"source", "add", p, "Movie#1/Clip#1", video, audio}, {"build", p, dir_ / "out", "--yes"}}) {
    const RunResult r = Zv(step);
    ASSERT_EQ(r.status, 0) << step[0] << ": " << r.err;
  }
  const std::string built = dir_ / "out/Zelvane/DISC";
  const uint16_t pid = PidsByCoding(built)[0x84];
  ASSERT_EQ(pid, 0x1100);
  // Both parts of every frame are in the clip: core PES packets with
  // stream_id_extension 0x71 and extension ones with 0x72, alike in number.
  std::map<uint8_t, int> parts;
  EditPackets(built, "00000", [&](uint8_t* sp, size_t) {
    const uint8_t* ts = sp + 4;
    if (PidOf(sp) != pid || !(ts[1] & 0x40)) return true;
    const uint8_t* pes = ts + 4 + ((ts[3] & 0x20) ? 1 + ts[4] : 0);
    // Flags, then the PTS (5 bytes), the extension flags byte, its length
    // and the stream_id_extension.
    if (pes[3] == 0xFD && (pes[7] & 0x01) && (pes[7] & 0xC0) == 0x80) ++parts[pes[9 + 5 + 2] & 0x7F];
    return true;
  });
  EXPECT_GT(parts[0x71], 50) << "core PES packets";
  EXPECT_EQ(parts[0x72], parts[0x71]) << "extension PES packets";
  // ffprobe, an independent reader, takes the PID for E-AC-3 7.1.
  if (zvtest::HaveProgram("ffprobe")) {
    const RunResult probe = zvtest::Run({"ffprobe", "-v", "fatal", "-select_streams", "a:0", "-show_entries",
                                         "stream=codec_name,channels,id", "-of", "csv=p=0",
                                         built + "/BDMV/STREAM/00000.m2ts"});
    EXPECT_EQ(probe.out.substr(0, probe.out.find('\n')), "eac3,8,0x1100") << probe.out << probe.err;
  }

  const RunResult r = Zv({"check", built});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Findings(r.out).empty()) << r.out;
  ExpectOnlyOverflowWhenLate(built, pid);
}

namespace {

// Builds a disc with one clip: the H.264 fixture and subtitles rendered
// from two SRT cues (PG PID 0x1200), which `editSup` may change first. Its
// folder, or empty with `error`.
std::string BuildSubtitleDisc(const TempDir& dir, std::string& error,
                              const std::function<void(const std::string&)>& editSup = {}) {
  zvtest::WriteText(dir / "s.srt", "1\n00:00:00,200 --> 00:00:01,500\nHello there\n\n2\n00:00:01,600 --> 00:00:02,800\nAgain\n");
  const std::string p = dir / "disc.zvpj";
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const RunResult render = Zv({"subtitles", "render", dir / "s.srt", dir / "s.sup", "--video", "1920x1080@23.976"});
  if (render.status != 0) {
    error = "render: " + render.err;
    return "";
  }
  if (editSup) editSup(dir / "s.sup");
  for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
           {"new", p},
           {"source", "add", p, "Movie#1/Clip#1", video, dir / "s.sup"},
           {"build", p, dir / "out", "--yes"}}) {
    const RunResult r = Zv(step);
    if (r.status != 0) {
      error = step[0] + ": " + r.err;
      return "";
    }
  }
  return dir / "out/Zelvane/DISC";
}

// The file offsets of the PES headers of the PG PID whose payload starts
// with a presentation composition segment, in stream order.
std::vector<size_t> PcsPesHeaders(const std::vector<uint8_t>& clip) {
  std::vector<size_t> found;
  for (size_t p = 0; p + 192 <= clip.size(); p += 192) {
    const uint8_t* ts = clip.data() + p + 4;
    if (PidOf(clip.data() + p) != 0x1200 || !(ts[1] & 0x40)) continue;
    const size_t pes = 4 + ((ts[3] & 0x20) ? 1 + ts[4] : 0);
    if (ts[pes + 9 + ts[pes + 8]] == 0x16) found.push_back(p + 4 + pes);
  }
  return found;
}

}  // namespace

// Subtitle display sets in presentation order, windows inside the video
// and composition objects inside their window: a rendered SRT checks clean,
// and each break is reported under its rule alone.
TEST_F(Check, SubtitleOrderAndWindows) {
  std::string error;
  const std::string built = BuildSubtitleDisc(dir_, error);
  ASSERT_FALSE(built.empty()) << error;
  RunResult r = Zv({"check", built});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Findings(r.out).empty()) << r.out;

  // Edits the first composition that shows an object: `edit` gets the
  // clip, the joined PG bytes and the offset of the segment.
  auto editFirstShown = [](const std::string& d, const std::function<void(std::vector<uint8_t>&, const PidBytes&, size_t)>& edit) {
    const std::string path = d + "/BDMV/STREAM/00000.m2ts";
    auto bytes = ReadBytes(path);
    const PidBytes j = JoinPid(bytes, 0x1200);
    for (size_t k = 0; k + 32 < j.bytes.size(); ++k) {
      if (j.bytes[k] != 0 || j.bytes[k + 1] != 0 || j.bytes[k + 2] != 1 || j.bytes[k + 3] != 0xBD) continue;
      const size_t seg = k + 9 + j.bytes[k + 8];
      if (j.bytes[seg] != 0x16 || j.bytes[seg + 3 + 10] == 0) continue;
      edit(bytes, j, seg);
      WriteBytes(path, bytes);
      return;
    }
    FAIL() << "no composition shows an object";
  };
  const FindingSet window{{"subtitle.window", "BDMV/STREAM/00000.m2ts"}};
  const std::vector<BreakCase> cases = {
      // Segment header, video and composition descriptors, palette update
      // flag and id, the object count, then the object: id, window id,
      // flags, x, y.
      {"a composition object in a window not defined", [&](const std::string& d) {
         editFirstShown(d, [](std::vector<uint8_t>& b, const PidBytes& j, size_t seg) { b[j.at[seg + 3 + 13]] = 5; });
       },
       window, 2},
      {"a composition object moved past its window's right edge", [&](const std::string& d) {
         editFirstShown(d, [](std::vector<uint8_t>& b, const PidBytes& j, size_t seg) {
           b[j.at[seg + 3 + 15]] = 1800 >> 8;
           b[j.at[seg + 3 + 16]] = 1800 & 0xFF;
         });
       },
       window, 2},
      {"a window reaching below the video", [&](const std::string& d) {
         const std::string path = d + "/BDMV/STREAM/00000.m2ts";
         auto bytes = ReadBytes(path);
         const PidBytes j = JoinPid(bytes, 0x1200);
         // The first WDS: type, length, the count, then id, x, y, width, height.
         for (size_t k = 0; k + 16 < j.bytes.size(); ++k)
           if (j.bytes[k] == 0x17 && j.bytes[k + 1] == 0 && j.bytes[k + 2] == 10 && j.bytes[k + 3] == 1) {
             bytes[j.at[k + 7]] = 1070 >> 8;
             bytes[j.at[k + 8]] = 1070 & 0xFF;
             break;
           }
         WriteBytes(path, bytes);
       },
       // The window, and the object that now lies outside it.
       {{"subtitle.window", "BDMV/STREAM/00000.m2ts"}, {"subtitle.window", "BDMV/STREAM/00000.m2ts"}}, 2},
  };
  for (const auto& c : cases) {
    fs::remove_all(disc_);
    fs::copy(built, disc_, fs::copy_options::recursive);
    c.breakIt(disc_);
    r = CheckDisc();
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out;
    EXPECT_EQ(Findings(r.out), c.want) << c.name << "\n" << r.out;
  }

  // The composition that clears the first subtitle presented at the time
  // of the one that showed it (its DTS then also comes after its PTS).
  fs::remove_all(disc_);
  fs::copy(built, disc_, fs::copy_options::recursive);
  const std::string path = disc_ + "/BDMV/STREAM/00000.m2ts";
  auto bytes = ReadBytes(path);
  const std::vector<size_t> pcs = PcsPesHeaders(bytes);
  ASSERT_GE(pcs.size(), 2u);
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pcs[0] + 9), 5, bytes.begin() + static_cast<std::ptrdiff_t>(pcs[1] + 9));
  WriteBytes(path, bytes);
  r = CheckDisc();
  EXPECT_EQ(r.status, 2) << r.out;
  const FindingSet found = Findings(r.out);
  ASSERT_FALSE(found.empty()) << r.out;
  EXPECT_EQ(found.count({"subtitle.order", "BDMV/STREAM/00000.m2ts"}), found.size()) << r.out;
  EXPECT_NE(r.out.find("not after the display set before it"), std::string::npos) << r.out;
}

// A composition of three objects is more than the subtitle decoder
// composes: only subtitle.limits.
TEST_F(Check, SubtitleDecoderLimits) {
  std::string error;
  const std::string built = BuildSubtitleDisc(dir_, error, [](const std::string& sup) {
    zv::File in;
    ASSERT_TRUE(in.Open(sup, zv::File::kRead));
    zv::CFileInput input(in);
    std::vector<std::unique_ptr<zv::CDsData>> sets;
    for (;;) {
      auto ds = std::make_unique<zv::CDsData>();
      std::string why;
      const int r = zv::ReadDisplaySet(input, *ds, true, why);
      if (r == zv::kDsEndOfFile) break;
      ASSERT_EQ(r, zv::kDsOk) << why;
      sets.push_back(std::move(ds));
    }
    in.Close();
    bool grown = false;
    for (auto& ds : sets)
      if (!grown && ds->m_pcs && ds->m_pcs->m_objects.size() == 1) {
        ds->m_pcs->m_objects.push_back(ds->m_pcs->m_objects[0]);
        ds->m_pcs->m_objects.push_back(ds->m_pcs->m_objects[0]);
        grown = true;
      }
    ASSERT_TRUE(grown);
    zv::File out;
    ASSERT_TRUE(out.Open(sup, zv::File::kCreate));
    for (auto& ds : sets) {
      std::string why;
      ASSERT_TRUE(zv::WriteDisplaySet(out, *ds, true, nullptr, why)) << why;
    }
  });
  ASSERT_FALSE(built.empty()) << error;
  const RunResult r = Zv({"check", built});
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(Findings(r.out), (FindingSet{{"subtitle.limits", "BDMV/STREAM/00000.m2ts"}})) << r.out;
  EXPECT_NE(r.out.find("3 composition objects where the decoder holds 2"), std::string::npos) << r.out;
}

// A stream the clip picks up inside a PES packet (its first packet's unit
// start cleared) is replayed from its first unit on, never an abort; a
// standard-definition video is replayed at the level its SPS gives, as the
// multiplexer models it, and checks clean.
TEST_F(Check, ReplayStartsAtAStreamsFirstUnitAndItsOwnLevel) {
  bool cleared = false;
  EditPackets(disc_, "00003", [&](uint8_t* sp, size_t) {
    if (PidOf(sp) != 0x1100 || !(sp[5] & 0x40)) return true;
    sp[5] &= ~0x40;
    cleared = true;
    return false;
  });
  ASSERT_TRUE(cleared);
  RunResult r = CheckDisc();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Findings(r.out).empty()) << r.out;
  EXPECT_EQ(r.err.find("internal error"), std::string::npos) << r.err;

  const std::string p = dir_ / "sd.zvpj";
  const std::string video = zvtest::CopyFixture("h264_576i25.264", dir_.Path());
  const std::string audio = zvtest::CopyFixture("dts_51.dts", dir_.Path());
  for (const auto& step : std::vector<std::vector<std::string>>{
           {"new", p}, {"source", "add", p, "Movie#1/Clip#1", video, audio}, {"build", p, dir_ / "sd", "--yes"}}) {
    const RunResult s = Zv(step);
    ASSERT_EQ(s.status, 0) << step[0] << ": " << s.err;
  }
  r = Zv({"check", dir_ / "sd/Zelvane/DISC"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Findings(r.out).empty()) << r.out;
}

namespace {

struct TextDialog {
  int64_t start, end;  // 90 kHz, from the play item's IN time
};

// A text subtitle segment: type, 16-bit length, body.
std::vector<uint8_t> TextSegment(uint8_t type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> s{type, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

// 7 reserved bits (here 0) and a 33-bit time stamp.
void PutTextTime(std::vector<uint8_t>& b, uint64_t t) {
  b.push_back(static_cast<uint8_t>((t >> 32) & 1));
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(t >> s));
}

// The segments of a text subtitle stream: a dialog style segment with no
// styles and an empty palette announcing `announced` dialogs, then one
// dialog presentation segment per dialog (its times, no palette update, no
// regions), the times counted from `base` (90 kHz).
std::vector<std::vector<uint8_t>> TextSegments(const std::vector<TextDialog>& dialogs, uint64_t base, size_t announced) {
  std::vector<std::vector<uint8_t>> segs;
  // player_style_flag and 15 reserved bits, region and user style counts,
  // the palette's length, then the number of dialogs.
  segs.push_back(TextSegment(0x81, {0, 0, 0, 0, 0, 0, static_cast<uint8_t>(announced >> 8), static_cast<uint8_t>(announced)}));
  for (const auto& d : dialogs) {
    std::vector<uint8_t> body;
    PutTextTime(body, base + static_cast<uint64_t>(d.start));
    PutTextTime(body, base + static_cast<uint64_t>(d.end));
    body.push_back(0);  // palette_update_flag, 7 reserved bits
    body.push_back(0);  // number_of_regions
    segs.push_back(TextSegment(0x82, body));
  }
  return segs;
}

// Appends one source packet: arrival time, then a transport packet of
// `pid` whose payload `payload` (at most 184 bytes) is padded in front by
// an adaptation field.
void PutSourcePacket(std::vector<uint8_t>& clip, uint32_t ats, uint16_t pid, bool start, uint8_t cc,
                     const std::vector<uint8_t>& payload) {
  for (int s = 24; s >= 0; s -= 8) clip.push_back(static_cast<uint8_t>(ats >> s));
  const size_t pad = 184 - payload.size();
  clip.push_back(0x47);
  clip.push_back(static_cast<uint8_t>((start ? 0x40 : 0) | pid >> 8));
  clip.push_back(static_cast<uint8_t>(pid));
  clip.push_back(static_cast<uint8_t>((pad ? 0x30 : 0x10) | (cc & 0x0F)));
  if (pad) {
    clip.push_back(static_cast<uint8_t>(pad - 1));  // adaptation_field_length
    if (pad > 1) clip.push_back(0);                 // no flags
    for (size_t k = 2; k < pad; ++k) clip.push_back(0xFF);
  }
  clip.insert(clip.end(), payload.begin(), payload.end());
}

// A PSI section after its pointer field, with its CRC, padded to a payload.
std::vector<uint8_t> PsiPayload(std::vector<uint8_t> section) {
  const uint32_t crc = zv::Crc32Mpeg2(section.data(), section.size());
  for (int s = 24; s >= 0; s -= 8) section.push_back(static_cast<uint8_t>(crc >> s));
  section.insert(section.begin(), 0);  // pointer_field
  section.resize(184, 0xFF);
  return section;
}

// Adds to the built disc `disc` a text subtitle clip (PID 0x1800, each
// segment in a PES packet of its own on private stream 2) played by a
// text-subtitle sub-path of the playlist whose first play item plays clip
// 00000, with its stream entry. `segments` get the play item's IN time
// (90 kHz) and give the segments.
void AddTextSubtitleClip(const std::string& disc,
                         const std::function<std::vector<std::vector<uint8_t>>(uint64_t base, uint64_t length)>& segments) {
  std::string playlist;
  zv::PlaylistFile pl;
  for (const auto& f : fs::directory_iterator(disc + "/BDMV/PLAYLIST")) {
    const auto bytes = ReadBytes(f.path().string());
    zv::PlaylistFile p;
    std::string err;
    if (p.Parse(bytes.data(), bytes.size(), &err) == zv::kOk && !p.playItems.empty() && p.playItems[0].ClipName == "00000") {
      playlist = f.path().stem().string();
      pl = p;
    }
  }
  ASSERT_FALSE(playlist.empty()) << "no playlist plays clip 00000";
  int last = 0;
  for (const auto& f : fs::directory_iterator(disc + "/BDMV/CLIPINF")) last = std::max(last, std::stoi(f.path().stem().string()));
  char name[16];
  std::snprintf(name, sizeof name, "%05d", last + 1);
  const zv::PLAY_ITEM& pi = pl.playItems[0];

  std::vector<uint8_t> clip;
  uint32_t ats = 1000;
  std::map<uint16_t, uint8_t> cc;
  auto put = [&](uint16_t pid, bool start, const std::vector<uint8_t>& payload) {
    PutSourcePacket(clip, ats, pid, start, pid == 0x1FFF ? 0 : cc[pid]++, payload);
    ats += 2000;
  };
  put(0x0000, true, PsiPayload({0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x1F, 0x00, 0x01, 0xE1, 0x00}));
  // Program 1, no PCR, one stream: type 0x92 on PID 0x1800.
  put(0x0100, true, PsiPayload({0x02, 0xB0, 0x12, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xFF, 0xFF, 0xF0, 0x00, 0x92, 0xF8, 0x00, 0xF0, 0x00}));
  for (const auto& seg : segments(uint64_t{pi.InTime} * 2, (uint64_t{pi.OutTime} - pi.InTime) * 2)) {
    // A PES header of private stream 2: start code, stream_id, length.
    std::vector<uint8_t> pes{0x00, 0x00, 0x01, 0xBF, static_cast<uint8_t>(seg.size() >> 8), static_cast<uint8_t>(seg.size())};
    pes.insert(pes.end(), seg.begin(), seg.end());
    for (size_t at = 0; at < pes.size(); at += 184)
      put(0x1800, at == 0, std::vector<uint8_t>(pes.begin() + static_cast<std::ptrdiff_t>(at),
                                                pes.begin() + static_cast<std::ptrdiff_t>(std::min(pes.size(), at + 184))));
  }
  while (clip.size() % 6144) put(0x1FFF, false, std::vector<uint8_t>(184, 0xFF));
  WriteBytes(disc + "/BDMV/STREAM/" + name + ".m2ts", clip);

  // Its clip information: the movie clip's times, a text subtitle clip.
  const auto movie = ReadBytes(disc + "/BDMV/CLIPINF/00000.clpi");
  zv::ClipInformationFile ci;
  std::string err;
  ASSERT_EQ(ci.Parse(movie.data(), movie.size(), &err), zv::kOk) << err;
  ci.ApplicationType = 6;
  ci.NumberOfSourcePackets = static_cast<uint32_t>(clip.size() / 192);
  ci.cpi.entries.clear();
  ci.programInfo.sequences.assign(1, zv::SProgramSequence{});
  zv::STREAM_INFO text;
  text.StreamPID = 0x1800;
  text.coding.StreamCodingType = 0x92;
  text.coding.CharacterCode = 1;
  text.coding.Language = "eng";
  ci.programInfo.sequences[0].streams.push_back(text);
  const auto info = ci.Encode();
  WriteBytes(disc + "/BDMV/CLIPINF/" + std::string(name) + ".clpi", info);
  WriteBytes(disc + "/BDMV/BACKUP/CLIPINF/" + std::string(name) + ".clpi", info);

  EditPlaylist(disc, playlist, [&](zv::PlaylistFile& p) {
    zv::SUB_PATH sp;
    sp.SubPathType = 4;
    zv::SUB_PLAY_ITEM it;
    it.ClipName = name;
    it.InTime = p.playItems[0].InTime;
    it.OutTime = p.playItems[0].OutTime;
    it.SyncStartPtsOfPlayItem = p.playItems[0].InTime;
    sp.items.push_back(it);
    p.subPaths.push_back(sp);
    zv::PRIMARY_STREAM_ENTRY e;
    e.entry.type = 2;
    e.entry.RefToSubPathId = static_cast<uint8_t>(p.subPaths.size() - 1);
    e.entry.RefToStreamPidOfSubClip = 0x1800;
    e.attributes.StreamCodingType = 0x92;
    e.attributes.CharacterCode = 1;
    e.attributes.Language = "eng";
    p.playItems[0].stn.pgTextSt.push_back(e);
  });
}

}  // namespace

// Text subtitle streams have no buffer model to replay (the multiplexer
// never delays them); what the format lays down is checked instead: a
// clean stream on a text-subtitle sub-path checks clean, and each damage
// is reported under its rule alone.
TEST_F(Check, TextSubtitleStreamsAreChecked) {
  std::string error;
  const std::string built = BuildSubtitleDisc(dir_, error);
  ASSERT_FALSE(built.empty()) << error;
  auto dialogs = [](int64_t length) {
    return std::vector<TextDialog>{{length / 10, length * 4 / 10}, {length / 2, length * 9 / 10}};
  };
  struct TextCase {
    const char* name;
    std::function<std::vector<std::vector<uint8_t>>(uint64_t, uint64_t)> segments;
    FindingSet want;
    int status;
  };
  const std::string clip = "BDMV/STREAM/00001.m2ts";
  const std::vector<TextCase> cases = {
      {"clean", [&](uint64_t base, uint64_t n) { return TextSegments(dialogs(static_cast<int64_t>(n)), base, 2); }, {}, 0},
      {"the dialogs 3 s later", [&](uint64_t base, uint64_t n) {
         return TextSegments(dialogs(static_cast<int64_t>(n)), base + 90000 * 3, 2);
       },
       {{"subtitle.text-time", clip}, {"subtitle.text-time", clip}}, 1},
      {"a dialog announced but missing", [&](uint64_t base, uint64_t n) {
         return TextSegments(dialogs(static_cast<int64_t>(n)), base, 3);
       },
       {{"subtitle.text", clip}}, 2},
      {"the second dialog starting before the first ends", [&](uint64_t base, uint64_t n) {
         auto d = dialogs(static_cast<int64_t>(n));
         d[1].start = d[0].end - 9000;
         return TextSegments(d, base, 2);
       },
       {{"subtitle.text", clip}}, 2},
      {"a segment longer than its PES packet", [&](uint64_t base, uint64_t n) {
         auto segs = TextSegments(dialogs(static_cast<int64_t>(n)), base, 2);
         segs[2][2] = static_cast<uint8_t>(segs[2][2] + 40);
         return segs;
       },
       {{"subtitle.text", clip}, {"subtitle.text", clip}}, 2},
  };
  for (const auto& c : cases) {
    fs::remove_all(disc_);
    fs::copy(built, disc_, fs::copy_options::recursive);
    AddTextSubtitleClip(disc_, c.segments);
    const RunResult r = CheckDisc();
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out;
    EXPECT_EQ(Findings(r.out), c.want) << c.name << "\n" << r.out;
  }
}
