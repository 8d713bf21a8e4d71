#include "bdnav/playlist_file.h"

#include <cstdio>

#include "platform/progress.h"
#include "records/syntax.h"

namespace zv {

// ---- names ----

namespace {
struct UoName {
  const char* name;
  const char* label;
};
const UoName kUoNames[kNamedUoBits] = {
    {"Menu Call", "MenuCall"},
    {"Title Search", "TitleSearch"},
    {"Chapter Search", "ChapterSearch"},
    {"Time Search", "TimeSearch"},
    {"Skip to next point", "SkipToNextPoint"},
    {"Skip back to previous point", "SkipBackToPreviousPoint"},
    {"Play FirstPlay", "PlayFirstPlay"},
    {"Stop", "Stop"},
    {"Pause On", "PauseOn"},
    {"Pause Off", "PauseOff"},
    {"Still Off", "StillOff"},
    {"Forward Play", "ForwardPlay"},
    {"Backward Play", "BackwardPlay"},
    {"Resume", "Resume"},
    {"Move up selected button", "MoveUpSelectedButton"},
    {"Move down selected button", "MoveDownSelectedButton"},
    {"Move left selected button", "MoveLeftSelectedButton"},
    {"Move right selected button", "MoveRightSelectedButton"},
    {"Select button", "SelectButton"},
    {"Activate button", "ActivateButton"},
    {"Select button and activate", "SelectButtonAndActivate"},
    {"Primaray audio stream number change", "PrimaryAudioStreamNumberChange"},
    {"Reserved for future use", "Reserved"},
    {"Angle number change", "AngleNumberChange"},
    {"Pop On", "PopupOn"},
    {"Pop Off", "PopupOff"},
    {"PG textST enable disable", "PG_TextST_EnableDisable"},
    {"PG textST stream number change", "PG_TextST_StreamNumberChange"},
    {"Secondary video enable disable", "SecondaryVideoEnableDisable"},
    {"Secondary video stream number change", "SecondaryVideoStreamNumberChange"},
    {"Secondary auido enable disable", "SecondaryAudioEnableDisable"},
    {"Secondary auido stream number change", "SecondaryAudioStreamNumberChange"},
    {"Reserved for future use", "Reserved"},
    {"Pip PG textST stream number change", "PiP_PG_TextST_StreamNumberChange"},
};
}  // namespace

const char* UoBitName(int bit) { return bit >= 0 && bit < kNamedUoBits ? kUoNames[bit].name : "Reserved for future use"; }
const char* UoBitLabel(int bit) { return bit >= 0 && bit < kNamedUoBits ? kUoNames[bit].label : "Reserved"; }

bool GetUoBit(const UoMask& m, int bit) { return (m[bit / 8] & (0x80 >> (bit % 8))) != 0; }

void SetUoBit(UoMask& m, int bit, bool on) {
  uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
  if (on)
    m[bit / 8] |= mask;
  else
    m[bit / 8] &= static_cast<uint8_t>(~mask);
}

const char* PlaybackTypeText(uint8_t v) {
  switch (v) {
    case 1: return "Sequential";
    case 2: return "Random";
    case 3: return "Shuffle";
    default: return "Reserved";
  }
}

const char* SubPathTypeText(uint8_t v) {
  switch (v) {
    case 2: return "Primary audio of BSS";
    case 3: return "IG menu";
    case 4: return "Text subtitle";
    case 5: return "OutMux Sync PIP";
    case 6: return "OutMux Async PIP";
    case 7: return "InMux Sync PIP";
    case 8: return "3D Video";
    default: return "Reserved";
  }
}

const char* MarkTypeText(uint8_t v) {
  return v == 1 ? "EntryMark" : v == 2 ? "LinkPoint" : "Reserved";
}

namespace {

template <class F>
auto CodedName(F name) {
  return rec::Shown{[name](uint64_t v) { return std::to_string(v) + "(" + name(static_cast<uint8_t>(v)) + ")"; }};
}

std::string MaskHex(const UoMask& m) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%02x%02x%02x%02x%02x%02x%02x%02x", m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7]);
  return b;
}

// The mask shows as one hex line with a line per named bit under it.
template <class IO>
void UoMaskTable(IO& io, UoMask& m) {
  io.Raw("UoMaskTable", m, rec::Hidden{});
  if constexpr (IO::kDumping) {
    io.Node().Text("UoMaskTable", MaskHex(m));
    SDumpNode& b = io.Node().children.back();
    for (int i = 0; i < kNamedUoBits; ++i) b.Int(UoBitLabel(i), GetUoBit(m, i) ? 1 : 0);
  }
}

// Readers accept entries that stop before their reserved tail; writers pad.
template <class IO>
void WrittenPadding(IO& io, unsigned bits) {
  if constexpr (IO::kWriting) io.Reserved(bits);
}

template <class IO>
void EntryRef(IO& io, SStreamEntryRef& e) {
  auto len = io.Length(8, "Length");
  io.U8("StreamType", e.type);
  switch (e.type) {
    case 1:
      io.U16("RefToStreamPID_OfMainClip", e.RefToStreamPidOfMainClip, rec::Hex{4});
      WrittenPadding(io, 48);
      break;
    case 2:
      io.U8("RefToSubPathID", e.RefToSubPathId);
      io.U8("RefToSubClipEntryID", e.RefToSubClipEntryId);
      io.U16("RefToStreamPID_OfSubClip", e.RefToStreamPidOfSubClip, rec::Hex{4});
      WrittenPadding(io, 32);
      break;
    case 3:
      io.U8("RefToSubPathID", e.RefToSubPathId);
      io.U16("RefToStreamPID_OfMainClip", e.RefToStreamPidOfMainClip, rec::Hex{4});
      WrittenPadding(io, 40);
      break;
    default:
      break;
  }
  len.EndSkippingRest();
}

template <class IO>
void Attributes(IO& io, SStreamAttributes& a) {
  auto len = io.Length(8, "Length");
  // Format and rate hold the video's format and frame rate, or the audio's
  // presentation type and sampling frequency.
  const StreamKind k = CodingAttributes(
      io, {a.StreamCodingType, a.Format, a.Rate, a.Format, a.Rate, a.CharacterCode, a.Language},
      [&] { WrittenPadding(io, 24); });
  if (IsGraphicsKind(k)) WrittenPadding(io, 8);
  len.EndSkippingRest();
}

// A count, a reserved byte, the stream numbers and a pad to an even length.
template <class IO>
void RefList(IO& io, const char* label, CRefList& l) {
  io.Section(label, [&] {
    uint64_t n = l.size();
    io.U8("NumberOfRefEntries", n);
    io.Reserved(8);
    io.Elements(l, n, [&](uint8_t& id, uint64_t i) {
      io.U8("RefID", id, rec::Hidden{});
      if constexpr (IO::kDumping) {
        io.Node().Indexed("RefID", static_cast<int>(i), std::to_string(id));
        io.Node().children.back().number = id;
      }
    });
    if (n & 1) io.Reserved(8);
  });
}

// `count` is the number in the file, which includes the main clip.
template <class IO>
void AngleEntries(IO& io, CAceFolder& entries, uint64_t count) {
  io.Elements(entries, count > 0 ? count - 1 : 0, [&](ANGLE_CLIP_ENTRY& e, uint64_t i) {
    io.Section("AngleClipEntry", static_cast<int>(i + 1), [&] {
      io.PaddedText(5, "ClipInformationFileName", e.ClipName);
      io.PaddedText(4, "ClipCodecIdentifier", e.CodecId);
      io.U8("RefToSTC_ID", e.RefToStcId);
    });
  });
}

template <class IO, class V>
void Folder(IO& io, const char* listLabel, const char* entryLabel, V& v, uint64_t n) {
  io.Group(listLabel, [&] {
    io.Elements(v, n, [&](auto& e, uint64_t i) { io.Record(entryLabel, e, static_cast<int>(i)); });
  });
}

}  // namespace

