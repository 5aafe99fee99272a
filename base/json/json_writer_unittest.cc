#include "base/json/json_writer.h"

#include <limits>
#include <string>
#include <vector>

#include "base/json/json_reader.h"
#include "base/json/string_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::string Write(const Value& value, int32_t options = 0) {
  std::string json = "stale";
  EXPECT_TRUE(WriteJsonWithOptions(value, options, &json));
  return json;
}

TEST(JsonWriterPretty, ExactBytes) {
  DictionaryValue root;
  ListValueOwner list = MakeValue<ListValue>();
  list->AppendInteger(1);
  DictionaryValueOwner inner = MakeValue<DictionaryValue>();
  inner->Set("b", MakeBooleanValue(true));
  list->Append(std::move(inner));
  root.Set("a", std::move(list));
  root.Set("c", MakeValue<DictionaryValue>());
  root.Set("d", MakeValue<ListValue>());

  EXPECT_EQ(
      "{\r\n"
      "   \"a\": [ 1, {\r\n"
      "      \"b\": true\r\n"
      "   } ],\r\n"
      "   \"c\": {\r\n"
      "\r\n"
      "   },\r\n"
      "   \"d\": [  ]\r\n"
      "}\r\n",
      Write(root, kJsonWritePrettyPrint));
  EXPECT_EQ("{\"a\":[1,{\"b\":true}],\"c\":{},\"d\":[]}", Write(root));
  EXPECT_EQ("7\r\n", Write(Value(7), kJsonWritePrettyPrint));
}

TEST(JsonWriterScalars, NumbersAndLiterals) {
  const struct {
    double value;
    const char* preserved;
    const char* integral;  // with kJsonWriteOmitDoubleTypePreservation
  } kCases[] = {
      {1.0, "1.0", "1"},
      {0.5, "0.5", "0.5"},
      {-0.5, "-0.5", "-0.5"},
      {-0.0, "-0.0", "0"},
      {0.0001, "0.0001", "0.0001"},
      {-1e-05, "-1e-05", "-1e-05"},
      {1e6, "1e+06", "1000000"},
      {123456789012.0, "123456789012.0", "123456789012"},
      {5e-324, "5e-324", "5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308",
       "1.7976931348623157e+308"},
      {-9223372036854775808.0, "-9223372036854776000.0",
       "-9223372036854775808"},
      {9223372036854775808.0, "9223372036854776000.0", "9223372036854776000.0"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.preserved, Write(Value(c.value))) << c.preserved;
    EXPECT_EQ(c.integral,
              Write(Value(c.value), kJsonWriteOmitDoubleTypePreservation))
        << c.preserved;
  }
  EXPECT_EQ("-2147483648", Write(Value(std::numeric_limits<int32_t>::min())));
  EXPECT_EQ("null", Write(Value()));
  EXPECT_EQ("false", Write(Value(false)));
}

TEST(JsonWriterStrings, Escapes) {
  const struct {
    const char* utf8;
    const char* json;
  } kCases[] = {
      {"<tag>", "\"\\u003Ctag>\""},
      {"a\tb", "\"a\\tb\""},
      {"\x01\x1F\x7F", "\"\\u0001\\u001F\x7F\""},
      {"\b\f\n\r\"\\/", "\"\\b\\f\\n\\r\\\"\\\\/\""},
      {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u2028\\u2029\""},
      {"\xC3\xA9\xF0\x9F\x98\x80", "\"\xC3\xA9\xF0\x9F\x98\x80\""},
      {"a\xFF"
       "b",
       "\"a\xEF\xBF\xBD"
       "b\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\""},
      {"\xC3", "\"\xEF\xBF\xBD\""},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.json, Write(Value(c.utf8))) << c.utf8;
  EXPECT_EQ("\"a\\u0000b\"", Write(Value(std::string("a\0b", 3))));
}

