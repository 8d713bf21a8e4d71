#include "mux/clip_info.h"

#include <cstdio>
#include <cstring>

#include "mux/ts_syntax.h"
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

void StreamCodingInfo::Write(BeWriter& w) const {
  CodingGroup g = GetCodingGroup(StreamCodingType);
  // Unknown types keep the ISRC at its usual place and drop the 4 trailing
  // reserved bytes, so the length byte still counts what follows.
  w.U8(g == CodingGroup::kOther ? 17 : 21);
  w.U8(StreamCodingType);
  switch (g) {
    case CodingGroup::kVideo:
      w.Bits(4, VideoFormat);
      w.Bits(4, FrameRate);
      w.Bits(4, AspectRatio);
      w.Bits(2, 0);
      w.Bits(1, CcFlag ? 1 : 0);
      w.Bits(1, 0);
      w.Zeros(2);
      break;
    case CodingGroup::kAudio:
      w.Bits(4, AudioPresentationType);
      w.Bits(4, SamplingFrequency);
      WriteFixedText(w, Language, 3);
      break;
    case CodingGroup::kGraphics:
      WriteFixedText(w, Language, 3);
      w.U8(0);
      break;
    case CodingGroup::kText:
      w.U8(CharacterCode);
      WriteFixedText(w, Language, 3);
      break;
    case CodingGroup::kOther:
      w.Zeros(4);
      break;
  }
  w.Bytes(Isrc.data(), Isrc.size());
  if (g != CodingGroup::kOther) w.Zeros(4);
}

void StreamCodingInfo::Parse(BeReader& outer) {
  unsigned len = outer.U8();
  BeReader r = outer.Sub(len);
  StreamCodingType = r.U8();
  switch (GetCodingGroup(StreamCodingType)) {
    case CodingGroup::kVideo:
      VideoFormat = static_cast<uint8_t>(r.Bits(4));
      FrameRate = static_cast<uint8_t>(r.Bits(4));
      AspectRatio = static_cast<uint8_t>(r.Bits(4));
      r.Bits(2);
      CcFlag = r.Bits(1) != 0;
      r.Bits(1);
      r.Skip(2);
      break;
    case CodingGroup::kAudio:
      AudioPresentationType = static_cast<uint8_t>(r.Bits(4));
      SamplingFrequency = static_cast<uint8_t>(r.Bits(4));
      Language = r.Str(3);
      break;
    case CodingGroup::kGraphics:
      Language = r.Str(3);
      r.Skip(1);
      break;
    case CodingGroup::kText:
      CharacterCode = r.U8();
      Language = r.Str(3);
      break;
    case CodingGroup::kOther:
      // Older or foreign files may stop after the type.
      if (r.Remaining() < 16) return;
      r.Skip(4);
      break;
  }
  r.Bytes(Isrc.data(), Isrc.size());
}

static std::string IsrcPart(const std::array<uint8_t, 12>& isrc, size_t off, size_t n) {
  return PrintableText(std::string(reinterpret_cast<const char*>(isrc.data()) + off, n));
}

