#include "records/extension_data.h"

#include <cstdio>
#include <cstring>

#include "records/syntax.h"

namespace zv {

std::string ScrambleText(const std::string& text, const std::string& key) {
  if (key.empty()) return text;
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
  return out;
}

// Two length-prefixed texts, scrambled.
template <class IO>
void Syntax(IO& io, SMrqnToolData& t) {
  for (auto [label, text] : {std::pair{"Company", &t.company}, std::pair{"Descriptor", &t.descriptor}}) {
    std::string stored = ScrambleText(*text);
    uint64_t n = stored.size();
    io.U8("Length", n, rec::Hidden{});
    io.Text(n, label, stored, rec::Hidden{});
    if constexpr (IO::kReading) *text = ScrambleText(stored);
    if constexpr (IO::kDumping) io.Node().Text(label, PrintableText(*text));
  }
}

void SMrqnToolData::Parse(BeReader& r) {
  rec::Reader rd(r.Here(), r.Remaining());
  Syntax(rd, *this);
  r.Skip(rd.Pos());
}

size_t SMrqnToolData::Write(BeWriter& w) const {
  std::vector<uint8_t> b = rec::Encode(*this);
  w.Bytes(b.data(), b.size());
  return b.size();
}

void SMrqnToolData::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out); }

SExtDataEntry SExtDataEntry::FromRecord(uint16_t id1, uint16_t id2, std::shared_ptr<SExtDataBase> rec) {
  SExtDataEntry e;
  e.id1 = id1;
  e.id2 = id2;
  BeWriter m;
  size_t n = rec->Write(m);
  e.data.resize(n);
  BeWriter w(e.data);
  rec->Write(w);
  e.length = static_cast<uint32_t>(n);
  e.record = std::move(rec);
  return e;
}

std::shared_ptr<SExtDataBase> MakeToolDataRecord(uint16_t id1, uint16_t id2) {
  if (id1 == SMrqnToolData::kId1 && id2 == SMrqnToolData::kId2) return std::make_shared<SMrqnToolData>();
  return nullptr;
}

// The block from its length field on. Entry addresses count from the
// length field; the data go packed after the entry table, each padded to 4
// bytes. A known entry whose bytes decode gets its decoded view.
template <class IO>
void Syntax(IO& io, CEdeFolder& f) {
  const size_t base = io.Pos();
  auto len = io.Length(32, "Length");
  const bool empty = IO::kReading ? len.Value() == 0 : f.entries.empty();
  if (!empty) {
    auto dataBlock = io.Address(32, "DataBlockStartAddress", base);
    if constexpr (IO::kReading) f.dataBlockStartAddress = static_cast<uint32_t>(dataBlock.value);
    io.Reserved(24);
    std::vector<rec::AddressField> at;
    io.Array(8, "NumberOfExtDataEntries", f.entries, [&](SExtDataEntry& e, uint64_t i) {
      io.Section("ExtDataEntry", static_cast<int>(i), [&] {
        io.U16("ExtDataEntry_ID1", e.id1, rec::Hex{4});
        io.U16("ExtDataEntry_ID2", e.id2, rec::Hex{4});
        at.push_back(io.Address(32, "ExtDataStartAddress", base));
        uint64_t n = IO::kWriting ? e.data.size() : e.length;
        io.U32("ExtDataLength", n);
        if constexpr (IO::kReading) {
          e.startAddress = static_cast<uint32_t>(at.back().value);
          e.length = static_cast<uint32_t>(n);
        }
      });
    });
    io.Mark(dataBlock);
    for (size_t i = 0; i < f.entries.size(); ++i) {
      SExtDataEntry& e = f.entries[i];
      io.Section("ExtData", static_cast<int>(i), [&] {
        io.At(at[i]);
        io.Raw(IO::kWriting ? e.data.size() : e.length, "Data", e.data, rec::ByteCount{});
        if constexpr (IO::kWriting) io.Align(4, base);
        if constexpr (IO::kReading) {
          std::shared_ptr<SExtDataBase> view = f.factory ? f.factory(e.id1, e.id2) : nullptr;
          if (!view) view = MakeToolDataRecord(e.id1, e.id2);
          // A view that does not decode is simply not shown; the bytes stay.
          try {
            if (view) {
              BeReader rr(e.data);
              view->Parse(rr);
              e.record = std::move(view);
            }
          } catch (const FormatError&) {
          }
        }
        if constexpr (IO::kDumping)
          if (e.record) e.record->DumpData(e.data, io.Node());
      });
    }
  }
  len.EndSkippingRest();
}

ZV_SYNTAX_INSTANTIATE(CEdeFolder);

void CEdeFolder::Layout() {
  CEdeFolder back;
  std::vector<uint8_t> b = rec::Encode(*this);
  rec::Reader rd(b);
  Syntax(rd, back);
  dataBlockStartAddress = back.dataBlockStartAddress;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].startAddress = back.entries[i].startAddress;
    entries[i].length = back.entries[i].length;
  }
}

void CEdeFolder::Write(BeWriter& w) const {
  std::vector<uint8_t> b = rec::Encode(*this);
  w.Bytes(b.data(), b.size());
}

size_t CEdeFolder::Size() const { return rec::Encode(*this).size(); }

void CEdeFolder::Parse(BeReader& r, ExtRecordFactory f) {
  rec::Reader rd(r.Here(), r.Remaining());
  CEdeFolder x;
  x.factory = f;
  Syntax(rd, x);
  *this = std::move(x);
  r.Skip(rd.Pos());
}

void CEdeFolder::Dump(SDumpNode& out) const {
  SDumpNode& b = out.Block("ExtensionData");
  std::vector<uint8_t> bytes = rec::Encode(*this);
  rec::Dumper d(bytes, b);
  CEdeFolder x;
  x.factory = factory;
  Syntax(d, x);
}

const SMrqnToolData* CEdeFolder::ToolData() const {
  for (const auto& e : entries)
    if (auto* t = dynamic_cast<const SMrqnToolData*>(e.record.get())) return t;
  return nullptr;
}

static constexpr char kToolMagic[4] = {'M', 'R', 'Q', 'N'};

bool WriteToolArea(const CEdeFolder& folder, uint8_t* area) {
  std::vector<uint8_t> b = rec::Encode(folder);
  if (4 + b.size() > kToolAreaSize) return false;
  std::memcpy(area, kToolMagic, 4);
  std::memcpy(area + 4, b.data(), b.size());
  return true;
}

std::optional<CEdeFolder> ParseToolArea(const uint8_t* area) {
  if (std::memcmp(area, kToolMagic, 4) != 0) return std::nullopt;
  try {
    BeReader r(area + 4, kToolAreaSize - 4);
    CEdeFolder f;
    f.Parse(r, nullptr);
    return f;
  } catch (const FormatError&) {
    return std::nullopt;
  }
}

CEdeFolder MakeToolFolder() {
  auto t = std::make_shared<SMrqnToolData>();
  t->descriptor = std::string("Zelvane ") + ZV_VERSION;
  CEdeFolder f;
  f.entries.push_back(SExtDataEntry::FromRecord(SMrqnToolData::kId1, SMrqnToolData::kId2, std::move(t)));
  f.Layout();
  return f;
}

}  // namespace zv
