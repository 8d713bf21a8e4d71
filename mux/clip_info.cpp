#include "mux/clip_info.h"

#include <cstdio>
#include <cstring>

#include "records/syntax.h"
#include "platform/progress.h"

namespace zv {

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
