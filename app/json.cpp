#include "app/json.h"

#include <cmath>
#include <cstdio>

namespace zvapp {

void Json::Sep() {
  if (keyed_) {
    keyed_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

namespace {

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none.
size_t Utf8Length(const std::string& s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = at(i);
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((at(i + k) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((c == 0xE0 && at(i + 1) < 0xA0) || (c == 0xED && at(i + 1) >= 0xA0) || (c == 0xF0 && at(i + 1) < 0x90) ||
      (c == 0xF4 && at(i + 1) >= 0x90))
    return 0;
  return n;
}

}  // namespace

// JSON is UTF-8. Names from chapter files and old projects are often in a
// single-byte code page: a byte that starts no valid sequence is taken as
// Latin-1 and escaped, so the document stays readable by strict parsers.
void Json::Quote(const std::string& s) {
  out_ += '"';
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const size_t n = Utf8Length(s, i);
      if (n == 0) {
        char b[8];
        std::snprintf(b, sizeof b, "\\u%04x", c);
        out_ += b;
      } else {
        out_.append(s, i, n);
        i += n - 1;
      }
      continue;
    }
    switch (c) {
      case '"': out_ += "\\\""; break;
      case '\\': out_ += "\\\\"; break;
      case '\n': out_ += "\\n"; break;
      case '\r': out_ += "\\r"; break;
      case '\t': out_ += "\\t"; break;
      default:
        if (c < 0x20) {
          char b[8];
          std::snprintf(b, sizeof b, "\\u%04x", c);
          out_ += b;
        } else {
          out_ += static_cast<char>(c);
        }
    }
  }
  out_ += '"';
}

Json& Json::Num(double v) {
  Sep();
  if (!std::isfinite(v)) {
    out_ += "null";
    return *this;
  }
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", v);
  out_ += b;
  return *this;
}

}  // namespace zvapp
