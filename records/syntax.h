// One syntax description per big-endian disc record, walked by three IO
// objects:
//
//   template <class IO> void Syntax(IO& io, PLAY_ITEM& r) {
//     auto len = io.Length(16, "Length");
//     io.Text(5, "ClipInformationFileName", r.clipName);
//     io.Reserved(11);
//     io.Bits(1, "IsMultiAngle", r.multiAngle);
//     ...
//     len.End();
//   }
//
// Reader fills the record from untrusted bytes and throws FormatError naming
// the path of sections and the field where the data went wrong; Writer
// appends to a growing buffer, checks that every value fits its width and
// patches length and address fields after their body; Dumper is a Reader
// that also records every field, as read, into a dump tree. Because the
// Dumper reads, lengths and addresses are shown as they stand in the file.
//
// Conditions inside a syntax function may test fields read earlier: the
// Reader and Dumper fill the record as they go, the Writer sees the record
// it writes. `IO::kReading` is true for Reader and Dumper.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/bytes.h"
#include "records/dump_tree.h"

namespace zv::rec {

// How the Dumper shows a number. Reader and Writer ignore it.
struct Dec {
  void Put(SDumpNode& n, const char* label, uint64_t v) const { n.Int(label, static_cast<int64_t>(v)); }
};
struct Hex {
  int digits = 2;
  void Put(SDumpNode& n, const char* label, uint64_t v) const {
    n.Text(label, HexText(v, digits));
    n.children.back().number = static_cast<int64_t>(v);
  }
};
// "Name(value)" through a name function of the raw value.
template <class F>
struct Named {
  F name;
  void Put(SDumpNode& n, const char* label, uint64_t v) const {
    n.Named(label, name(v), static_cast<int64_t>(v));
  }
};
template <class F>
Named(F) -> Named<F>;
// Any text computed from the raw value.
template <class F>
struct Shown {
  F text;
  void Put(SDumpNode& n, const char* label, uint64_t v) const {
    n.Text(label, text(v));
    n.children.back().number = static_cast<int64_t>(v);
  }
};
template <class F>
Shown(F) -> Shown<F>;

// Text from a file, anything outside printable ASCII as '.'.
struct ShowText {
  void Put(SDumpNode& n, const char* label, const std::string& s) const { n.Text(label, PrintableText(s)); }
};

// How the Dumper shows a raw byte block.
struct HexBytes {
  template <class V>
  void Put(SDumpNode& n, const char* label, const V& v) const {
    n.Text(label, HexBytesText(v.data(), v.size()));
  }
};
// "all zero" for a block the system leaves 0, the bytes otherwise.
struct ZeroOrHexBytes {
  void Put(SDumpNode& n, const char* label, const std::vector<uint8_t>& v) const {
    bool zero = true;
    for (uint8_t b : v) zero = zero && b == 0;
    n.Text(label, zero ? std::string("all zero") : HexBytesText(v.data(), v.size()));
  }
};
// Not shown (the syntax function dumps the field in its own form).
struct Hidden {
  template <class T>
  void Put(SDumpNode&, const char*, const T&) const {}
};
// Only the byte count.
struct ByteCount {
  void Put(SDumpNode& n, const char* label, const std::vector<uint8_t>& v) const {
    n.Text(label, std::to_string(v.size()) + " bytes");
  }
};

// The names of the sections and the field being read, for messages.
class SyntaxPath {
 public:
  void Push(const char* label, int index = -1) { frames_.push_back({label, index}); }
  void Pop() { frames_.pop_back(); }
  struct Scope {
    Scope(SyntaxPath& p, const char* label, int index) : p_(p) { p_.Push(label, index); }
    ~Scope() { p_.Pop(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    SyntaxPath& p_;
  };
  void SetField(const char* label) { field_ = label; }
  // "PlayList: PlayItem 1: STN_table: Length: " + what; the field only
  // with `withField`.
  std::string Message(const std::string& what, bool withField) const;

 private:
  struct Frame {
    const char* label;
    int index;
  };
  std::vector<Frame> frames_;
  const char* field_ = nullptr;
};

namespace detail {
template <class F, class E>
void CallEach(F& each, E& e, uint64_t i) {
  if constexpr (std::is_invocable_v<F&, E&, uint64_t>)
    each(e, i);
  else
    each(e);
}
}  // namespace detail

// What a length field's handle knows.
struct LengthInfo {
  uint64_t value = 0;  // as read; 0 while writing
  size_t at = 0;       // position of the length field
  unsigned bytes = 0;  // width of the length field
  size_t outer = 0;    // Reader: the limit before the body
  const char* label = nullptr;
};

// Handle of a length field; End() closes its body.
template <class IO>
class LengthScope {
 public:
  LengthScope(IO& io, const LengthInfo& info) : io_(&io), info_(info) {}
  LengthScope(const LengthScope&) = delete;
  LengthScope& operator=(const LengthScope&) = delete;
  LengthScope(LengthScope&& o) noexcept : io_(std::exchange(o.io_, nullptr)), info_(o.info_) {}
  ~LengthScope() {
    // Left by an exception, the walk is over; a missing End() on the normal
    // path still restores the outer limit.
    if (io_) io_->AbandonLength(info_);
  }
  // The length as read (Reader, Dumper); 0 while writing.
  uint64_t Value() const { return info_.value; }
  // Reader: the body used exactly its length. Writer: patches the length.
  void End() { std::exchange(io_, nullptr)->EndLength(info_, false); }
  // Reader: the body may stop short; the rest of it is skipped. Writer: as End.
  void EndSkippingRest() { std::exchange(io_, nullptr)->EndLength(info_, true); }

