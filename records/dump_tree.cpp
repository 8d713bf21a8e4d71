#include "records/dump_tree.h"

#include <cstdio>

namespace zv {

SDumpNode& SDumpNode::Block(const std::string& l, int idx) {
  SDumpNode n;
  n.label = l;
  n.index = idx;
  n.block = true;
  children.push_back(std::move(n));
  return children.back();
}

void SDumpNode::Int(const std::string& l, int64_t v) {
  SDumpNode n;
  n.label = l;
  n.value = std::to_string(v);
  n.number = v;
  children.push_back(std::move(n));
}

std::string HexText(uint64_t v, int digits) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return b;
}

std::string HexBytesText(const uint8_t* p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

void SDumpNode::Hex2(const std::string& l, uint64_t v) {
  Text(l, HexText(v, 2));
  children.back().number = static_cast<int64_t>(v);
}

void SDumpNode::Hex4(const std::string& l, uint64_t v) {
  Text(l, HexText(v, 4));
  children.back().number = static_cast<int64_t>(v);
}

void SDumpNode::Text(const std::string& l, const std::string& text) {
  SDumpNode n;
  n.label = l;
  n.value = text;
  children.push_back(std::move(n));
}

void SDumpNode::Named(const std::string& l, const std::string& text, int64_t v) {
  Text(l, text + "(" + std::to_string(v) + ")");
}

void SDumpNode::Indexed(const std::string& l, int idx, const std::string& text) {
  Text(l, text);
  children.back().index = idx;
}

static void RenderInto(const SDumpNode& n, const std::string& indent, std::string& out) {
  out += indent;
  out += n.label;
  if (n.index >= 0) out += " " + std::to_string(n.index);
  out += ": ";
  out += n.value;
  out += "\n";
  for (const auto& c : n.children) RenderInto(c, indent + "  ", out);
}

std::string SDumpNode::Render(const std::string& indent) const {
  std::string out;
  for (const auto& c : children) RenderInto(c, indent, out);
  return out;
}

std::string PrintableText(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c < 0x20 || c > 0x7E) c = '.';
  return out;
}

}  // namespace zv
