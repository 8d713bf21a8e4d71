#include "mux/extension_data.h"

#include <cstdio>
#include <cstring>

namespace zv {

std::string ScrambleText(const std::string& text, const std::string& key) {
  if (key.empty()) return text;
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
  return out;
}

void SMrqnToolData::Parse(BeReader& r) {
  company = ScrambleText(r.Str(r.U8()));
  descriptor = ScrambleText(r.Str(r.U8()));
}

size_t SMrqnToolData::Write(BeWriter& w) const {
  size_t start = w.Size();
  w.U8(company.size());  // range-checked: a text longer than 255 is a caller bug
  std::string c = ScrambleText(company);
  w.Bytes(c.data(), c.size());
  w.U8(descriptor.size());
  std::string d = ScrambleText(descriptor);
  w.Bytes(d.data(), d.size());
  return w.Size() - start;
}

void SMrqnToolData::Dump(SDumpNode& out) const {
  out.Text("Company", PrintableText(company));
  out.Text("Descriptor", PrintableText(descriptor));
}

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

static size_t Pad4(size_t n) { return (n + 3) & ~size_t{3}; }

size_t CEdeFolder::Size() const {
  if (entries.empty()) return 4;
  size_t n = 12 + 12 * entries.size();
  for (const auto& e : entries) n += Pad4(e.data.size());
  return n;
}

void CEdeFolder::Layout() {
  dataBlockStartAddress = entries.empty() ? 0 : static_cast<uint32_t>(12 + 12 * entries.size());
  uint32_t addr = dataBlockStartAddress;
  for (auto& e : entries) {
    e.startAddress = addr;
    e.length = static_cast<uint32_t>(e.data.size());
    addr += static_cast<uint32_t>(Pad4(e.data.size()));
  }
}

void CEdeFolder::Write(BeWriter& w) const {
  size_t total = Size();
  w.U32(total - 4);
  if (entries.empty()) return;
  // Data always goes packed after the entry table, so the addresses are
  // derived here rather than trusted from the record.
  uint32_t addr = static_cast<uint32_t>(12 + 12 * entries.size());
  w.U32(addr);
  w.Zeros(3);
  w.U8(entries.size());
  for (const auto& e : entries) {
    w.U16(e.id1);
    w.U16(e.id2);
    w.U32(addr);
    w.U32(e.data.size());
    addr += static_cast<uint32_t>(Pad4(e.data.size()));
  }
  for (const auto& e : entries) {
    w.Bytes(e.data.data(), e.data.size());
    w.Zeros(Pad4(e.data.size()) - e.data.size());
  }
}

void CEdeFolder::Parse(BeReader& outer, ExtRecordFactory factory) {
  entries.clear();
  dataBlockStartAddress = 0;
  uint32_t len = outer.U32();
  if (len == 0) return;
  // Addresses count from the length field, so view the block from there.
  BeReader whole(outer.Here() - 4, size_t{len} + 4);
  outer.Skip(len);
  whole.Skip(4);
  dataBlockStartAddress = whole.U32();
  whole.Skip(3);
  unsigned count = whole.U8();
  for (unsigned i = 0; i < count; ++i) {
    SExtDataEntry e;
    e.id1 = whole.U16();
    e.id2 = whole.U16();
    e.startAddress = whole.U32();
    e.length = whole.U32();
    entries.push_back(std::move(e));
  }
  for (auto& e : entries) {
    BeReader d(whole.Data(), whole.Size());
    d.Seek(e.startAddress);
    e.data = d.Vec(e.length);
    std::shared_ptr<SExtDataBase> rec = factory ? factory(e.id1, e.id2) : nullptr;
    if (!rec) rec = MakeToolDataRecord(e.id1, e.id2);
    if (!rec) continue;
    // A view that does not decode is simply not shown; the bytes stay.
    try {
      BeReader rr(e.data);
      rec->Parse(rr);
      e.record = std::move(rec);
    } catch (const FormatError&) {
    }
  }
}

void CEdeFolder::Dump(SDumpNode& out) const {
  SDumpNode& b = out.Block("ExtensionData");
  b.Int("Length", static_cast<int64_t>(Size() - 4));
  if (entries.empty()) return;
  b.Int("DataBlockStartAddress", dataBlockStartAddress);
  b.Int("NumberOfExtDataEntries", static_cast<int64_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    SDumpNode& n = b.Block("ExtDataEntry", static_cast<int>(i));
    n.Hex4("ExtDataEntry_ID1", e.id1);
    n.Hex4("ExtDataEntry_ID2", e.id2);
    n.Int("ExtDataStartAddress", e.startAddress);
    n.Int("ExtDataLength", e.length);
    if (e.record) e.record->Dump(n);
  }
}

const SMrqnToolData* CEdeFolder::ToolData() const {
  for (const auto& e : entries)
    if (auto* t = dynamic_cast<const SMrqnToolData*>(e.record.get())) return t;
  return nullptr;
}

static constexpr char kToolMagic[4] = {'M', 'R', 'Q', 'N'};

bool WriteToolArea(const CEdeFolder& folder, uint8_t* area) {
  if (4 + folder.Size() > kToolAreaSize) return false;
  std::memcpy(area, kToolMagic, 4);
  BeWriter w(area + 4, kToolAreaSize - 4);
  folder.Write(w);
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