 private:
  IO* io_;
  LengthInfo info_;
};

// Handle of an address field (a byte offset from the start of the walk, or
// from a given base position).
struct AddressField {
  uint64_t value = 0;  // as read, from `base`
  size_t base = 0;     // the position the address counts from
  size_t at = 0;       // position of the field
  unsigned bytes = 0;
};

// ---------------------------------------------------------------- Reader

// The reading state and the field primitives the Reader and Dumper share.
class ReadCore {
 public:
  ReadCore(const uint8_t* p, size_t n) : p_(p), n_(n), end_(n) {}

  size_t Pos() const { return pos_; }
  // Bytes left in the innermost length-bounded body (or the data).
  size_t Remaining() const { return end_ - pos_; }

  // Reserved bits (or bytes, `bits` a multiple of 8 on a byte boundary).
  void Reserved(unsigned bits);
  void ReservedBytes(size_t n) { Skip(n, "reserved"); }
  void At(const AddressField& a);
  // Writer: sets the address to here; Reader: nothing (an address the
  // reader does not follow).
  void Mark(const AddressField&) {}
  // Address 0 means "absent"; otherwise moves there and returns true.
  bool AtIf(const AddressField& a, bool /*present*/) {
    if (a.value == 0) return false;
    At(a);
    return true;
  }
  // Skips padding up to a multiple of `n` bytes from `base`.
  void Align(size_t n, size_t base = 0);

  // Throws FormatError naming the sections around the current field.
  [[noreturn]] void Fail(const std::string& what) const;
  // The same, naming the field too.
  [[noreturn]] void FieldFail(const std::string& what) const;

  // Used by LengthScope.
  void EndLength(const LengthInfo& l, bool skipRest);
  void AbandonLength(const LengthInfo& l) { end_ = l.outer; }

 protected:
  void CheckFixed(unsigned bits, const char* label, uint64_t expected);
  AddressField GetAddress(unsigned bits, const char* label, size_t base);
  LengthInfo OpenLength(unsigned bits, const char* label);
  void GetText(size_t n, const char* label, std::string& s);
  void GetRaw(size_t n, const char* label, uint8_t* out);
  uint64_t GetBits(unsigned n);
  uint64_t GetBytes(unsigned n);
  void Need(size_t n) const;
  void Skip(size_t n, const char* label);
  const uint8_t* p_;
  size_t n_;
  size_t end_;  // limit of the innermost body
  size_t pos_ = 0;
  uint8_t bitByte_ = 0;
  unsigned bitCount_ = 0;  // bits left in bitByte_
  SyntaxPath path_;
};

// Reads untrusted bytes into a record. With `kDump` (the Dumper) it also
// records each field, as read, into a dump tree under `root`: sections
// become blocks, fields lines with their labels and the `S` form.
template <bool kDump>
class BasicReader : public ReadCore {
 public:
  static constexpr bool kReading = true;
  static constexpr bool kWriting = false;
  static constexpr bool kDumping = kDump;

