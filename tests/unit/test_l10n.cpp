#include <gtest/gtest.h>

#include "test_files.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "app/uLogger.h"
#include "core/format.h"
#include "core/strings.h"
#include "l10n/uLang.h"

namespace fs = std::filesystem;
using namespace qv;

namespace {


// Every field of TUIStrings with its name, in record order.
struct Field {
  const char* name;
  std::string_view TUIStrings::*member;
};
const Field kFields[] = {
    {"LangName", &TUIStrings::LangName},
    {"InnoId", &TUIStrings::InnoId},
    {"ReadAgreed", &TUIStrings::ReadAgreed},
    {"Privacy", &TUIStrings::Privacy},
    {"AndWord", &TUIStrings::AndWord},
    {"License", &TUIStrings::License},
    {"InstallSetting", &TUIStrings::InstallSetting},
    {"SelectLanguage", &TUIStrings::SelectLanguage},
    {"InstallPath", &TUIStrings::InstallPath},
    {"Browse", &TUIStrings::Browse},
    {"BtnInstall", &TUIStrings::BtnInstall},
    {"BtnRetry", &TUIStrings::BtnRetry},
    {"BtnStartNow", &TUIStrings::BtnStartNow},
    {"BtnHide", &TUIStrings::BtnHide},
    {"InstallingWait", &TUIStrings::InstallingWait},
    {"Cancelling", &TUIStrings::Cancelling},
    {"InstallInProgress", &TUIStrings::InstallInProgress},
    {"ChooseLocation", &TUIStrings::ChooseLocation},
    {"DownloadFailed", &TUIStrings::DownloadFailed},
    {"DownloadFailedMsg", &TUIStrings::DownloadFailedMsg},
    {"OfflineLink", &TUIStrings::OfflineLink},
    {"InstallFailed", &TUIStrings::InstallFailed},
    {"ElevationCancelled", &TUIStrings::ElevationCancelled},
    {"CouldNotStart", &TUIStrings::CouldNotStart},
    {"InstallerError", &TUIStrings::InstallerError},
    {"ExitConfirm", &TUIStrings::ExitConfirm},
    {"SelectFolder", &TUIStrings::SelectFolder},
};
static_assert(sizeof(kFields) / sizeof(kFields[0]) == 27);
static_assert(sizeof(TUIStrings) == 27 * sizeof(std::string_view), "a field was added or lost");

bool IsCjk(int lang) { return lang >= 6; }

}  // namespace

// ---- Language choice ----------------------------------------------------------------------

TEST(LanguageChoice, WindowsLanguageIdentifiersMapOntoTheNineLanguages) {
  const struct {
    uint16_t id;
    int index;
  } cases[] = {
      {0x0409, 0}, {0x0809, 0}, {0x0419, 0}, {0x0000, 0}, {0xFFFF, 0}, {0x0413, 0},  // not listed
      {0x0407, 1}, {0x0807, 1}, {0x0C07, 1}, {0x0007, 1},                              // German
      {0x040C, 2}, {0x0C0C, 2},                                                        // French
      {0x0C0A, 3}, {0x080A, 3}, {0x540A, 3},                                           // Spanish
      {0x0416, 4}, {0x0816, 4},                                                        // Portuguese
      {0x0410, 5}, {0x0810, 5},                                                        // Italian
      {0x0411, 8}, {0x0011, 8},                                                        // Japanese
      {0x0804, 6}, {0x1004, 6},                                  // PRC, Singapore: simplified
      {0x0404, 7}, {0x0C04, 7}, {0x1404, 7}, {0x0004, 7}, {0x7C04, 7},  // other Chinese regions
      // Only the low ten bits name the language: 0x0C11 is not Chinese, 0x0414 is not Chinese.
      {0x0C11, 8}, {0x0414, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LanguageIndexForLangId(c.id), c.index) << std::hex << "0x" << c.id;
  }
}

// ---- The string table -----------------------------------------------------------------------

TEST(StringTable, LanguagesAreInIndexOrderWithTheirCodes) {
  const std::vector<std::string_view> codes = {"en", "de", "fr", "es", "pt",
                                               "it", "zh-Hans", "zh-Hant", "ja"};
  EXPECT_EQ(std::vector<std::string_view>(LanguageCodes.begin(), LanguageCodes.end()), codes);
  EXPECT_EQ(UIStringsTable.front().LangName, "English");
  EXPECT_EQ(UIStringsTable.back().LangName, "日本語");
  std::set<std::string_view> names, innoIds;
  for (const auto& t : UIStringsTable) {
    EXPECT_TRUE(names.insert(t.LangName).second) << t.LangName;
    EXPECT_TRUE(innoIds.insert(t.InnoId).second) << t.InnoId;
    for (const char c : t.InnoId) EXPECT_TRUE(c >= 'a' && c <= 'z') << t.InnoId;
  }
}