void StreamCodingInfo::Dump(SDumpNode& out) const {
  SDumpNode& b = out.Block("StreamCodingInfo");
  CodingGroup g = GetCodingGroup(StreamCodingType);
  b.Int("Length", g == CodingGroup::kOther ? 17 : 21);
  char t[64];
  std::snprintf(t, sizeof t, "%s(0x%02X)", CodingTypeText(StreamCodingType), StreamCodingType);
  b.Text("StreamCodingType", t);
  b.children.back().number = StreamCodingType;
  switch (g) {
    case CodingGroup::kVideo:
      b.Named("VideoFormat", VideoFormatText(VideoFormat), VideoFormat);
      b.Named("FrameRate", FrameRateText(FrameRate), FrameRate);
      b.Named("AspectRatio", AspectRatioText(AspectRatio), AspectRatio);
      b.Int("CcFlag", CcFlag ? 1 : 0);
      break;
    case CodingGroup::kAudio:
      b.Named("AudioPresentationType", AudioPresentationText(AudioPresentationType), AudioPresentationType);
      b.Named("SamplingFrequency", SamplingFrequencyText(SamplingFrequency), SamplingFrequency);
      b.Text("Language", PrintableText(Language));
      break;
    case CodingGroup::kGraphics:
      b.Text("Language", PrintableText(Language));
      break;
    case CodingGroup::kText:
      b.Int("CharacterCode", CharacterCode);
      b.Text("Language", PrintableText(Language));
      break;
    case CodingGroup::kOther:
      break;
  }
  SDumpNode& i = b.Block("ISRC");
  i.Text("CountryCode", IsrcPart(Isrc, 0, 2));
  i.Text("CopyrightHolder", IsrcPart(Isrc, 2, 3));
  i.Text("RecordingYear", IsrcPart(Isrc, 5, 2));
  i.Text("RecordingNumber", IsrcPart(Isrc, 7, 5));
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

size_t SProgramInfo::Size() const {
  size_t n = 4 + 2;
  for (const auto& ps : sequences) {
    n += 4 + 2 + 1 + 1;
    for (const auto& s : ps.streams) n += 2 + s.coding.Size();
  }
  return n;
}

void SProgramInfo::Write(BeWriter& w) const {
  w.U32(Size() - 4);
  w.U8(0);
  w.U8(sequences.size());
  for (const auto& ps : sequences) {
    w.U32(ps.SpnProgramSequenceStart);
    w.U16(ps.ProgramMapPid);
    w.U8(ps.streams.size());
    w.U8(ps.NumberOfGroups);
    for (const auto& s : ps.streams) {
      w.U16(s.StreamPID);
      s.coding.Write(w);
    }
  }
}

void SProgramInfo::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U32());
  r.Skip(1);
  unsigned n = r.U8();
  sequences.assign(n, SProgramSequence{});
  for (auto& ps : sequences) {
    ps.SpnProgramSequenceStart = r.U32();
    ps.ProgramMapPid = r.U16();
    unsigned streams = r.U8();
    ps.NumberOfGroups = r.U8();
    for (unsigned i = 0; i < streams; ++i) {
      STREAM_INFO si;
      si.StreamPID = r.U16();
      si.coding.Parse(r);
      ps.streams.push_back(std::move(si));
    }
  }
}

void SProgramInfo::Dump(SDumpNode& out) const {
  SDumpNode& b = out.Block("ProgramInfo");
  b.Int("Length", static_cast<int64_t>(Size() - 4));
  b.Int("NumberOfProgramSequence", static_cast<int64_t>(sequences.size()));
  for (const auto& ps : sequences) {
    SDumpNode& p = b.Block("ProgramSequenceInfo");
    p.Int("SpnProgramSequenceStart", ps.SpnProgramSequenceStart);
    p.Hex4("ProgramMapPid", ps.ProgramMapPid);
    p.Int("NumberOfStreams", static_cast<int64_t>(ps.streams.size()));
    for (size_t i = 0; i < ps.streams.size(); ++i) {
      SDumpNode& s = p.Block("StreamInfo", static_cast<int>(i));
      s.Hex4("StreamPID", ps.streams[i].StreamPID);
      ps.streams[i].coding.Dump(s);
    }
  }
}

// ---- ClipInformationFile ----

ClipInformationFile::ClipInformationFile() : toolData(MakeToolFolder()) {}

size_t ClipInformationFile::ClipInfoSize() const {
  size_t n = 180;
  if (IsAtcDelta()) n += 2 + 14 * atcDeltas.size();
  return n;
}

size_t ClipInformationFile::SequenceInfoSize() const {
  size_t n = 4 + 2;
  for (const auto& a : atcSequences) n += 6 + 14 * a.stc.size();
  return n;
}

size_t ClipInformationFile::WriteClipInformation(uint8_t* buffer, size_t capacity) {
  cpi.Layout();
  if (toolData) toolData->Layout();
  if (extensionData) extensionData->Layout();
  SequenceInfoStartAddress = static_cast<uint32_t>(40 + ClipInfoSize());
  ProgramInfoStartAddress = static_cast<uint32_t>(SequenceInfoStartAddress + SequenceInfoSize());
  CpiStartAddress = static_cast<uint32_t>(ProgramInfoStartAddress + programInfo.Size());
  ClipMarkStartAddress = static_cast<uint32_t>(CpiStartAddress + cpi.Size());
  size_t end = ClipMarkStartAddress + 4 + clipMark.size();
  ExtensionDataStartAddress = extensionData ? static_cast<uint32_t>(end) : 0;
  if (!buffer) {
    BeWriter m;
    Write(m);
    return m.Size();
  }
  BeWriter w(buffer, capacity);
  Write(w);
  return w.Size();
}

