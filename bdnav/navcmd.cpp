#include "bdnav/navcmd.h"

#include <cstdio>
#include <iterator>
#include <strings.h>

#include "platform/archive_io.h"
#include "platform/bytes.h"

namespace zv {

// ---------------------------------------------------------------------------
// Records and lists

void CNavCmd::Store(ArchiveOut& ar) const {
  ar.U32(0);
  ar.Raw(bytes.data(), kSize);
}

void CNavCmd::Load(ArchiveIn& ar) {
  ar.U32();
  ar.Raw(bytes.data(), kSize);
}

bool CNavCmds::Add(std::string_view text) {
  CNavCmd cmd;
  if (!ParseCommandText(text, cmd)) return false;
  items_.push_back(cmd);
  return true;
}

size_t CNavCmds::Read(const uint8_t* buf, size_t size, size_t n) {
  BeReader in(buf, size);
  return Read(in, n);
}

size_t CNavCmds::Read(BeReader& in, size_t n) {
  // Check the whole run first so a short buffer never allocates for a huge n.
  if (n > in.Remaining() / CNavCmd::kSize) throw FormatError("command list runs past the end of the data");
  items_.assign(n, CNavCmd{});
  for (auto& c : items_) in.Bytes(c.bytes.data(), CNavCmd::kSize);
  return n * CNavCmd::kSize;
}

size_t CNavCmds::Write(uint8_t* buf, size_t cap) const {
  BeWriter out = buf ? BeWriter(buf, cap) : BeWriter();
  Write(out);
  return out.Size();
}

void CNavCmds::Write(BeWriter& out) const {
  for (const auto& c : items_) out.Bytes(c.bytes.data(), CNavCmd::kSize);
}

void CNavCmds::StoreRecords(ArchiveOut& ar) const {
  ar.U32(static_cast<uint32_t>(items_.size()));
  for (const auto& c : items_) c.Store(ar);
}

void CNavCmds::LoadRecords(ArchiveIn& ar) {
  uint32_t n = ar.U32();
  // Each record is 16 bytes; a count the archive cannot hold is corrupt.
  if (n > ar.Remaining() / 16) throw ArchiveError("the project file is truncated or corrupt");
  items_.assign(n, CNavCmd{});
  for (auto& c : items_) c.Load(ar);
}

// ---------------------------------------------------------------------------
// Tables

namespace {

enum class Form {
  kNone,        // no operands
  kDst,         // one operand
  kTitle,       // one operand, immediates clamped to 0xFFFF
  kDstSrc,      // two operands
  kIf,          // operand, comparison, operand
  kSet,         // GPR, operation, operand
  kSetStream,   // five fields
  kNVTimer,     // two operands, no PSR
  kButtonPage,  // button, page, flag
  kUnsupported, // recognised but never assembled
};

struct KeywordDef {
  const char* name;
  uint8_t byte0;
  uint8_t optionByte;  // 1 branch, 2 compare, 3 set
  uint8_t option;
  Form form;
};

constexpr KeywordDef kKeywords[kNavKeywordCount] = {
    {"Nop", 0x00, 1, 0, Form::kNone},
    {"GoTo", 0x20, 1, 1, Form::kDst},
    {"Break", 0x00, 1, 2, Form::kNone},
    {"JumpObject", 0x21, 1, 0, Form::kDst},
    {"JumpTitle", 0x21, 1, 1, Form::kTitle},
    {"CallObject", 0x21, 1, 2, Form::kDst},
    {"CallTitle", 0x21, 1, 3, Form::kTitle},
    {"Resume", 0x01, 1, 4, Form::kNone},
    {"PlayPlaylist", 0x22, 1, 0, Form::kDst},
    {"PlayPlaylistAtPlayItem", 0x42, 1, 1, Form::kDstSrc},
    {"PlayPlaylistAtMark", 0x42, 1, 2, Form::kDstSrc},
    {"TerminatePlaylist", 0x02, 1, 3, Form::kNone},
    {"LinkPlayItem", 0x22, 1, 4, Form::kDst},
    {"LinkMark", 0x22, 1, 5, Form::kDst},
    {"If", 0x48, 2, 0, Form::kIf},
    {"Set", 0x50, 3, 0, Form::kSet},
    {"SetStream", 0x51, 3, 1, Form::kSetStream},
    {"SetNVTimer", 0x51, 3, 2, Form::kNVTimer},
    {"SetButtonPage", 0x51, 3, 3, Form::kButtonPage},
    {"EnableButton", 0x31, 3, 4, Form::kDst},
    {"DisableButton", 0x31, 3, 5, Form::kDst},
    {"SetSecondaryStream", 0x51, 3, 6, Form::kUnsupported},
    {"PopUpMenuOff", 0x11, 3, 7, Form::kNone},
    {"StillOn", 0x11, 3, 8, Form::kNone},
    {"StillOff", 0x11, 3, 9, Form::kNone},
};

constexpr const char* kCompares[kNavCompareCount] = {nullptr, "&", "==", "!=", ">=", ">", "<=", "<"};

constexpr const char* kOperations[kNavOperationCount] = {
    nullptr, "=", "Swap", "+", "-", "x", "/", "%", "Random", "&", "|", "Xor", "BitSet", "BitClear", "<<", ">>"};

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

std::vector<std::string_view> Tokens(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

enum class Kind { kImm, kGpr, kPsr };

struct Operand {
  Kind kind = Kind::kImm;
  uint32_t value = 0;  // the number, or the register number
  bool IsImm() const { return kind == Kind::kImm; }
  uint32_t Encoded() const { return kind == Kind::kPsr ? 0x80000000u | value : value; }
};

bool Digits(std::string_view s, uint64_t limit, uint64_t& v) {
  if (s.empty()) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > limit) return false;
  }
  return true;
}

// A register, or a decimal number that fits 32 bits (negative numbers are
// stored in two's complement). Text that is not a number is refused rather
// than read as 0, so a typing error never becomes a jump to title 0.
bool ParseOperand(std::string_view t, Operand& op) {
  uint64_t v = 0;
  if (StartsNoCase(t, "GPR")) {
    if (!Digits(t.substr(3), 4095, v)) return false;
    op = {Kind::kGpr, static_cast<uint32_t>(v)};
    return true;
  }
  if (StartsNoCase(t, "PSR")) {
    if (!Digits(t.substr(3), 127, v)) return false;
    op = {Kind::kPsr, static_cast<uint32_t>(v)};
    return true;
  }
  if (StartsNoCase(t, "0x")) return false;
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  if (!Digits(t, negative ? 0x80000000u : 0xFFFFFFFFu, v)) return false;
  op = {Kind::kImm, static_cast<uint32_t>(negative ? 0u - v : v)};
  return true;
}

bool IsX(std::string_view t) { return EqualNoCase(t, "X"); }

void PutDst(CNavCmd& cmd, const Operand& op) {
  cmd.SetDst(op.Encoded());
  if (op.IsImm()) cmd.bytes[1] |= 0x80;
}

void PutSrc(CNavCmd& cmd, const Operand& op) {
  cmd.SetSrc(op.Encoded());
  if (op.IsImm()) cmd.bytes[1] |= 0x40;
}

// A SetStream / SetButtonPage field: "X" (absent) or a GPR or immediate.
bool ParseField(std::string_view t, bool& given, Operand& op) {
  given = !IsX(t);
  if (!given) return true;
  return ParseOperand(t, op) && op.kind != Kind::kPsr;
}

// Stream number fields of SetStream: a flag bit, then either a register
// number (12 bits) or an immediate of `immBits` bits.
bool PutStreamField(CNavCmd& cmd, size_t at, const Operand& op, unsigned immBits) {
  if (op.IsImm() && op.value >= (1u << immBits)) return false;
  cmd.bytes[at] = static_cast<uint8_t>(cmd.bytes[at] | 0x80 | ((op.value >> 8) & 0x0F));
  cmd.bytes[at + 1] = static_cast<uint8_t>(op.value);
  return true;
}

bool ParseSetStream(const std::vector<std::string_view>& tok, CNavCmd& cmd) {
  if (tok.size() != 6) return false;
  bool hasAudio, hasSub, hasAngle, hasIg;
  Operand audio, sub, flag, angle, ig;
  if (!ParseField(tok[1], hasAudio, audio) || !ParseField(tok[2], hasSub, sub)) return false;
  if (!ParseOperand(tok[3], flag) || !flag.IsImm()) return false;
  if (!ParseField(tok[4], hasAngle, angle) || !ParseField(tok[5], hasIg, ig)) return false;
  // Audio and subtitle share the destination's immediate flag, angle and
  // interactive graphics the source's, so each pair must agree in kind.
  if (hasAudio && hasSub && audio.kind != sub.kind) return false;
  if (hasIg && hasAngle && ig.kind != angle.kind) return false;
  if (hasIg && !hasAngle && hasAudio && ig.kind != audio.kind) return false;
  if (hasAudio && !PutStreamField(cmd, 4, audio, 8)) return false;
  if (hasSub && !PutStreamField(cmd, 6, sub, 12)) return false;
  if (flag.value != 0) cmd.bytes[6] |= 0x40;
  // Players take the interactive-graphics stream from the high half of the
  // source (bytes 8-9) and the angle from the low half (bytes 10-11), the
  // reverse of the order the fields are written in.
  if (hasIg && !PutStreamField(cmd, 8, ig, 12)) return false;
  if (hasAngle && !PutStreamField(cmd, 10, angle, 8)) return false;
  if (hasAudio ? audio.IsImm() : hasSub && sub.IsImm()) cmd.bytes[1] |= 0x80;
  if (hasAngle ? angle.IsImm() : hasIg && ig.IsImm()) cmd.bytes[1] |= 0x40;
  return true;
}

bool ParseSetButtonPage(const std::vector<std::string_view>& tok, CNavCmd& cmd) {
  if (tok.size() < 3 || tok.size() > 4) return false;
  bool hasButton, hasPage;
  Operand button, page, flag;
  if (!ParseField(tok[1], hasButton, button) || !ParseField(tok[2], hasPage, page)) return false;
  // The out-effect flag only means something with a page, but when written
  // it must still be a number.
  if (hasPage && tok.size() != 4) return false;
  if (tok.size() == 4 && (!ParseOperand(tok[3], flag) || !flag.IsImm())) return false;
  if (hasButton) {
    if (button.IsImm() && button.value > 0xFFFF) return false;
    cmd.bytes[4] = 0x80;
    cmd.bytes[6] = static_cast<uint8_t>(button.value >> 8);
    cmd.bytes[7] = static_cast<uint8_t>(button.value);
  }
  if (hasPage) {
    if (page.IsImm() && page.value > 0xFF) return false;
    cmd.bytes[8] = 0x80;
    cmd.bytes[10] = static_cast<uint8_t>(page.value >> 8);
    cmd.bytes[11] = static_cast<uint8_t>(page.value);
    if (flag.value != 0) cmd.bytes[8] |= 0x40;
  }
  if (!hasButton || button.IsImm()) cmd.bytes[1] |= 0x80;
  if (!hasPage || page.IsImm()) cmd.bytes[1] |= 0x40;
  return true;
}

int FindIn(const char* const* table, int count, std::string_view t, bool noCase) {
  for (int i = 1; i < count; ++i)
    if (noCase ? EqualNoCase(t, table[i]) : t == table[i]) return i;
  return 0;
}

}  // namespace

