#include "base/values.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

std::vector<std::string> KeysOf(const DictionaryValue& dictionary) {
  std::vector<std::string> keys;
  for (DictionaryValue::Iterator it(dictionary); !it.IsAtEnd(); it.Advance())
    keys.push_back(it.key());
  return keys;
}

TEST(ValuePath, SetCreatesIntermediateDictionaries) {
  DictionaryValue root;
  root.SetInteger("a.b.c", 1);
  int32_t value = 0;
  EXPECT_TRUE(root.GetInteger("a.b.c", &value));
  EXPECT_EQ(1, value);
  EXPECT_FALSE(root.GetByKey("a.b.c", nullptr));
  const Value* inner = nullptr;
  ASSERT_TRUE(root.Get("a.b", &inner));
  EXPECT_EQ(Value::Type::kDictionary, inner->type());
}

TEST(ValuePath, SetReplacesNonDictionaryOnTheWay) {
  DictionaryValue root;
  root.SetInteger("a", 5);
  root.SetString("a.b", "x");
  std::string text;
  EXPECT_TRUE(root.GetString("a.b", &text));
  EXPECT_EQ("x", text);
  EXPECT_FALSE(root.GetInteger("a", nullptr));
}

TEST(ValuePath, GetThroughNonDictionaryFails) {
  DictionaryValue root;
  root.SetInteger("number", 1);
  root.SetString("text", "abc");
  root.Set("list", MakeValue<ListValue>());
  for (const char* path :
       {"number.x", "text.x", "list.x", "missing.x", "number.x.y", "list.0"}) {
    EXPECT_FALSE(root.Get(path, static_cast<const Value**>(nullptr))) << path;
    ValueOwner removed;
    EXPECT_FALSE(root.Remove(path, &removed)) << path;
    EXPECT_FALSE(root.RemovePath(path, &removed)) << path;
  }
  EXPECT_EQ((std::vector<std::string>{"list", "number", "text"}), KeysOf(root));
}

TEST(ValuePath, DottedKeyIsLiteralForByKeyOperations) {
  DictionaryValue root;
  root.SetByKey("x.y", MakeValue<Value>(7));
  EXPECT_TRUE(root.GetByKey("x.y", static_cast<const Value**>(nullptr)));
  EXPECT_FALSE(root.Get("x.y", static_cast<const Value**>(nullptr)));
  EXPECT_TRUE(root.RemoveByKey("x.y", nullptr));
  EXPECT_FALSE(root.RemoveByKey("x.y", nullptr));
}

TEST(ValuePath, TrailingDotUsesEmptyKey) {
  DictionaryValue root;
  root.SetInteger("a.", 3);
  int32_t value = 0;
  EXPECT_TRUE(root.GetInteger("a.", &value));
  EXPECT_EQ(3, value);
  const Value* a = nullptr;
  ASSERT_TRUE(root.Get("a", &a));
  const DictionaryValue* inner = nullptr;
  ASSERT_TRUE(a->GetAsDictionary(&inner));
  EXPECT_EQ(std::vector<std::string>{""}, KeysOf(*inner));
}

TEST(ValuePath, RemovePathDropsEmptiedDictionaries) {
  DictionaryValue removed_path;
  removed_path.SetInteger("a.b.c", 1);
  ValueOwner out;
  ASSERT_TRUE(removed_path.RemovePath("a.b.c", &out));
  EXPECT_TRUE(KeysOf(removed_path).empty());
  int32_t value = 0;
  EXPECT_TRUE(out->GetAsInteger(&value));
  EXPECT_EQ(1, value);

  DictionaryValue removed;
  removed.SetInteger("a.b.c", 1);
  ASSERT_TRUE(removed.Remove("a.b.c", nullptr));
  const Value* b = nullptr;
  ASSERT_TRUE(removed.Get("a.b", &b));
  const DictionaryValue* b_dictionary = nullptr;
  ASSERT_TRUE(b->GetAsDictionary(&b_dictionary));
  EXPECT_TRUE(KeysOf(*b_dictionary).empty());
}

TEST(ValuePath, RemovePathKeepsDictionariesWithOtherEntries) {
  DictionaryValue root;
  root.SetInteger("a.b.c", 1);
  root.SetInteger("a.d", 2);
  ASSERT_TRUE(root.RemovePath("a.b.c", nullptr));
  EXPECT_FALSE(root.Get("a.b", static_cast<const Value**>(nullptr)));
  EXPECT_TRUE(root.GetInteger("a.d", nullptr));
}