template <class IO>
void Syntax(IO& io, PRIMARY_STREAM_ENTRY& e) {
  io.Section("StreamEntry", [&] { EntryRef(io, e.entry); });
  io.Section("StreamAttributes", [&] { Attributes(io, e.attributes); });
}

template <class IO>
void Syntax(IO& io, SECONDARD_AUDIO_STREAM_ENTRY& e) {
  Syntax(io, static_cast<PRIMARY_STREAM_ENTRY&>(e));
  io.Group("StreamCombInfo", [&] { RefList(io, "SecondardAudioStreamCombInfo", e.primaryAudioRefs); });
}

template <class IO>
void Syntax(IO& io, SECONDARD_VIDEO_STREAM_ENTRY& e) {
  Syntax(io, static_cast<PRIMARY_STREAM_ENTRY&>(e));
  io.Group("StreamCombInfo", [&] {
    RefList(io, "SecondardVideoSecondardAudioStreamCombInfo", e.secondaryAudioRefs);
    RefList(io, "SecondardVideoPiP_PG_TextST_StreamCombInfo", e.pipPgRefs);
  });
}


template <class IO>
void Syntax(IO& io, STN_TABLE& s) {
  auto len = io.Length(16, "Length");
  io.Reserved(16);
  uint64_t nPv = s.primaryVideo.size(), nPa = s.primaryAudio.size(), nPg = s.pgTextSt.size(), nIg = s.ig.size(),
           nSa = s.secondaryAudio.size(), nSv = s.secondaryVideo.size(), nPip = s.pipPgTextSt.size();
  io.U8("NumberOfPrimaryVideoStreamEntries", nPv);
  io.U8("NumberOfPrimaryAudioStreamEntries", nPa);
  io.U8("NumberOfPG_TextST_StreamEntries", nPg);
  io.U8("NumberOfIG_StreamEntries", nIg);
  io.U8("NumberOfSecondaryAudioStreamEntries", nSa);
  io.U8("NumberOfSecondaryVideoStreamEntries", nSv);
  io.U8("NumberOfPiP_PG_TextST_StreamEntriesPlus", nPip);
  io.Reserved(40);
  Folder(io, "PrimaryVideoStreamEntries", "PrimaryStreamEntry", s.primaryVideo, nPv);
  Folder(io, "PrimaryAudioStreamEntries", "PrimaryStreamEntry", s.primaryAudio, nPa);
  Folder(io, "PrimaryPG_TextST_StreamEntries", "PrimaryStreamEntry", s.pgTextSt, nPg);
  Folder(io, "PrimaryPiP_TextST_StreamEntries", "PrimaryStreamEntry", s.pipPgTextSt, nPip);
  Folder(io, "InteractiveGraphicsStreamEntries", "PrimaryStreamEntry", s.ig, nIg);
  Folder(io, "SecondardAudioStreamEntries", "SecondardAudioStreamEntry", s.secondaryAudio, nSa);
  Folder(io, "SecondardVideoStreamEntries", "SecondardVideoStreamEntry", s.secondaryVideo, nSv);
  len.EndSkippingRest();
}