TEST(StringTable, EveryTextIsPresentCleanAndValidUtf8) {
  for (int lang = 0; lang < kLanguageCount; ++lang) {
    for (const Field& f : kFields) {
      const std::string_view s = UIStringsTable[lang].*f.member;
      SCOPED_TRACE(std::string(LanguageCodes[lang]) + "." + f.name + " = \"" + std::string(s) + "\"");
      ASSERT_FALSE(s.empty());
      // Valid UTF-8: a round trip changes nothing.
      EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s);
      // Only CouldNotStart may end in a space; no text starts with one or has two in a row.
      if (std::string_view(f.name) != "CouldNotStart") {
        EXPECT_EQ(Trim(s), s);
      }
      EXPECT_NE(s.front(), ' ');
      EXPECT_EQ(s.find("  "), std::string_view::npos);
      // Ellipses and apostrophes are ASCII; no typographic look-alikes or hidden spaces.
      for (const char* bad : {"\u2026", "\u2019", "\u2018", "\u00A0", "\u202F", "\u200B", "\t"})
        EXPECT_EQ(s.find(bad), std::string_view::npos) << "unexpected character";
      // An ellipsis is exactly three full stops.
      EXPECT_EQ(s.find("...."), std::string_view::npos);
      if (IsCjk(lang)) {
        // Full-width punctuation only: the ASCII forms would be a slip of the keyboard.
        for (const char c : {',', ':', '(', ')', '?', ';', '!'})
          EXPECT_EQ(s.find(c), std::string_view::npos) << "ASCII '" << c << "'";
      } else {
        for (const char* fw : {"\uFF0C", "\uFF1A", "\uFF08", "\uFF09", "\uFF1F", "\u3001", "\u3002"})
          EXPECT_EQ(s.find(fw), std::string_view::npos) << "full-width punctuation";
      }
      if (lang == 2) {
        // French: an ordinary space before every colon and question mark.
        for (size_t at = s.find_first_of(":?"); at != std::string_view::npos;
             at = s.find_first_of(":?", at + 1)) {
          EXPECT_TRUE(at > 0 && s[at - 1] == ' ') << "no space before '" << s[at] << "'";
        }
      } else if (!IsCjk(lang)) {
        for (size_t at = s.find_first_of(":?"); at != std::string_view::npos;
             at = s.find_first_of(":?", at + 1)) {
          EXPECT_TRUE(at > 0 && s[at - 1] != ' ') << "space before '" << s[at] << "'";
        }
      }
    }
  }
}

TEST(StringTable, PlaceholdersOnlyInTheTwoFormattedTexts) {
  for (int lang = 0; lang < kLanguageCount; ++lang) {
    for (const Field& f : kFields) {
      const std::string_view s = UIStringsTable[lang].*f.member;
      SCOPED_TRACE(std::string(LanguageCodes[lang]) + "." + f.name);
      const std::string name = f.name;
      const size_t percents = static_cast<size_t>(std::count(s.begin(), s.end(), '%'));
      if (name == "InstallerError") {
        EXPECT_EQ(percents, 1u);
        EXPECT_NE(s.find("%d"), std::string_view::npos);
      } else if (name == "ExitConfirm") {
        EXPECT_EQ(percents, 1u);
        EXPECT_NE(s.find("%s"), std::string_view::npos);
      } else {
        EXPECT_EQ(percents, 0u);
      }
    }
  }
}

TEST(StringTable, CouldNotStartLeadsIntoTheSystemMessage) {
  const std::string systemText = "The system cannot find the file specified.";
  for (int lang = 0; lang < kLanguageCount; ++lang) {
    const std::string msg = std::string(UIStringsTable[lang].CouldNotStart) + systemText;
    SCOPED_TRACE(msg);
    if (IsCjk(lang)) {
      EXPECT_NE(msg.find("\uFF1A" + systemText), std::string::npos);
    } else {
      EXPECT_NE(msg.find(": " + systemText), std::string::npos);
      EXPECT_EQ(msg.find("  "), std::string::npos);
    }
  }
}