TEST(ValueDictionary, RemoveByKeyReplacesWhatOutHeld) {
  DictionaryValue root;
  root.SetStringByKey("k", "v");
  ValueOwner out = MakeValue<Value>(99);
  ASSERT_TRUE(root.RemoveByKey("k", &out));
  std::string text;
  EXPECT_TRUE(out->GetAsString(&text));
  EXPECT_EQ("v", text);
}

TEST(ValueDictionary, KeysIterateInByteOrderPrefixFirst) {
  DictionaryValue root;
  for (const char* key : {"b", "ab", "a", "", "\xC3\xA9", "B", "a.b"})
    root.SetByKey(key, MakeValue<Value>());
  EXPECT_EQ(
      (std::vector<std::string>{"", "B", "a", "a.b", "ab", "b", "\xC3\xA9"}),
      KeysOf(root));
}

TEST(ValueDictionary, SetByKeyReplacesValue) {
  DictionaryValue root;
  root.SetByKey("k", MakeValue<Value>(1));
  root.SetByKey("k", MakeValue<Value>("two"));
  EXPECT_EQ(std::vector<std::string>{"k"}, KeysOf(root));
  EXPECT_TRUE(root.GetString("k", nullptr));
}

TEST(ValueDictionary, AsciiStringRefusesHighBytes) {
  DictionaryValue root;
  root.SetString("plain", "abc");
  root.SetString("accent", "caf\xC3\xA9");
  root.SetInteger("number", 1);
  std::string out = "untouched";
  EXPECT_FALSE(root.GetAsciiString("accent", &out));
  EXPECT_FALSE(root.GetAsciiString("number", &out));
  EXPECT_EQ("untouched", out);
  EXPECT_TRUE(root.GetAsciiString("plain", &out));
  EXPECT_EQ("abc", out);
}

TEST(ValueDictionary, FromKeepsOnlyDictionaries) {
  EXPECT_TRUE(DictionaryValue::From(MakeValue<DictionaryValue>()));
  EXPECT_FALSE(DictionaryValue::From(MakeValue<ListValue>()));
  EXPECT_FALSE(DictionaryValue::From(MakeValue<Value>(1)));
  EXPECT_FALSE(DictionaryValue::From(nullptr));
}

TEST(ValueList, SetPastEndFillsWithNone) {
  ListValue list;
  ASSERT_TRUE(list.Set(3, MakeValue<Value>(true)));
  ASSERT_EQ(4u, list.GetSize());
  for (size_t i = 0; i < 3; ++i) {
    const Value* child = nullptr;
    ASSERT_TRUE(list.Get(i, &child));
    EXPECT_EQ(Value::Type::kNone, child->type());
  }
  EXPECT_TRUE(list.Set(1, MakeValue<Value>(5)));
  const Value* child = nullptr;
  ASSERT_TRUE(list.Get(1, &child));
  EXPECT_TRUE(child->GetAsInteger(nullptr));
  EXPECT_FALSE(list.Set(0, nullptr));
  EXPECT_FALSE(list.Get(4, &child));
}

TEST(ValueConstruction, NonFiniteDoublesBecomeZero) {
  const double kBad[] = {std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()};
  for (double bad : kBad) {
    double out = 1;
    EXPECT_TRUE(Value(bad).GetAsDouble(&out));
    EXPECT_EQ(0.0, out);

    DictionaryValue dictionary;
    dictionary.SetDoubleByKey("d", bad);
    const Value* stored = nullptr;
    ASSERT_TRUE(dictionary.GetByKey("d", &stored));
    out = 1;
    EXPECT_TRUE(stored->GetAsDouble(&out));
    EXPECT_EQ(0.0, out);

    ListValue list;
    list.AppendDouble(bad);
    ASSERT_TRUE(list.Get(0, &stored));
    out = 1;
    EXPECT_TRUE(stored->GetAsDouble(&out));
    EXPECT_EQ(0.0, out);
  }
}

TEST(ValueConstruction, WideStringIsStoredAsUtf8) {
  std::string utf8;
  EXPECT_TRUE(
      Value(WideStringSlice(L"caf\u00E9 \U0001F600")).GetAsString(&utf8));
  EXPECT_EQ("caf\xC3\xA9 \xF0\x9F\x98\x80", utf8);
  EXPECT_TRUE(Value(L"\u00E9").GetAsString(&utf8));
  EXPECT_EQ("\xC3\xA9", utf8);
  EXPECT_TRUE(Value(std::wstring(L"x")).GetAsString(&utf8));
  EXPECT_EQ("x", utf8);
  std::wstring wide;
  EXPECT_TRUE(Value("\xE2\x82\xAC").GetAsWideString(&wide));
  EXPECT_EQ(L"\u20AC", wide);
}

