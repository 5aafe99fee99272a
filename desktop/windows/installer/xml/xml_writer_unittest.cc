#include "desktop/windows/installer/xml/xml_writer.h"

#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/xml/xml_reader.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class XmlWriterTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(writer_.Create()); }

  std::string Serialized() {
    std::string text;
    EXPECT_TRUE(writer_.Serialize(&text));
    return text;
  }

  // Parses the text with MSXML and leaves the reader on the root element.
  void LoadIntoReader(const std::string& text) {
    base::FilePath path = folder_.path().Append(L"written.xml");
    ASSERT_EQ(base::WriteBufferToFile(path, text.data(),
                                      static_cast<int>(text.size())),
              static_cast<int>(text.size()));
    std::string error;
    ASSERT_TRUE(reader_.LoadFile(path, &error)) << error;
    ASSERT_EQ(reader_.GoToFirstChild(), XmlReader::kMoved);
  }

  base::win::ScopedCOMInitializer com_;
  base::ScopedTempFolder folder_;
  XmlWriter writer_;
  XmlReader reader_;
};

TEST_F(XmlWriterTest, WritesOneElementPerLineIndentedByLevel) {
  ASSERT_TRUE(writer_.StartElement("log"));
  ASSERT_TRUE(writer_.AddAttribute("b", "2"));
  ASSERT_TRUE(writer_.AddAttribute("a", ""));
  ASSERT_TRUE(writer_.StartElement("list"));
  ASSERT_TRUE(writer_.StartElement("item"));
  ASSERT_TRUE(writer_.Characters("C:\\x"));
  ASSERT_TRUE(writer_.EndElement());
  ASSERT_TRUE(writer_.StartElement("item"));
  ASSERT_TRUE(writer_.AddAttribute("empty", "yes"));
  ASSERT_TRUE(writer_.EndElement());
  ASSERT_TRUE(writer_.EndElement());
  ASSERT_TRUE(writer_.StartElement("none"));
  ASSERT_TRUE(writer_.Characters(""));
  ASSERT_TRUE(writer_.EndElement());
  ASSERT_TRUE(writer_.EndElement());
  // The root keeps the cursor: this element still goes inside it.
  ASSERT_TRUE(writer_.EndElement());
  ASSERT_TRUE(writer_.StartElement("last"));
  EXPECT_EQ(Serialized(),
            "<?xml version=\"1.0\"?>\n"
            "<log b=\"2\" a=\"\">\n"
            " <list>\n"
            "  <item>C:\\x</item>\n"
            "  <item empty=\"yes\"/>\n"
            " </list>\n"
            " <none/>\n"
            " <last/>\n"
            "</log>\n");
}

TEST_F(XmlWriterTest, CharactersReplaceTheContentAndTextStaysOnOneLine) {
  ASSERT_TRUE(writer_.StartElement("root"));
  ASSERT_TRUE(writer_.StartElement("gone"));
  ASSERT_TRUE(writer_.EndElement());
  ASSERT_TRUE(writer_.Characters("text "));
  ASSERT_TRUE(writer_.StartElement("inner"));
  ASSERT_TRUE(writer_.StartElement("leaf"));
  EXPECT_EQ(Serialized(),
            "<?xml version=\"1.0\"?>\n"
            "<root>text <inner><leaf/></inner></root>\n");
}

TEST_F(XmlWriterTest, EscapedTextAndAttributesReadBackUnchanged) {
  const std::string kText =
      " a & b < c > d \"e\" 'f' \t g\r\nh J\xC3\xB6rg \xE3\x83\x95 "
      "\xF0\x9F\x98\x80 ";
  ASSERT_TRUE(writer_.StartElement("root"));
  ASSERT_TRUE(writer_.AddAttribute("value", kText));
  ASSERT_TRUE(writer_.Characters(kText));
  const std::string text = Serialized();
  EXPECT_EQ(text,
            "<?xml version=\"1.0\"?>\n"
            "<root value=\" a &amp; b &lt; c &gt; d &quot;e&quot; 'f' &#9; "
            "g&#13;&#10;h J\xC3\xB6rg \xE3\x83\x95 \xF0\x9F\x98\x80 \">"
            " a &amp; b &lt; c &gt; d \"e\" 'f' \t g&#13;&#10;h J\xC3\xB6rg "
            "\xE3\x83\x95 \xF0\x9F\x98\x80 </root>\n");
  LoadIntoReader(text);
  std::string value;
  EXPECT_TRUE(reader_.GetAttribute("value", &value));
  EXPECT_EQ(value, kText);
  // Outer blanks too: a file name may begin with one.
  EXPECT_TRUE(reader_.GetText(&value));
  EXPECT_EQ(value, kText);
}

TEST_F(XmlWriterTest, RefusesCharactersXmlCannotHold) {
  ASSERT_TRUE(writer_.StartElement("root"));
  for (const char* text : {"\x01", "bell\x07", "\xEF\xBF\xBF"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(writer_.AddAttribute("value", text));
    EXPECT_FALSE(writer_.Characters(text));
  }
  EXPECT_EQ(Serialized(), "<?xml version=\"1.0\"?>\n<root/>\n");
}

TEST_F(XmlWriterTest, DocumentWithoutRootCannotBeSerialized) {
  std::string text;
  EXPECT_FALSE(writer_.Serialize(&text));
  XmlWriter never_created;
  EXPECT_FALSE(never_created.StartElement("root"));
  EXPECT_FALSE(never_created.Serialize(&text));
}

}  // namespace
}  // namespace installer