template <class IO>
void Syntax(IO& io, PLAY_ITEM& p) {
  auto len = io.Length(16, "Length");
  io.PaddedText(5, "ClipInformationFileName", p.ClipName);
  io.PaddedText(4, "ClipCodecIdentifier", p.CodecId);
  io.Reserved(11);
  bool multiAngle = p.IsMultiAngle();
  io.Bits(1, "IsMultiAngle", multiAngle);
  io.Bits(4, "ConnectionCondition", p.ConnectionCondition);
  io.U8("RefToSTC_ID", p.RefToStcId);
  io.U32("InTime", p.InTime);
  io.U32("OutTime", p.OutTime);
  UoMaskTable(io, p.uoMask);
  io.Bits(1, "PlayItemRandomAccessFlag", p.RandomAccessFlag);
  io.Reserved(7);
  io.U8("StillMode", p.StillMode);
  // Only still mode 1 (a timed still) has a still time.
  uint16_t stillTime = p.StillMode == 1 ? p.StillTime : 0;
  io.U16("StillTime", stillTime);
  if constexpr (IO::kReading) {
    p.StillTime = p.StillMode == 1 ? stillTime : 0;
    p.angles.reset();
    if (multiAngle) p.angles.emplace();
  }
  if (multiAngle) {
    SAngleBlock& a = *p.angles;
    uint64_t n = a.entries.size() + 1;
    io.U8("NumberOfAngles", n);
    io.Reserved(6);
    io.Bits(1, "IsDifferentAudios", a.IsDifferentAudios);
    io.Bits(1, "SeamlessAngleChange", a.IsSeamlessAngleChange);
    AngleEntries(io, a.entries, n);
  }
  io.Record("StnTable", p.stn);
  len.EndSkippingRest();
}

