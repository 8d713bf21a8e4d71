// Clips with LPCM tracks and with TrueHD beside its AC-3 core, read back by
// hand: the PES framing of each stream, the bytes it carries against the
// input files, the clip information, and the decoder buffers replayed from
// the file (for TrueHD, the core's model and the lossless stream's model).
#include <gtest/gtest.h>

#include <filesystem>

#include "mux/clip_info.h"
#include "mux/muxer.h"
#include "muxer_clip_check.h"
#include "streams/lpcm_parser.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

struct BuiltClip {
  std::string m2ts, clpi;
  std::vector<uint16_t> pids;
  std::vector<std::string> inputs;
};

// Multiplexes files already in `dir` as a story would.
BuiltClip Build(const TempDir& dir, const std::vector<std::string>& files,
                std::vector<std::unique_ptr<zv::SRawTrack>>* keep = nullptr) {
  BuiltClip b;
  std::vector<std::unique_ptr<zv::SRawTrack>> owned;
  std::vector<zv::SMuxTrack*> tracks;
  zv::ScriptedPrompt prompt;
  for (size_t i = 0; i < files.size(); ++i) {
    auto t = std::make_unique<zv::SRawTrack>();
    b.inputs.push_back(dir / files[i]);
    EXPECT_TRUE(t->SetSource(b.inputs.back(), {}, &prompt)) << t->LastError();
    t->m_nOrderKey = static_cast<int32_t>(i);
    tracks.push_back(t.get());
    owned.push_back(std::move(t));
  }
  std::vector<zv::SMuxTrack*> ordered = zv::AssignPids(tracks);
  for (auto* t : ordered) b.pids.push_back(t->m_nPid);
  zv::CMuxer muxer;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  EXPECT_TRUE(muxer.Prepare(&ordered, prep)) << muxer.Error();
  b.m2ts = dir / "00001.m2ts";
  b.clpi = dir / "00001.clpi";
  std::string error;
  EXPECT_EQ(zv::MuxClipFiles(muxer, b.m2ts, b.clpi, false, {}, error), zv::kOk) << error;
  for (auto* t : ordered) {
    t->ReleaseMux();
    t->ReleaseSource();
  }
  if (keep) *keep = std::move(owned);
  return b;
}

std::vector<zv::STREAM_INFO> ClipStreams(const std::string& clpi) {
  zv::ClipInformationFile ci;
  std::vector<uint8_t> raw = ReadBytes(clpi);
  std::string err;
  EXPECT_EQ(ci.Parse(raw.data(), raw.size(), &err), zv::kOk) << err;
  if (ci.programInfo.sequences.empty()) return {};
  return ci.programInfo.sequences[0].streams;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }

TEST(MuxerAudioClip, LpcmTracksCarryTheirHeaderAndTheConvertedSamples) {
  TempDir dir;
  const std::vector<std::string> wavs = {"lpcm_51_24_48.wav", "lpcm_71_24_96.wav", "lpcm_20_24_192.wav",
                                         "lpcm_20_16_48.wav"};
  std::vector<std::string> files = {"v.264"};
  std::filesystem::copy_file(DataPath("h264_1080p2398.264"), dir / "v.264");
  for (const std::string& w : wavs) files.push_back(CopyFixture(w, dir.Path()).substr(dir.Path().size() + 1));
  BuiltClip b = Build(dir, files);
  ClipReading c = ReadClip(b.m2ts);
  ASSERT_TRUE(c.error.empty()) << c.error;
  EXPECT_EQ(ReplayStd(c, 0x1011, AvcLevel41()), "");

  struct Want {
    uint8_t headerByte2;  // channel assignment and sampling frequency
    uint8_t headerByte3;  // bits code
    uint8_t presentation, sampling;
    bool rate192k;
  } want[] = {{0x91, 0xC0, 6, 1, false}, {0xB4, 0xC0, 6, 4, false}, {0x35, 0xC0, 3, 5, true}, {0x31, 0x40, 3, 1, false}};
  const std::vector<zv::STREAM_INFO> streams = ClipStreams(b.clpi);
  ASSERT_EQ(streams.size(), 5u);
  for (size_t i = 0; i < wavs.size(); ++i) {
    SCOPED_TRACE(wavs[i]);
    const uint16_t pid = static_cast<uint16_t>(0x1100 + i);
    EXPECT_EQ(ReplayStd(c, pid, Lpcm(want[i].rate192k)), "");
    EXPECT_EQ(streams[1 + i].coding.StreamCodingType, 0x80);
    EXPECT_EQ(streams[1 + i].coding.AudioPresentationType, want[i].presentation);
    EXPECT_EQ(streams[1 + i].coding.SamplingFrequency, want[i].sampling);

    // The WAV's samples, as the disc stores them: parsed here from the file.
    const std::vector<uint8_t> wav = ReadBytes(b.inputs[1 + i]);
    zv::PCM_WAVE_FORMAT fmt;
    zv::ArchiveIn in(wav.data() + 20, Le32(wav.data() + 16));
    ASSERT_TRUE(fmt.Load(in));
    // ffmpeg writes the data chunk right after the format chunk.
    const size_t dataAt = 20 + Le32(wav.data() + 16) + 8;
    ASSERT_EQ(std::string(wav.begin() + dataAt - 8, wav.begin() + dataAt - 4), "data");
    std::vector<uint8_t> samples(wav.begin() + static_cast<std::ptrdiff_t>(dataAt), wav.end());
    ASSERT_EQ(samples.size(), fmt.avgBytesPerSec) << "one second";
    zv::ConvertLpcmToDisc(samples.data(), samples.size(), fmt);

    const auto& units = c.units.at(pid);
    ASSERT_EQ(units.size(), 200u) << "5 ms units of one second";
    std::vector<uint8_t> carried;
    const uint32_t auSize = fmt.avgBytesPerSec / 200;
    for (const ClipUnit& u : units) {
      ASSERT_EQ(u.streamId, 0xBD);
      ASSERT_EQ(u.idExtension, 0);
      ASSERT_GE(u.payload.size(), 4 + auSize);
      EXPECT_EQ(u.payload[0] << 8 | u.payload[1], auSize);
      EXPECT_EQ(u.payload[2], want[i].headerByte2);
      EXPECT_EQ(u.payload[3], want[i].headerByte3);
      // The unit ends with its last packet (the rest of that packet is
      // stuffing in the adaptation field, so payload holds only the unit).
      ASSERT_EQ(u.payload.size(), 4 + auSize);
      carried.insert(carried.end(), u.payload.begin() + 4, u.payload.end());
    }
    EXPECT_TRUE(carried == samples) << "big-endian samples in the disc's channel order";
  }
}

