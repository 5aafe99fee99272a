#include "desktop/windows/installer/xml/xml_reader.h"

#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_com_initializer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class XmlReaderTest : public testing::Test {
 protected:
  base::FilePath WriteDocument(const std::string& text) {
    base::FilePath path = folder_.path().Append(L"document.xml");
    EXPECT_EQ(base::WriteBufferToFile(path, text.data(),
                                      static_cast<int>(text.size())),
              static_cast<int>(text.size()));
    return path;
  }

  std::string Name() {
    std::string name;
    EXPECT_TRUE(reader_.GetName(&name));
    return name;
  }

  base::win::ScopedCOMInitializer com_;
  base::ScopedTempFolder folder_;
  XmlReader reader_;
};

TEST_F(XmlReaderTest, WalksElementsOnlyAndStaysWhereNoneIs) {
  std::string error;
  ASSERT_TRUE(reader_.LoadFile(
      WriteDocument("<?xml version=\"1.0\"?>\n<!-- before -->\n"
                    "<root a=\"1\">text <!-- c --><?pi x?>\n"
                    "  <first/>\n  <!-- between -->\n"
                    "  <second b=\"x &amp; y\">inner <leaf>more</leaf></second>"
                    "\n</root>\n"),
      &error))
      << error;
  ASSERT_EQ(reader_.GoToFirstChild(), XmlReader::kMoved);
  EXPECT_EQ(Name(), "root");
  EXPECT_EQ(reader_.GoToParent(), XmlReader::kNoSuchElement);
  ASSERT_EQ(reader_.GoToFirstChild(), XmlReader::kMoved);
  EXPECT_EQ(Name(), "first");
  EXPECT_EQ(reader_.GoToFirstChild(), XmlReader::kNoSuchElement);
  EXPECT_EQ(Name(), "first");
  ASSERT_EQ(reader_.GoToNextSibling(), XmlReader::kMoved);
  EXPECT_EQ(Name(), "second");
  std::string value;
  EXPECT_TRUE(reader_.GetAttribute("b", &value));
  EXPECT_EQ(value, "x & y");
  EXPECT_FALSE(reader_.GetAttribute("a", &value));
  std::string text;
  EXPECT_TRUE(reader_.GetText(&text));
  EXPECT_EQ(text, "inner more");
  EXPECT_EQ(reader_.GoToNextSibling(), XmlReader::kNoSuchElement);
  EXPECT_EQ(Name(), "second");
  ASSERT_EQ(reader_.GoToParent(), XmlReader::kMoved);
  EXPECT_EQ(Name(), "root");
}

TEST_F(XmlReaderTest, DocumentNodeHasNoAttributes) {
  std::string error;
  ASSERT_TRUE(reader_.LoadFile(WriteDocument("<root a=\"1\"/>"), &error));
  std::string value;
  EXPECT_FALSE(reader_.GetAttribute("a", &value));
}

TEST_F(XmlReaderTest, MalformedOrMissingFileFailsToLoad) {
  std::string error;
  EXPECT_FALSE(reader_.LoadFile(WriteDocument("<root><open></root>"), &error));
  EXPECT_EQ(error, "Cannot load the document from file");
  error.clear();
  EXPECT_FALSE(reader_.LoadFile(folder_.path().Append(L"missing.xml"), &error));
  EXPECT_EQ(error, "Cannot load the document from file");
  // A second name of a document elsewhere is not read through.
  const base::FilePath linked = folder_.path().Append(L"linked.xml");
  ASSERT_TRUE(::CreateHardLinkW(linked.value().c_str(),
                                WriteDocument("<root/>").value().c_str(),
                                nullptr));
  error.clear();
  EXPECT_FALSE(reader_.LoadFile(linked, &error));
  EXPECT_EQ(error, "Cannot load the document from file");
  EXPECT_EQ(reader_.GoToFirstChild(), XmlReader::kFailed);
}

}  // namespace
}  // namespace installer
