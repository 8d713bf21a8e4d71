// Line formatting shared by the navigation-file dumps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/bytes.h"

namespace zv::navdump {

inline void Int(std::string& o, const std::string& in, const char* label, int64_t v) {
  o += in + label + ": " + std::to_string(v) + "\n";
}

inline void Hex(std::string& o, const std::string& in, const char* label, unsigned v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%02X", v);
  o += in + label + ": " + b + "\n";
}

inline void Str(std::string& o, const std::string& in, const std::string& label, const std::string& v) {
  o += in + label + ": " + v + "\n";
}

inline void Numbered(std::string& o, const std::string& in, const char* label, int64_t n) {
  o += in + label + " " + std::to_string(n) + ": \n";
}

inline std::string HexBytes(const uint8_t* p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

// Printable form of a four-character code read from an untrusted file.
inline std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  return out;
}

// Runs one part of a parse; a FormatError is rethrown naming the file and part.
inline void Part(const char* file, const char* part, const std::function<void()>& body) {
  ParseSection((std::string(file) + ": " + part).c_str(), body);
}

}  // namespace zv::navdump