  BasicReader(const uint8_t* p, size_t n) requires(!kDump) : ReadCore(p, n) {}
  explicit BasicReader(const std::vector<uint8_t>& v) requires(!kDump) : ReadCore(v.data(), v.size()) {}
  BasicReader(const uint8_t* p, size_t n, SDumpNode& root) requires kDump : ReadCore(p, n), stack_{&root} {}
  BasicReader(const std::vector<uint8_t>& v, SDumpNode& root) requires kDump
      : ReadCore(v.data(), v.size()), stack_{&root} {}

  // The dump block being filled (Dumper only).
  SDumpNode& Node() requires kDump { return *stack_.back(); }

  template <class T, class S = Dec>
  void Bits(unsigned n, const char* label, T& v, S s = {}) {
    path_.SetField(label);
    v = static_cast<T>(GetBits(n));
    if constexpr (kDump) s.Put(Node(), label, static_cast<uint64_t>(v));
  }
  template <class T, class S = Dec>
  void U8(const char* label, T& v, S s = {}) { Uint(1, label, v, s); }
  template <class T, class S = Dec>
  void U16(const char* label, T& v, S s = {}) { Uint(2, label, v, s); }
  template <class T, class S = Dec>
  void U24(const char* label, T& v, S s = {}) { Uint(3, label, v, s); }
  template <class T, class S = Dec>
  void U32(const char* label, T& v, S s = {}) { Uint(4, label, v, s); }
  template <class T, class S = Dec>
  void U64(const char* label, T& v, S s = {}) { Uint(8, label, v, s); }

  // A value that must equal `expected` (a magic or a fixed code).
  void Fixed(unsigned bits, const char* label, uint64_t expected) {
    CheckFixed(bits, label, expected);
    if constexpr (kDump) Node().Int(label, static_cast<int64_t>(expected));
  }
  // Fixed-length text, taken as bytes.
  template <class S = ShowText>
  void Text(size_t n, const char* label, std::string& s, S show = {}) {
    GetText(n, label, s);
    if constexpr (kDump) show.Put(Node(), label, s);
  }
  // Fixed-length text; the writer pads a shorter text with zero bytes.
  template <class S = ShowText>
  void PaddedText(size_t n, const char* label, std::string& s, S show = {}) { Text(n, label, s, show); }
  template <class S = HexBytes>
  void Raw(size_t n, const char* label, std::vector<uint8_t>& v, S s = {}) {
    path_.SetField(label);
    Need(n);
    v.resize(n);
    GetRaw(n, label, v.data());
    if constexpr (kDump) s.Put(Node(), label, v);
  }
  template <size_t N, class S = HexBytes>
  void Raw(const char* label, std::array<uint8_t, N>& v, S s = {}) {
    GetRaw(N, label, v.data());
    if constexpr (kDump) s.Put(Node(), label, v);
  }
  // The rest of the innermost body as raw bytes.
  template <class S = HexBytes>
  void Rest(const char* label, std::vector<uint8_t>& v, S s = {}) { Raw(Remaining(), label, v, s); }