TEST(MuxerAudioClip, TrueHdAndItsCoreShareOnePidUnderBothModels) {
  TempDir dir;
  std::filesystem::copy_file(DataPath("h264_1080p2398.264"), dir / "v.264");
  CopyFixture("thd_51.ac3", dir.Path());
  CopyFixture("thd_51.thd", dir.Path());
  std::vector<std::unique_ptr<zv::SRawTrack>> tracks;
  BuiltClip b = Build(dir, {"v.264", "thd_51.thd"}, &tracks);
  // Playlists are written after the clip, from the closed tracks.
  ASSERT_EQ(tracks.size(), 2u);
  zv::SCodingAttributes attributes;
  std::string language;
  tracks[1]->GetAttributeValues(attributes, language);
  EXPECT_EQ(attributes.streamCodingType, 0x83);
  EXPECT_EQ(attributes.presentationType, 6);
  EXPECT_EQ(b.pids, (std::vector<uint16_t>{0x1011, 0x1100}));
  ClipReading c = ReadClip(b.m2ts);
  ASSERT_TRUE(c.error.empty()) << c.error;

  const auto& units = c.units.at(0x1100);
  std::vector<uint8_t> core, lossless;
  size_t coreUnits = 0, losslessUnits = 0;
  uint64_t lastDts = 0;
  for (const ClipUnit& u : units) {
    ASSERT_EQ(u.streamId, 0xFD);
    ASSERT_TRUE(u.idExtension == 0x76 || u.idExtension == 0x72) << std::hex << int(u.idExtension);
    auto& to = u.idExtension == 0x76 ? core : lossless;
    to.insert(to.end(), u.payload.begin(), u.payload.end());
    (u.idExtension == 0x76 ? coreUnits : losslessUnits)++;
    EXPECT_GE(u.dts, lastDts) << "interleaved in decoding order";
    lastDts = u.dts;
  }
  EXPECT_EQ(core, ReadBytes(dir / "thd_51.ac3"));
  EXPECT_EQ(lossless, ReadBytes(dir / "thd_51.thd"));
  EXPECT_EQ(losslessUnits, 1200u);
  EXPECT_EQ(coreUnits, ReadBytes(dir / "thd_51.ac3").size() / 1792);

  EXPECT_EQ(CoreMarking(c, 0x1100), "");
  // The core's model takes the core's units; the lossless model takes all.
  EXPECT_EQ(ReplayStd(c, 0x1100, Ac3Primary(), [](const ClipUnit& u) { return u.idExtension == 0x76; }), "");
  EXPECT_EQ(ReplayStd(c, 0x1100, Mlp()), "");
  EXPECT_EQ(ReplayStd(c, 0x1011, AvcLevel41()), "");

  const std::vector<zv::STREAM_INFO> streams = ClipStreams(b.clpi);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[1].coding.StreamCodingType, 0x83);
  EXPECT_EQ(streams[1].coding.AudioPresentationType, 6);
  EXPECT_EQ(streams[1].coding.SamplingFrequency, 1);
}

}  // namespace
