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

// How the Dumper shows a raw byte block.
struct HexBytes {
  void Put(SDumpNode& n, const char* label, const std::vector<uint8_t>& v) const {
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
  // "PlayList: PlayItem 1: STN_table: Length: " + what
  std::string Message(const std::string& what) const;

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

// Handle of an address field (a byte offset from the start of the walk).
struct AddressField {
  uint64_t value = 0;  // as read
  size_t at = 0;       // position of the field
  unsigned bytes = 0;
};

// ---------------------------------------------------------------- Reader

class Reader {
 public:
  static constexpr bool kReading = true;
  static constexpr bool kWriting = false;
  static constexpr bool kDumping = false;

  Reader(const uint8_t* p, size_t n) : p_(p), n_(n), end_(n) {}
  explicit Reader(const std::vector<uint8_t>& v) : Reader(v.data(), v.size()) {}

  size_t Pos() const { return pos_; }
  // Bytes left in the innermost length-bounded body (or the data).
  size_t Remaining() const { return end_ - pos_; }

  template <class T, class S = Dec>
  void Bits(unsigned n, const char* label, T& v, S = {}) {
    path_.SetField(label);
    v = static_cast<T>(GetBits(n));
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
  void Fixed(unsigned bits, const char* label, uint64_t expected);
  // Fixed-length text, taken as bytes.
  void Text(size_t n, const char* label, std::string& s);
  // Reserved bits (or bytes, `bits` a multiple of 8 on a byte boundary).
  void Reserved(unsigned bits);
  void ReservedBytes(size_t n) { Skip(n, "reserved"); }
  template <class S = HexBytes>
  void Raw(size_t n, const char* label, std::vector<uint8_t>& v, S = {}) {
    path_.SetField(label);
    Need(n);
    v.assign(p_ + pos_, p_ + pos_ + n);
    pos_ += n;
  }
  // The rest of the innermost body as raw bytes.
  template <class S = HexBytes>
  void Rest(const char* label, std::vector<uint8_t>& v, S s = {}) { Raw(Remaining(), label, v, s); }

  // A length field of `bits` (8, 16 or 32) counting the bytes after it.
  LengthScope<Reader> Length(unsigned bits, const char* label) { return {*this, OpenLength(bits, label)}; }
  // An address field; At() moves the walk there.
  AddressField Address(unsigned bits, const char* label);
  void At(const AddressField& a, const char* section);
  // Address 0 means "absent"; otherwise moves there and returns true.
  bool AtIf(const AddressField& a, bool /*present*/, const char* section) {
    if (a.value == 0) return false;
    At(a, section);
    return true;
  }
  // Skips zero padding up to a multiple of `n` bytes from the start.
  void Align(size_t n);

  // A named section; errors inside name it.
  template <class F>
  void Section(const char* label, F&& body) { Section(label, -1, std::forward<F>(body)); }
  template <class F>
  void Section(const char* label, int index, F&& body) {
    SyntaxPath::Scope scope(path_, label, index);
    body();
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

  // Throws FormatError naming the current path.
  [[noreturn]] void Fail(const std::string& what) const;

  // Used by LengthScope.
  void EndLength(const LengthInfo& l, bool skipRest);
  void AbandonLength(const LengthInfo& l) { end_ = l.outer; }

 protected:
  template <class T, class S>
  void Uint(unsigned bytes, const char* label, T& v, S) {
    path_.SetField(label);
    v = static_cast<T>(GetBytes(bytes));
  }
  LengthInfo OpenLength(unsigned bits, const char* label);
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

// ---------------------------------------------------------------- Dumper

// Reads like the Reader and records each field into a dump tree under
// `root`: sections become blocks, fields lines with their labels.
class Dumper : public Reader {
 public:
  static constexpr bool kDumping = true;

  Dumper(const uint8_t* p, size_t n, SDumpNode& root) : Reader(p, n), stack_{&root} {}
  Dumper(const std::vector<uint8_t>& v, SDumpNode& root) : Dumper(v.data(), v.size(), root) {}

  SDumpNode& Node() { return *stack_.back(); }

  template <class T, class S = Dec>
  void Bits(unsigned n, const char* label, T& v, S s = {}) {
    Reader::Bits(n, label, v);
    s.Put(Node(), label, static_cast<uint64_t>(v));
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

  void Fixed(unsigned bits, const char* label, uint64_t expected) {
    Reader::Fixed(bits, label, expected);
    Node().Int(label, static_cast<int64_t>(expected));
  }
  void Text(size_t n, const char* label, std::string& s) {
    Reader::Text(n, label, s);
    Node().Text(label, PrintableText(s));
  }
  template <class S = HexBytes>
  void Raw(size_t n, const char* label, std::vector<uint8_t>& v, S s = {}) {
    Reader::Raw(n, label, v);
    s.Put(Node(), label, v);
  }
  template <class S = HexBytes>
  void Rest(const char* label, std::vector<uint8_t>& v, S s = {}) { Raw(Remaining(), label, v, s); }

  LengthScope<Dumper> Length(unsigned bits, const char* label) {
    LengthInfo l = OpenLength(bits, label);
    Node().Int(label, static_cast<int64_t>(l.value));
    return {*this, l};
  }
  AddressField Address(unsigned bits, const char* label) {
    AddressField a = Reader::Address(bits, label);
    Node().Int(label, static_cast<int64_t>(a.value));
    return a;
  }

  template <class F>
  void Section(const char* label, F&& body) { Section(label, -1, std::forward<F>(body)); }
  template <class F>
  void Section(const char* label, int index, F&& body) {
    stack_.push_back(&Node().Block(label, index));
    Reader::Section(label, index, std::forward<F>(body));
    stack_.pop_back();
  }
  template <class R>
  void Record(const char* label, R& r, int index = -1) {
    Section(label, index, [&] { Syntax(*this, r); });
  }
  template <class V, class F>
  void Elements(V& v, uint64_t n, F&& each) {
    v.clear();
    for (uint64_t i = 0; i < n; ++i) {
      v.emplace_back();
      detail::CallEach(each, v.back(), i);
    }
  }
  template <class V, class F>
  void Array(unsigned bits, const char* countLabel, V& v, F&& each) {
    uint64_t n = 0;
    Bits(bits, countLabel, n);
    Elements(v, n, std::forward<F>(each));
  }
  template <class V>
  void Records(unsigned bits, const char* countLabel, const char* elemLabel, V& v) {
    Array(bits, countLabel, v, [&](auto& e, uint64_t i) { Record(elemLabel, e, static_cast<int>(i)); });
  }


 private:
  template <class T, class S>
  void Uint(unsigned bytes, const char* label, T& v, S s) {
    Reader::Uint(bytes, label, v, s);
    s.Put(Node(), label, static_cast<uint64_t>(v));
  }
  std::vector<SDumpNode*> stack_;
};

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
  void Text(size_t n, const char* label, const std::string& s);
  void Reserved(unsigned bits);
  void ReservedBytes(size_t n);
  template <class S = HexBytes>
  void Raw(size_t n, const char* label, const std::vector<uint8_t>& v, S = {}) { PutRaw(n, label, v); }
  template <class S = HexBytes>
  void Rest(const char* label, const std::vector<uint8_t>& v, S = {}) { PutRaw(v.size(), label, v); }

  LengthScope<Writer> Length(unsigned bits, const char* label);
  AddressField Address(unsigned bits, const char* label);
  // Patches the address with the current position.
  void At(const AddressField& a, const char* section);
  // Patches the address when `present`; otherwise it stays 0.
  bool AtIf(const AddressField& a, bool present, const char* section) {
    if (present) At(a, section);
    return present;
  }
  // Zero padding up to a multiple of `n` bytes from the start.
  void Align(size_t n);

  template <class F>
  void Section(const char* label, F&& body) { Section(label, -1, std::forward<F>(body)); }
  template <class F>
  void Section(const char* label, int index, F&& body) {
    SyntaxPath::Scope scope(path_, label, index);
    body();
  }
  template <class R>
  void Record(const char* label, const R& r, int index = -1) {
    Section(label, index, [&] { Syntax(*this, const_cast<R&>(r)); });
  }
  template <class V, class F>
  void Elements(const V& v, uint64_t n, F&& each) {
    if (v.size() != n) Fail("holds " + std::to_string(v.size()) + " elements, its count says " + std::to_string(n));
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
  void NeedAligned(const char* label) const;
  void Patch(size_t at, unsigned bytes, uint64_t v, const char* what);

  std::vector<uint8_t> out_;
  uint64_t bitAcc_ = 0;
  unsigned bitCount_ = 0;
  SyntaxPath path_;
};

// ---------------------------------------------------------------- helpers

// Writes a record through its Syntax function.
template <class R>
std::vector<uint8_t> Encode(const R& r) {
  Writer w;
  Syntax(w, const_cast<R&>(r));
  return w.Take();
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
