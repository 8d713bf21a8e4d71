// One syntax description per graphics segment and per record of the
// interactive composition, walked by the Reader, Writer and Dumper of
// records/syntax.h. Labels are the dump's labels.
#pragma once

#include <optional>
#include <string>

#include "graphics/composition.h"
#include "graphics/segments.h"
#include "records/syntax.h"

namespace zv {
namespace segsyntax {

// A field the dump does not show.
struct Hidden {
  void Put(SDumpNode&, const char*, uint64_t) const {}
  void Put(SDumpNode&, const char*, const std::vector<uint8_t>&) const {}
};
// Joins a field to the line before it: "Width/Height: 1920/1080".
struct JoinPrev {
  void Put(SDumpNode& n, const char* label, uint64_t v) const {
    if (n.children.empty() || n.children.back().block) {
      n.Int(label, static_cast<int64_t>(v));
      return;
    }
    SDumpNode& prev = n.children.back();
    prev.label += "/";
    prev.label += label;
    prev.value += "/" + std::to_string(v);
    prev.number.reset();
  }
};
// "0x16(22)"
struct HexDec {
  void Put(SDumpNode& n, const char* label, uint64_t v) const {
    n.Text(label, HexText(v, 2) + "(" + std::to_string(v) + ")");
    n.children.back().number = static_cast<int64_t>(v);
  }
};
// "1(23.976)"; a code without a name shows the number alone.
struct NumName {
  const char* (*name)(unsigned);
  void Put(SDumpNode& n, const char* label, uint64_t v) const {
    const char* s = name(static_cast<unsigned>(v));
    n.Text(label, std::to_string(v) + (s ? std::string("(") + s + ")" : std::string()));
    n.children.back().number = static_cast<int64_t>(v);
  }
};
// Object fragment: its size, and the object header at the start of a first
// fragment.
struct FragmentShow {
  bool first;
  bool objectHeader;
  void Put(SDumpNode& n, const char*, const std::vector<uint8_t>& v) const {
    n.Int("FragmentSize", static_cast<int64_t>(v.size()));
    if (objectHeader && first && v.size() >= 7) {
      n.Int("ObjectDataLength", v[0] << 16 | v[1] << 8 | v[2]);
      n.Int("ObjectWidth", v[3] << 8 | v[4]);
      n.Int("ObjectHeight", v[5] << 8 | v[6]);
    }
  }
};

template <class IO>
void Numbered(IO& io, const char* label, uint64_t i, auto&& body) {
  io.Section(label, static_cast<int>(i + 1), body);
}

// PTS and DTS lines, the segment descriptor; returns the open length scope
// of the body.
template <class IO, class Seg>
rec::LengthScope<IO> Header(IO& io, Seg& s, uint8_t type) {
  if constexpr (IO::kDumping) {
    io.Node().Text("PTS", TicksText(s.m_nPts) + "(" + std::to_string(s.m_nPts) + ")");
    io.Node().Text("DTS", TicksText(s.m_nDts) + "(" + std::to_string(s.m_nDts) + ")");
  }
  std::optional<rec::LengthScope<IO>> len;
  io.Section("SegmentDescriptor", [&] {
    uint8_t t = type;
    io.U8("SegmentType", t, HexDec{});
    if (t != type) io.Fail("is " + HexText(t, 2) + ", not " + HexText(type, 2));
    len.emplace(io.Length(16, "SegmentLength"));
  });
  if constexpr (IO::kReading) s.m_nLength = static_cast<uint16_t>(len->Value());
  return std::move(*len);
}

}  // namespace segsyntax

template <class IO>
void Syntax(IO& io, SVideoDescriptor& v) {
  using namespace segsyntax;
  io.U16("Width", v.width);
  io.U16("Height", v.height, JoinPrev{});
  io.Bits(4, "FrameRate", v.frameRateCode, NumName{FrameRateName});
  io.Bits(4, "Reserved", v.reserved, Hidden{});
}

template <class IO>
void Syntax(IO& io, SCompositionHeader& h) {
  using namespace segsyntax;
  io.Record("VideoDescriptor", h.video);
  io.Section("CompositionDescriptor", [&] {
    io.U16("CompositionNumber", h.number);
    io.Bits(2, "CompositionState", h.state, NumName{CompositionStateName});
    io.Bits(6, "Reserved", h.stateReserved, Hidden{});
  });
}

// The fragment runs to the end of the segment. `objectData`: the first
// fragment of an object begins with the object's length and size, which the
// dump shows.
template <class IO>
void Syntax(IO& io, SSequenceFragment& f, bool objectData = false) {
  using namespace segsyntax;
  io.Section("SequenceDescriptor", [&] {
    io.Bits(1, "FirstFlag", f.first);
    io.Bits(1, "LastFlag", f.last, JoinPrev{});
    io.Bits(6, "Reserved", f.reserved, Hidden{});
  });
  io.Rest("Fragment", f.fragment, FragmentShow{f.first, objectData});
}

template <class IO>
void Syntax(IO& io, SWindow& w) {
  using namespace segsyntax;
  io.U8("WindowID", w.id);
  io.U16("HorPos", w.x);
  io.U16("VerPos", w.y, JoinPrev{});
  io.U16("Width", w.width);
  io.U16("Height", w.height, JoinPrev{});
}

template <class IO>
void Syntax(IO& io, SCompositionObject& o) {
  using namespace segsyntax;
  io.U16("ObjectIdRef", o.objectIdRef);
  io.U8("WindowIdRef", o.windowIdRef);
  io.Bits(1, "ObjectCroppedFlag", o.cropped);
  io.Bits(1, "ForcedOnFlag", o.forcedOn);
  if constexpr (IO::kWriting) {
    uint8_t zero = 0;  // kept when parsed, always written as 0
    io.Bits(6, "Reserved", zero, Hidden{});
  } else {
    io.Bits(6, "Reserved", o.reserved, Hidden{});
  }
  io.U16("CompositionObjectHorPos", o.x);
  io.U16("CompositionObjectVerPos", o.y);
  if (o.cropped) {
    io.U16("ObjectCroppingHorPos", o.cropX);
    io.U16("ObjectCroppingVerPos", o.cropY);
    io.U16("ObjectCroppingWidth", o.cropWidth);
    io.U16("ObjectCroppingHeight", o.cropHeight);
  }
}

template <class IO>
void Syntax(IO& io, SPaletteEntry& e) {
  using namespace segsyntax;
  io.U8("PaletteEntryId", e.id, Hidden{});
  io.U8("Y", e.y, Hidden{});
  io.U8("Cr", e.cr, Hidden{});
  io.U8("Cb", e.cb, Hidden{});
  io.U8("T", e.t, Hidden{});
}

// ---- Segments.

template <class IO>
void Syntax(IO& io, CPds& s) {
  using namespace segsyntax;
  auto len = Header(io, s, kSegPds);
  io.U8("PaletteId", s.m_nPaletteId);
  io.U8("PaletteVersion", s.m_nPaletteVersion);
  if constexpr (IO::kWriting) {
    // At most 256 entries go into one segment.
    std::vector<SPaletteEntry> first(s.m_entries.begin(),
                                     s.m_entries.begin() + std::min<size_t>(s.m_entries.size(), 256));
    io.Elements(first, first.size(), [&](SPaletteEntry& e) { Syntax(io, e); });
  } else {
    s.m_entries.clear();
    while (io.Remaining() > 0) {
      s.m_entries.emplace_back();
      // The dump shows only the entry count.
      if constexpr (IO::kDumping) Syntax(io, s.m_entries.back());
      else io.Section("PaletteEntry", static_cast<int>(s.m_entries.size()), [&] { Syntax(io, s.m_entries.back()); });
    }
  }
  if constexpr (IO::kDumping) io.Node().Int("PaletteEntryCount", static_cast<int64_t>(s.m_entries.size()));
  len.End();
}

template <class IO>
void Syntax(IO& io, COds& s) {
  using namespace segsyntax;
  auto len = Header(io, s, kSegOds);
  io.U16("ObjectId", s.m_nObjectId);
  io.U8("ObjectVersion", s.m_nObjectVersion);
  Syntax(io, s.m_sequence, true);
  len.End();
}

template <class IO>
void Syntax(IO& io, CPcs& s) {
  using namespace segsyntax;
  auto len = Header(io, s, kSegPcs);
  Syntax(io, s.m_composition);
  io.Bits(1, "PaletteUpdateFlag", s.m_bPaletteUpdate);
  io.Reserved(7);
  io.U8("PaletteIdRef", s.m_nPaletteIdRef);
  io.Array(8, "NumberOfCompositionObjects", s.m_objects, [&](SCompositionObject& o, uint64_t i) {
    Numbered(io, "CompositionObject", i, [&] { Syntax(io, o); });
  });
  len.End();
}

template <class IO>
void Syntax(IO& io, CWds& s) {
  using namespace segsyntax;
  auto len = Header(io, s, kSegWds);
  io.Array(8, "NumberOfWindows", s.m_windows,
           [&](SWindow& w, uint64_t i) { Numbered(io, "Window", i, [&] { Syntax(io, w); }); });
  len.End();
}

template <class IO>
void Syntax(IO& io, CIcs& s) {
  using namespace segsyntax;
  auto len = Header(io, s, kSegIcs);
  Syntax(io, s.m_composition);
  Syntax(io, s.m_sequence);
  len.End();
}

template <class IO>
void Syntax(IO& io, CEs& s) {
  auto len = segsyntax::Header(io, s, kSegEnd);
  len.End();
}

// ---- Interactive composition.

template <class IO>
void Syntax(IO& io, SEffect& e) {
  using namespace segsyntax;
  io.U24("Duration", e.duration);
  io.U8("PaletteIdRef", e.paletteIdRef);
  io.Array(8, "NumberOfCompositionObjects", e.objects, [&](SCompositionObject& o, uint64_t i) {
    Numbered(io, "CompositionObject", i, [&] { Syntax(io, o); });
  });
}

template <class IO>
void Syntax(IO& io, SEffectSequence& s) {
  using namespace segsyntax;
  io.Array(8, "NumberOfWindows", s.windows,
           [&](SWindow& w, uint64_t i) { Numbered(io, "Window", i, [&] { Syntax(io, w); }); });
  io.Array(8, "NumberOfEffects", s.effects,
           [&](SEffect& e, uint64_t i) { Numbered(io, "Effect", i, [&] { Syntax(io, e); }); });
}

template <class IO>
void Syntax(IO& io, SButton& b) {
  using namespace segsyntax;
  io.U16("Id", b.id);
  io.U16("NumbericValue", b.numericValue);
  io.Bits(1, "AutoActionFlag", b.autoAction);
  io.Reserved(7);
  io.U16("HorPos", b.x);
  io.U16("VerPos", b.y);
  io.U16("Up", b.up);
  io.U16("Down", b.down);
  io.U16("Left", b.left);
  io.U16("Right", b.right);
  io.Section("Normal", [&] {
    io.U16("StartObjectId", b.normal.startObjectId);
    io.U16("EndObjectId", b.normal.endObjectId);
    io.Bits(1, "RepeatFlag", b.normalRepeat);
    io.Reserved(7);
  });
  io.Section("Selected", [&] {
    io.U8("SoundId", b.selectedSound);
    io.U16("StartObjectId", b.selected.startObjectId);
    io.U16("EndObjectId", b.selected.endObjectId);
    io.Bits(1, "RepeatFlag", b.selectedRepeat);
    io.Reserved(7);
  });
  io.Section("Activated", [&] {
    io.U8("SoundId", b.activatedSound);
    io.U16("StartObjectId", b.activated.startObjectId);
    io.U16("EndObjectId", b.activated.endObjectId);
  });
  io.Array(16, "NumberOfCommands", b.commands, [&](SNavCommand& c, uint64_t i) {
    std::vector<uint8_t> v(c.begin(), c.end());
    io.Section("Command", static_cast<int>(i + 1), [&] { io.Raw(12, "Bytes", v); });
    std::copy(v.begin(), v.end(), c.begin());
  });
}

template <class IO>
void Syntax(IO& io, SBog& g) {
  using namespace segsyntax;
  io.U16("DefaultButtonIdRef", g.defaultButtonIdRef);
  io.Array(8, "NumberOfButtons", g.buttons,
           [&](SButton& b, uint64_t i) { Numbered(io, "Button", i, [&] { Syntax(io, b); }); });
}

template <class IO>
void Syntax(IO& io, SIgPage& p) {
  using namespace segsyntax;
  io.U8("PageId", p.id);
  io.U8("Version", p.version);
  std::vector<uint8_t> umt(p.umt.begin(), p.umt.end());
  io.Raw(8, "UMT", umt);
  std::copy(umt.begin(), umt.end(), p.umt.begin());
  io.Record("InEffects", p.inEffects);
  io.Record("OutEffects", p.outEffects);
  io.U8("AnimationFrameRateCode", p.animationFrameRateCode);
  io.U16("DefaultSelectedButtonId", p.defaultSelectedButtonId);
  io.U16("DefaultActivatedButtonId", p.defaultActivatedButtonId);
  io.U8("PaletteIdRef", p.paletteIdRef);
  io.Array(8, "NumberOfBogs", p.bogs, [&](SBog& g, uint64_t i) { Numbered(io, "Bog", i, [&] { Syntax(io, g); }); });
}

template <class IO>
void Syntax(IO& io, SInteractiveComposition& c) {
  using namespace segsyntax;
  io.U24("Length", c.length);
  size_t start = io.Pos();
  io.Bits(1, "StreamModel", c.streamModel);
  io.Bits(1, "UserInterfaceModel", c.userInterfaceModel);
  io.Reserved(6);
  if (c.streamModel == 0) {
    io.Reserved(7);
    io.Bits(33, "CompositionTimeOutPts", c.compositionTimeOutPts);
    io.Reserved(7);
    io.Bits(33, "SelectionTimeOutPts", c.selectionTimeOutPts);
  }
  io.U24("UserTimeOutDuration", c.userTimeOutDuration);
  io.Array(8, "NumberOfPages", c.pages, [&](SIgPage& p, uint64_t i) { Numbered(io, "Page", i, [&] { Syntax(io, p); }); });
  if constexpr (IO::kReading) {
    if (io.Pos() - start != c.length)
      io.Fail("the composition uses " + std::to_string(io.Pos() - start) + " bytes, its length says " +
              std::to_string(c.length));
  }
}

}  // namespace zv