TEST(StringTable, FormattingTheExitCodeAndTheProductName) {
  for (int lang = 0; lang < kLanguageCount; ++lang) {
    const TUIStrings& t = UIStringsTable[lang];
    SCOPED_TRACE(t.LangName);
    std::string expected(t.InstallerError);
    expected.replace(expected.find("%d"), 2, "2");
    EXPECT_EQ(Format(t.InstallerError, {2}), expected);
    // Exit codes of 2^31 and above are shown as the negative signed number.
    const unsigned long exitCode = 0xC0000005UL;
    const std::string big = Format(t.InstallerError, {static_cast<int32_t>(exitCode)});
    EXPECT_NE(big.find("-1073741819"), std::string::npos) << big;

    const std::string question = Format(t.ExitConfirm, {"Quorvel"});
    EXPECT_EQ(question.find("%"), std::string::npos);
    EXPECT_NE(question.find("Quorvel"), std::string::npos);
  }
  EXPECT_EQ(Format(UIStringsTable[8].ExitConfirm, {"Quorvel"}).rfind("Quorvel ", 0), 0u);
  EXPECT_EQ(Format(UIStringsTable[0].ExitConfirm, {"Quorvel"}),
            "Are you sure you want to exit Quorvel Setup?");
}

// ---- Slide captions -------------------------------------------------------------------------

namespace {

class SlideLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qvslides-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    LoggerFinalize();
    ClearSlideCaptions();
    fs::remove_all(dir_);
  }

  // Loads a document with a fresh log and returns the "L10N:" messages it wrote.
  std::vector<std::string> Load(std::string_view json) {
    const fs::path log = dir_ / ("log" + std::to_string(++n_) + ".txt");
    LoggerStartupAt(log.string());
    LoadSlideCaptionsFromText(json);
    LoggerFinalize();
    std::vector<std::string> out;
    std::istringstream in(test::ReadFileBytes(log));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const auto at = line.find("  L10N: ");
      if (at != std::string::npos) out.push_back(line.substr(at + 2));
    }
    return out;
  }

  static std::vector<std::string> Row(int lang) {
    std::vector<std::string> r;
    for (int s = 0; s < kSlideCount; ++s) r.push_back(SlideCaption(lang, s));
    return r;
  }

  fs::path dir_;
  int n_ = 0;
};

const std::vector<std::string> kEn = {"e1", "e2", "e3", "e4"};
const std::vector<std::string> kDe = {"d1", "d2", "d3", "d4"};
const std::vector<std::string> kNone = {"", "", "", ""};
const char kEnJson[] = R"("en":["e1","e2","e3","e4"])";
const char kDeJson[] = R"("de":["d1","d2","d3","d4"])";

}  // namespace

TEST_F(SlideLoader, ShippedResourceHasAllThirtySixCaptions) {
  const fs::path file = fs::path(__FILE__).parent_path() / "../../src/resources/slides.json";
  const std::string text = test::ReadFileBytes(file);
  ASSERT_FALSE(text.empty()) << file;
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF") << "the resource is stored without a BOM";
  EXPECT_EQ(Load(text), std::vector<std::string>{"L10N: slides loaded (9 languages in resource)"});
  std::set<std::string> all;
  for (int lang = 0; lang < kLanguageCount; ++lang)
    for (int s = 0; s < kSlideCount; ++s) {
      EXPECT_FALSE(SlideCaption(lang, s).empty()) << lang << "/" << s;
      all.insert(SlideCaption(lang, s));
    }
  EXPECT_EQ(all.size(), 36u) << "a language repeats another's captions";
  EXPECT_EQ(SlideCaption(0, 2), "Download from sites you\u2019re signed in to");
  EXPECT_EQ(SlideCaption(5, 2), "Scarica dai siti a cui hai effettuato l\u2019accesso");
  EXPECT_EQ(SlideCaption(8, 3), "形式と画質を選択");
}