const char* NavKeywordText(int keyword) {
  return keyword >= 0 && keyword < kNavKeywordCount ? kKeywords[keyword].name : nullptr;
}
const char* NavCompareText(int compare) {
  return compare > 0 && compare < kNavCompareCount ? kCompares[compare] : nullptr;
}
const char* NavOperationText(int operation) {
  return operation > 0 && operation < kNavOperationCount ? kOperations[operation] : nullptr;
}

// ---------------------------------------------------------------------------
// Assembler

namespace {

bool Parse(std::string_view text, CNavCmd& cmd) {
  if (text.empty() || text.size() > kMaxCommandText) return false;
  std::vector<std::string_view> tok = Tokens(text);
  if (tok.empty()) return false;
  const KeywordDef* def = nullptr;
  for (const auto& k : kKeywords)
    if (EqualNoCase(tok[0], k.name)) def = &k;
  if (!def) return false;

  cmd.bytes[0] = def->byte0;
  cmd.bytes[def->optionByte] = def->option;
  Operand a, b;
  switch (def->form) {
    case Form::kNone:
      return tok.size() == 1;
    case Form::kDst:
      if (tok.size() != 2 || !ParseOperand(tok[1], a)) return false;
      PutDst(cmd, a);
      return true;
    case Form::kTitle:
      if (tok.size() != 2 || !ParseOperand(tok[1], a)) return false;
      if (a.IsImm() && a.value > 0xFFFF) a.value = 0xFFFF;
      PutDst(cmd, a);
      return true;
    case Form::kDstSrc:
      if (tok.size() != 3 || !ParseOperand(tok[1], a) || !ParseOperand(tok[2], b)) return false;
      PutDst(cmd, a);
      PutSrc(cmd, b);
      return true;
    case Form::kIf: {
      if (tok.size() != 4 || !ParseOperand(tok[1], a) || !ParseOperand(tok[3], b)) return false;
      int cmp = FindIn(kCompares, kNavCompareCount, tok[2], false);
      if (cmp == 0) return false;
      cmd.bytes[2] = static_cast<uint8_t>(cmp);
      PutDst(cmd, a);
      PutSrc(cmd, b);
      return true;
    }
    case Form::kSet: {
      if (tok.size() != 4 || !ParseOperand(tok[1], a) || a.kind != Kind::kGpr) return false;
      int op = FindIn(kOperations, kNavOperationCount, tok[2], true);
      if (op == 0 || !ParseOperand(tok[3], b)) return false;
      if (op == kOpSwap && b.kind != Kind::kGpr) return false;
      cmd.bytes[3] = static_cast<uint8_t>(op);
      PutDst(cmd, a);
      PutSrc(cmd, b);
      return true;
    }
    case Form::kSetStream:
      return ParseSetStream(tok, cmd);
    case Form::kNVTimer:
      if (tok.size() != 3 || !ParseOperand(tok[1], a) || !ParseOperand(tok[2], b)) return false;
      if (a.kind == Kind::kPsr || b.kind == Kind::kPsr) return false;
      PutDst(cmd, a);
      PutSrc(cmd, b);
      return true;
    case Form::kButtonPage:
      return ParseSetButtonPage(tok, cmd);
    case Form::kUnsupported:
      // No encoding is defined for it; succeeding would emit a command that
      // players reject.
      return false;
  }
  return false;
}

}  // namespace

