// The dump tree every disc record renders into: the shell prints it as
// indented text lines or as JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv {

// One dump line or block. The text form is "%s%s: %s\n" for a value,
// "%s%s: \n" / "%s%s %d: \n" for a block header with nested lines one level
// deeper; the shell renders the same tree as JSON.
struct SDumpNode {
  std::string label;
  std::string value;
  int index = -1;                 // >= 0: "label index: "
  bool block = false;             // a header with children
  std::optional<int64_t> number;  // the value as a number, for JSON
  std::vector<SDumpNode> children;

  SDumpNode& Block(const std::string& l, int idx = -1);
  void Int(const std::string& l, int64_t v);
  void Hex2(const std::string& l, uint64_t v);  // 0x%02X
  void Hex4(const std::string& l, uint64_t v);  // 0x%04X
  void Text(const std::string& l, const std::string& text);
  void Named(const std::string& l, const std::string& text, int64_t v);  // "%s(%d)"
  void Indexed(const std::string& l, int idx, const std::string& text);  // "l idx: text"
  // Renders the children of this node, each line prefixed by `indent`.
  std::string Render(const std::string& indent = "") const;
};

// Bytes from a file shown as text: anything outside printable ASCII becomes '.'.
std::string PrintableText(const std::string& s);

// "0x" and `digits` upper-case hex digits.
std::string HexText(uint64_t v, int digits);

// Bytes as "01 AB ..".
std::string HexBytesText(const uint8_t* p, size_t n);

}  // namespace zv