template <class IO>
void Syntax(IO& io, SUB_PLAY_ITEM& p) {
  auto len = io.Length(16, "Length");
  io.PaddedText(5, "ClipInformationFileName", p.ClipName);
  io.PaddedText(4, "ClipCodecIdentifier", p.CodecId);
  io.Reserved(27);
  io.Bits(4, "ConnectionCondition", p.SpConnectionCondition);
  bool multi = p.IsMultiClipEntries();
  io.Bits(1, "IsMultiClipEntries", multi);
  io.U8("RefToSTC_ID", p.RefToStcId);
  io.U32("InTime", p.InTime);
  io.U32("OutTime", p.OutTime);
  io.U16("SyncPlayItemID", p.SyncPlayItemId);
  io.U32("SyncStartPTS_OfPlayItem", p.SyncStartPtsOfPlayItem);
  if constexpr (IO::kReading) {
    p.multiClip.reset();
    if (multi) p.multiClip.emplace();
  }
  if (multi) {
    io.Group("MultiClipEntries", [&] {
      uint64_t n = p.multiClip->entries.size() + 1;
      io.U8("NumberOfClipEntries", n);
      io.Reserved(8);
      AngleEntries(io, p.multiClip->entries, n);
    });
  }
  len.EndSkippingRest();
}

template <class IO>
void Syntax(IO& io, SUB_PATH& p) {
  auto len = io.Length(32, "Length");
  io.Reserved(8);
  io.U8("SubPathType", p.SubPathType, CodedName(SubPathTypeText));
  io.Reserved(15);
  io.Bits(1, "IsRepeatSubPath", p.IsRepeat);
  io.Reserved(8);
  io.Records(8, "NumberOfSubPlayItems", "SubPlayItem", p.items);
  len.EndSkippingRest();
}

// ---- extension records ----

template <class IO>
void Syntax(IO& io, SPipMetadataEntry& e) {
  io.U32("PipTimeStamp", e.TimeStamp);
  io.Bits(12, "PipHorPos", e.HorizontalPosition);
  io.Bits(12, "PipVerPos", e.VerticalPosition);
  io.Bits(4, "PipScale", e.Scale);
  io.Reserved(4);
}

// Block data follow the headers, in block order; addresses count from the
// byte after the length field.
template <class IO>
void Syntax(IO& io, SPipMetaData& m) {
  auto len = io.Length(32, "Length");
  const size_t base = io.Pos();
  std::vector<rec::AddressField> at;
  io.Array(16, "NumberOfMetadataEntries", m.blocks, [&](SPipMetadataBlock& b, uint64_t i) {
    io.Section("MetadataBlockHeader", static_cast<int>(i), [&] {
      io.U16("RefPlayItemId", b.RefToPlayItemId);
      io.U8("RefSvStreamId", b.RefToSecondaryVideoStreamId);
      io.Reserved(8);
      io.Bits(4, "TimelineType", b.TimelineType);
      io.Bits(1, "IsLumaKey", b.IsLumaKey);
      io.Bits(1, "TrickPlayingFlag", b.TrickPlayingFlag);
      io.Reserved(2 + 16);
      uint8_t luma = b.IsLumaKey ? b.UpperLimitLumaKey : 0;
      io.U8("UpperLimitLumaKey", luma);
      if constexpr (IO::kReading) b.UpperLimitLumaKey = b.IsLumaKey ? luma : 0;
      io.Reserved(16);
      at.push_back(io.Address(32, "MetadataBlockStartAddress", base));
      if constexpr (IO::kReading) b.DataStartAddress = static_cast<uint32_t>(at.back().value);
    });
  });
  for (size_t i = 0; i < m.blocks.size(); ++i) {
    io.Section("MetadataBlockData", static_cast<int>(i), [&] {
      io.At(at[i]);
      io.Records(16, "NumberOfPipMetadataEntries", "PipMetadataEntry", m.blocks[i].entries);
    });
  }
  len.EndSkippingRest();
}

// These records open with a length and a 16-bit count; the entries after it
// are kept as bytes.
template <class IO>
void Syntax(IO& io, SStnMeta& m) {
  auto len = io.Length(32, "Length");
  io.U16("Count", m.count);
  io.Rest("Entries", m.rest, rec::ByteCount{});
  len.End();
}