TEST_F(SlideLoader, LanguagesFallBackOnlyWhenMissing) {
  const std::string loaded = "L10N: slides loaded (%d languages in resource)";
  const struct {
    const char* what;
    std::string json;
    std::vector<std::string> fr;
    std::vector<std::string> de;
    std::string line;
  } cases[] = {
      {"fr missing: English", std::string("{") + kEnJson + "," + kDeJson + "}", kEn, kDe,
       Format(loaded, {2})},
      {"fr and en missing: empty", std::string("{") + kDeJson + "}", kNone, kDe, Format(loaded, {1})},
      {"short fr array: no English for the rest",
       std::string("{") + kEnJson + R"(,"fr":["f1","f2"]})", {"f1", "f2", "", ""}, kEn,
       Format(loaded, {2})},
      {"long array: extra elements ignored",
       std::string("{") + R"("fr":["f1","f2","f3","f4","f5","f6"]})", {"f1", "f2", "f3", "f4"},
       kNone, Format(loaded, {1})},
      {"elements that are not strings stay empty",
       std::string("{") + R"("fr":["f1",2,null,{"a":"b"}]})", {"f1", "", "", ""}, kNone,
       Format(loaded, {1})},
      {"keys are case-sensitive", std::string("{") + R"("FR":["x","x","x","x"],)" + kEnJson + "}",
       kEn, kEn, Format(loaded, {2})},
      {"unknown keys are counted and ignored",
       std::string("{") + kEnJson + R"(,"xx":["x"],"de-DE":[],"n":1})", kEn, kEn,
       Format(loaded, {4})},
      {"the first of two equal keys counts",
       std::string("{") + kEnJson + R"(,"fr":["f1","f2","f3","f4"],"fr":["g1","g2","g3","g4"]})",
       {"f1", "f2", "f3", "f4"}, kEn, Format(loaded, {3})},
      {"a later duplicate of a bad type is ignored",
       std::string("{") + R"("fr":["f1"],"fr":"oops"})", {"f1", "", "", ""}, kNone,
       Format(loaded, {2})},
      {"escaped key names match", std::string("{") + R"("\u0066r":["f1"]})", {"f1", "", "", ""},
       kNone, Format(loaded, {1})},
      {"a leading byte-order mark", std::string("\xEF\xBB\xBF{") + kEnJson + "}", kEn, kEn,
       Format(loaded, {1})},
      {"empty object", "{}", kNone, kNone, Format(loaded, {0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Load(c.json), std::vector<std::string>{c.line});
    EXPECT_EQ(Row(2), c.fr);
    EXPECT_EQ(Row(1), c.de);
  }
}

TEST_F(SlideLoader, DocumentsThatAreNotObjectsLoadNothing) {
  const std::string line = "L10N: SLIDES resource is not a JSON object, captions left empty";
  for (const std::string& json :
       {std::string("[") + "[\"e1\"]]", std::string("not json"), std::string(""),
        std::string("\xEF\xBB\xBF"), std::string("null"), std::string("\"en\""),
        std::string("{") + kEnJson + "} trailing", std::string("{") + kEnJson,
        std::string("{\"en\":[\"\xFF\xFE\"]}") /* not UTF-8 */}) {
    SCOPED_TRACE(json);
    EXPECT_EQ(Load(json), std::vector<std::string>{line});
    for (int lang = 0; lang < kLanguageCount; ++lang) EXPECT_EQ(Row(lang), kNone);
  }
}

TEST_F(SlideLoader, AValueThatIsNotAnArrayStopsTheLoaderThere) {
  // "fr" is a string: English and German are already stored, French and later stay empty.
  EXPECT_EQ(Load(std::string("{") + kEnJson + "," + kDeJson +
                 R"(,"fr":"Téléchargez","ja":["j1","j2","j3","j4"]})"),
            std::vector<std::string>{
                "L10N: failed to load slides: EInvalidCast: value of \"fr\" is string, not an array"});
  EXPECT_EQ(Row(0), kEn);
  EXPECT_EQ(Row(1), kDe);
  for (int lang = 2; lang < kLanguageCount; ++lang) EXPECT_EQ(Row(lang), kNone) << lang;

  // A bad "en" fails before anything is stored.
  EXPECT_EQ(Load(std::string(R"({"en":{"0":"e1"},)") + kDeJson + "}"),
            std::vector<std::string>{
                "L10N: failed to load slides: EInvalidCast: value of \"en\" is object, not an array"});
  for (int lang = 0; lang < kLanguageCount; ++lang) EXPECT_EQ(Row(lang), kNone) << lang;

  // A later load starts from an empty table.
  Load(std::string("{") + kDeJson + "}");
  EXPECT_EQ(Row(0), kNone);
}

TEST(SlideCaptionLookup, OutOfRangeIndexesGiveEmptyText) {
  LoadSlideCaptionsFromText(R"({"en":["e1","e2","e3","e4"]})");
  EXPECT_EQ(SlideCaption(0, 0), "e1");
  EXPECT_EQ(SlideCaption(8, 3), "e4");
  for (const auto& [lang, slide] : std::vector<std::pair<int, int>>{
           {9, 0}, {0, 4}, {-1, 0}, {0, -1}, {100, 100}, {-2147483647 - 1, 0}}) {
    EXPECT_EQ(SlideCaption(lang, slide), "") << lang << "/" << slide;
  }
  ClearSlideCaptions();
  EXPECT_EQ(SlideCaption(0, 0), "");
}