void ClipInformationFile::Write(BeWriter& w) const {
  WriteFixedText(w, TypeIndicator, 4);
  WriteFixedText(w, Version, 4);
  w.U32(SequenceInfoStartAddress);
  w.U32(ProgramInfoStartAddress);
  w.U32(CpiStartAddress);
  w.U32(ClipMarkStartAddress);
  w.U32(ExtensionDataStartAddress);
  w.Zeros(12);

  // ClipInfo
  w.U32(ClipInfoSize() - 4);
  w.U16(0);
  w.U8(ClipStreamType);
  w.U8(ApplicationType);
  w.U32(IsAtcDelta() ? 1 : 0);
  w.U32(TsRecordingRate);
  w.U32(NumberOfSourcePackets);
  std::array<uint8_t, kToolAreaSize> area = reserved;
  if (toolData) {
    std::array<uint8_t, kToolAreaSize> tool{};
    if (WriteToolArea(*toolData, tool.data())) area = tool;
  }
  w.Bytes(area.data(), area.size());
  w.U16(30);  // TsTypeInfoBlock length
  w.U8(ValidityFlags);
  WriteFixedText(w, FormatIdentifier, 4);
  w.Bytes(NetworkInformation.data(), NetworkInformation.size());
  w.U8(0);
  w.Bytes(StreamFormatName.data(), StreamFormatName.size());
  if (IsAtcDelta()) {
    w.U8(0);
    w.U8(atcDeltas.size());
    for (const auto& d : atcDeltas) {
      w.U32(d.AtcDelta);
      WriteFixedText(w, d.FollowingClipName, 5);
      WriteFixedText(w, d.ClipCodecIdentifier, 4);
      w.U8(0);
    }
  }

  // SequenceInfo
  w.U32(SequenceInfoSize() - 4);
  w.U8(0);
  w.U8(atcSequences.size());
  for (const auto& a : atcSequences) {
    w.U32(a.SpnAtcStart);
    w.U8(a.stc.size());
    w.U8(a.OffsetStcId);
    for (const auto& s : a.stc) {
      w.U16(s.PcrPid);
      w.U32(s.SpnStcStart);
      w.U32(s.PresentationStartTime);
      w.U32(s.PresentationEndTime);
    }
  }

  programInfo.Write(w);
  cpi.Write(w);
  w.U32(clipMark.size());
  w.Bytes(clipMark.data(), clipMark.size());
  if (extensionData) extensionData->Write(w);
}

int ClipInformationFile::Parse(const uint8_t* data, size_t size, std::string* error) {
  try {
    BeReader r(data, size);
    ParseSection("header", [&] {
      TypeIndicator = r.Str(4);
      if (TypeIndicator != "HDMV") throw FormatError("type indicator is not \"HDMV\"");
      Version = r.Str(4);
      SequenceInfoStartAddress = r.U32();
      ProgramInfoStartAddress = r.U32();
      CpiStartAddress = r.U32();
      ClipMarkStartAddress = r.U32();
      ExtensionDataStartAddress = r.U32();
      r.Skip(12);
    });
    ParseSection("ClipInfo", [&] {
      BeReader c = r.Sub(r.U32());
      c.Skip(2);
      ClipStreamType = c.U8();
      ApplicationType = c.U8();
      bool atcDelta = (c.U32() & 1) != 0;
      TsRecordingRate = c.U32();
      NumberOfSourcePackets = c.U32();
      c.Bytes(reserved.data(), reserved.size());
      toolData = ParseToolArea(reserved.data());
      BeReader t = c.Sub(c.U16());
      ValidityFlags = t.U8();
      FormatIdentifier = t.Str(4);
      t.Bytes(NetworkInformation.data(), NetworkInformation.size());
      t.Skip(1);
      t.Bytes(StreamFormatName.data(), StreamFormatName.size());
      atcDeltas.clear();
      if (atcDelta) {
        c.Skip(1);
        unsigned n = c.U8();
        for (unsigned i = 0; i < n; ++i) {
          SAtcDeltaEntry d;
          d.AtcDelta = c.U32();
          d.FollowingClipName = c.Str(5);
          d.ClipCodecIdentifier = c.Str(4);
          c.Skip(1);
          atcDeltas.push_back(std::move(d));
        }
        if (atcDeltas.empty()) throw FormatError("ATC delta flag set without entries");
      }
    });
    ParseSection("SequenceInfo", [&] {
      r.Seek(SequenceInfoStartAddress);
      BeReader s = r.Sub(r.U32());
      s.Skip(1);
      unsigned n = s.U8();
      atcSequences.assign(n, SAtcSequence{});
      for (auto& a : atcSequences) {
        a.SpnAtcStart = s.U32();
        unsigned stc = s.U8();
        a.OffsetStcId = s.U8();
        for (unsigned i = 0; i < stc; ++i) {
          STC_INFO si;
          si.PcrPid = s.U16();
          si.SpnStcStart = s.U32();
          si.PresentationStartTime = s.U32();
          si.PresentationEndTime = s.U32();
          a.stc.push_back(si);
        }
      }
    });
    ParseSection("ProgramInfo", [&] {
      r.Seek(ProgramInfoStartAddress);
      programInfo.Parse(r);
    });
    ParseSection("CPI", [&] {
      r.Seek(CpiStartAddress);
      cpi.Parse(r);
    });
    ParseSection("ClipMark", [&] {
      r.Seek(ClipMarkStartAddress);
      clipMark = r.Vec(r.U32());
    });
    extensionData.reset();
    if (ExtensionDataStartAddress != 0) {
      ParseSection("ExtensionData", [&] {
        r.Seek(ExtensionDataStartAddress);
        CEdeFolder f;
        f.Parse(r, nullptr);
        extensionData = std::move(f);
      });
    }
  } catch (const FormatError& e) {
    if (error) *error = std::string("not a valid clip information file: ") + e.what();
    return kFailed;
  }
  return kOk;
}