bool ParseCommandText(std::string_view text, CNavCmd& cmd) {
  cmd.Clear();
  if (Parse(text, cmd)) return true;
  cmd.Clear();  // a half-made command must not look usable
  return false;
}

// ---------------------------------------------------------------------------
// Disassembler

namespace {

int KeywordOf(const CNavCmd& c) {
  static constexpr int kGoTo[] = {kNavNop, kNavGoTo, kNavBreak};
  static constexpr int kJump[] = {kNavJumpObject, kNavJumpTitle, kNavCallObject, kNavCallTitle, kNavResume};
  static constexpr int kPlay[] = {kNavPlayPlaylist,      kNavPlayPlaylistAtPlayItem, kNavPlayPlaylistAtMark,
                                  kNavTerminatePlaylist, kNavLinkPlayItem,           kNavLinkMark};
  static constexpr int kSystem[] = {-1,
                                    kNavSetStream,
                                    kNavSetNVTimer,
                                    kNavSetButtonPage,
                                    kNavEnableButton,
                                    kNavDisableButton,
                                    kNavSetSecondaryStream,
                                    kNavPopUpMenuOff,
                                    kNavStillOn,
                                    kNavStillOff};
  unsigned opt;
  switch (c.Group()) {
    case 0:
      opt = c.BranchOption();
      if (c.SubGroup() == 0 && opt < std::size(kGoTo)) return kGoTo[opt];
      if (c.SubGroup() == 1 && opt < std::size(kJump)) return kJump[opt];
      if (c.SubGroup() == 2 && opt < std::size(kPlay)) return kPlay[opt];
      return -1;
    case 1:
      return c.SubGroup() == 0 ? kNavIf : -1;
    case 2:
      opt = c.SetOption();
      if (c.SubGroup() == 0) return kNavSet;
      if (c.SubGroup() == 1 && opt < std::size(kSystem)) return kSystem[opt];
      return -1;
    default:
      return -1;
  }
}

std::string OperandText(uint32_t v, bool imm) {
  if (imm) return std::to_string(v);
  if (v & 0x80000000u) return "PSR" + std::to_string(v & 0x7FFFFFFFu);
  return "GPR" + std::to_string(v);
}

std::string StreamFieldText(const CNavCmd& c, size_t at, bool imm) {
  uint8_t hi = c.bytes[at], lo = c.bytes[at + 1];
  if (!(hi & 0x80)) return "X";
  uint32_t n = (uint32_t{hi} & 0x0F) << 8 | lo;
  return imm ? std::to_string(n) : "GPR" + std::to_string(n);
}

// The text reading of the command fields, or "" when the opcode is unknown.
std::string Reading(const CNavCmd& c) {
  int k = KeywordOf(c);
  if (k < 0) return {};
  const KeywordDef& def = kKeywords[k];
  std::string s = def.name;
  const std::string dst = OperandText(c.Dst(), c.DstImmediate());
  const std::string src = OperandText(c.Src(), c.SrcImmediate());
  switch (def.form) {
    case Form::kNone:
    case Form::kUnsupported:
      return s;
    case Form::kDst:
    case Form::kTitle:
      return s + " " + dst;
    case Form::kDstSrc:
    case Form::kNVTimer:
      return s + " " + dst + " " + src;
    case Form::kIf: {
      const char* cmp = NavCompareText(c.CompareOption());
      return s + " " + dst + " " + (cmp ? cmp : "?") + " " + src;
    }
    case Form::kSet: {
      const char* op = NavOperationText(c.SetOption());
      return s + " " + dst + " " + (op ? op : "?") + " " + src;
    }
    case Form::kSetStream:
      return s + " " + StreamFieldText(c, 4, c.DstImmediate()) + " " + StreamFieldText(c, 6, c.DstImmediate()) +
             ((c.bytes[6] & 0x40) ? " 1 " : " 0 ") + StreamFieldText(c, 10, c.SrcImmediate()) + " " +
             StreamFieldText(c, 8, c.SrcImmediate());
    case Form::kButtonPage: {
      uint32_t button = uint32_t{c.bytes[6]} << 8 | c.bytes[7];
      uint32_t page = uint32_t{c.bytes[10]} << 8 | c.bytes[11];
      bool hasPage = (c.bytes[8] & 0x80) != 0;
      s += " " + ((c.bytes[4] & 0x80) ? OperandText(button, c.DstImmediate()) : std::string("X"));
      s += " " + (hasPage ? OperandText(page, c.SrcImmediate()) : std::string("X"));
      // Without a page the flag is not stored; "1" is the form the system composes.
      return s + ((!hasPage || (c.bytes[8] & 0x40)) ? " 1" : " 0");
    }
  }
  return {};
}

}  // namespace

