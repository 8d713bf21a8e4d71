#include "bdnav/playlist_file.h"

#include <cstdio>

#include "platform/progress.h"

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

static void Coded(SDumpNode& n, const char* label, int64_t v, const char* name) {
  n.Text(label, std::to_string(v) + "(" + name + ")");
  n.children.back().number = v;
}

static std::string MaskHex(const UoMask& m) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%02x%02x%02x%02x%02x%02x%02x%02x", m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7]);
  return b;
}

static void DumpUoMask(SDumpNode& out, const UoMask& m) {
  out.Text("UoMaskTable", MaskHex(m));
  SDumpNode& b = out.children.back();
  for (int i = 0; i < kNamedUoBits; ++i) b.Int(UoBitLabel(i), GetUoBit(m, i) ? 1 : 0);
}

// ---- stream entries ----

static size_t EntryRefSize(const SStreamEntryRef& e) { return e.type >= 1 && e.type <= 3 ? 10 : 2; }

static void WriteEntryRef(BeWriter& w, const SStreamEntryRef& e) {
  if (EntryRefSize(e) == 2) {
    w.U8(1);
    w.U8(e.type);
    return;
  }
  w.U8(9);
  w.U8(e.type);
  switch (e.type) {
    case 1:
      w.U16(e.RefToStreamPidOfMainClip);
      w.Zeros(6);
      break;
    case 2:
      w.U8(e.RefToSubPathId);
      w.U8(e.RefToSubClipEntryId);
      w.U16(e.RefToStreamPidOfSubClip);
      w.Zeros(4);
      break;
    default:
      w.U8(e.RefToSubPathId);
      w.U16(e.RefToStreamPidOfMainClip);
      w.Zeros(5);
      break;
  }
}

static void ParseEntryRef(BeReader& outer, SStreamEntryRef& e) {
  BeReader r = outer.Sub(outer.U8());
  e.type = r.U8();
  switch (e.type) {
    case 1:
      e.RefToStreamPidOfMainClip = r.U16();
      break;
    case 2:
      e.RefToSubPathId = r.U8();
      e.RefToSubClipEntryId = r.U8();
      e.RefToStreamPidOfSubClip = r.U16();
      break;
    case 3:
      e.RefToSubPathId = r.U8();
      e.RefToStreamPidOfMainClip = r.U16();
      break;
    default:
      break;
  }
}

static void DumpEntryRef(SDumpNode& out, const SStreamEntryRef& e) {
  SDumpNode& b = out.Block("StreamEntry");
  b.Int("StreamType", e.type);
  switch (e.type) {
    case 1:
      b.Hex4("RefToStreamPID_OfMainClip", e.RefToStreamPidOfMainClip);
      break;
    case 2:
      b.Int("RefToSubPathID", e.RefToSubPathId);
      b.Int("RefToSubClipEntryID", e.RefToSubClipEntryId);
      b.Hex4("RefToStreamPID_OfSubClip", e.RefToStreamPidOfSubClip);
      break;
    case 3:
      b.Int("RefToSubPathID", e.RefToSubPathId);
      b.Hex4("RefToStreamPID_OfMainClip", e.RefToStreamPidOfMainClip);
      break;
    default:
      break;
  }
}

static size_t AttrSize(const SStreamAttributes& a) {
  return GetCodingGroup(a.StreamCodingType) == CodingGroup::kOther ? 2 : 6;
}

static void WriteAttributes(BeWriter& w, const SStreamAttributes& a) {
  CodingGroup g = GetCodingGroup(a.StreamCodingType);
  w.U8(g == CodingGroup::kOther ? 1 : 5);
  w.U8(a.StreamCodingType);
  switch (g) {
    case CodingGroup::kVideo:
      w.Bits(4, a.Format);
      w.Bits(4, a.Rate);
      w.Zeros(3);
      break;
    case CodingGroup::kAudio:
      w.Bits(4, a.Format);
      w.Bits(4, a.Rate);
      WriteFixedText(w, a.Language, 3);
      break;
    case CodingGroup::kGraphics:
      WriteFixedText(w, a.Language, 3);
      w.U8(0);
      break;
    case CodingGroup::kText:
      w.U8(a.CharacterCode);
      WriteFixedText(w, a.Language, 3);
      break;
    case CodingGroup::kOther:
      break;
  }
}