void ClipInformationFile::Dump(SDumpNode& out) const {
  SDumpNode& h = out.Block("Clpi");
  h.Text("TypeIndicator", PrintableText(TypeIndicator));
  h.Text("Version", PrintableText(Version));
  h.Int("SequenceInfoStartAddress", SequenceInfoStartAddress);
  h.Int("ProgramInfoStartAddress", ProgramInfoStartAddress);
  h.Int("CpiStartAddress", CpiStartAddress);
  h.Int("ClipMarkStartAddress", ClipMarkStartAddress);
  h.Int("ExtensionDataStartAddress", ExtensionDataStartAddress);

  SDumpNode& c = out.Block("ClipInfo");
  c.Int("Length", static_cast<int64_t>(ClipInfoSize() - 4));
  c.Int("ClipStreamType", ClipStreamType);
  c.Text("ApplicationType", std::to_string(ApplicationType) + "(" + ClipApplicationTypeText(ApplicationType) + ")");
  c.children.back().number = ApplicationType;
  c.Int("IsAtcDelta", IsAtcDelta() ? 1 : 0);
  c.Int("TsRecordingRate", TsRecordingRate);
  c.Int("NumberOfSourcePackets", NumberOfSourcePackets);
  if (toolData) {
    SDumpNode& t = c.Block("ToolData");
    if (const SMrqnToolData* d = toolData->ToolData()) d->Dump(t);
  }
  SDumpNode& ts = c.Block("TsTypeInfoBlock");
  ts.Hex2("ValidityFlags", ValidityFlags);
  ts.Text("FormatIdentifier", PrintableText(FormatIdentifier));
  for (size_t i = 0; i < atcDeltas.size(); ++i) {
    SDumpNode& d = c.Block("AtcDeltaEntry", static_cast<int>(i));
    d.Int("AtcDelta", atcDeltas[i].AtcDelta);
    d.Text("FollowingClipInformationFileName", PrintableText(atcDeltas[i].FollowingClipName));
    d.Text("ClipCodecIdentifier", PrintableText(atcDeltas[i].ClipCodecIdentifier));
  }

  SDumpNode& s = out.Block("SequenceInfo");
  s.Int("Length", static_cast<int64_t>(SequenceInfoSize() - 4));
  s.Int("NumberOfAtcSequences", static_cast<int64_t>(atcSequences.size()));
  for (size_t i = 0; i < atcSequences.size(); ++i) {
    const auto& a = atcSequences[i];
    SDumpNode& an = s.Block("AtcSequence", static_cast<int>(i));
    an.Int("SpnAtcStart", a.SpnAtcStart);
    an.Int("NumberOfStcSequences", static_cast<int64_t>(a.stc.size()));
    an.Int("OffsetStcId", a.OffsetStcId);
    for (size_t j = 0; j < a.stc.size(); ++j) {
      SDumpNode& sn = an.Block("StcSequence", static_cast<int>(j));
      sn.Hex4("PcrPid", a.stc[j].PcrPid);
      sn.Int("SpnStcStart", a.stc[j].SpnStcStart);
      sn.Int("PresentationStartTime", a.stc[j].PresentationStartTime);
      sn.Int("PresentationEndTime", a.stc[j].PresentationEndTime);
    }
  }
  programInfo.Dump(out);
  cpi.Dump(out);
  SDumpNode& m = out.Block("ClipMark");
  m.Int("Length", static_cast<int64_t>(clipMark.size()));
  if (extensionData) extensionData->Dump(out);
}

std::string ClipInformationFile::DumpText(const std::string& indent) const {
  SDumpNode root;
  Dump(root);
  return root.Render(indent);
}

}  // namespace zv