  // A length field of `bits` (8, 16 or 32) counting the bytes after it.
  LengthScope<BasicReader> Length(unsigned bits, const char* label) {
    LengthInfo l = OpenLength(bits, label);
    if constexpr (kDump) Node().Int(label, static_cast<int64_t>(l.value));
    return {*this, l};
  }
  // A length or count that the dump shows on the enclosing section's line.
  LengthScope<BasicReader> SectionLength(unsigned bits) {
    LengthInfo l = OpenLength(bits, "Length");
    Note(std::to_string(l.value), static_cast<int64_t>(l.value));
    return {*this, l};
  }
  template <class T>
  void SectionCount(unsigned bits, T& n) {
    path_.SetField("count");
    n = static_cast<T>(GetBits(bits));
    Note(std::to_string(n), static_cast<int64_t>(n));
  }
  // The dump's text for the enclosing section's line.
  void Note(const std::string& text, int64_t number = 0) {
    if constexpr (kDump) {
      Node().value = text;
      Node().number = number;
    }
  }
  // An address field; At() moves the walk there.
  AddressField Address(unsigned bits, const char* label, size_t base = 0) {
    AddressField a = GetAddress(bits, label, base);
    if constexpr (kDump) Node().Int(label, static_cast<int64_t>(a.value));
    return a;
  }

  // A named section; errors inside name it.
  template <class F>
  void Section(const char* label, F&& body) { Section(label, -1, std::forward<F>(body)); }
  template <class F>
  void Section(const char* label, int index, F&& body) {
    if constexpr (kDump) stack_.push_back(&Node().Block(label, index));
    SyntaxPath::Scope scope(path_, label, index);
    body();
    if constexpr (kDump) stack_.pop_back();
  }
  // Names the path for errors without a block in the dump.
  template <class F>
  void Part(const char* label, F&& body) {
    SyntaxPath::Scope scope(path_, label, -1);
    body();
  }
  // A block in the dump that errors do not name.
  template <class F>
  void Group(const char* label, F&& body) {
    if constexpr (kDump) stack_.push_back(&Node().Block(label));
    body();
    if constexpr (kDump) stack_.pop_back();
  }
  // A section whose dump lines join an earlier block of the same label and
  // index (a record whose parts stand apart in the file).
  template <class F>
  void Continue(const char* label, int index, F&& body) {
    if constexpr (kDump) {
      SDumpNode* at = nullptr;
      for (auto& c : Node().children)
        if (c.block && c.label == label && c.index == index) at = &c;
      stack_.push_back(at ? at : &Node().Block(label, index));
    }
    SyntaxPath::Scope scope(path_, label, index);
    body();
    if constexpr (kDump) stack_.pop_back();
  }
  // A nested record through its own Syntax function.
  template <class R>
  void Record(const char* label, R& r, int index = -1) {
    Section(label, index, [&] { Syntax(*this, r); });
  }
  // `n` elements of `v` (read: `v` is refilled), each walked by `each(elem)`
  // or `each(elem, i)`.
  template <class V, class F>
  void Elements(V& v, uint64_t n, F&& each) {
    v.clear();
    // Grows element by element, so a huge count in a short file fails at
    // the end of the data, not in the allocator.
    for (uint64_t i = 0; i < n; ++i) {
      v.emplace_back();
      detail::CallEach(each, v.back(), i);
    }
  }
  // A count field of `bits` followed by its elements.
  template <class V, class F>
  void Array(unsigned bits, const char* countLabel, V& v, F&& each) {
    uint64_t n = 0;
    Bits(bits, countLabel, n);
    Elements(v, n, std::forward<F>(each));
  }
  // A count field and records, each a section "elemLabel i".
  template <class V>
  void Records(unsigned bits, const char* countLabel, const char* elemLabel, V& v) {
    Array(bits, countLabel, v, [&](auto& e, uint64_t i) { Record(elemLabel, e, static_cast<int>(i)); });
  }

 private:
  template <class T, class S>
  void Uint(unsigned bytes, const char* label, T& v, S s) {
    path_.SetField(label);
    v = static_cast<T>(GetBytes(bytes));
    if constexpr (kDump) s.Put(Node(), label, static_cast<uint64_t>(v));
  }
  struct NoStack {};
  [[no_unique_address]] std::conditional_t<kDump, std::vector<SDumpNode*>, NoStack> stack_;
};

using Reader = BasicReader<false>;
using Dumper = BasicReader<true>;

// ---------------------------------------------------------------- Writer

// Appends to a growing buffer. A value that does not fit its field, a text
// of the wrong length or a byte field inside a bit field is a programming
// error: std::out_of_range / std::logic_error naming the field.
class Writer {
 public:
  static constexpr bool kReading = false;
  static constexpr bool kWriting = true;
  static constexpr bool kDumping = false;