template <class IO>
void Syntax(IO& io, SPartMeta& m) {
  auto len = io.Length(32, "Length");
  io.Array(16, "PartCount", m.parts, [&](std::pair<uint16_t, uint16_t>& p, uint64_t i) {
    io.U16("Part", p.first, rec::Hidden{});
    io.U16("Part", p.second, rec::Hidden{});
    if constexpr (IO::kDumping)
      io.Node().Indexed("Part", static_cast<int>(i), std::to_string(p.first) + ", " + std::to_string(p.second));
  });
  len.EndSkippingRest();
}

template <class R>
static void ParseVia(BeReader& r, R& out) {
  R x;
  r.Skip(rec::Decode(r.Here(), r.Remaining(), x));
  out = std::move(x);
}

template <class R>
static size_t WriteVia(BeWriter& w, const R& rec) {
  std::vector<uint8_t> b = rec::Encode(rec);
  w.Bytes(b.data(), b.size());
  return b.size();
}

void SPipMetaData::Parse(BeReader& r) { ParseVia(r, *this); }
size_t SPipMetaData::Write(BeWriter& w) const { return WriteVia(w, *this); }
void SPipMetaData::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out); }
void SPipMetaData::DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const {
  rec::DumpBytes<SPipMetaData>(data.data(), data.size(), out);
}

void SStnMeta::Parse(BeReader& r) { ParseVia(r, *this); }
size_t SStnMeta::Write(BeWriter& w) const { return WriteVia(w, *this); }
void SStnMeta::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out); }
void SStnMeta::DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const {
  rec::DumpBytes<SStnMeta>(data.data(), data.size(), out);
}

void SPartMeta::Parse(BeReader& r) { ParseVia(r, *this); }
size_t SPartMeta::Write(BeWriter& w) const { return WriteVia(w, *this); }
void SPartMeta::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out); }
void SPartMeta::DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const {
  rec::DumpBytes<SPartMeta>(data.data(), data.size(), out);
}

void SPiMeta::DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const {
  rec::DumpBytes<SProgramInfo>(data.data(), data.size(), out.Block("ProgramInfo"));
}

void SCpiMeta::DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const {
  rec::DumpBytes<SCpi>(data.data(), data.size(), out.Block("CPI"));
}

std::shared_ptr<SExtDataBase> MakePlaylistExtRecord(uint16_t id1, uint16_t id2) {
  if (id1 == SPipMetaData::kId1 && id2 == SPipMetaData::kId2) return std::make_shared<SPipMetaData>();
  if (id1 == 2) {
    switch (id2) {
      case 1: return std::make_shared<SStnMeta>();
      case 2: return std::make_shared<SSpMeta>();
      case 4: return std::make_shared<SPartMeta>();
      case 5: return std::make_shared<SPiMeta>();
      case 6: return std::make_shared<SCpiMeta>();
      default: break;
    }
  }
  return MakeToolDataRecord(id1, id2);
}

// ---- PlaylistFile ----

