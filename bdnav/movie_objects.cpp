#include "bdnav/movie_objects.h"

#include <stdexcept>

#include "bdnav/nav_dump.h"
#include "platform/bytes.h"

namespace zv {

namespace {

constexpr uint8_t kResumeIntention = 0x80;
constexpr uint8_t kMenuCallMask = 0x40;
constexpr uint8_t kTitleSearchMask = 0x20;
constexpr size_t kObjectHead = 4;  // flags, reserved byte, command count

// "MovieObjects" length: from after the length field to the end of the last command.
size_t ObjectsLength(const MOVIE_OBJECTS& x) {
  size_t n = 4 + 2;
  for (const auto& o : x.objects) n += kObjectHead + CNavCmd::kSize * o.commands.Count();
  return n;
}

uint8_t Flags(const MOVIE_OBJECT& o) {
  return static_cast<uint8_t>((o.resumeIntention ? kResumeIntention : 0) | (o.menuCallMask ? kMenuCallMask : 0) |
                              (o.titleSearchMask ? kTitleSearchMask : 0));
}

void Write(BeWriter& w, const MOVIE_OBJECTS& x) {
  if (x.typeIndicator.size() != 4 || x.version.size() != 4)
    throw std::out_of_range("type indicator and version take four characters");
  const size_t length = ObjectsLength(x);
  w.Bytes(x.typeIndicator.data(), 4);
  w.Bytes(x.version.data(), 4);
  w.U32(x.extensionData.empty() ? 0 : MOVIE_OBJECTS::kHeaderSize + 4 + length);
  w.Zeros(28);
  w.U32(length);
  w.Zeros(4);
  w.U16(x.objects.size());
  for (const auto& o : x.objects) {
    w.U8(Flags(o));
    w.U8(0);
    w.U16(o.commands.Count());
    o.commands.Write(w);
  }
  if (!x.extensionData.empty()) w.Bytes(x.extensionData.data(), x.extensionData.size());
}

}  // namespace

size_t EncodeMovieObjects(const MOVIE_OBJECTS& mobj, uint8_t* buf, size_t cap) {
  BeWriter w = buf ? BeWriter(buf, cap) : BeWriter();
  Write(w, mobj);
  return w.Size();
}

std::vector<uint8_t> EncodeMovieObjects(const MOVIE_OBJECTS& mobj) {
  return MeasureThenWrite([&](uint8_t* buf, size_t cap) { return EncodeMovieObjects(mobj, buf, cap); });
}

size_t ParseMovieObjects(const uint8_t* data, size_t size, MOVIE_OBJECTS& out) {
  using navdump::Part;
  constexpr const char* kFile = "MovieObject.bdmv";
  BeReader r(data, size);
  MOVIE_OBJECTS x;
  Part(kFile, "header", [&] {
    x.typeIndicator = r.Str(4);
    if (x.typeIndicator != "MOBJ")
      throw FormatError("type indicator is \"" + navdump::Printable(x.typeIndicator) + "\", not \"MOBJ\"");
    x.version = r.Str(4);
    x.extensionDataStartAddress = r.U32();
    r.Skip(28);
  });
  Part(kFile, "MovieObjects", [&] {
    uint32_t len = r.U32();
    BeReader body = r.Sub(len);
    body.Skip(4);
    uint16_t count = body.U16();
    if (size_t{count} * kObjectHead > body.Remaining())
      throw FormatError("MovieObject Count " + std::to_string(count) + " does not fit the length " +
                        std::to_string(len));
    x.objects.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
      MOVIE_OBJECT& o = x.Add();
      uint8_t flags = body.U8();
      o.resumeIntention = (flags & kResumeIntention) != 0;
      o.menuCallMask = (flags & kMenuCallMask) != 0;
      o.titleSearchMask = (flags & kTitleSearchMask) != 0;
      body.Skip(1);
      uint16_t n = body.U16();
      if (size_t{n} * CNavCmd::kSize > body.Remaining())
        throw FormatError("MovieObject " + std::to_string(i) + ": Command Count " + std::to_string(n) +
                          " runs past the length " + std::to_string(len));
      o.commands.Read(body, n);
    }
  });
  size_t end = r.Pos();
  if (x.extensionDataStartAddress != 0) {
    Part(kFile, "ExtensionData", [&] {
      if (x.extensionDataStartAddress < end)
        throw FormatError("ExtensionDataStartAddress " + std::to_string(x.extensionDataStartAddress) +
                          " points inside the movie objects");
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

std::string DumpMovieObjects(const MOVIE_OBJECTS& x, const std::string& in) {
  using namespace navdump;
  const std::string in2 = in + "  ", in3 = in2 + "  ", in4 = in3 + "  ";
  std::string o;
  Str(o, in, "TypeIndicator", Printable(x.typeIndicator));
  Str(o, in, "Version", Printable(x.version));
  Int(o, in, "ExtensionDataStartAddress", x.extensionDataStartAddress);
  Int(o, in, "MovieObjects", static_cast<int64_t>(ObjectsLength(x)));
  Int(o, in2, "MovieObject Count", static_cast<int64_t>(x.objects.size()));
  for (size_t i = 0; i < x.objects.size(); ++i) {
    const MOVIE_OBJECT& m = x.objects[i];
    Numbered(o, in2, "MovieObject", static_cast<int64_t>(i));
    Hex(o, in3, "TerminalInfo", Flags(m));
    Int(o, in4, "ResumeIntentionFlag", m.resumeIntention);
    Int(o, in4, "MenuCallMask", m.menuCallMask);
    Int(o, in4, "TitleSearchMask", m.titleSearchMask);
    Int(o, in3, "Command Count", static_cast<int64_t>(m.commands.Count()));
    for (size_t c = 0; c < m.commands.Count(); ++c)
      Str(o, in4, "Command " + std::to_string(c), CommandText(m.commands[c]));
  }
  if (!x.extensionData.empty()) Int(o, in, "ExtensionData", static_cast<int64_t>(x.extensionData.size()));
  return o;
}

}  // namespace zv
