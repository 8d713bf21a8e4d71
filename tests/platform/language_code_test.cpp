// The language-code value type: what it accepts from text, and that bytes
// read from a file survive unchanged even when they are not a code.
#include <gtest/gtest.h>

#include <set>

#include "platform/language_code.h"

using zv::LanguageCode;

TEST(LanguageCode, ParseAcceptsThreeLowerCaseLettersOnly) {
  ASSERT_TRUE(LanguageCode::Parse("fra"));
  EXPECT_EQ(LanguageCode::Parse("fra")->Text(), "fra");
  EXPECT_EQ(*LanguageCode::Parse("eng"), zv::kEnglish);
  for (const char* bad : {"", "en", "engl", "Eng", "ENG", "en1", "e g", "az{", "`az"})
    EXPECT_FALSE(LanguageCode::Parse(bad)) << '"' << bad << '"';
  EXPECT_FALSE(LanguageCode::Parse(std::string_view("en\0", 3)));
}

TEST(LanguageCode, BytesFromAFileAreKeptAsTheyStand) {
  const LanguageCode none;
  EXPECT_TRUE(none.Empty());
  EXPECT_FALSE(none.Valid());
  EXPECT_EQ(none.Text(), std::string(3, '\0'));

  const LanguageCode odd('E', 'n', '\xFF');
  EXPECT_FALSE(odd.Valid());
  EXPECT_FALSE(odd.Empty());
  EXPECT_EQ(odd.Text(), "En\xFF");
  EXPECT_EQ(std::string(odd.data(), odd.size()), "En\xFF");

  LanguageCode filled;
  filled.data()[0] = 'd';
  filled.data()[1] = 'e';
  filled.data()[2] = 'u';
  EXPECT_TRUE(filled.Valid());
  EXPECT_EQ(filled, LanguageCode("deu"));
}

TEST(LanguageCode, OrdersAndComparesByItsBytes) {
  std::set<LanguageCode> codes{LanguageCode("jpn"), LanguageCode("deu"), LanguageCode("eng"), LanguageCode("deu")};
  ASSERT_EQ(codes.size(), 3u);
  EXPECT_EQ(codes.begin()->Text(), "deu");
  EXPECT_EQ(codes.rbegin()->Text(), "jpn");
  EXPECT_NE(LanguageCode("eng"), LanguageCode("enm"));
}
