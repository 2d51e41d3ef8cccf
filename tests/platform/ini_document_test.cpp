#include "platform/ini_document.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kvr {
namespace {

// Any bytes stored as a value read back as they were, among other keys and sections, and a
// document written out and read again holds the same.
TEST(IniDocumentTest, EveryValueReadsBackAsStored) {
  std::mt19937 random(11);
  const std::string alphabet =
      std::string("ab ,;=\"\\@x0123456789\t\r\n\x01\x7f", 25) + "\xE4\xB8\xAD";
  IniDocument document;
  std::vector<std::string> values;
  for (int i = 0; i < 2000; ++i) {
    std::string value;
    for (std::size_t n = random() % 12; n > 0; --n) value += alphabet[random() % alphabet.size()];
    // Raw bytes too, also those that are no UTF-8.
    if (i % 7 == 0) value += static_cast<char>(random() % 256);
    values.push_back(value);
    document.Set("Section" + std::to_string(i % 3), "k" + std::to_string(i), value);
    ASSERT_EQ(UnescapeIniValue(EscapeIniValue(value)), value) << i;
  }
  const IniDocument reread = IniDocument::Parse(document.Serialize());
  for (std::size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(reread.Get("Section" + std::to_string(i % 3), "k" + std::to_string(i)), values[i])
        << i;
}

TEST(IniDocumentTest, KeysAndSectionsEscapeAndReadBack) {
  EXPECT_EQ(EscapeIniKey("Auto_VXA_8"), "Auto_VXA_8");
  EXPECT_EQ(EscapeIniKey("key with/slash"), "key%20with\\slash");
  EXPECT_EQ(EscapeIniKey("\xE4\xB8\xAD\xF0\x9F\x98\x80"), "%U4E2D%UD83D%UDE00");
  for (const char* key : {"Write_OK_Count", "a b/c%d", "\xE4\xB8\xAD\xF0\x9F\x98\x80", "%", ""})
    EXPECT_EQ(UnescapeIniKey(EscapeIniKey(key)), key);

  IniDocument document;
  document.Set("", "top", "1");
  document.Set("General", "g", "2");
  document.Set("Settings", "COM_port", "3");
  EXPECT_EQ(document.Serialize(),
            "[General]\ntop=1\n\n[%General]\ng=2\n\n[Settings]\nCOM_port=3\n");
  const IniDocument reread = IniDocument::Parse(document.Serialize("\r\n"));
  EXPECT_EQ(reread.Get("", "top"), "1");
  EXPECT_EQ(reread.Get("General", "g"), "2");
  EXPECT_EQ(reread.Get("Settings", "COM_port"), "3");
  EXPECT_EQ(reread.Get("Settings", "missing"), std::nullopt);
}

// What is not changed is written back as it stood, in its place: also what the station does
// not understand (comments, lines without "=", sections without keys, a section given twice).
TEST(IniDocumentTest, ChangingOneKeyKeepsTheOthersAsTheyWere) {
  const std::string edited =
      "; line 3 settings\r\n[Settings]\r\nb = \"spaced out\" \r\na=1\r\n; kept\r\n"
      "just a note\r\n[Empty]\r\n[Auto_Increase]\r\nnext_value=0042\r\n[Settings]\r\nd=4\r\n";
  IniDocument document = IniDocument::Parse(edited);
  document.Set("Auto_Increase", "next_value", "0043");
  document.Set("Settings", "a", "2");
  document.Set("Settings", "c", "new");
  document.Set("Other", "k", "v");
  EXPECT_EQ(document.Serialize(),
            "; line 3 settings\n\n[Settings]\nb= \"spaced out\" \na=2\n; kept\njust a note\n\n"
            "[Empty]\n\n[Auto_Increase]\nnext_value=0043\n\n[Settings]\nd=4\nc=new\n\n"
            "[Other]\nk=v\n");
  const IniDocument reread = IniDocument::Parse(document.Serialize());
  EXPECT_EQ(reread.Get("Settings", "d"), "4");
  EXPECT_EQ(reread.Get("Settings", "a"), "2");
  EXPECT_EQ(reread.Get("Settings", "just a note"), std::nullopt);
}

}  // namespace
}  // namespace kvr
