// Extension-data blocks shared by clip information and playlist files, the
// tool-data record they may carry, and the dump tree every disc record of
// these files renders itself into.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "records/dump_tree.h"

namespace zv {

// A decoded view of one extension-data entry. Records that cannot produce
// bytes of their own return 0 from Write.
class SExtDataBase {
 public:
  virtual ~SExtDataBase() = default;
  virtual void Reset() {}
  // Throws FormatError on inconsistent data.
  virtual void Parse(BeReader& r) = 0;
  // Serializes into w (measures when w has no buffer); returns the byte count.
  virtual size_t Write(BeWriter& w) const = 0;
  virtual void Dump(SDumpNode& out) const = 0;
  // The entry's own bytes, which this view decoded, shown as they stand.
  virtual void DumpData(const std::vector<uint8_t>&, SDumpNode& out) const { Dump(out); }
};

// Texts of the tool-data record are XOR-scrambled with a repeating key; the
// same call unscrambles. An empty key copies.
std::string ScrambleText(const std::string& text, const std::string& key = "KQVW");

// Identifies the authoring tool that wrote a file.
class SMrqnToolData : public SExtDataBase {
 public:
  static constexpr uint16_t kId1 = 0x1000;
  static constexpr uint16_t kId2 = 0x0001;
  std::string company = "Morquin";
  std::string descriptor;

  void Parse(BeReader& r) override;
  size_t Write(BeWriter& w) const override;
  void Dump(SDumpNode& out) const override;
};

struct SExtDataEntry {
  uint16_t id1 = 0;
  uint16_t id2 = 0;
  uint32_t startAddress = 0;  // as read or as last written
  uint32_t length = 0;
  std::vector<uint8_t> data;  // written back as they stand
  std::shared_ptr<SExtDataBase> record;  // decoded view, when the ids are known and the bytes parse

  // An entry whose bytes come from a record.
  static SExtDataEntry FromRecord(uint16_t id1, uint16_t id2, std::shared_ptr<SExtDataBase> rec);
};

// Creates the decoded view for known ids, or null.
using ExtRecordFactory = std::shared_ptr<SExtDataBase> (*)(uint16_t id1, uint16_t id2);

// The tool-data record is known in every extension block.
std::shared_ptr<SExtDataBase> MakeToolDataRecord(uint16_t id1, uint16_t id2);

class CEdeFolder {
 public:
  std::vector<SExtDataEntry> entries;
  uint32_t dataBlockStartAddress = 0;
  // Decoded views of the entries the containing file knows; set before a read.
  ExtRecordFactory factory = nullptr;

  // Sets the stored addresses to those Write uses (data packed after the
  // entry table, each padded to 4 bytes), so a dump shows what is written.
  void Layout();
  // Block bytes from its length field on; measures when w has no buffer.
  void Write(BeWriter& w) const;
  size_t Size() const;
  // `r` is positioned at the length field; it is left after the block.
  void Parse(BeReader& r, ExtRecordFactory factory);
  void Dump(SDumpNode& out) const;
  const SMrqnToolData* ToolData() const;
};

// The block's syntax, walked by the files that carry one.
template <class IO>
void Syntax(IO& io, CEdeFolder& f);

// The tool-data container placed in a reserved area: "MRQN" and an
// extension block with the tool-data entry.
constexpr size_t kToolAreaSize = 128;
// Fills `area` (kToolAreaSize bytes, zero-filled); false when it does not fit.
bool WriteToolArea(const CEdeFolder& folder, uint8_t* area);
// Reads the container when the area holds one.
std::optional<CEdeFolder> ParseToolArea(const uint8_t* area);
// The container this build writes into new files.
CEdeFolder MakeToolFolder();

}  // namespace zv