template <class IO>
void Syntax(IO& io, PlaylistFile& x) {
  rec::AddressField playList, marks, extension;
  io.Group("Mpls", [&] {
    io.Part("header", [&] {
      io.PaddedText(4, "TypeIndicator", x.TypeIndicator);
      if constexpr (IO::kReading)
        if (x.TypeIndicator != "MPLS") io.Fail("type indicator is not \"MPLS\"");
      io.PaddedText(4, "Version", x.Version);
      playList = io.Address(32, "PlayListStartAddress");
      marks = io.Address(32, "PlayListMarkStartAddress");
      extension = io.Address(32, "ExtensionDataStartAddress");
      io.ReservedBytes(20);
    });
  });
  if constexpr (IO::kReading) {
    x.PlayListStartAddress = static_cast<uint32_t>(playList.value);
    x.PlayListMarkStartAddress = static_cast<uint32_t>(marks.value);
    x.ExtensionDataStartAddress = static_cast<uint32_t>(extension.value);
  }

  io.Section("AppInfoPlayList", [&] {
    auto len = io.Length(32, "Length");
    io.Reserved(8);
    io.U8("PlaylistPlaybackType", x.PlaybackType, CodedName(PlaybackTypeText));
    // A sequential playlist has no playback count.
    uint16_t count = x.PlaybackType == 1 && IO::kWriting ? 0 : x.PlaybackCount;
    io.U16("PlaybackCount", count);
    if constexpr (IO::kReading) x.PlaybackCount = count;
    UoMaskTable(io, x.uoMask);
    io.Bits(1, "PlaylistRandomAccessFlag", x.RandomAccessFlag);
    io.Bits(1, "AudioMixAppFlag", x.AudioMixAppFlag);
    io.Bits(1, "LosslessMayBypassMixerFlag", x.LosslessMayBypassMixerFlag);
    io.Reserved(5 + 8);
    len.EndSkippingRest();
  });

  io.Section("PlayList", [&] {
    io.At(playList);
    auto len = io.Length(32, "Length");
    io.Reserved(16);
    uint64_t nItems = x.playItems.size(), nSubPaths = x.subPaths.size();
    io.U16("NumberOfPlayItems", nItems);
    io.U16("NumberOfSubPaths", nSubPaths);
    io.Elements(x.playItems, nItems, [&](PLAY_ITEM& p, uint64_t i) { io.Record("PlayItem", p, static_cast<int>(i)); });
    io.Elements(x.subPaths, nSubPaths, [&](SUB_PATH& p, uint64_t i) { io.Record("SubPath", p, static_cast<int>(i)); });
    len.EndSkippingRest();
  });

  io.Section("PlayListMarks", [&] {
    io.At(marks);
    auto len = io.Length(32, "Length");
    io.Array(16, "NumberOfPlayListMarks", x.marks, [&](PLAY_MARK& m, uint64_t i) {
      io.Section("PlayListMark", static_cast<int>(i), [&] {
        io.Reserved(8);
        io.U8("MarkType", m.MarkType, CodedName(MarkTypeText));
        io.U16("RefToPlayItemID", m.RefToPlayItemId);
        io.U32("MarkTimeStamp", m.MarkTimeStamp);
        io.U16("EntryES_PID", m.EntryEsPid, rec::Hex{4});
        io.U32("Duration", m.Duration);
      });
    });
    len.EndSkippingRest();
  });

  const bool hasExtension = IO::kReading ? extension.value != 0 : x.extensionData.has_value();
  if constexpr (IO::kReading) x.extensionData.reset();
  if (hasExtension) {
    io.Part("ExtensionData", [&] { io.At(extension); });
    if constexpr (IO::kReading) x.extensionData.emplace().factory = MakePlaylistExtRecord;
    io.Record("ExtensionData", *x.extensionData);
  }
}

ZV_SYNTAX_INSTANTIATE(PRIMARY_STREAM_ENTRY);
ZV_SYNTAX_INSTANTIATE(STN_TABLE);
ZV_SYNTAX_INSTANTIATE(PLAY_ITEM);
ZV_SYNTAX_INSTANTIATE(SUB_PLAY_ITEM);
ZV_SYNTAX_INSTANTIATE(SUB_PATH);
ZV_SYNTAX_INSTANTIATE(PlaylistFile);

void PlaylistFile::ClearUoBit(int n) {
  if (n < 0 || n > 63) return;
  SetUoBit(uoMask, n, false);
  for (auto& pi : playItems) SetUoBit(pi.uoMask, n, false);
}

size_t PlaylistFile::WritePlaylist(uint8_t* buffer, size_t capacity) {
  if (extensionData) extensionData->Layout();
  std::vector<uint8_t> bytes = rec::Encode(*this);
  // The addresses as written, for the caller and the dump.
  BeReader r(bytes);
  r.Skip(8);
  PlayListStartAddress = r.U32();
  PlayListMarkStartAddress = r.U32();
  ExtensionDataStartAddress = r.U32();
  if (buffer) {
    if (bytes.size() > capacity) throw std::out_of_range("write past the end of the buffer");
    std::copy(bytes.begin(), bytes.end(), buffer);
  }
  return bytes.size();
}

int PlaylistFile::Parse(const uint8_t* data, size_t size, std::string* error) {
  try {
    PlaylistFile x;
    rec::Decode(data, size, x);
    *this = std::move(x);
  } catch (const FormatError& e) {
    if (error) *error = std::string("not a valid playlist file: ") + e.what();
    return kFailed;
  }
  return kOk;
}

void PlaylistFile::DumpBytes(const uint8_t* data, size_t size, SDumpNode& out) {
  rec::DumpBytes<PlaylistFile>(data, size, out);
}

void PlaylistFile::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out); }

std::string PlaylistFile::DumpText(const std::string& indent) const {
  SDumpNode root;
  Dump(root);
  return root.Render(indent);
}

}  // namespace zv