static void ParseAttributes(BeReader& outer, SStreamAttributes& a) {
  BeReader r = outer.Sub(outer.U8());
  a.StreamCodingType = r.U8();
  switch (GetCodingGroup(a.StreamCodingType)) {
    case CodingGroup::kVideo:
      a.Format = static_cast<uint8_t>(r.Bits(4));
      a.Rate = static_cast<uint8_t>(r.Bits(4));
      break;
    case CodingGroup::kAudio:
      a.Format = static_cast<uint8_t>(r.Bits(4));
      a.Rate = static_cast<uint8_t>(r.Bits(4));
      a.Language = r.Str(3);
      break;
    case CodingGroup::kGraphics:
      a.Language = r.Str(3);
      break;
    case CodingGroup::kText:
      a.CharacterCode = r.U8();
      a.Language = r.Str(3);
      break;
    case CodingGroup::kOther:
      break;
  }
}

static void DumpAttributes(SDumpNode& out, const SStreamAttributes& a) {
  SDumpNode& b = out.Block("StreamAttributes");
  char t[64];
  std::snprintf(t, sizeof t, "%s(0x%02X)", CodingTypeText(a.StreamCodingType), a.StreamCodingType);
  b.Text("StreamCodingType", t);
  b.children.back().number = a.StreamCodingType;
  switch (GetCodingGroup(a.StreamCodingType)) {
    case CodingGroup::kVideo:
      b.Named("VideoFormat", VideoFormatText(a.Format), a.Format);
      b.Named("FrameRate", FrameRateText(a.Rate), a.Rate);
      break;
    case CodingGroup::kAudio:
      b.Named("AudioPresentationType", AudioPresentationText(a.Format), a.Format);
      b.Named("SamplingFrequency", SamplingFrequencyText(a.Rate), a.Rate);
      b.Text("Language", PrintableText(a.Language));
      break;
    case CodingGroup::kGraphics:
      b.Text("Language", PrintableText(a.Language));
      break;
    case CodingGroup::kText:
      b.Int("CharacterCode", a.CharacterCode);
      b.Text("Language", PrintableText(a.Language));
      break;
    case CodingGroup::kOther:
      break;
  }
}

size_t PRIMARY_STREAM_ENTRY::Size() const { return EntryRefSize(entry) + AttrSize(attributes); }

void PRIMARY_STREAM_ENTRY::Write(BeWriter& w) const {
  WriteEntryRef(w, entry);
  WriteAttributes(w, attributes);
}

void PRIMARY_STREAM_ENTRY::Parse(BeReader& r) {
  ParseEntryRef(r, entry);
  ParseAttributes(r, attributes);
}

void PRIMARY_STREAM_ENTRY::Dump(SDumpNode& out) const {
  DumpEntryRef(out, entry);
  DumpAttributes(out, attributes);
}

static size_t RefListSize(const CRefList& l) { return 2 + l.size() + (l.size() & 1); }

static void WriteRefList(BeWriter& w, const CRefList& l) {
  w.U8(l.size());
  w.U8(0);
  w.Bytes(l.data(), l.size());
  if (l.size() & 1) w.U8(0);
}

static void ParseRefList(BeReader& r, CRefList& l) {
  unsigned n = r.U8();
  r.Skip(1);
  l = r.Vec(n);
  if (n & 1) r.Skip(1);
}

static void DumpRefList(SDumpNode& out, const char* label, const CRefList& l) {
  SDumpNode& b = out.Block(label);
  b.Int("NumberOfRefEntries", static_cast<int64_t>(l.size()));
  for (size_t i = 0; i < l.size(); ++i) {
    b.Indexed("RefID", static_cast<int>(i), std::to_string(l[i]));
    b.children.back().number = l[i];
  }
}

size_t SECONDARD_AUDIO_STREAM_ENTRY::Size() const { return PRIMARY_STREAM_ENTRY::Size() + RefListSize(primaryAudioRefs); }

void SECONDARD_AUDIO_STREAM_ENTRY::Write(BeWriter& w) const {
  PRIMARY_STREAM_ENTRY::Write(w);
  WriteRefList(w, primaryAudioRefs);
}

void SECONDARD_AUDIO_STREAM_ENTRY::Parse(BeReader& r) {
  PRIMARY_STREAM_ENTRY::Parse(r);
  ParseRefList(r, primaryAudioRefs);
}

void SECONDARD_AUDIO_STREAM_ENTRY::Dump(SDumpNode& out) const {
  PRIMARY_STREAM_ENTRY::Dump(out);
  SDumpNode& c = out.Block("StreamCombInfo");
  DumpRefList(c, "SecondardAudioStreamCombInfo", primaryAudioRefs);
}

size_t SECONDARD_VIDEO_STREAM_ENTRY::Size() const {
  return PRIMARY_STREAM_ENTRY::Size() + RefListSize(secondaryAudioRefs) + RefListSize(pipPgRefs);
}