int NavKeywordOf(const CNavCmd& cmd) { return KeywordOf(cmd); }

std::string CommandText(const CNavCmd& cmd) {
  std::string text = Reading(cmd);
  CNavCmd again;
  if (!text.empty() && ParseCommandText(text, again) && again == cmd) return text;
  // Not something the assembler makes: show the bytes so nothing is hidden.
  std::string raw = "raw";
  char hex[4];
  for (uint8_t b : cmd.bytes) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    raw += hex;
  }
  if (!text.empty()) raw += " (" + text + ")";
  return raw;
}

// ---------------------------------------------------------------------------
// Builders

namespace {

std::string Reg(const char* prefix, int64_t n) { return prefix + std::to_string(n); }

bool Assemble(const std::string& text, CNavCmd& cmd) { return ParseCommandText(text, cmd); }

}  // namespace

bool MakeKeyword(CNavCmd& cmd, int keyword) {
  const char* k = NavKeywordText(keyword);
  cmd.Clear();
  return k && Assemble(k, cmd);
}

bool MakeBranch(CNavCmd& cmd, int keyword, int64_t number) {
  const char* k = NavKeywordText(keyword);
  cmd.Clear();
  return k && Assemble(std::string(k) + " " + std::to_string(number), cmd);
}

bool MakeBranchWithRegister(CNavCmd& cmd, int keyword, int64_t number, int reg) {
  const char* k = NavKeywordText(keyword);
  cmd.Clear();
  return k && Assemble(std::string(k) + " " + std::to_string(number) + " " + Reg("GPR", reg), cmd);
}