  size_t Pos() const { return out_.size(); }
  const std::vector<uint8_t>& Bytes() const { return out_; }
  std::vector<uint8_t> Take();

  template <class T, class S = Dec>
  void Bits(unsigned n, const char* label, const T& v, S = {}) {
    PutBits(n, label, ToU64(v));
  }
  template <class T, class S = Dec>
  void U8(const char* label, const T& v, S = {}) { PutBytes(1, label, ToU64(v)); }
  template <class T, class S = Dec>
  void U16(const char* label, const T& v, S = {}) { PutBytes(2, label, ToU64(v)); }
  template <class T, class S = Dec>
  void U24(const char* label, const T& v, S = {}) { PutBytes(3, label, ToU64(v)); }
  template <class T, class S = Dec>
  void U32(const char* label, const T& v, S = {}) { PutBytes(4, label, ToU64(v)); }
  template <class T, class S = Dec>
  void U64(const char* label, const T& v, S = {}) { PutBytes(8, label, ToU64(v)); }

  void Fixed(unsigned bits, const char* label, uint64_t expected) { PutBits(bits, label, expected); }
  template <class S = ShowText>
  void Text(size_t n, const char* label, const std::string& s, S = {}) { PutText(n, label, s); }
  void Reserved(unsigned bits);
  void ReservedBytes(size_t n);
  template <class S = HexBytes>
  void Raw(size_t n, const char* label, const std::vector<uint8_t>& v, S = {}) { PutRaw(n, label, v); }
  template <size_t N, class S = HexBytes>
  void Raw(const char* label, const std::array<uint8_t, N>& v, S = {}) {
    NeedAligned(label);
    out_.insert(out_.end(), v.begin(), v.end());
  }
  template <class S = HexBytes>
  void Rest(const char* label, const std::vector<uint8_t>& v, S = {}) { PutRaw(v.size(), label, v); }

  LengthScope<Writer> Length(unsigned bits, const char* label);
  AddressField Address(unsigned bits, const char* label, size_t base = 0);
  // Patches the address with the current position.
  void At(const AddressField& a);
  void Mark(const AddressField& a) { At(a); }
  // Patches the address when `present`; otherwise it stays 0.
  bool AtIf(const AddressField& a, bool present) {
    if (present) At(a);
    return present;
  }
  // Zero padding up to a multiple of `n` bytes from `base`.
  void Align(size_t n, size_t base = 0);
  template <class S = ShowText>
  void PaddedText(size_t n, const char* label, const std::string& s, S = {}) { PutPadded(n, label, s); }

  template <class F>
  void Section(const char* label, F&& body) { Section(label, -1, std::forward<F>(body)); }
  template <class F>
  void Section(const char* label, int index, F&& body) {
    SyntaxPath::Scope scope(path_, label, index);
    body();
  }
  template <class F>
  void Part(const char* label, F&& body) {
    SyntaxPath::Scope scope(path_, label, -1);
    body();
  }
  template <class F>
  void Group(const char*, F&& body) { body(); }
  template <class F>
  void Continue(const char* label, int index, F&& body) { Section(label, index, std::forward<F>(body)); }
  LengthScope<Writer> SectionLength(unsigned bits) { return Length(bits, "Length"); }
  template <class T>
  void SectionCount(unsigned bits, const T& n) { Bits(bits, "count", n); }
  void Note(const std::string&, int64_t = 0) {}
  template <class R>
  void Record(const char* label, const R& r, int index = -1) {
    Section(label, index, [&] { Syntax(*this, const_cast<R&>(r)); });
  }
  template <class V, class F>
  void Elements(const V& v, uint64_t n, F&& each) {
    if (v.size() != n) FieldFail("holds " + std::to_string(v.size()) + " elements, its count says " + std::to_string(n));
    uint64_t i = 0;
    for (auto& e : const_cast<V&>(v)) detail::CallEach(each, e, i++);
  }
  template <class V, class F>
  void Array(unsigned bits, const char* countLabel, const V& v, F&& each) {
    PutBits(bits, countLabel, v.size());
    Elements(v, v.size(), std::forward<F>(each));
  }
  template <class V>
  void Records(unsigned bits, const char* countLabel, const char* elemLabel, const V& v) {
    Array(bits, countLabel, v, [&](auto& e, uint64_t i) { Record(elemLabel, e, static_cast<int>(i)); });
  }