void SECONDARD_VIDEO_STREAM_ENTRY::Write(BeWriter& w) const {
  PRIMARY_STREAM_ENTRY::Write(w);
  WriteRefList(w, secondaryAudioRefs);
  WriteRefList(w, pipPgRefs);
}

void SECONDARD_VIDEO_STREAM_ENTRY::Parse(BeReader& r) {
  PRIMARY_STREAM_ENTRY::Parse(r);
  ParseRefList(r, secondaryAudioRefs);
  ParseRefList(r, pipPgRefs);
}

void SECONDARD_VIDEO_STREAM_ENTRY::Dump(SDumpNode& out) const {
  PRIMARY_STREAM_ENTRY::Dump(out);
  SDumpNode& c = out.Block("StreamCombInfo");
  DumpRefList(c, "SecondardVideoSecondardAudioStreamCombInfo", secondaryAudioRefs);
  DumpRefList(c, "SecondardVideoPiP_PG_TextST_StreamCombInfo", pipPgRefs);
}

// ---- STN table ----

template <typename Folder>
static size_t FolderSize(const Folder& f) {
  size_t n = 0;
  for (const auto& e : f) n += e.Size();
  return n;
}

size_t STN_TABLE::Size() const {
  return 2 + 2 + 7 + 5 + FolderSize(primaryVideo) + FolderSize(primaryAudio) + FolderSize(pgTextSt) +
         FolderSize(pipPgTextSt) + FolderSize(ig) + FolderSize(secondaryAudio) + FolderSize(secondaryVideo);
}

void STN_TABLE::Write(BeWriter& w) const {
  w.U16(Size() - 2);
  w.U16(0);
  w.U8(primaryVideo.size());
  w.U8(primaryAudio.size());
  w.U8(pgTextSt.size());
  w.U8(ig.size());
  w.U8(secondaryAudio.size());
  w.U8(secondaryVideo.size());
  w.U8(pipPgTextSt.size());
  w.Zeros(5);
  for (const auto& e : primaryVideo) e.Write(w);
  for (const auto& e : primaryAudio) e.Write(w);
  for (const auto& e : pgTextSt) e.Write(w);
  for (const auto& e : pipPgTextSt) e.Write(w);
  for (const auto& e : ig) e.Write(w);
  for (const auto& e : secondaryAudio) e.Write(w);
  for (const auto& e : secondaryVideo) e.Write(w);
}

template <typename Folder>
static void ParseFolder(BeReader& r, Folder& f, unsigned n) {
  f.clear();
  for (unsigned i = 0; i < n; ++i) {
    f.emplace_back();
    f.back().Parse(r);
  }
}

void STN_TABLE::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U16());
  r.Skip(2);
  unsigned nPv = r.U8(), nPa = r.U8(), nPg = r.U8(), nIg = r.U8(), nSa = r.U8(), nSv = r.U8(), nPip = r.U8();
  r.Skip(5);
  ParseFolder(r, primaryVideo, nPv);
  ParseFolder(r, primaryAudio, nPa);
  ParseFolder(r, pgTextSt, nPg);
  ParseFolder(r, pipPgTextSt, nPip);
  ParseFolder(r, ig, nIg);
  ParseFolder(r, secondaryAudio, nSa);
  ParseFolder(r, secondaryVideo, nSv);
}

template <typename Folder>
static void DumpFolder(SDumpNode& out, const char* listLabel, const char* entryLabel, const Folder& f) {
  SDumpNode& b = out.Block(listLabel);
  for (size_t i = 0; i < f.size(); ++i) f[i].Dump(b.Block(entryLabel, static_cast<int>(i)));
}

