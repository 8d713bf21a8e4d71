#include "bdnav/index_bdmv.h"

#include <stdexcept>

#include "bdnav/nav_dump.h"
#include "platform/bytes.h"

namespace zv {

namespace {

constexpr size_t kEntrySize = 12;
constexpr uint32_t kIndexesStart = INDEX_BDMV::kHeaderSize + 4 + INDEX_BDMV::kAppInfoSize;  // 78
constexpr uint32_t kIndexesFixed = 2 * kEntrySize + 2;                                      // 26

void FourCC(BeWriter& w, const std::string& s) {
  if (s.size() != 4) throw std::out_of_range("type indicator and version take four characters");
  w.Bytes(s.data(), 4);
}

void WriteEntry(BeWriter& w, const TI& e, uint8_t playbackType, bool isTitle) {
  w.Bits(2, e.objectType);
  w.Bits(2, isTitle ? (e.accessType & 3) : 0);
  w.Bits(4, 0);
  w.Zeros(3);
  w.Bits(2, playbackType);
  w.Bits(6, 0);
  w.U8(0);
  if (e.objectType == 1) {
    w.U16(e.movieObjectId);
    w.Zeros(4);
  } else {
    if (e.bdjName.size() != 5) throw std::out_of_range("a BD-J object name takes five characters");
    w.Bytes(e.bdjName.data(), 5);
    w.U8(0);
  }
}

void Write(BeWriter& w, const INDEX_BDMV& x) {
  const uint32_t indexesLength = kIndexesFixed + static_cast<uint32_t>(kEntrySize * x.titles.size());
  FourCC(w, x.typeIndicator);
  FourCC(w, x.version);
  w.U32(kIndexesStart);
  w.U32(x.extensionData.empty() ? 0 : kIndexesStart + 4 + indexesLength);
  w.Zeros(24);
  w.U32(INDEX_BDMV::kAppInfoSize);
  w.Bytes(x.appInfo.data(), x.appInfo.size());
  w.U32(indexesLength);
  WriteEntry(w, x.firstPlayback, x.firstPlayback.playbackType, false);
  // The top menu is always interactive.
  WriteEntry(w, x.topMenu, x.topMenu.objectType == 1 ? 1 : 3, false);
  w.U16(x.titles.size());
  for (const auto& t : x.titles) WriteEntry(w, t, t.playbackType, true);
  if (!x.extensionData.empty()) w.Bytes(x.extensionData.data(), x.extensionData.size());
}

TI ReadEntry(BeReader& r) {
  TI e;
  uint8_t b0 = r.U8();
  e.objectType = b0 >> 6;
  e.accessType = (b0 >> 4) & 3;
  r.Skip(3);
  e.playbackType = r.U8() >> 6;
  r.Skip(1);
  if (e.objectType == 1) {
    e.movieObjectId = r.U16();
    r.Skip(4);
  } else {
    e.bdjName = r.Str(5);
    r.Skip(1);
  }
  return e;
}

void DumpEntry(std::string& o, const std::string& in, const TI& e, bool isTitle) {
  using namespace navdump;
  Int(o, in, "ObjectType", e.objectType);
  if (isTitle) Int(o, in, "TitleAccessType", e.accessType);
  if (e.objectType == 1) {
    Int(o, in, "HDMV_TitlePlaybackType", e.playbackType);
    Int(o, in, "MovieObjectID", e.movieObjectId);
  } else {
    Int(o, in, "BDJ_TitlePlaybackType", e.playbackType);
    Str(o, in, "BDJO_FileName", Printable(e.bdjName));
  }
}

}  // namespace

size_t EncodeIndex(const INDEX_BDMV& index, uint8_t* buf, size_t cap) {
  BeWriter w = buf ? BeWriter(buf, cap) : BeWriter();
  Write(w, index);
  return w.Size();
}

std::vector<uint8_t> EncodeIndex(const INDEX_BDMV& index) {
  return MeasureThenWrite([&](uint8_t* buf, size_t cap) { return EncodeIndex(index, buf, cap); });
}

size_t ParseIndex(const uint8_t* data, size_t size, INDEX_BDMV& out) {
  using navdump::Part;
  constexpr const char* kFile = "index.bdmv";
  BeReader r(data, size);
  INDEX_BDMV x;
  x.typeIndicator.clear();
  Part(kFile, "header", [&] {
    x.typeIndicator = r.Str(4);
    if (x.typeIndicator != "INDX")
      throw FormatError("type indicator is \"" + navdump::Printable(x.typeIndicator) + "\", not \"INDX\"");
    x.version = r.Str(4);
    x.indexesStartAddress = r.U32();
    x.extensionDataStartAddress = r.U32();
    r.Skip(24);
  });
  size_t appInfoEnd = 0;
  Part(kFile, "AppInfoBDMV", [&] {
    uint32_t len = r.U32();
    if (len < INDEX_BDMV::kAppInfoSize)
      throw FormatError("length " + std::to_string(len) + " is shorter than " +
                        std::to_string(INDEX_BDMV::kAppInfoSize));
    BeReader app = r.Sub(len);
    app.Bytes(x.appInfo.data(), x.appInfo.size());
    appInfoEnd = r.Pos();
  });
  size_t end = 0;
  Part(kFile, "Indexes", [&] {
    if (x.indexesStartAddress < appInfoEnd)
      throw FormatError("IndexsStartAddress " + std::to_string(x.indexesStartAddress) +
                        " points inside the header");
    r.Seek(x.indexesStartAddress);
    uint32_t len = r.U32();
    BeReader ix = r.Sub(len);
    x.firstPlayback = ReadEntry(ix);
    x.topMenu = ReadEntry(ix);
    uint16_t count = ix.U16();
    if (size_t{count} * kEntrySize > ix.Remaining())
      throw FormatError("Title Count " + std::to_string(count) + " does not fit the length " + std::to_string(len));
    x.titles.reserve(count);
    for (uint16_t i = 0; i < count; ++i) x.titles.push_back(ReadEntry(ix));
    end = r.Pos();
  });
  if (x.extensionDataStartAddress != 0) {
    Part(kFile, "ExtensionData", [&] {
      if (x.extensionDataStartAddress < end)
        throw FormatError("ExtensionDataStartAddress " + std::to_string(x.extensionDataStartAddress) +
                          " points inside the indexes");
      r.Seek(x.extensionDataStartAddress);
      uint32_t len = r.U32();
      if (len & 0x80000000u) throw FormatError("length " + std::to_string(len) + " is out of range");
      r.Skip(len);
      x.extensionData.assign(data + x.extensionDataStartAddress, data + r.Pos());
      end = r.Pos();
    });
  }
  out = std::move(x);
  return end;
}

std::string DumpIndex(const INDEX_BDMV& x, const std::string& in) {
  using namespace navdump;
  const std::string in2 = in + "  ", in3 = in2 + "  ";
  std::string o;
  Str(o, in, "TypeIndicator", Printable(x.typeIndicator));
  Str(o, in, "Version", Printable(x.version));
  Int(o, in, "IndexsStartAddress", x.indexesStartAddress);
  Int(o, in, "ExtensionDataStartAddress", x.extensionDataStartAddress);
  Int(o, in, "AppInfoBDMV", INDEX_BDMV::kAppInfoSize);
  Hex(o, in2, "Flags", x.appInfo[0]);
  Int(o, in2, "VideoFormat", x.appInfo[1] >> 4);
  Int(o, in2, "FrameRate", x.appInfo[1] & 0x0F);
  Str(o, in2, "ContentProviderUserData", HexBytes(x.appInfo.data() + 2, x.appInfo.size() - 2));
  Int(o, in, "Indexes", kIndexesFixed + kEntrySize * x.titles.size());
  Str(o, in2, "FirstPlayback", "");
  DumpEntry(o, in3, x.firstPlayback, false);
  Str(o, in2, "TopMenu", "");
  DumpEntry(o, in3, x.topMenu, false);
  Int(o, in2, "Title Count", static_cast<int64_t>(x.titles.size()));
  for (size_t i = 0; i < x.titles.size(); ++i) {
    Numbered(o, in2, "Title", static_cast<int64_t>(i + 1));
    DumpEntry(o, in3, x.titles[i], true);
  }
  if (!x.extensionData.empty()) Int(o, in, "ExtensionData", static_cast<int64_t>(x.extensionData.size()));
  return o;
}

}  // namespace zv
