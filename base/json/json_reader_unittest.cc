#include "base/json/json_reader.h"

#include <string>

#include "base/json/json_parser.h"
#include "base/json/json_writer.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The compact text of what `json` parses to, or "error C L:C".
std::string Reparse(const std::string& json, int32_t options = 0) {
  JsonParser parser(options);
  ValueOwner root = parser.Parse(json);
  if (!root) {
    return "error " + std::to_string(parser.error_code()) + " " +
           std::to_string(parser.error_line()) + ":" +
           std::to_string(parser.error_column());
  }
  std::string text;
  EXPECT_TRUE(WriteJson(*root, &text));
  return text;
}

TEST(JsonReaderErrors, CodeAndPosition) {
  const struct {
    const char* json;
    const char* expected;
  } kCases[] = {
      {"", "error 3 1:1"},
      {"   ", "error 3 1:4"},
      {"{", "error 8 1:2"},
      {"[", "error 3 1:2"},
      {"{\"a\" 1}", "error 2 1:6"},
      {"{\"a\",1}", "error 2 1:5"},
      {"{\"a\":}", "error 3 1:6"},
      {"{a:1}", "error 8 1:2"},
      {"{1:1}", "error 8 1:2"},
      {"-", "error 2 1:2"},
      {"-a", "error 2 1:2"},
      {"tru", "error 2 1:1"},
      {"nul", "error 2 1:1"},
      {"[truE]", "error 2 1:2"},
      {"\xEF\xBB\xBF \r\n\t", "error 3 2:2"},
      {"[1,]", "error 4 1:4"},
      {"{\"a\":1,}", "error 4 1:8"},
      {"[,1]", "error 3 1:2"},
      {"01", "error 2 1:2"},
      {"-01", "error 2 1:3"},
      {"1.", "error 2 1:3"},
      {"1.e5", "error 2 1:3"},
      {"1e", "error 2 1:3"},
      {"1e+", "error 2 1:4"},
      {".5", "error 3 1:1"},
      {"+1", "error 3 1:1"},
      {"[1 2]", "error 2 1:4"},
      {"[1 x]", "error 2 1:4"},
      {"1 x", "error 2 1:3"},
      {"[\"a\" \"b\"]", "error 2 1:6"},
      // An object reports a missing separator one column further left.
      {"{\"a\":\"b\" \"c\":1}", "error 2 1:9"},
      {"[1,2", "error 2 1:5"},
      {"\"abc", "error 2 1:5"},
      {"[\"a\\q\"]", "error 1 1:4"},
      {"[\"\\u12\"]", "error 1 1:3"},
      {"[\"\\u12G4\"]", "error 1 1:3"},
      {"[\"\\x4\"]", "error 1 1:3"},
      {"[\"\\", "error 1 1:3"},
      {"[\"\\ud800\"]", "error 1 1:3"},
      {"[\"\\ud800\\u0041\"]", "error 1 1:3"},
      {"[\"\\udc00\\ud800\"]", "error 1 1:3"},
      {"[\"\\uFFFE\"]", "error 1 1:3"},
      {"[\"\\uFDD0\"]", "error 1 1:3"},
      // Pairs that spell a noncharacter are refused like single escapes.
      {"[\"\\uDBFF\\uDFFF\"]", "error 1 1:3"},
      {"[\"a\\ud83f\\udffe\"]", "error 1 1:4"},
      {"[\"a\xFF\"]", "error 7 1:4"},
      {"[\"\xC0\x80\"]", "error 7 1:3"},
      {"[\"\xED\xA0\x80\"]", "error 7 1:3"},
      {"[\"\xEF\xB7\x90\"]", "error 7 1:3"},
      {"[\"\xF4\x90\x80\x80\"]", "error 7 1:3"},
      {"[\"\xF8\x88\x80\x80\x80\"]", "error 7 1:3"},
      {"{\"a\":1}x", "error 6 1:8"},
      {"{\"a\":1}\n  x", "error 6 2:3"},
      {"[1]]", "error 6 1:4"},
      {"[1] /", "error 6 1:5"},
      {"/", "error 3 1:1"},
      {"/* never closed", "error 3 1:16"},
      {"[1,\r\n2 x]", "error 2 2:3"},
      {"[1,\n\r\n\r2 x]", "error 2 4:3"},
      {"[0,\n/* a\nb */ x]", "error 3 3:6"},
      // Numbers that do not convert to a finite double are syntax errors.
      {"[1e400]", "error 2 1:2"},
      {"[-1e400]", "error 2 1:2"},
      {"{\"a\":\n 1e-400}", "error 2 2:2"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, Reparse(c.json)) << c.json;
}

TEST(JsonReaderValues, ParsesToExpectedTree) {
  const struct {
    const char* json;
    int32_t options;
    const char* expected;
  } kCases[] = {
      {"  [1, 2.5, -0, 2147483647, 2147483648, -2147483648, -2147483649, "
       "1e2, 1E-2, 0.0, true, false, null] ",
       0,
       "[1,2.5,0,2147483647,2147483648.0,-2147483648,-2147483649.0,100.0,"
       "0.01,0.0,true,false,null]"},
      {"{}", 0, "{}"},
      {"[]", 0, "[]"},
      {"\"\"", 0, "\"\""},
      {" 7 ", 0, "7"},
      {"null", 0, "null"},
      {"\xEF\xBB\xBF{\"a\":1}", 0, "{\"a\":1}"},
      {"{\"b\":1,\"a\":2,\"b\":3}", 0, "{\"a\":2,\"b\":3}"},
      {"/* lead */ [1, // one\n 2 /* two */ ] // end", 0, "[1,2]"},
      {"[1] // no line break", 0, "[1]"},
      {"[1] /* never closed", 0, "[1]"},
      {"{\"a\":1} // c\n", 0, "{\"a\":1}"},
      {"[1,]", kJsonAllowTrailingCommas, "[1]"},
      {"{\"a\":[1,],}", kJsonAllowTrailingCommas, "{\"a\":[1]}"},
      {"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\v\"]", 0,
       "[\"\\\"\\\\/\\b\\f\\n\\r\\t\\u000B\"]"},
      {"[\"\\x41\\xe9\\u00E9\\ud83d\\ude00\"]", 0,
       "[\"A\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80\"]"},
      {"[\"a\x01\tb\"]", 0, "[\"a\\u0001\\tb\"]"},
      {"[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"]", 0,
       "[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"]"},
      // Keys and values that need copies, at several levels at once.
      {"{\"k\\t1\":{\"k\\n2\":[\"v\\r\", {\"k\\u00413\":\"v\\\\\"}]},"
       "\"plain\":\"v\\t\"}",
       0,
       "{\"k\\t1\":{\"k\\n2\":[\"v\\r\",{\"kA3\":\"v\\\\\"}]},\"plain\":"
       "\"v\\t\"}"},
      {"[\"a\xFF"
       "b\xC3\"]",
       kJsonReplaceInvalidCharacters,
       "[\"a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD\"]"},
      {"[\"\xED\xA0\x80\xEF\xB7\x90\"]", kJsonReplaceInvalidCharacters,
       "[\"\xEF\xBF\xBD\xEF\xBF\xBD\"]"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, Reparse(c.json, c.options)) << c.json;
}

TEST(JsonReaderValues, LargeUnsortedObjectKeepsLastOfRepeatedKeys) {
  std::string json = "{";
  for (int i = 39; i >= 0; --i)
    json += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  json += "\"k5\":\"last\",\"k39\":\"end\"}";
  ValueOwner root = ReadJson(json);
  ASSERT_TRUE(root);
  const DictionaryValue* dictionary = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dictionary));
  std::string previous;
  int count = 0;
  for (DictionaryValue::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    EXPECT_LT(previous, it.key());
    previous = it.key();
    ++count;
  }
  EXPECT_EQ(40, count);
  std::string text;
  EXPECT_TRUE(dictionary->GetString("k5", &text));
  EXPECT_EQ("last", text);
  EXPECT_TRUE(dictionary->GetString("k39", &text));
  EXPECT_EQ("end", text);
  int32_t value = 0;
  EXPECT_TRUE(dictionary->GetInteger("k6", &value));
  EXPECT_EQ(6, value);
}