void STN_TABLE::Dump(SDumpNode& out) const {
  SDumpNode& b = out.Block("StnTable");
  b.Int("Length", static_cast<int64_t>(Size() - 2));
  b.Int("NumberOfPrimaryVideoStreamEntries", static_cast<int64_t>(primaryVideo.size()));
  b.Int("NumberOfPrimaryAudioStreamEntries", static_cast<int64_t>(primaryAudio.size()));
  b.Int("NumberOfPG_TextST_StreamEntries", static_cast<int64_t>(pgTextSt.size()));
  b.Int("NumberOfIG_StreamEntries", static_cast<int64_t>(ig.size()));
  b.Int("NumberOfSecondaryAudioStreamEntries", static_cast<int64_t>(secondaryAudio.size()));
  b.Int("NumberOfSecondaryVideoStreamEntries", static_cast<int64_t>(secondaryVideo.size()));
  b.Int("NumberOfPiP_PG_TextST_StreamEntriesPlus", static_cast<int64_t>(pipPgTextSt.size()));
  DumpFolder(b, "PrimaryVideoStreamEntries", "PrimaryStreamEntry", primaryVideo);
  DumpFolder(b, "PrimaryAudioStreamEntries", "PrimaryStreamEntry", primaryAudio);
  DumpFolder(b, "PrimaryPG_TextST_StreamEntries", "PrimaryStreamEntry", pgTextSt);
  DumpFolder(b, "PrimaryPiP_TextST_StreamEntries", "PrimaryStreamEntry", pipPgTextSt);
  DumpFolder(b, "InteractiveGraphicsStreamEntries", "PrimaryStreamEntry", ig);
  DumpFolder(b, "SecondardAudioStreamEntries", "SecondardAudioStreamEntry", secondaryAudio);
  DumpFolder(b, "SecondardVideoStreamEntries", "SecondardVideoStreamEntry", secondaryVideo);
}

// ---- angle and multi-clip blocks ----

static size_t AngleBlockSize(const SAngleBlock& a) { return 2 + 10 * a.entries.size(); }

static void WriteAngleEntries(BeWriter& w, const CAceFolder& entries) {
  for (const auto& e : entries) {
    WriteFixedText(w, e.ClipName, 5);
    WriteFixedText(w, e.CodecId, 4);
    w.U8(e.RefToStcId);
  }
}

// `count` is the number in the file, which includes the main clip.
static void ParseAngleEntries(BeReader& r, CAceFolder& entries, unsigned count) {
  entries.clear();
  for (unsigned i = 1; i < count; ++i) {
    ANGLE_CLIP_ENTRY e;
    e.ClipName = r.Str(5);
    e.CodecId = r.Str(4);
    e.RefToStcId = r.U8();
    entries.push_back(std::move(e));
  }
}

static void DumpAngleEntries(SDumpNode& out, const CAceFolder& entries) {
  for (size_t i = 0; i < entries.size(); ++i) {
    SDumpNode& n = out.Block("AngleClipEntry", static_cast<int>(i + 1));
    n.Text("ClipInformationFileName", PrintableText(entries[i].ClipName));
    n.Text("ClipCodecIdentifier", PrintableText(entries[i].CodecId));
    n.Int("RefToSTC_ID", entries[i].RefToStcId);
  }
}

// ---- play items ----

size_t PLAY_ITEM::Size() const { return 34 + (angles ? AngleBlockSize(*angles) : 0) + stn.Size(); }

void PLAY_ITEM::Write(BeWriter& w) const {
  w.U16(Size() - 2);
  WriteFixedText(w, ClipName, 5);
  WriteFixedText(w, CodecId, 4);
  w.U8(0);
  w.Bits(3, 0);
  w.Bits(1, IsMultiAngle() ? 1 : 0);
  w.Bits(4, ConnectionCondition);
  w.U8(RefToStcId);
  w.U32(InTime);
  w.U32(OutTime);
  w.Bytes(uoMask.data(), uoMask.size());
  w.U8(RandomAccessFlag ? 0x80 : 0);
  w.U8(StillMode);
  w.U16(StillMode == 1 ? StillTime : 0);
  if (angles) {
    w.U8(angles->entries.size() + 1);
    w.U8((angles->IsDifferentAudios ? 2 : 0) | (angles->IsSeamlessAngleChange ? 1 : 0));
    WriteAngleEntries(w, angles->entries);
  }
  stn.Write(w);
}

void PLAY_ITEM::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U16());
  ClipName = r.Str(5);
  CodecId = r.Str(4);
  r.Skip(1);
  r.Bits(3);
  bool multiAngle = r.Bits(1) != 0;
  ConnectionCondition = static_cast<uint8_t>(r.Bits(4));
  RefToStcId = r.U8();
  InTime = r.U32();
  OutTime = r.U32();
  r.Bytes(uoMask.data(), uoMask.size());
  RandomAccessFlag = (r.U8() & 0x80) != 0;
  StillMode = r.U8();
  StillTime = r.U16();
  if (StillMode != 1) StillTime = 0;
  angles.reset();
  if (multiAngle) {
    SAngleBlock a;
    unsigned n = r.U8();
    uint8_t flags = r.U8();
    a.IsDifferentAudios = (flags & 2) != 0;
    a.IsSeamlessAngleChange = (flags & 1) != 0;
    ParseAngleEntries(r, a.entries, n);
    angles = std::move(a);
  }
  stn.Parse(r);
}

