// A small streaming JSON writer for the shell's --json output.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zvapp {

class Json {
 public:
  Json& BeginObject() { Sep(); out_ += '{'; first_.push_back(true); return *this; }
  Json& EndObject() { first_.pop_back(); out_ += '}'; return *this; }
  Json& BeginArray() { Sep(); out_ += '['; first_.push_back(true); return *this; }
  Json& EndArray() { first_.pop_back(); out_ += ']'; return *this; }
  Json& Key(const std::string& k) { Sep(); Quote(k); out_ += ':'; keyed_ = true; return *this; }
  Json& Str(const std::string& v) { Sep(); Quote(v); return *this; }
  Json& Int(int64_t v) { Sep(); out_ += std::to_string(v); return *this; }
  Json& Num(double v);
  Json& Bool(bool v) { Sep(); out_ += v ? "true" : "false"; return *this; }
  Json& Null() { Sep(); out_ += "null"; return *this; }
  const std::string& Text() const { return out_; }
  // The text written since the last call, for printing a long document
  // piece by piece; the writer's place in the document is kept.
  std::string Take() { return std::exchange(out_, std::string()); }

 private:
  void Sep();
  void Quote(const std::string& s);
  std::string out_;
  std::vector<bool> first_;
  bool keyed_ = false;
};

}  // namespace zvapp