TEST(JsonWriterStrings, EscapeReportsInvalidInput) {
  std::string out = "x";
  EXPECT_TRUE(EscapeJsonString("ok", &out));
  EXPECT_EQ("x\"ok\"", out);
  EXPECT_FALSE(EscapeJsonString("bad\xC0\x80", &out));
  EXPECT_FALSE(EscapeJsonString("\xEF\xBF\xBF", &out));

  std::string special;
  EXPECT_FALSE(EscapeJsonSpecialChar('a', &special));
  EXPECT_FALSE(EscapeJsonSpecialChar(0xE9, &special));
  EXPECT_TRUE(special.empty());
  EXPECT_TRUE(EscapeJsonSpecialChar(0x2028, &special));
  EXPECT_EQ("\\u2028", special);
}

TEST(JsonWriterBinary, FailsUnlessOmitted) {
  ListValue list;
  list.AppendInteger(1);
  list.Append(MakeValue<Value>(std::vector<uint8_t>{1, 2}));
  list.AppendInteger(2);
  DictionaryValue root;
  root.Set("bin", MakeValue<Value>(std::vector<uint8_t>{3}));
  root.Set("list", list.DeepCopyOwned());
  root.SetInteger("z", 1);

  std::string json;
  EXPECT_FALSE(WriteJson(root, &json));
  EXPECT_EQ("[1,2]", Write(list, kJsonWriteOmitBinaryValues));
  EXPECT_EQ("{\"list\":[1,2],\"z\":1}",
            Write(root, kJsonWriteOmitBinaryValues));
  EXPECT_EQ("{\r\n   \"list\": [ 1, 2 ],\r\n   \"z\": 1\r\n}\r\n",
            Write(root, kJsonWriteOmitBinaryValues | kJsonWritePrettyPrint));
}

// Strings as they reach a value: from a JSON text read leniently, or from
// UTF-16 (a file name, a registry string). Whatever is written must read
// back, or a stored file would be refused at the next start.
TEST(JsonRoundTrip, WrittenTextReadsBackAndWritesTheSame) {
  const struct {
    const char* json;       // a JSON string read with replacement, or null
    const wchar_t* wide;    // else this text, converted
    const wchar_t* stored;  // what reading the written text gives
  } kCases[] = {
      {R"("\uDBFF\uDFFF")", nullptr, L"\xFFFD"},
      {R"("a\ud83f\udffeb")", nullptr, L"a\uFFFDb"},
      {R"("\uFDD0\uFFFF")", nullptr, L"\xFFFD\xFFFD"},
      {R"("\ud83d\ude00\u0041")", nullptr, L"\U0001F600A"},
      {nullptr, L"\xDBFF\xDFFF", L"\xFFFD"},
      {nullptr, L"C:\\x\xFFFE.txt", L"C:\\x\xFFFD.txt"},
      {nullptr, L"\xFDEF\xD83F\xDFFF", L"\xFFFD\xFFFD"},
      {nullptr, L"\xFFFD", L"\xFFFD"},
      // A valid pair and both neighbours of the U+FDD0 to U+FDEF range.
      {nullptr, L"\xD83D\xDE00\xFDCF\xFDF0", L"\xD83D\xDE00\xFDCF\xFDF0"},
      {nullptr, L"plain \"<x>\"\t\\", L"plain \"<x>\"\t\\"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json ? c.json : WideToUtf8(c.wide));
    ListValue list;
    if (c.json) {
      ValueOwner read = ReadJsonAndReturnError(
          c.json, kJsonReplaceInvalidCharacters, nullptr, nullptr);
      ASSERT_TRUE(read);
      list.Append(std::move(read));
    } else {
      list.AppendString(WideToUtf8(c.wide));
    }
    std::string first;
    ASSERT_TRUE(WriteJson(list, &first));

    int32_t code = 0;
    ValueOwner reread = ReadJsonAndReturnError(first, 0, &code, nullptr);
    ASSERT_TRUE(reread) << first << " error " << code;
    const ListValue* reread_list = nullptr;
    const Value* element = nullptr;
    std::string stored;
    ASSERT_TRUE(reread->GetAsList(&reread_list));
    ASSERT_TRUE(reread_list->Get(0, &element));
    ASSERT_TRUE(element->GetAsString(&stored));
    EXPECT_EQ(WideToUtf8(c.stored), stored);

    std::string second;
    ASSERT_TRUE(WriteJson(*reread, &second));
    EXPECT_EQ(first, second);
  }
}

}  // namespace
}  // namespace base