void PLAY_ITEM::Dump(SDumpNode& out, int index) const {
  SDumpNode& b = out.Block("PlayItem", index);
  b.Int("Length", static_cast<int64_t>(Size() - 2));
  b.Text("ClipInformationFileName", PrintableText(ClipName));
  b.Text("ClipCodecIdentifier", PrintableText(CodecId));
  b.Int("IsMultiAngle", IsMultiAngle() ? 1 : 0);
  b.Int("ConnectionCondition", ConnectionCondition);
  b.Int("RefToSTC_ID", RefToStcId);
  b.Int("InTime", InTime);
  b.Int("OutTime", OutTime);
  DumpUoMask(b, uoMask);
  b.Int("PlayItemRandomAccessFlag", RandomAccessFlag ? 1 : 0);
  b.Int("StillMode", StillMode);
  b.Int("StillTime", StillMode == 1 ? StillTime : 0);
  if (angles) {
    b.Int("NumberOfAngles", static_cast<int64_t>(angles->entries.size() + 1));
    b.Int("IsDifferentAudios", angles->IsDifferentAudios ? 1 : 0);
    b.Int("SeamlessAngleChange", angles->IsSeamlessAngleChange ? 1 : 0);
    DumpAngleEntries(b, angles->entries);
  }
  stn.Dump(b);
}

// ---- sub-paths ----

size_t SUB_PLAY_ITEM::Size() const { return 30 + (multiClip ? AngleBlockSize(*multiClip) : 0); }

void SUB_PLAY_ITEM::Write(BeWriter& w) const {
  w.U16(Size() - 2);
  WriteFixedText(w, ClipName, 5);
  WriteFixedText(w, CodecId, 4);
  w.Zeros(3);
  w.Bits(3, 0);
  w.Bits(4, SpConnectionCondition);
  w.Bits(1, IsMultiClipEntries() ? 1 : 0);
  w.U8(RefToStcId);
  w.U32(InTime);
  w.U32(OutTime);
  w.U16(SyncPlayItemId);
  w.U32(SyncStartPtsOfPlayItem);
  if (multiClip) {
    w.U8(multiClip->entries.size() + 1);
    w.U8(0);
    WriteAngleEntries(w, multiClip->entries);
  }
}

void SUB_PLAY_ITEM::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U16());
  ClipName = r.Str(5);
  CodecId = r.Str(4);
  r.Skip(3);
  r.Bits(3);
  SpConnectionCondition = static_cast<uint8_t>(r.Bits(4));
  bool multi = r.Bits(1) != 0;
  RefToStcId = r.U8();
  InTime = r.U32();
  OutTime = r.U32();
  SyncPlayItemId = r.U16();
  SyncStartPtsOfPlayItem = r.U32();
  multiClip.reset();
  if (multi) {
    SAngleBlock a;
    unsigned n = r.U8();
    r.Skip(1);
    ParseAngleEntries(r, a.entries, n);
    multiClip = std::move(a);
  }
}

void SUB_PLAY_ITEM::Dump(SDumpNode& out, int index) const {
  SDumpNode& b = out.Block("SubPlayItem", index);
  b.Int("Length", static_cast<int64_t>(Size() - 2));
  b.Text("ClipInformationFileName", PrintableText(ClipName));
  b.Text("ClipCodecIdentifier", PrintableText(CodecId));
  b.Int("ConnectionCondition", SpConnectionCondition);
  b.Int("IsMultiClipEntries", IsMultiClipEntries() ? 1 : 0);
  b.Int("RefToSTC_ID", RefToStcId);
  b.Int("InTime", InTime);
  b.Int("OutTime", OutTime);
  b.Int("SyncPlayItemID", SyncPlayItemId);
  b.Int("SyncStartPTS_OfPlayItem", SyncStartPtsOfPlayItem);
  if (multiClip) {
    SDumpNode& m = b.Block("MultiClipEntries");
    m.Int("NumberOfClipEntries", static_cast<int64_t>(multiClip->entries.size() + 1));
    DumpAngleEntries(m, multiClip->entries);
  }
}

size_t SUB_PATH::Size() const {
  size_t n = 10;
  for (const auto& i : items) n += i.Size();
  return n;
}

void SUB_PATH::Write(BeWriter& w) const {
  w.U32(Size() - 4);
  w.U8(0);
  w.U8(SubPathType);
  w.U16(IsRepeat ? 1 : 0);
  w.U8(0);
  w.U8(items.size());
  for (const auto& i : items) i.Write(w);
}

void SUB_PATH::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U32());
  r.Skip(1);
  SubPathType = r.U8();
  IsRepeat = (r.U16() & 1) != 0;
  r.Skip(1);
  ParseFolder(r, items, r.U8());
}

