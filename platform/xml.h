// A small XML reader for the files users write by hand: elements with
// attributes, nested, with comments, processing instructions, CDATA and
// the five predefined entities. Text between elements is kept but not
// interpreted. Errors name the line and what was expected.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zv {

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // in file order
  std::vector<std::unique_ptr<XmlElement>> children;
  std::string text;  // character data directly inside, concatenated
  int line = 0;      // of the start tag

  // The attribute's value, or null when it is absent.
  const std::string* Attribute(const std::string& key) const;
};

// Parses a whole document: one root element, anything else only comments,
// processing instructions or blanks. Null with `error` ("line N: ...") on
// malformed input. Nesting deeper than 256 levels is refused.
std::unique_ptr<XmlElement> ParseXml(const std::string& text, std::string& error);

}  // namespace zv
