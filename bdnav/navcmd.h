// HDMV navigation commands: the 12-byte record, command lists, the command
// text assembler and its inverse.
//
// Every command the system makes is composed as a line of text ("JumpTitle 1",
// "If GPR2020 == 1") and assembled here, so one table decides every encoding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

class ArchiveIn;
class ArchiveOut;
class BeReader;
class BeWriter;

// One navigation command, its 12 bytes in file order.
struct CNavCmd {
  static constexpr size_t kSize = 12;
  std::array<uint8_t, kSize> bytes{};

  uint8_t OperandCount() const { return bytes[0] >> 5; }
  uint8_t Group() const { return (bytes[0] >> 3) & 3; }  // 0 branch, 1 compare, 2 set
  uint8_t SubGroup() const { return bytes[0] & 7; }
  bool DstImmediate() const { return (bytes[1] & 0x80) != 0; }
  bool SrcImmediate() const { return (bytes[1] & 0x40) != 0; }
  uint8_t BranchOption() const { return bytes[1] & 0x0F; }
  uint8_t CompareOption() const { return bytes[2] & 0x0F; }
  uint8_t SetOption() const { return bytes[3] & 0x1F; }
  uint32_t Dst() const { return Word(4); }
  uint32_t Src() const { return Word(8); }
  void SetDst(uint32_t v) { PutWord(4, v); }
  void SetSrc(uint32_t v) { PutWord(8, v); }
  void Clear() { bytes.fill(0); }

  // Project-file record: a 32-bit 0 (skipped on load), then the 12 bytes.
  void Store(ArchiveOut& ar) const;
  void Load(ArchiveIn& ar);

  bool operator==(const CNavCmd&) const = default;

 private:
  uint32_t Word(size_t at) const {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
  }
  void PutWord(size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
};

// The commands of one movie object or one button, in execution order.
class CNavCmds {
 public:
  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const CNavCmd& operator[](size_t i) const { return items_[i]; }
  CNavCmd& operator[](size_t i) { return items_[i]; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  void Add(const CNavCmd& cmd) { items_.push_back(cmd); }
  // Assembles `text` and appends it; false (nothing appended) when it does not parse.
  bool Add(std::string_view text);
  void Clear() { items_.clear(); }
  std::vector<CNavCmd>& Items() { return items_; }
  const std::vector<CNavCmd>& Items() const { return items_; }

  // Replaces the list with `n` consecutive commands of `buf` (`size` bytes
  // available); returns 12 x n. Throws FormatError when they do not fit.
  size_t Read(const uint8_t* buf, size_t size, size_t n);
  size_t Read(BeReader& in, size_t n);
  // Writes every command; with a null `buf` only measures. Returns 12 x count.
  size_t Write(uint8_t* buf, size_t cap) const;
  void Write(BeWriter& out) const;

  // Project-file form after the named-object part: 32-bit count, then records.
  void StoreRecords(ArchiveOut& ar) const;
  void LoadRecords(ArchiveIn& ar);

  bool operator==(const CNavCmds&) const = default;

 private:
  std::vector<CNavCmd> items_;
};

// Indices of the keyword table, the comparison table and the operation table;
// the builders below take these.
enum NavKeyword : int {
  kNavNop = 0,
  kNavGoTo,
  kNavBreak,
  kNavJumpObject,
  kNavJumpTitle,
  kNavCallObject,
  kNavCallTitle,
  kNavResume,
  kNavPlayPlaylist,
  kNavPlayPlaylistAtPlayItem,
  kNavPlayPlaylistAtMark,
  kNavTerminatePlaylist,
  kNavLinkPlayItem,
  kNavLinkMark,
  kNavIf,
  kNavSet,
  kNavSetStream,
  kNavSetNVTimer,
  kNavSetButtonPage,
  kNavEnableButton,
  kNavDisableButton,
  kNavSetSecondaryStream,
  kNavPopUpMenuOff,
  kNavStillOn,
  kNavStillOff,
  kNavKeywordCount
};

enum NavCompare : int {
  kCmpBitAnd = 1,  // "&"
  kCmpEq,          // "=="
  kCmpNe,          // "!="
  kCmpGe,          // ">="
  kCmpGt,          // ">"
  kCmpLe,          // "<="
  kCmpLt,          // "<"
  kNavCompareCount
};

enum NavOperation : int {
  kOpMove = 1,  // "="
  kOpSwap,
  kOpAdd,
  kOpSub,
  kOpMul,  // "x"
  kOpDiv,
  kOpMod,
  kOpRandom,
  kOpAnd,
  kOpOr,
  kOpXor,
  kOpBitSet,
  kOpBitClear,
  kOpShl,
  kOpShr,
  kNavOperationCount
};

// Keyword, comparison and operation texts by index; nullptr for an index
// outside the table (comparison and operation index 0 is unused).
const char* NavKeywordText(int keyword);
// The keyword index of a command's opcode, -1 when no keyword has it.
int NavKeywordOf(const CNavCmd& cmd);
const char* NavCompareText(int compare);
const char* NavOperationText(int operation);

// Longest command line accepted.
constexpr size_t kMaxCommandText = 259;

// Assembles one line of command text into `cmd`. Returns false when the text
// is not a valid command; `cmd` is then all zero.
bool ParseCommandText(std::string_view text, CNavCmd& cmd);

// The text of `cmd`, such that ParseCommandText gives back the same 12
// bytes. Commands the assembler cannot produce (foreign files) come out as
// "raw" and their bytes in hex, followed by the closest reading in brackets
// when there is one.
std::string CommandText(const CNavCmd& cmd);

// Builders: compose the text line and assemble it. `reg` is a GPR number.
bool MakeKeyword(CNavCmd& cmd, int keyword);
bool MakeBranch(CNavCmd& cmd, int keyword, int64_t number);
bool MakeBranchWithRegister(CNavCmd& cmd, int keyword, int64_t number, int reg);
bool MakeIf(CNavCmd& cmd, int compare, int reg, int64_t number);
// `kind`: 0 the value is a number, 1 a GPR number, 2 a PSR number.
bool MakeSet(int kind, CNavCmd& cmd, int operation, int reg, int64_t value);
// SetStream GPR2010 <GPRreg or X> <1|0> X X; reg -1 leaves the subtitle alone.
bool MakeSetStream(int reg, CNavCmd& cmd, bool display);
// SetButtonPage <button or X> <page or X> 1; -1 leaves either unchanged.
bool MakeSetButtonPage(int page, int button, CNavCmd& cmd);

}  // namespace zv