bool MakeIf(CNavCmd& cmd, int compare, int reg, int64_t number) {
  const char* c = NavCompareText(compare);
  cmd.Clear();
  return c && Assemble("If " + Reg("GPR", reg) + " " + c + " " + std::to_string(number), cmd);
}

bool MakeSet(int kind, CNavCmd& cmd, int operation, int reg, int64_t value) {
  const char* op = NavOperationText(operation);
  cmd.Clear();
  if (!op) return false;
  std::string v;
  switch (kind) {
    case 0: v = std::to_string(value); break;
    case 1: v = Reg("GPR", value); break;
    case 2: v = Reg("PSR", value); break;
    default: return false;
  }
  return Assemble("Set " + Reg("GPR", reg) + " " + op + " " + v, cmd);
}

bool MakeSetStream(int reg, CNavCmd& cmd, bool display) {
  std::string sub = reg == -1 ? std::string("X") : Reg("GPR", reg);
  return Assemble("SetStream GPR2010 " + sub + (display ? " 1" : " 0") + " X X", cmd);
}

bool MakeSetButtonPage(int page, int button, CNavCmd& cmd) {
  std::string b = button == -1 ? std::string("X") : std::to_string(button);
  std::string p = page == -1 ? std::string("X") : std::to_string(page);
  return Assemble("SetButtonPage " + b + " " + p + " 1", cmd);
}

}  // namespace zv
