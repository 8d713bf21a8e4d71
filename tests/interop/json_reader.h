// A small JSON reader for the interop tests: reads what zv_bdclient and
// `zelvane dump --json` print and what mkvmerge -J reports. Malformed text
// throws, so a broken writer fails the test instead of reading as empty.
#pragma once

#include <cctype>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zvtest {

class JsonValue {
 public:
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind() const { return kind_; }
  bool Has(const std::string& key) const { return kind_ == kObject && object_.count(key) != 0; }
  const JsonValue& operator[](const std::string& key) const {
    if (!Has(key)) throw std::runtime_error("JSON: no member \"" + key + "\"");
    return object_.at(key);
  }
  const JsonValue& operator[](size_t i) const {
    if (kind_ != kArray || i >= array_.size()) throw std::runtime_error("JSON: no element " + std::to_string(i));
    return array_[i];
  }
  size_t size() const { return kind_ == kArray ? array_.size() : kind_ == kObject ? object_.size() : 0; }
  const std::vector<JsonValue>& Items() const {
    if (kind_ != kArray) throw std::runtime_error("JSON: not an array");
    return array_;
  }
  int64_t Int() const {
    if (kind_ != kNumber || text_.find_first_of(".eE") != std::string::npos)
      throw std::runtime_error("JSON: not an integer: " + text_);
    return std::stoll(text_);
  }
  const std::string& Str() const {
    if (kind_ != kString) throw std::runtime_error("JSON: not a string");
    return text_;
  }

  static JsonValue Parse(const std::string& text) {
    size_t at = 0;
    JsonValue v = ParseValue(text, at);
    SkipBlanks(text, at);
    if (at != text.size()) throw std::runtime_error("JSON: trailing text at " + std::to_string(at));
    return v;
  }

 private:
  static void SkipBlanks(const std::string& s, size_t& at) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r' || s[at] == '\t')) ++at;
  }
  static void Expect(const std::string& s, size_t& at, char c) {
    SkipBlanks(s, at);
    if (at >= s.size() || s[at] != c) throw std::runtime_error(std::string("JSON: expected '") + c + "' at " + std::to_string(at));
    ++at;
  }
  static std::string ParseString(const std::string& s, size_t& at) {
    Expect(s, at, '"');
    std::string out;
    while (at < s.size() && s[at] != '"') {
      char c = s[at++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at >= s.size()) break;
      c = s[at++];
      switch (c) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at + 4 > s.size()) throw std::runtime_error("JSON: short \\u escape");
          const unsigned long code = std::stoul(s.substr(at, 4), nullptr, 16);
          at += 4;
          // The texts read here are ASCII; anything else only has to survive.
          out += code < 0x80 ? static_cast<char>(code) : '?';
          break;
        }
        default: out += c; break;
      }
    }
    if (at >= s.size()) throw std::runtime_error("JSON: unterminated string");
    ++at;
    return out;
  }
  static JsonValue ParseValue(const std::string& s, size_t& at) {
    SkipBlanks(s, at);
    if (at >= s.size()) throw std::runtime_error("JSON: unexpected end");
    JsonValue v;
    const char c = s[at];
    if (c == '{') {
      v.kind_ = kObject;
      ++at;
      SkipBlanks(s, at);
      if (at < s.size() && s[at] == '}') return ++at, v;
      for (;;) {
        std::string key = ParseString(s, at);
        Expect(s, at, ':');
        v.object_[key] = ParseValue(s, at);
        SkipBlanks(s, at);
        if (at < s.size() && s[at] == ',') { ++at; continue; }
        Expect(s, at, '}');
        return v;
      }
    }
    if (c == '[') {
      v.kind_ = kArray;
      ++at;
      SkipBlanks(s, at);
      if (at < s.size() && s[at] == ']') return ++at, v;
      for (;;) {
        v.array_.push_back(ParseValue(s, at));
        SkipBlanks(s, at);
        if (at < s.size() && s[at] == ',') { ++at; continue; }
        Expect(s, at, ']');
        return v;
      }
    }
    if (c == '"') {
      v.kind_ = kString;
      v.text_ = ParseString(s, at);
      return v;
    }
    for (const char* word : {"true", "false", "null"}) {
      const std::string w = word;
      if (s.compare(at, w.size(), w) == 0) {
        at += w.size();
        v.kind_ = w == "null" ? kNull : kBool;
        v.text_ = w;
        return v;
      }
    }
    const size_t start = at;
    while (at < s.size() && (std::isdigit(static_cast<unsigned char>(s[at])) || s[at] == '-' || s[at] == '+' ||
                             s[at] == '.' || s[at] == 'e' || s[at] == 'E'))
      ++at;
    if (at == start) throw std::runtime_error("JSON: unexpected '" + std::string(1, c) + "' at " + std::to_string(at));
    v.kind_ = kNumber;
    v.text_ = s.substr(start, at - start);
    return v;
  }

  Kind kind_ = kNull;
  std::string text_;
  std::vector<JsonValue> array_;
  std::map<std::string, JsonValue> object_;
};

}  // namespace zvtest
