#include "desktop/windows/installer/ui/rich_edit_links.h"

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

struct MarkupCase {
  const char* name;
  const wchar_t* text;
  const wchar_t* converted;
};

class ConvertLinkMarkupTest : public testing::TestWithParam<MarkupCase> {};

TEST_P(ConvertLinkMarkupTest, MarksLinks) {
  EXPECT_EQ(ConvertLinkMarkup(GetParam().text), GetParam().converted);
}

INSTANTIATE_TEST_SUITE_P(
    Texts,
    ConvertLinkMarkupTest,
    testing::Values(
        MarkupCase{"NoAnchor", L"Plain text", L"Plain text"},
        MarkupCase{"TermsAgreement",
                   L"By clicking on \"Accept\" you agree to <a "
                   L"href=\"tos\">Terms of Service</a>",
                   L"By clicking on \"Accept\" you agree to $1tos$2Terms of "
                   L"Service$3"},
        MarkupCase{"TwoLinks", L"<a href=\"a\">A</a> and <a href=\"b\">B</a>.",
                   L"$1a$2A$3 and $1b$2B$3."},
        MarkupCase{"AnchorWithoutTarget", L"See <a name=\"n\">here</a> now",
                   L"See $1here$3 now"},
        // The first anchor's missing target is not taken from the second.
        MarkupCase{"TargetOnlyFromOwnTag",
                   L"<a name=\"x\">one</a> <a href=\"y\">two</a>",
                   L"$1one$3 $1y$2two$3"},
        MarkupCase{"OtherAttributesSkipped",
                   L"<a class=\"c\" href=\"t\">x</a>", L"$1t$2x$3"},
        MarkupCase{"DollarsOfTheTextDoubled",
                   L"Costs $1, <a href=\"$2\">$3</a>",
                   L"Costs $$1, $1$$2$2$$3$3"},
        MarkupCase{"UnclosedAnchor", L"Go <a href=\"t",
                   L"Go $1href=\"t"}),
    [](const testing::TestParamInfo<MarkupCase>& info) {
      return std::string(info.param.name);
    });

TEST(RichEditLinksTest, MarkersBecomeHyperlinkFields) {
  struct {
    const char* rtf;
    bool link_on_new_line;
    const char* replaced;
  } const cases[] = {
      {R"({\rtf1 Read $1tos$2Terms$3.\par})", false,
       R"({\rtf1 Read {\field{\*\fldinst{HYPERLINK "tos"}}{\fldrslt{\ul Terms}}}.\par})"},
      {R"({\rtf1 Read $1tos$2Terms$3.\par})", true,
       R"({\rtf1 Read \line{\field{\*\fldinst{HYPERLINK "tos"}}{\fldrslt{\ul Terms}}}.\par})"},
      // A "$1" of the text itself stays text.
      {R"({\rtf1 Costs $$1 $1t$2x$3})", false,
       R"({\rtf1 Costs $1 {\field{\*\fldinst{HYPERLINK "t"}}{\fldrslt{\ul x}}}})"},
      {"trailing $", false, "trailing $"},
      {"price $5", false, "price $5"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(ReplaceLinkMarkers(test.rtf, test.link_on_new_line),
              test.replaced)
        << test.rtf;
  }
}

// A real Rich Edit control under the test display.
class RichEditControlTest : public testing::Test {
 protected:
  void SetUp() override {
    LoadRichEditLibrary();
    control_ = ::CreateWindowExW(0, MSFTEDIT_CLASS, L"",
                                 WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0,
                                 400, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(control_);
  }
  void TearDown() override { ::DestroyWindow(control_); }

  std::wstring Text() const {
    std::wstring text(
        static_cast<size_t>(::GetWindowTextLengthW(control_)) + 1, L'\0');
    text.resize(::GetWindowTextW(control_, text.data(),
                                 static_cast<int>(text.size())));
    return text;
  }

  HWND control_ = nullptr;
};

// Wine's Rich Edit drops HYPERLINK fields together with their text, so only
// the text around the link can be read back here.
TEST_F(RichEditControlTest, TextAroundTheLinkIsKeptVerbatim) {
  SetRichTextWithLinks(control_, L"Costs $1 {\\par} <a href=\"t\">x</a> end",
                       RGB(1, 2, 3));
  const std::wstring text = Text();
  EXPECT_EQ(text.rfind(L"Costs $1 {\\par} ", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - 4), L" end") << text;
}

TEST_F(RichEditControlTest, TextWithoutLinksIsSetUnchanged) {
  SetRichTextWithLinks(control_, L"Plain text", RGB(1, 2, 3));
  EXPECT_EQ(Text(), L"Plain text");
}

TEST_F(RichEditControlTest, LineLongerThanAnyLineBufferIsHandled) {
  // Without wrapping, so that the first line is the long one (and Wine lays
  // it out in reasonable time).
  ::SendMessageW(control_, EM_SETTARGETDEVICE, 0, 1);
  const std::wstring long_line(70000, L'w');
  SetRichTextWithLinks(control_, long_line + L" <a href=\"t\">x</a>",
                       RGB(1, 2, 3));
  EXPECT_EQ(Text().substr(0, long_line.size()), long_line);
}

TEST_F(RichEditControlTest, RangeColourAppliesToThatRangeOnly) {
  ::SetWindowTextW(control_, L"TARVO. DO MORE.");
  SetRichEditTextColor(control_, RGB(255, 27, 44));
  SetRichEditRangeColor(control_, RGB(0, 0, 0), {0, 6});
  struct {
    LONG position;
    COLORREF color;
  } const cases[] = {{0, RGB(0, 0, 0)}, {5, RGB(0, 0, 0)},
                     {7, RGB(255, 27, 44)}, {14, RGB(255, 27, 44)}};
  for (const auto& test : cases) {
    CHARRANGE range = {test.position, test.position + 1};
    ::SendMessageW(control_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    ::SendMessageW(control_, EM_GETCHARFORMAT, SCF_SELECTION,
                   reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(format.crTextColor, test.color) << test.position;
  }
}

}  // namespace
}  // namespace installer
