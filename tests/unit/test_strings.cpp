#include <gtest/gtest.h>

#include "core/format.h"
#include "core/strings.h"

using namespace qv;

TEST(Trim, RemovesControlAndSpaceAtBothEndsOnly) {
  struct Case { std::string in, out; };
  const Case cases[] = {
      {"", ""},
      {"   ", ""},
      {"\t C:\\Quorvel \r\n", "C:\\Quorvel"},
      {"a b", "a b"},                       // inner spaces stay
      {std::string("\x01x\x1f", 3), "x"},   // every code up to 32 goes
      {"\x7f" "x", "\x7f" "x"},             // DEL (127) is not trimmed
      {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"},  // nor a no-break space
      {" \xE6\x97\xA5\xE6\x9C\xAC ", "\xE6\x97\xA5\xE6\x9C\xAC"},
  };
  for (const auto& c : cases) EXPECT_EQ(Trim(c.in), c.out) << "input: " << c.in;
}

TEST(JoinPath, JoinsWithOneBackslash) {
  struct Case { std::string folder, name, out; };
  const Case cases[] = {
      {"C:\\Program Files", "Quorvel", "C:\\Program Files\\Quorvel"},
      {"C:\\Temp\\", "quorvel-setup.log", "C:\\Temp\\quorvel-setup.log"},
      {"C:\\Temp/", "x.exe", "C:\\Temp/x.exe"},
      {"", "Quorvel", "Quorvel"},
      {"C:\\Temp", "", "C:\\Temp"},
      {"", "", ""},
      {"C:\\Temp", "D:\\Other\\a.exe", "D:\\Other\\a.exe"},
      {"C:\\Temp", "\\\\server\\share\\a", "\\\\server\\share\\a"},
      {"C:\\Temp", "\\rooted", "\\rooted"},
      {"C:", "x", "C:\\x"},
      {"C:\\", "x", "C:\\x"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JoinPath(c.folder, c.name), c.out) << c.folder << " + " << c.name;
}

TEST(Utf, RoundTripsAndRepairsInvalidInput) {
  const std::string mixed = "A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";  // A é 日 😀
  const std::u16string w = Utf8ToUtf16(mixed);
  ASSERT_EQ(w.size(), 5u);  // the emoji is a surrogate pair
  EXPECT_EQ(w[2], u'\u65E5');
  EXPECT_EQ(Utf16ToUtf8(w), mixed);
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xE6\x97"), u"\uFFFD\uFFFD");  // truncated sequence
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Format, ConversionsAndEdgeCases) {
  EXPECT_EQ(Format("DL: HTTP %d %s, received %d bytes total", {206, "Partial Content", 1500LL}),
            "DL: HTTP 206 Partial Content, received 1500 bytes total");
  EXPECT_EQ(Format("%d", {-2147483648LL}), "-2147483648");
  EXPECT_EQ(Format("%d", {9223372036854775807LL}), "9223372036854775807");
  EXPECT_EQ(Format("100%% of %s", {"x"}), "100% of x");
  EXPECT_EQ(Format("%s and %s", {"one"}), "one and %s");  // missing argument stays visible
  EXPECT_EQ(Format("trailing %", {}), "trailing %");
  EXPECT_EQ(Format("%x", {1}), "%x");
}