TEST(ValueTypedRead, MismatchLeavesOutUntouched) {
  const Value integer(42);
  std::string text = "kept";
  bool flag = true;
  double number = 2.5;
  EXPECT_FALSE(integer.GetAsString(&text));
  EXPECT_FALSE(integer.GetAsBoolean(&flag));
  EXPECT_FALSE(integer.GetAsDouble(&number));
  EXPECT_FALSE(integer.GetAsString(nullptr));
  EXPECT_EQ("kept", text);
  EXPECT_TRUE(flag);
  EXPECT_EQ(2.5, number);
  EXPECT_TRUE(integer.GetAsInteger(nullptr));
}

// A tree with every tag, nested.
DictionaryValueOwner MakeSampleTree() {
  DictionaryValueOwner root = MakeValue<DictionaryValue>();
  root->Set("none", MakeValue<Value>());
  root->Set("flag", MakeBooleanValue(true));
  root->SetInteger("int", -7);
  root->SetDoubleByKey("double", 0.25);
  root->SetString("nested.text", "h\xC3\xA9llo");
  root->Set("nested.binary", MakeValue<Value>(std::vector<uint8_t>{0, 1, 255}));
  ListValueOwner list = MakeValue<ListValue>();
  list->AppendInteger(1);
  list->AppendString("two");
  list->Append(MakeValue<DictionaryValue>());
  list->Append(MakeValue<ListValue>());
  root->Set("nested.list", std::move(list));
  return root;
}

TEST(ValueCopy, DeepCopyIsEqualAndIndependent) {
  DictionaryValueOwner original = MakeSampleTree();
  ValueOwner copy = original->DeepCopyOwned();
  EXPECT_TRUE(copy->Equals(*original));
  EXPECT_TRUE(original->Equals(*copy));

  DictionaryValue* copy_dictionary = nullptr;
  ASSERT_TRUE(copy->GetAsDictionary(&copy_dictionary));
  ListValue* copy_list = nullptr;
  ASSERT_TRUE(copy_dictionary->GetList("nested.list", &copy_list));
  copy_list->AppendInteger(3);
  EXPECT_FALSE(copy->Equals(*original));
  const ListValue* original_list = nullptr;
  ASSERT_TRUE(original->GetList("nested.list", &original_list));
  EXPECT_EQ(4u, original_list->GetSize());

  ValueOwner raw_copy(original->DeepCopy());
  EXPECT_TRUE(raw_copy->Equals(*original));
}

TEST(ValueEquals, ComparesByTagAndContent) {
  DictionaryValue forward;
  forward.SetInteger("a", 1);
  forward.SetString("b", "x");
  DictionaryValue backward;
  backward.SetString("b", "x");
  backward.SetInteger("a", 1);
  EXPECT_TRUE(forward.Equals(backward));

  const struct {
    ValueOwner a;
    ValueOwner b;
    bool equal;
  } kCases[] = {
      {MakeValue<Value>(1), MakeValue<Value>(1.0), false},
      {MakeValue<Value>(0.0), MakeValue<Value>(-0.0), true},
      {MakeValue<Value>(), MakeValue<Value>(), true},
      {MakeValue<Value>(), MakeValue<Value>(false), false},
      {MakeValue<Value>("a"), MakeValue<Value>("a"), true},
      {MakeValue<Value>("a"), MakeValue<Value>("ab"), false},
      {MakeValue<Value>(std::vector<uint8_t>{1, 2}),
       MakeValue<Value>(std::vector<uint8_t>{1, 2}), true},
      {MakeValue<Value>(std::vector<uint8_t>{1, 2}),
       MakeValue<Value>(std::vector<uint8_t>{1}), false},
      {MakeValue<Value>(std::vector<uint8_t>{}), MakeValue<Value>(""), false},
      {MakeValue<ListValue>(), MakeValue<DictionaryValue>(), false},
  };
  for (size_t i = 0; i < std::size(kCases); ++i)
    EXPECT_EQ(kCases[i].equal, kCases[i].a->Equals(*kCases[i].b)) << i;

  ListValue short_list;
  short_list.AppendInteger(1);
  ListValue long_list;
  long_list.AppendInteger(1);
  long_list.AppendInteger(2);
  EXPECT_FALSE(short_list.Equals(long_list));
  EXPECT_FALSE(long_list.Equals(short_list));
  DictionaryValue more;
  more.SetInteger("a", 1);
  more.SetString("b", "x");
  more.SetString("c", "y");
  EXPECT_FALSE(forward.Equals(more));
  EXPECT_FALSE(more.Equals(forward));
}

}  // namespace
}  // namespace base