void SUB_PATH::Dump(SDumpNode& out, int index) const {
  SDumpNode& b = out.Block("SubPath", index);
  b.Int("Length", static_cast<int64_t>(Size() - 4));
  Coded(b, "SubPathType", SubPathType, SubPathTypeText(SubPathType));
  b.Int("IsRepeatSubPath", IsRepeat ? 1 : 0);
  b.Int("NumberOfSubPlayItems", static_cast<int64_t>(items.size()));
  for (size_t i = 0; i < items.size(); ++i) items[i].Dump(b, static_cast<int>(i));
}

// ---- extension records ----

void SPipMetaData::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U32());
  blocks.clear();
  unsigned n = r.U16();
  for (unsigned i = 0; i < n; ++i) {
    SPipMetadataBlock b;
    b.RefToPlayItemId = r.U16();
    b.RefToSecondaryVideoStreamId = r.U8();
    r.Skip(1);
    b.TimelineType = static_cast<uint8_t>(r.Bits(4));
    b.IsLumaKey = r.Bits(1) != 0;
    b.TrickPlayingFlag = r.Bits(1) != 0;
    r.Bits(2);
    r.Skip(2);
    uint8_t luma = r.U8();
    b.UpperLimitLumaKey = b.IsLumaKey ? luma : 0;
    r.Skip(2);
    b.DataStartAddress = r.U32();
    blocks.push_back(std::move(b));
  }
  for (auto& b : blocks) {
    BeReader d(r.Data(), r.Size());
    d.Seek(b.DataStartAddress);
    unsigned m = d.U16();
    for (unsigned j = 0; j < m; ++j) {
      SPipMetadataEntry e;
      e.TimeStamp = d.U32();
      e.HorizontalPosition = static_cast<uint16_t>(d.Bits(12));
      e.VerticalPosition = static_cast<uint16_t>(d.Bits(12));
      e.Scale = static_cast<uint8_t>(d.Bits(4));
      d.Bits(4);
      b.entries.push_back(e);
    }
  }
}

size_t SPipMetaData::Write(BeWriter& w) const {
  size_t start = w.Size();
  size_t body = 2 + 14 * blocks.size();
  for (const auto& b : blocks) body += 2 + 8 * b.entries.size();
  w.U32(body);
  w.U16(blocks.size());
  // Block data follows the headers, in block order; addresses count from
  // the byte after the length field.
  uint32_t addr = static_cast<uint32_t>(2 + 14 * blocks.size());
  for (const auto& b : blocks) {
    w.U16(b.RefToPlayItemId);
    w.U8(b.RefToSecondaryVideoStreamId);
    w.U8(0);
    w.Bits(4, b.TimelineType);
    w.Bits(1, b.IsLumaKey ? 1 : 0);
    w.Bits(1, b.TrickPlayingFlag ? 1 : 0);
    w.Bits(2, 0);
    w.Zeros(2);
    w.U8(b.IsLumaKey ? b.UpperLimitLumaKey : 0);
    w.Zeros(2);
    w.U32(addr);
    addr += static_cast<uint32_t>(2 + 8 * b.entries.size());
  }
  for (const auto& b : blocks) {
    w.U16(b.entries.size());
    for (const auto& e : b.entries) {
      w.U32(e.TimeStamp);
      w.Bits(12, e.HorizontalPosition);
      w.Bits(12, e.VerticalPosition);
      w.Bits(4, e.Scale);
      w.Bits(4, 0);
    }
  }
  return w.Size() - start;
}

void SPipMetaData::Dump(SDumpNode& out) const {
  out.Int("NumberOfMetadataEntries", static_cast<int64_t>(blocks.size()));
  for (size_t i = 0; i < blocks.size(); ++i) {
    const auto& b = blocks[i];
    SDumpNode& h = out.Block("MetadataBlockHeader", static_cast<int>(i));
    h.Int("RefPlayItemId", b.RefToPlayItemId);
    h.Int("RefSvStreamId", b.RefToSecondaryVideoStreamId);
    h.Int("TimelineType", b.TimelineType);
    h.Int("IsLumaKey", b.IsLumaKey ? 1 : 0);
    h.Int("TrickPlayingFlag", b.TrickPlayingFlag ? 1 : 0);
    if (b.IsLumaKey) h.Int("UpperLimitLumaKey", b.UpperLimitLumaKey);
    h.Int("MetadataBlockStartAddress", b.DataStartAddress);
  }
  for (size_t i = 0; i < blocks.size(); ++i) {
    const auto& b = blocks[i];
    SDumpNode& d = out.Block("MetadataBlockData", static_cast<int>(i));
    d.Int("NumberOfPipMetadataEntries", static_cast<int64_t>(b.entries.size()));
    for (size_t j = 0; j < b.entries.size(); ++j) {
      SDumpNode& e = d.Block("PipMetadataEntry", static_cast<int>(j));
      e.Int("PipTimeStamp", b.entries[j].TimeStamp);
      e.Int("PipHorPos", b.entries[j].HorizontalPosition);
      e.Int("PipVerPos", b.entries[j].VerticalPosition);
      e.Int("PipScale", b.entries[j].Scale);
    }
  }
}