  [[noreturn]] void Fail(const std::string& what) const;
  [[noreturn]] void FieldFail(const std::string& what) const;

  void EndLength(const LengthInfo& l, bool skipRest);
  void AbandonLength(const LengthInfo&) {}

 private:
  template <class T>
  static uint64_t ToU64(const T& v) {
    if constexpr (std::is_enum_v<T>)
      return static_cast<uint64_t>(static_cast<std::underlying_type_t<T>>(v));
    else if constexpr (std::is_signed_v<T>)
      return v < 0 ? ~uint64_t{0} : static_cast<uint64_t>(v);  // never fits
    else
      return static_cast<uint64_t>(v);
  }
  void PutBits(unsigned n, const char* label, uint64_t v);
  void PutBytes(unsigned n, const char* label, uint64_t v);
  void PutRaw(size_t n, const char* label, const std::vector<uint8_t>& v);
  void PutText(size_t n, const char* label, const std::string& s);
  void PutPadded(size_t n, const char* label, const std::string& s);
  void NeedAligned(const char* label) const;
  void Patch(size_t at, unsigned bytes, uint64_t v, const char* what);

  std::vector<uint8_t> out_;
  uint64_t bitAcc_ = 0;
  unsigned bitCount_ = 0;
  SyntaxPath path_;
};

// ---------------------------------------------------------------- helpers

// A record's Syntax function defined in one .cpp and walked from others:
// declare `template <class IO> void Syntax(IO&, T&);` in the header and
// instantiate it for the three IO objects beside its definition.
#define ZV_SYNTAX_INSTANTIATE(T)                         \
  template void Syntax(::zv::rec::Reader&, T&);          \
  template void Syntax(::zv::rec::Dumper&, T&);          \
  template void Syntax(::zv::rec::Writer&, T&)

// Writes a record through its Syntax function.
template <class R>
std::vector<uint8_t> Encode(const R& r) {
  Writer w;
  Syntax(w, const_cast<R&>(r));
  return w.Take();
}

// Writes a record into a caller's buffer; with a null `buf` only measures.
// Returns the length; a buffer that is too small throws std::out_of_range.
template <class R>
size_t EncodeInto(const R& r, uint8_t* buf, size_t cap) {
  std::vector<uint8_t> bytes = Encode(r);
  if (buf) {
    if (bytes.size() > cap) throw std::out_of_range("write past the end of the buffer");
    std::copy(bytes.begin(), bytes.end(), buf);
  }
  return bytes.size();
}

// Reads a record from untrusted bytes; returns the bytes it used. Throws
// FormatError.
template <class R>
size_t Decode(const uint8_t* p, size_t n, R& out) {
  Reader rd(p, n);
  R r{};
  Syntax(rd, r);
  out = std::move(r);
  return rd.Pos();
}

// Reads and dumps a record's bytes into `root`; throws FormatError like
// Decode, with what was dumped so far left in `root`.
template <class R>
void DumpBytes(const uint8_t* p, size_t n, SDumpNode& root) {
  Dumper d(p, n, root);
  R r{};
  Syntax(d, r);
}

// The dump of a record in memory: written, then dumped as read back.
template <class R>
void DumpRecord(const R& r, SDumpNode& root) {
  std::vector<uint8_t> bytes = Encode(r);
  DumpBytes<R>(bytes.data(), bytes.size(), root);
}

}  // namespace zv::rec
