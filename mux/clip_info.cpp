#include "mux/clip_info.h"

#include <cstdio>
#include <cstring>

#include "mux/ts_syntax.h"
#include "records/syntax.h"
#include "platform/progress.h"

namespace zv {

CodingGroup GetCodingGroup(uint8_t t) {
  switch (t) {
    case 0x02: case 0x1B: case 0x20: case 0xEA:
      return CodingGroup::kVideo;
    case 0x80: case 0x81: case 0x82: case 0x83: case 0x84: case 0x85: case 0x86: case 0xA1: case 0xA2:
      return CodingGroup::kAudio;
    case 0x90: case 0x91:
      return CodingGroup::kGraphics;
    case 0x92:
      return CodingGroup::kText;
    default:
      return CodingGroup::kOther;
  }
}

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

const char* ClipApplicationTypeText(uint8_t c) {
  static const char* const kNames[] = {
      "Reserved",
      "MainTS for a MainPath of Movie",
      "MainTS for a MainPath of Timebased Slidershow",
      "MainTS for a MainPath of Browsable Slidershow",
      "SubTS for a SubPath of Browsable Slidershow",
      "SubTS for a SubPath of Interactive Graphics menu",
      "SubTS for a SubPath of Text subtitle",
      "SubTS for a SubPath of one or more elementary streams path",
      "SubTS for a SubPath of Stereoscopic Movie",
      "SubTS for a SubPath of Stereoscopic IG Menu",
      "MainTS for a Movie (AVCHD 1080P50/60)",
  };
  return c < sizeof kNames / sizeof kNames[0] ? kNames[c] : "Reserved";
}

uint32_t Ticks27MHzTo45k(int64_t ticks27) {
  if (ticks27 <= 0) return 0;
  return static_cast<uint32_t>(((ticks27 + 150) / 300) / 2);
}

void WriteFixedText(BeWriter& w, const std::string& s, size_t n) {
  if (s.size() > n) throw std::out_of_range("text longer than its field");
  w.Bytes(s.data(), s.size());
  w.Zeros(n - s.size());
}

// ---- StreamCodingInfo ----

template <class IO>
void Syntax(IO& io, StreamCodingInfo& c) {
  auto len = io.Length(8, "Length");
  io.U8("StreamCodingType", c.StreamCodingType, rec::Shown{[](uint64_t t) {
          return std::string(CodingTypeText(static_cast<uint8_t>(t))) + "(" + HexText(t, 2) + ")";
        }});
  const CodingGroup g = GetCodingGroup(c.StreamCodingType);
  switch (g) {
    case CodingGroup::kVideo:
      io.Bits(4, "VideoFormat", c.VideoFormat, rec::Named{VideoFormatText});
      io.Bits(4, "FrameRate", c.FrameRate, rec::Named{FrameRateText});
      io.Bits(4, "AspectRatio", c.AspectRatio, rec::Named{AspectRatioText});
      io.Reserved(2);
      io.Bits(1, "CcFlag", c.CcFlag);
      io.Reserved(1 + 16);
      break;
    case CodingGroup::kAudio:
      io.Bits(4, "AudioPresentationType", c.AudioPresentationType, rec::Named{AudioPresentationText});
      io.Bits(4, "SamplingFrequency", c.SamplingFrequency, rec::Named{SamplingFrequencyText});
      io.PaddedText(3, "Language", c.Language);
      break;
    case CodingGroup::kGraphics:
      io.PaddedText(3, "Language", c.Language);
      io.Reserved(8);
      break;
    case CodingGroup::kText:
      io.U8("CharacterCode", c.CharacterCode);
      io.PaddedText(3, "Language", c.Language);
      break;
    case CodingGroup::kOther:
      // Older or foreign files may stop after the type. Unknown types keep
      // the ISRC at its usual place and drop the 4 trailing reserved bytes.
      if constexpr (IO::kReading)
        if (io.Remaining() < 16) return len.EndSkippingRest();
      io.Reserved(32);
      break;
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
  if (g != CodingGroup::kOther) io.Reserved(32);
  len.EndSkippingRest();
}

std::string StreamCodingInfo::Summary(bool withLanguage) const {
  std::string lang = PrintableText(Language);
  switch (GetCodingGroup(StreamCodingType)) {
    case CodingGroup::kVideo: {
      std::string s = std::string(VideoFormatText(VideoFormat)) + ", " + FrameRateText(FrameRate);
      if (AspectRatio == 2 || AspectRatio == 3) s += std::string(", ") + AspectRatioText(AspectRatio);
      if (CcFlag) s += " CC";
      return s;
    }
    case CodingGroup::kAudio: {
      std::string s = std::string(AudioPresentationText(AudioPresentationType)) + ", " +
                      SamplingFrequencyText(SamplingFrequency);
      if (withLanguage) s += ", " + lang;
      return s;
    }
    case CodingGroup::kGraphics:
      return withLanguage ? lang : std::string();
    case CodingGroup::kText:
      return std::to_string(CharacterCode) + ", " + lang;
    case CodingGroup::kOther:
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

// ---- ClipInformationFile ----

ClipInformationFile::ClipInformationFile() : toolData(MakeToolFolder()) {}

template <class IO>
void Syntax(IO& io, ClipInformationFile& x) {
  rec::AddressField sequenceInfo, programInfo, cpi, clipMark, extension;
  io.Group("Clpi", [&] {
    io.Part("header", [&] {
      io.PaddedText(4, "TypeIndicator", x.TypeIndicator);
      if constexpr (IO::kReading)
        if (x.TypeIndicator != "HDMV") io.Fail("type indicator is not \"HDMV\"");
      io.PaddedText(4, "Version", x.Version);
      sequenceInfo = io.Address(32, "SequenceInfoStartAddress");
      programInfo = io.Address(32, "ProgramInfoStartAddress");
      cpi = io.Address(32, "CpiStartAddress");
      clipMark = io.Address(32, "ClipMarkStartAddress");
      extension = io.Address(32, "ExtensionDataStartAddress");
      io.ReservedBytes(12);
    });
  });
  if constexpr (IO::kReading) {
    x.SequenceInfoStartAddress = static_cast<uint32_t>(sequenceInfo.value);
    x.ProgramInfoStartAddress = static_cast<uint32_t>(programInfo.value);
    x.CpiStartAddress = static_cast<uint32_t>(cpi.value);
    x.ClipMarkStartAddress = static_cast<uint32_t>(clipMark.value);
    x.ExtensionDataStartAddress = static_cast<uint32_t>(extension.value);
  }

  io.Section("ClipInfo", [&] {
    auto len = io.Length(32, "Length");
    io.Reserved(16);
    io.U8("ClipStreamType", x.ClipStreamType);
    io.U8("ApplicationType", x.ApplicationType, rec::Shown{[](uint64_t v) {
            return std::to_string(v) + "(" + ClipApplicationTypeText(static_cast<uint8_t>(v)) + ")";
          }});
    io.Reserved(31);
    bool atcDelta = x.IsAtcDelta();
    io.Bits(1, "IsAtcDelta", atcDelta);
    io.U32("TsRecordingRate", x.TsRecordingRate);
    io.U32("NumberOfSourcePackets", x.NumberOfSourcePackets);
    // The reserved area carries the tool-data container when there is one.
    std::array<uint8_t, kToolAreaSize> area = x.reserved;
    if constexpr (IO::kWriting) {
      std::array<uint8_t, kToolAreaSize> tool{};
      if (x.toolData && WriteToolArea(*x.toolData, tool.data())) area = tool;
    }
    io.Raw("Reserved", area, rec::Hidden{});
    if constexpr (IO::kReading) {
      x.reserved = area;
      x.toolData = ParseToolArea(area.data());
    }
    if constexpr (IO::kDumping)
      if (x.toolData) {
        SDumpNode& t = io.Node().Block("ToolData");
        if (const SMrqnToolData* d = x.toolData->ToolData()) d->Dump(t);
      }
    io.Section("TsTypeInfoBlock", [&] {
      auto tlen = io.Length(16, "Length");
      io.U8("ValidityFlags", x.ValidityFlags, rec::Hex{2});
      io.PaddedText(4, "FormatIdentifier", x.FormatIdentifier);
      io.Raw("NetworkInformation", x.NetworkInformation);
      io.Reserved(8);
      io.Raw("StreamFormatName", x.StreamFormatName);
      tlen.EndSkippingRest();
    });
    if (atcDelta) {
      io.Reserved(8);
      io.Array(8, "NumberOfAtcDeltaEntries", x.atcDeltas, [&](SAtcDeltaEntry& d, uint64_t i) {
        io.Section("AtcDeltaEntry", static_cast<int>(i), [&] {
          io.U32("AtcDelta", d.AtcDelta);
          io.PaddedText(5, "FollowingClipInformationFileName", d.FollowingClipName);
          io.PaddedText(4, "ClipCodecIdentifier", d.ClipCodecIdentifier);
          io.Reserved(8);
        });
      });
      if constexpr (IO::kReading)
        if (x.atcDeltas.empty()) io.Fail("ATC delta flag set without entries");
    } else if constexpr (IO::kReading) {
      x.atcDeltas.clear();
    }
    len.EndSkippingRest();
  });

  io.Section("SequenceInfo", [&] {
    io.At(sequenceInfo);
    auto len = io.Length(32, "Length");
    io.Reserved(8);
    io.Array(8, "NumberOfAtcSequences", x.atcSequences, [&](SAtcSequence& a, uint64_t i) {
      io.Section("AtcSequence", static_cast<int>(i), [&] {
        io.U32("SpnAtcStart", a.SpnAtcStart);
        uint64_t n = a.stc.size();
        io.U8("NumberOfStcSequences", n);
        io.U8("OffsetStcId", a.OffsetStcId);
        io.Elements(a.stc, n, [&](STC_INFO& st, uint64_t j) {
          io.Section("StcSequence", static_cast<int>(j), [&] {
            io.U16("PcrPid", st.PcrPid, rec::Hex{4});
            io.U32("SpnStcStart", st.SpnStcStart);
            io.U32("PresentationStartTime", st.PresentationStartTime);
            io.U32("PresentationEndTime", st.PresentationEndTime);
          });
        });
      });
    });
    len.EndSkippingRest();
  });

  io.Section("ProgramInfo", [&] {
    io.At(programInfo);
    Syntax(io, x.programInfo);
  });
  io.Section("CPI", [&] {
    io.At(cpi);
    Syntax(io, x.cpi);
  });
  io.Section("ClipMark", [&] {
    io.At(clipMark);
    auto len = io.Length(32, "Length");
    io.Rest("Data", x.clipMark, rec::ByteCount{});
    len.End();
  });
  const bool hasExtension = IO::kReading ? extension.value != 0 : x.extensionData.has_value();
  if constexpr (IO::kReading) x.extensionData.reset();
  if (hasExtension) {
    io.Part("ExtensionData", [&] { io.At(extension); });
    if constexpr (IO::kReading) x.extensionData.emplace();
    io.Record("ExtensionData", *x.extensionData);
  }
}

size_t ClipInformationFile::WriteClipInformation(uint8_t* buffer, size_t capacity) {
  cpi.Layout();
  if (toolData) toolData->Layout();
  if (extensionData) extensionData->Layout();
  std::vector<uint8_t> bytes = rec::Encode(*this);
  // The addresses as written, for the caller and the dump.
  BeReader r(bytes);
  r.Skip(8);
  SequenceInfoStartAddress = r.U32();
  ProgramInfoStartAddress = r.U32();
  CpiStartAddress = r.U32();
  ClipMarkStartAddress = r.U32();
  ExtensionDataStartAddress = r.U32();
  if (buffer) {
    if (bytes.size() > capacity) throw std::out_of_range("write past the end of the buffer");
    std::copy(bytes.begin(), bytes.end(), buffer);
  }
  return bytes.size();
}

std::vector<uint8_t> ClipInformationFile::Encode() {
  std::vector<uint8_t> bytes(WriteClipInformation(nullptr, 0));
  WriteClipInformation(bytes.data(), bytes.size());
  return bytes;
}

int ClipInformationFile::Parse(const uint8_t* data, size_t size, std::string* error) {
  try {
    ClipInformationFile x;
    rec::Decode(data, size, x);
    *this = std::move(x);
  } catch (const FormatError& e) {
    if (error) *error = std::string("not a valid clip information file: ") + e.what();
    return kFailed;
  }
  return kOk;
}

void ClipInformationFile::DumpBytes(const uint8_t* data, size_t size, SDumpNode& out) {
  rec::DumpBytes<ClipInformationFile>(data, size, out);
}

void ClipInformationFile::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out); }

std::string ClipInformationFile::DumpText(const std::string& indent) const {
  SDumpNode root;
  Dump(root);
  return root.Render(indent);
}

}  // namespace zv