TEST(JsonReaderValues, NulFromUEscapeIsDroppedButXEscapeKept) {
  ValueOwner from_u = ReadJson("\"a\\u0000b\"");
  ValueOwner from_x = ReadJson("\"a\\x00b\"");
  std::string u_text;
  std::string x_text;
  ASSERT_TRUE(from_u && from_u->GetAsString(&u_text));
  ASSERT_TRUE(from_x && from_x->GetAsString(&x_text));
  EXPECT_EQ("ab", u_text);
  EXPECT_EQ(std::string("a\0b", 3), x_text);
}

TEST(JsonReaderValues, NumberTypes) {
  const struct {
    const char* json;
    Value::Type type;
  } kCases[] = {
      {"2147483647", Value::Type::kInteger},
      {"2147483648", Value::Type::kDouble},
      {"-2147483648", Value::Type::kInteger},
      {"-2147483649", Value::Type::kDouble},
      {"-0", Value::Type::kInteger},
      {"-0.0", Value::Type::kDouble},
      {"1.0", Value::Type::kDouble},
      {"1e0", Value::Type::kDouble},
      {"99999999999999999999", Value::Type::kDouble},
  };
  for (const auto& c : kCases) {
    ValueOwner value = ReadJson(c.json);
    ASSERT_TRUE(value) << c.json;
    EXPECT_EQ(c.type, value->type()) << c.json;
  }
}