// These records open with a length and a 16-bit count.
void SStnMeta::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U32());
  count = r.U16();
}

void SStnMeta::Dump(SDumpNode& out) const { out.Int("Count", count); }

void SPartMeta::Parse(BeReader& outer) {
  BeReader r = outer.Sub(outer.U32());
  unsigned n = r.U16();
  parts.clear();
  for (unsigned i = 0; i < n; ++i) {
    uint16_t a = r.U16();
    uint16_t b = r.U16();
    parts.emplace_back(a, b);
  }
}

void SPartMeta::Dump(SDumpNode& out) const {
  out.Int("Part Count", static_cast<int64_t>(parts.size()));
  for (size_t i = 0; i < parts.size(); ++i)
    out.Indexed("Part", static_cast<int>(i), std::to_string(parts[i].first) + ", " + std::to_string(parts[i].second));
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

void PlaylistFile::ClearUoBit(int n) {
  if (n < 0 || n > 63) return;
  SetUoBit(uoMask, n, false);
  for (auto& pi : playItems) SetUoBit(pi.uoMask, n, false);
}

size_t PlaylistFile::PlayListSize() const {
  size_t n = 10;
  for (const auto& pi : playItems) n += pi.Size();
  for (const auto& sp : subPaths) n += sp.Size();
  return n;
}

size_t PlaylistFile::WritePlaylist(uint8_t* buffer, size_t capacity) {
  if (extensionData) extensionData->Layout();
  PlayListStartAddress = 58;
  PlayListMarkStartAddress = static_cast<uint32_t>(PlayListStartAddress + PlayListSize());
  ExtensionDataStartAddress = extensionData ? static_cast<uint32_t>(PlayListMarkStartAddress + MarkSize()) : 0;
  if (!buffer) {
    BeWriter m;
    Write(m);
    return m.Size();
  }
  BeWriter w(buffer, capacity);
  Write(w);
  return w.Size();
}

void PlaylistFile::Write(BeWriter& w) const {
  WriteFixedText(w, TypeIndicator, 4);
  WriteFixedText(w, Version, 4);
  w.U32(PlayListStartAddress);
  w.U32(PlayListMarkStartAddress);
  w.U32(ExtensionDataStartAddress);
  w.Zeros(20);

  // AppInfoPlayList
  w.U32(14);
  w.U8(0);
  w.U8(PlaybackType);
  w.U16(PlaybackType == 1 ? 0 : PlaybackCount);
  w.Bytes(uoMask.data(), uoMask.size());
  w.U8((RandomAccessFlag ? 0x80 : 0) | (AudioMixAppFlag ? 0x40 : 0) | (LosslessMayBypassMixerFlag ? 0x20 : 0));
  w.U8(0);

  w.U32(PlayListSize() - 4);
  w.U16(0);
  w.U16(playItems.size());
  w.U16(subPaths.size());
  for (const auto& pi : playItems) pi.Write(w);
  for (const auto& sp : subPaths) sp.Write(w);

  w.U32(MarkSize() - 4);
  w.U16(marks.size());
  for (const auto& m : marks) {
    w.U8(0);
    w.U8(m.MarkType);
    w.U16(m.RefToPlayItemId);
    w.U32(m.MarkTimeStamp);
    w.U16(m.EntryEsPid);
    w.U32(m.Duration);
  }
  if (extensionData) extensionData->Write(w);
}

int PlaylistFile::Parse(const uint8_t* data, size_t size, std::string* error) {
  try {
    BeReader r(data, size);
    ParseSection("header", [&] {
      TypeIndicator = r.Str(4);
      if (TypeIndicator != "MPLS") throw FormatError("type indicator is not \"MPLS\"");
      Version = r.Str(4);
      PlayListStartAddress = r.U32();
      PlayListMarkStartAddress = r.U32();
      ExtensionDataStartAddress = r.U32();
      r.Skip(20);
    });
    ParseSection("AppInfoPlayList", [&] {
      BeReader a = r.Sub(r.U32());
      a.Skip(1);
      PlaybackType = a.U8();
      PlaybackCount = a.U16();
      a.Bytes(uoMask.data(), uoMask.size());
      uint8_t flags = a.U8();
      RandomAccessFlag = (flags & 0x80) != 0;
      AudioMixAppFlag = (flags & 0x40) != 0;
      LosslessMayBypassMixerFlag = (flags & 0x20) != 0;
    });
    ParseSection("PlayList", [&] {
      r.Seek(PlayListStartAddress);
      BeReader p = r.Sub(r.U32());
      p.Skip(2);
      unsigned nItems = p.U16();
      unsigned nSubPaths = p.U16();
      playItems.clear();
      for (unsigned i = 0; i < nItems; ++i) {
        playItems.emplace_back();
        ParseSection(("PlayItem " + std::to_string(i)).c_str(), [&] { playItems.back().Parse(p); });
      }
      ParseFolder(p, subPaths, nSubPaths);
    });
    ParseSection("PlayListMark", [&] {
      r.Seek(PlayListMarkStartAddress);
      BeReader m = r.Sub(r.U32());
      unsigned n = m.U16();
      marks.clear();
      for (unsigned i = 0; i < n; ++i) {
        PLAY_MARK k;
        m.Skip(1);
        k.MarkType = m.U8();
        k.RefToPlayItemId = m.U16();
        k.MarkTimeStamp = m.U32();
        k.EntryEsPid = m.U16();
        k.Duration = m.U32();
        marks.push_back(k);
      }
    });
    extensionData.reset();
    if (ExtensionDataStartAddress != 0) {
      ParseSection("ExtensionData", [&] {
        r.Seek(ExtensionDataStartAddress);
        CEdeFolder f;
        f.Parse(r, MakePlaylistExtRecord);
        extensionData = std::move(f);
      });
    }
  } catch (const FormatError& e) {
    if (error) *error = std::string("not a valid playlist file: ") + e.what();
    return kFailed;
  }
  return kOk;
}

void PlaylistFile::Dump(SDumpNode& out) const {
  SDumpNode& h = out.Block("Mpls");
  h.Int("PlayListStartAddress", PlayListStartAddress);
  h.Int("PlayListMarkStartAddress", PlayListMarkStartAddress);
  h.Int("ExtensionDataStartAddress", ExtensionDataStartAddress);

  SDumpNode& a = out.Block("AppInfoPlaylist");
  Coded(a, "PlaylistPlaybackType", PlaybackType, PlaybackTypeText(PlaybackType));
  a.Int("PlaybackCount", PlaybackCount);
  DumpUoMask(a, uoMask);
  a.Int("PlaylistRandomAccessFlag", RandomAccessFlag ? 1 : 0);
  a.Int("AudioMixAppFlag", AudioMixAppFlag ? 1 : 0);
  a.Int("LosslessMayBypassMixerFlag", LosslessMayBypassMixerFlag ? 1 : 0);

  SDumpNode& p = out.Block("PlayList");
  p.Int("Length", static_cast<int64_t>(PlayListSize() - 4));
  p.Int("NumberOfPlayItems", static_cast<int64_t>(playItems.size()));
  p.Int("NumberOfSubPaths", static_cast<int64_t>(subPaths.size()));
  for (size_t i = 0; i < playItems.size(); ++i) playItems[i].Dump(p, static_cast<int>(i));
  for (size_t i = 0; i < subPaths.size(); ++i) subPaths[i].Dump(p, static_cast<int>(i));

  SDumpNode& m = out.Block("PlayListMarks");
  m.Int("Length", static_cast<int64_t>(MarkSize() - 4));
  m.Int("NumberOfPlayListMarks", static_cast<int64_t>(marks.size()));
  for (size_t i = 0; i < marks.size(); ++i) {
    const auto& k = marks[i];
    SDumpNode& n = m.Block("PlayListMark", static_cast<int>(i));
    Coded(n, "MarkType", k.MarkType, MarkTypeText(k.MarkType));
    n.Int("RefToPlayItemID", k.RefToPlayItemId);
    n.Int("MarkTimeStamp", k.MarkTimeStamp);
    n.Hex4("EntryES_PID", k.EntryEsPid);
    n.Int("Duration", k.Duration);
  }
  if (extensionData) extensionData->Dump(out);
}

std::string PlaylistFile::DumpText(const std::string& indent) const {
  SDumpNode root;
  Dump(root);
  return root.Render(indent);
}

}  // namespace zv
