#include "bdnav/movie_objects.h"

#include <stdexcept>

#include "bdnav/nav_syntax.h"

namespace zv {

namespace {

// One movie object: its terminal-info flags, then its commands.
template <class IO>
void Object(IO& io, MOVIE_OBJECT& o, uint64_t objectsLength) {
  io.Section("TerminalInfo", [&] {
    io.Bits(1, "ResumeIntentionFlag", o.resumeIntention);
    io.Bits(1, "MenuCallMask", o.menuCallMask);
    io.Bits(1, "TitleSearchMask", o.titleSearchMask);
    io.Reserved(5 + 8);
    const int flags = (o.resumeIntention ? 0x80 : 0) | (o.menuCallMask ? 0x40 : 0) | (o.titleSearchMask ? 0x20 : 0);
    io.Note(HexText(flags, 2), flags);
  });
  io.Group("Command Count", [&] {
    uint64_t n = o.commands.Count();
    io.SectionCount(16, n);
    if constexpr (IO::kReading)
      if (n * CNavCmd::kSize > io.Remaining())
        io.Fail("Command Count " + std::to_string(n) + " runs past the length " + std::to_string(objectsLength));
    if constexpr (IO::kReading) o.commands = CNavCmds();
    for (uint64_t c = 0; c < n; ++c) {
      CNavCmd cmd;
      if constexpr (IO::kWriting) cmd = o.commands[c];
      io.Raw("Command", cmd.bytes, rec::Hidden{});
      if constexpr (IO::kDumping) io.Node().Indexed("Command", static_cast<int>(c), CommandText(cmd));
      if constexpr (IO::kReading) o.commands.Add(cmd);
    }
  });
}

}  // namespace

template <class IO>
void Syntax(IO& io, MOVIE_OBJECTS& x) {
  io.Part("MovieObject.bdmv", [&] {
    rec::AddressField extension;
    io.Part("header", [&] {
      FileType(io, x.typeIndicator, x.version, "MOBJ");
      extension = io.Address(32, "ExtensionDataStartAddress");
      x.extensionDataStartAddress = static_cast<uint32_t>(extension.value);
      io.ReservedBytes(28);
    });
    io.Section("MovieObjects", [&] {
      auto len = io.SectionLength(32);
      io.ReservedBytes(4);
      uint64_t count = x.objects.size();
      io.U16("MovieObject Count", count);
      if constexpr (IO::kReading)
        if (count * 4 > io.Remaining())
          io.Fail("MovieObject Count " + std::to_string(count) + " does not fit the length " +
                  std::to_string(len.Value()));
      io.Elements(x.objects, count, [&](MOVIE_OBJECT& o, uint64_t i) {
        io.Section("MovieObject", static_cast<int>(i), [&] { Object(io, o, len.Value()); });
      });
      len.EndSkippingRest();
    });
    StoredExtensionData(io, extension, x.extensionData, "movie objects");
  });
}

size_t EncodeMovieObjects(const MOVIE_OBJECTS& mobj, uint8_t* buf, size_t cap) {
  return rec::EncodeInto(mobj, buf, cap);
}

std::vector<uint8_t> EncodeMovieObjects(const MOVIE_OBJECTS& mobj) { return rec::Encode(mobj); }

size_t ParseMovieObjects(const uint8_t* data, size_t size, MOVIE_OBJECTS& out) { return rec::Decode(data, size, out); }

void DumpMovieObjectsTree(const MOVIE_OBJECTS& mobj, SDumpNode& root) { rec::DumpRecord(mobj, root); }

void DumpMovieObjectsBytes(const uint8_t* data, size_t size, SDumpNode& root) {
  rec::DumpBytes<MOVIE_OBJECTS>(data, size, root);
}

std::string DumpMovieObjects(const MOVIE_OBJECTS& mobj, const std::string& indent) {
  SDumpNode root;
  DumpMovieObjectsTree(mobj, root);
  return root.Render(indent);
}

}  // namespace zv
