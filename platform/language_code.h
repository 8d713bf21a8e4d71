// An ISO 639-2 language code as it stands in project files, PMT descriptors
// and playlists: three bytes, not terminated. Codes the system chooses are
// three lower-case letters a-z; bytes read from a file are kept as read, so
// writing them back reproduces the file, and Valid() tells whether they form
// a code. The default value is three zero bytes ("no language").
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

class LanguageCode {
 public:
  constexpr LanguageCode() = default;
  // Bytes as they are; for codes from files and literals in tests.
  constexpr LanguageCode(char a, char b, char c) : bytes_{a, b, c} {}
  // A literal such as "eng", checked when the program is compiled.
  template <size_t N>
  consteval explicit LanguageCode(const char (&s)[N]) {
    static_assert(N == 4, "a language code has three letters");
    for (size_t i = 0; i < 3; ++i) {
      if (!IsLetter(s[i])) throw "a language code has lower-case letters a-z only";
      bytes_[i] = s[i];
    }
  }

  // Three lower-case letters, or nothing.
  static std::optional<LanguageCode> Parse(std::string_view text) {
    if (text.size() != 3 || !IsLetter(text[0]) || !IsLetter(text[1]) || !IsLetter(text[2])) return std::nullopt;
    return LanguageCode(text[0], text[1], text[2]);
  }

  constexpr bool Valid() const { return IsLetter(bytes_[0]) && IsLetter(bytes_[1]) && IsLetter(bytes_[2]); }
  constexpr bool Empty() const { return bytes_[0] == 0 && bytes_[1] == 0 && bytes_[2] == 0; }
  // The three bytes as text (zero bytes included, as stored).
  std::string Text() const { return std::string(bytes_.data(), bytes_.size()); }

  // For the byte-level readers and writers of the record formats.
  static constexpr size_t size() { return 3; }
  char* data() { return bytes_.data(); }
  const char* data() const { return bytes_.data(); }

  friend constexpr bool operator==(const LanguageCode&, const LanguageCode&) = default;
  friend constexpr auto operator<=>(const LanguageCode&, const LanguageCode&) = default;

 private:
  static constexpr bool IsLetter(char c) { return c >= 'a' && c <= 'z'; }
  std::array<char, 3> bytes_{};
};

inline constexpr LanguageCode kEnglish{"eng"};

}  // namespace zv
