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

void Json::Quote(const std::string& s) {
  out_ += '"';
  for (unsigned char c : s) {
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