std::string Nested(int depth, char open, char close, const char* inner) {
  std::string json;
  for (int i = 0; i < depth; ++i) {
    json += open;
    if (open == '{')
      json += "\"k\":";
  }
  json += inner;
  json.append(depth, close);
  return json;
}

TEST(JsonReaderDepth, At199ParsesAt200Fails) {
  EXPECT_EQ(Nested(199, '[', ']', ""), Reparse(Nested(199, '[', ']', "")));
  EXPECT_EQ("error 5 1:200", Reparse(Nested(200, '[', ']', "")));
  EXPECT_EQ(Nested(199, '{', '}', "1"), Reparse(Nested(199, '{', '}', "1")));
  EXPECT_EQ("error 5 1:996", Reparse(Nested(200, '{', '}', "1")));
  // Siblings do not add up.
  const std::string siblings =
      "[" + Nested(198, '[', ']', "") + "," + Nested(198, '[', ']', "") + "]";
  EXPECT_EQ(siblings, Reparse(siblings));
}

TEST(JsonReaderMessages, ErrorCodeAndMessageReachTheCaller) {
  int32_t code = -1;
  std::string message;
  EXPECT_FALSE(ReadJsonAndReturnError("[1,]", 0, &code, &message));
  EXPECT_EQ(kJsonTrailingComma, code);
  EXPECT_EQ("Line: 1, column: 4, Trailing comma not allowed.", message);
  EXPECT_TRUE(ReadJsonAndReturnError("[1,]", kJsonAllowTrailingCommas, nullptr,
                                     nullptr));
  EXPECT_FALSE(ReadJson("{\"a\":1}x"));
  EXPECT_TRUE(ReadJson("{\"a\":1}"));

  EXPECT_EQ("", JsonErrorCodeToMessage(0));
  EXPECT_EQ("", JsonErrorCodeToMessage(9));
  EXPECT_EQ("", JsonErrorCodeToMessage(-1));
  EXPECT_EQ("Unsupported encoding. JSON must be UTF-8.",
            JsonErrorCodeToMessage(kJsonUnsupportedEncoding));
  EXPECT_EQ("Dictionary keys must be quoted.",
            JsonErrorCodeToMessage(kJsonUnquotedDictionaryKey));

  JsonParser parser(0);
  EXPECT_TRUE(parser.Parse("[]"));
  EXPECT_EQ("", parser.ErrorMessage());
}

TEST(JsonReaderPayload, ParseJsonTextFindsTheObject) {
  // "noise {"a": 1, "b": {"c": "}"}} trailing"
  DictionaryValueOwner root = ParseJsonText(
      "bm9pc2UgeyJhIjogMSwgImIiOiB7ImMiOiAifSJ9fSB0cmFpbGluZw==\r\n \t\v\f");
  ASSERT_TRUE(root);
  std::string text;
  EXPECT_TRUE(root->GetString("b.c", &text));
  EXPECT_EQ("}", text);

  const char* kRejected[] = {
      "W3siYSI6MX0seyJiIjoyfV0=",  // [{"a":1},{"b":2}]: not one object
      "fSB7",                      // "} {"
      "bm8gYnJhY2Vz",              // "no braces"
      " bm8gYnJhY2Vz",             // leading blank: not base64
      "bm8gYnJhY2V",               // bad length
      "",
  };
  for (const char* payload : kRejected)
    EXPECT_FALSE(ParseJsonText(payload)) << payload;
}

}  // namespace
}  // namespace base
