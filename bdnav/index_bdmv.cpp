#include "bdnav/index_bdmv.h"

#include <stdexcept>

#include "bdnav/nav_syntax.h"

namespace zv {

namespace {

constexpr size_t kEntrySize = 12;

// One index entry: first playback, top menu or title.
template <class IO>
void Entry(IO& io, TI& e, bool isTitle, bool isTopMenu) {
  io.Bits(2, "ObjectType", e.objectType);
  if (isTitle) {
    io.Bits(2, "TitleAccessType", e.accessType);
  } else {
    uint8_t access = IO::kWriting ? 0 : e.accessType;
    io.Bits(2, "TitleAccessType", access, rec::Hidden{});
    e.accessType = access;
  }
  io.Reserved(4 + 24);
  const bool hdmv = e.objectType == 1;
  // The top menu is always interactive.
  uint8_t playback = IO::kWriting && isTopMenu ? (hdmv ? 1 : 3) : e.playbackType;
  io.Bits(2, hdmv ? "HDMV_TitlePlaybackType" : "BDJ_TitlePlaybackType", playback);
  if constexpr (IO::kReading) e.playbackType = playback;
  io.Reserved(6 + 8);
  if (hdmv) {
    io.U16("MovieObjectID", e.movieObjectId);
    io.ReservedBytes(4);
  } else {
    io.Text(5, "BDJO_FileName", e.bdjName);
    io.ReservedBytes(1);
  }
}

}  // namespace

template <class IO>
void Syntax(IO& io, INDEX_BDMV& x) {
  io.Part("index.bdmv", [&] {
    rec::AddressField indexes, extension;
    io.Part("header", [&] {
      FileType(io, x.typeIndicator, x.version, "INDX");
      indexes = io.Address(32, "IndexsStartAddress");
      extension = io.Address(32, "ExtensionDataStartAddress");
      x.indexesStartAddress = static_cast<uint32_t>(indexes.value);
      x.extensionDataStartAddress = static_cast<uint32_t>(extension.value);
      io.ReservedBytes(24);
    });
    io.Section("AppInfoBDMV", [&] {
      auto len = io.SectionLength(32);
      if constexpr (IO::kReading)
        if (len.Value() < INDEX_BDMV::kAppInfoSize)
          io.Fail("length " + std::to_string(len.Value()) + " is shorter than " +
                  std::to_string(INDEX_BDMV::kAppInfoSize));
      uint8_t flags = x.appInfo[0], format = x.appInfo[1] >> 4, rate = x.appInfo[1] & 0x0F;
      std::array<uint8_t, INDEX_BDMV::kAppInfoSize - 2> user;
      std::copy(x.appInfo.begin() + 2, x.appInfo.end(), user.begin());
      io.U8("Flags", flags, rec::Hex{2});
      io.Bits(4, "VideoFormat", format);
      io.Bits(4, "FrameRate", rate);
      io.Raw("ContentProviderUserData", user);
      if constexpr (IO::kReading) {
        x.appInfo[0] = flags;
        x.appInfo[1] = static_cast<uint8_t>(format << 4 | rate);
        std::copy(user.begin(), user.end(), x.appInfo.begin() + 2);
      }
      len.EndSkippingRest();
    });
    const size_t appInfoEnd = io.Pos();
    io.Section("Indexes", [&] {
      if constexpr (IO::kReading)
        if (indexes.value < appInfoEnd)
          io.Fail("IndexsStartAddress " + std::to_string(indexes.value) + " points inside the header");
      io.At(indexes);
      auto len = io.SectionLength(32);
      io.Section("FirstPlayback", [&] { Entry(io, x.firstPlayback, false, false); });
      io.Section("TopMenu", [&] { Entry(io, x.topMenu, false, true); });
      uint64_t count = x.titles.size();
      io.U16("Title Count", count);
      if constexpr (IO::kReading)
        if (count * kEntrySize > io.Remaining())
          io.Fail("Title Count " + std::to_string(count) + " does not fit the length " + std::to_string(len.Value()));
      io.Elements(x.titles, count, [&](TI& t, uint64_t i) {
        io.Section("Title", static_cast<int>(i + 1), [&] { Entry(io, t, true, false); });
      });
      len.EndSkippingRest();
    });
    StoredExtensionData(io, extension, x.extensionData, "indexes");
  });
}

size_t EncodeIndex(const INDEX_BDMV& index, uint8_t* buf, size_t cap) { return rec::EncodeInto(index, buf, cap); }

std::vector<uint8_t> EncodeIndex(const INDEX_BDMV& index) { return rec::Encode(index); }

size_t ParseIndex(const uint8_t* data, size_t size, INDEX_BDMV& out) { return rec::Decode(data, size, out); }

void DumpIndexTree(const INDEX_BDMV& index, SDumpNode& root) { rec::DumpRecord(index, root); }

void DumpIndexBytes(const uint8_t* data, size_t size, SDumpNode& root) {
  rec::DumpBytes<INDEX_BDMV>(data, size, root);
}

std::string DumpIndex(const INDEX_BDMV& index, const std::string& indent) {
  SDumpNode root;
  DumpIndexTree(index, root);
  return root.Render(indent);
}

}  // namespace zv
