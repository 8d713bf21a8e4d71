#include "platform/xml.h"

#include <algorithm>
#include <cstring>

namespace zv {

const std::string* XmlElement::Attribute(const std::string& key) const {
  for (const auto& [k, v] : attributes)
    if (k == key) return &v;
  return nullptr;
}

namespace {

constexpr int kMaxDepth = 256;

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  std::unique_ptr<XmlElement> Document(std::string& error) {
    std::unique_ptr<XmlElement> root;
    try {
      if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;  // a byte-order mark
      while (true) {
        SkipBlanks();
        if (pos_ >= s_.size()) break;
        if (Starts("<?")) {
          SkipPast("?>", "the end of a processing instruction \"?>\"");
        } else if (Starts("<!--")) {
          SkipPast("-->", "the end of a comment \"-->\"");
        } else if (Starts("<!DOCTYPE")) {
          SkipPast(">", "the end of the document type \">\"");
        } else if (Starts("<")) {
          if (root) Fail("a second root element");
          root = Element(0);
        } else {
          Fail("text outside the root element");
        }
      }
      if (!root) Fail("no root element");
    } catch (const std::string& e) {
      error = e;
      return nullptr;
    }
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) { throw "line " + std::to_string(line_) + ": " + what; }
  // At position `at`, ahead of the current one.
  [[noreturn]] void FailAt(size_t at, const std::string& what) {
    const int line = line_ + static_cast<int>(std::count(s_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                                         s_.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    throw "line " + std::to_string(line) + ": " + what;
  }

  bool Starts(const char* p) const { return s_.compare(pos_, std::strlen(p), p) == 0; }

  void Advance(size_t n) {
    for (size_t i = 0; i < n && pos_ < s_.size(); ++i)
      if (s_[pos_++] == '\n') ++line_;
  }

  void SkipBlanks() {
    while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_])) Advance(1);
  }

  void SkipPast(const char* end, const char* what) {
    const size_t at = s_.find(end, pos_);
    if (at == std::string::npos) Fail(std::string("missing ") + what);
    Advance(at + std::strlen(end) - pos_);
  }

  static bool NameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
  }

  std::string Name(const std::string& what) {
    const size_t start = pos_;
    while (pos_ < s_.size() && NameChar(s_[pos_])) ++pos_;
    if (pos_ == start) Fail("expected " + what);
    return s_.substr(start, pos_ - start);
  }

  // Character data with its entity and character references replaced.
  std::string Decode(size_t begin, size_t end) {
    std::string out;
    for (size_t i = begin; i < end; ++i) {
      if (s_[i] != '&') {
        out += s_[i];
        continue;
      }
      const size_t semi = s_.find(';', i);
      if (semi == std::string::npos || semi >= end) FailAt(i, "an '&' that starts no reference (write &amp;)");
      const std::string ref = s_.substr(i + 1, semi - i - 1);
      if (ref == "amp") out += '&';
      else if (ref == "lt") out += '<';
      else if (ref == "gt") out += '>';
      else if (ref == "quot") out += '"';
      else if (ref == "apos") out += '\'';
      else if (ref.size() > 1 && ref[0] == '#') {
        unsigned long cp = 0;
        const bool hex = ref[1] == 'x';
        for (size_t k = hex ? 2 : 1; k < ref.size(); ++k) {
          const char c = ref[k];
          int d = c >= '0' && c <= '9' ? c - '0' : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                        : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
          if (d < 0 || cp > 0x10FFFF) FailAt(i, "a malformed character reference &" + ref + ";");
          cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(d);
        }
        if (cp == 0 || cp > 0x10FFFF) FailAt(i, "a malformed character reference &" + ref + ";");
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (cp >> 18));
          out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
      } else {
        FailAt(i, "an unknown entity &" + ref + ";");
      }
      i = semi;
    }
    return out;
  }

  std::unique_ptr<XmlElement> Element(int depth) {
    if (depth >= kMaxDepth) Fail("elements nested too deeply");
    auto e = std::make_unique<XmlElement>();
    e->line = line_;
    Advance(1);  // '<'
    e->name = Name("an element name after '<'");
    while (true) {
      SkipBlanks();
      if (pos_ >= s_.size()) Fail("the end of the file inside <" + e->name + ">");
      if (Starts("/>")) {
        Advance(2);
        return e;
      }
      if (Starts(">")) {
        Advance(1);
        break;
      }
      std::string key = Name("an attribute name or the end of <" + e->name + ">");
      SkipBlanks();
      if (!Starts("=")) Fail("expected '=' after the attribute " + key + " of <" + e->name + ">");
      Advance(1);
      SkipBlanks();
      if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) Fail("expected a quoted value for " + key);
      const char quote = s_[pos_];
      const size_t end = s_.find(quote, pos_ + 1);
      if (end == std::string::npos) Fail("the value of " + key + " is not closed");
      if (s_.find('<', pos_ + 1) < end) Fail("a '<' inside the value of " + key);
      if (e->Attribute(key)) Fail("the attribute " + key + " of <" + e->name + "> is given twice");
      std::string value = Decode(pos_ + 1, end);
      Advance(end + 1 - pos_);
      e->attributes.emplace_back(std::move(key), std::move(value));
    }
    while (true) {
      const size_t lt = s_.find('<', pos_);
      if (lt == std::string::npos) Fail("<" + e->name + "> is not closed");
      e->text += Decode(pos_, lt);
      Advance(lt - pos_);
      if (Starts("</")) {
        Advance(2);
        const std::string name = Name("an element name after '</'");
        if (name != e->name) Fail("</" + name + "> closes <" + e->name + ">");
        SkipBlanks();
        if (!Starts(">")) Fail("expected '>' after </" + name);
        Advance(1);
        return e;
      }
      if (Starts("<!--")) {
        SkipPast("-->", "the end of a comment \"-->\"");
      } else if (Starts("<![CDATA[")) {
        Advance(9);
        const size_t end = s_.find("]]>", pos_);
        if (end == std::string::npos) Fail("missing the end of a CDATA section \"]]>\"");
        e->text += s_.substr(pos_, end - pos_);
        Advance(end + 3 - pos_);
      } else if (Starts("<?")) {
        SkipPast("?>", "the end of a processing instruction \"?>\"");
      } else {
        e->children.push_back(Element(depth + 1));
      }
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

std::unique_ptr<XmlElement> ParseXml(const std::string& text, std::string& error) {
  return Parser(text).Document(error);
}

}  // namespace zv
