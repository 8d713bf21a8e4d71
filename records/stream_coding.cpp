#include "records/stream_coding.h"

namespace zv {

const char* CodingTypeText(uint8_t t) {
  const char* name = GetStreamTypeName(t);
  return name ? name : "";
}

const char* VideoFormatText(uint8_t c) {
  static const char* const kNames[] = {"Reserved", "480i", "576i", "480p", "1080i", "720p", "1080p", "576p"};
  return c < 8 ? kNames[c] : "Reserved";
}

const char* FrameRateText(uint8_t c) {
  switch (c) {
    case 1: return "23.976";
    case 2: return "24";
    case 3: return "25";
    case 4: return "29.97";
    case 6: return "50";
    case 7: return "59.94";
    default: return "Reserved";
  }
}

const char* AspectRatioText(uint8_t c) {
  return c == 2 ? "4:3" : c == 3 ? "16:9" : "Reserved";
}

const char* AudioPresentationText(uint8_t c) {
  switch (c) {
    case 1: return "Mono";
    case 3: return "Stereo";
    case 6: case 12: return "Multi";
    default: return "Reserved";
  }
}

const char* SamplingFrequencyText(uint8_t c) {
  switch (c) {
    case 1: return "48K";
    case 4: return "96K";
    case 5: return "192K";
    case 12: return "48K/96K+192K";
    case 14: return "48K+96K";
    default: return "Reserved";
  }
}

// ---- StreamCodingInfo ----

template <class IO>
void Syntax(IO& io, StreamCodingInfo& c) {
  auto len = io.Length(8, "Length");
  const StreamKind k = CodingAttributes(
      io,
      {c.StreamCodingType, c.VideoFormat, c.FrameRate, c.AudioPresentationType, c.SamplingFrequency, c.CharacterCode,
       c.Language},
      [&] {
        io.Bits(4, "AspectRatio", c.AspectRatio, rec::Named{AspectRatioText});
        io.Reserved(2);
        io.Bits(1, "CcFlag", c.CcFlag);
        io.Reserved(1 + 16);
      });
  if (IsGraphicsKind(k)) io.Reserved(8);
  if (k == StreamKind::kOther) {
    // Older or foreign files may stop after the type. Unknown types keep
    // the ISRC at its usual place and drop the 4 trailing reserved bytes.
    if constexpr (IO::kReading)
      if (io.Remaining() < 16) return len.EndSkippingRest();
    io.Reserved(32);
  }
  io.Section("ISRC", [&] {
    static constexpr struct {
      const char* label;
      size_t at, n;
    } kParts[] = {{"CountryCode", 0, 2}, {"CopyrightHolder", 2, 3}, {"RecordingYear", 5, 2}, {"RecordingNumber", 7, 5}};
    for (const auto& part : kParts) {
      std::string text(reinterpret_cast<const char*>(c.Isrc.data()) + part.at, part.n);
      io.Text(part.n, part.label, text);
      if constexpr (IO::kReading) std::copy(text.begin(), text.end(), c.Isrc.begin() + part.at);
    }
  });
  if (k != StreamKind::kOther) io.Reserved(32);
  len.EndSkippingRest();
}

std::string StreamCodingInfo::Summary(bool withLanguage) const {
  std::string lang = PrintableText(Language);
  switch (StreamKindOf(StreamCodingType)) {
    case StreamKind::kVideo: {
      std::string s = std::string(VideoFormatText(VideoFormat)) + ", " + FrameRateText(FrameRate);
      if (AspectRatio == 2 || AspectRatio == 3) s += std::string(", ") + AspectRatioText(AspectRatio);
      if (CcFlag) s += " CC";
      return s;
    }
    case StreamKind::kAudio: {
      std::string s = std::string(AudioPresentationText(AudioPresentationType)) + ", " +
                      SamplingFrequencyText(SamplingFrequency);
      if (withLanguage) s += ", " + lang;
      return s;
    }
    case StreamKind::kPg:
    case StreamKind::kIg:
      return withLanguage ? lang : std::string();
    case StreamKind::kTextSt:
      return std::to_string(CharacterCode) + ", " + lang;
    case StreamKind::kOther:
      break;
  }
  return {};
}

// ---- ProgramInfo ----

template <class IO>
void Syntax(IO& io, SProgramInfo& p) {
  auto len = io.Length(32, "Length");
  io.Reserved(8);
  io.Array(8, "NumberOfProgramSequence", p.sequences, [&](SProgramSequence& ps) {
    io.Section("ProgramSequenceInfo", [&] {
      io.U32("SpnProgramSequenceStart", ps.SpnProgramSequenceStart);
      io.U16("ProgramMapPid", ps.ProgramMapPid, rec::Hex{4});
      uint64_t n = ps.streams.size();
      io.U8("NumberOfStreams", n);
      io.U8("NumberOfGroups", ps.NumberOfGroups);
      io.Elements(ps.streams, n, [&](STREAM_INFO& si, uint64_t i) {
        io.Section("StreamInfo", static_cast<int>(i), [&] {
          io.U16("StreamPID", si.StreamPID, rec::Hex{4});
          io.Record("StreamCodingInfo", si.coding);
        });
      });
    });
  });
  len.EndSkippingRest();
}

size_t SProgramInfo::Size() const { return rec::Encode(*this).size(); }

void SProgramInfo::Write(BeWriter& w) const {
  std::vector<uint8_t> b = rec::Encode(*this);
  w.Bytes(b.data(), b.size());
}

void SProgramInfo::Parse(BeReader& r) {
  SProgramInfo x;
  size_t n = rec::Decode(r.Here(), r.Remaining(), x);
  r.Skip(n);
  *this = std::move(x);
}

void SProgramInfo::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out.Block("ProgramInfo")); }

ZV_SYNTAX_INSTANTIATE(StreamCodingInfo);
ZV_SYNTAX_INSTANTIATE(SProgramInfo);

}  // namespace zv
