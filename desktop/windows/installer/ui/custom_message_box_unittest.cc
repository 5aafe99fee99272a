#include "desktop/windows/installer/ui/custom_message_box.h"

#include <richedit.h>

#include <vector>

#include "base/bind.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::wstring Text(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

class CustomMessageBoxTest : public testing::Test {
 protected:
  void SetUp() override {
    owner_ = ::CreateWindowExW(0, L"Static", L"owner", WS_POPUP, 0, 0, 10, 10,
                               nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner_);
  }
  void TearDown() override { ::DestroyWindow(owner_); }

  bool Show(CustomMessageBox* box, int accept) {
    return box->Show(owner_, kStringCorruptedTitle, L"Please <a href=\"tos\">download</a>.",
                     accept, kStringCorruptedCancel,
                     base::Bind<void(int)>(
                         [](std::vector<int>* answers, int answer) {
                           answers->push_back(answer);
                         },
                         &answers_));
  }

  HWND owner_ = nullptr;
  std::vector<int> answers_;
};

TEST_F(CustomMessageBoxTest, EachUserActionIsAnswered) {
  CustomMessageBox box;
  ASSERT_TRUE(Show(&box, kStringCorruptedGo));
  HWND dialog = box.dialog();
  ::SendMessageW(::GetDlgItem(dialog, kMessageAcceptButton), BM_CLICK, 0, 0);
  ::SendMessageW(::GetDlgItem(dialog, kMessageCancelButton), BM_CLICK, 0, 0);
  ::SendMessageW(dialog, WM_CLOSE, 0, 0);
  // Wine's Rich Edit shows no link; the notification a click on one makes.
  ENLINK link = {};
  link.nmhdr = {::GetDlgItem(dialog, kMessageText), kMessageText, EN_LINK};
  link.msg = WM_LBUTTONUP;
  ::SendMessageW(dialog, WM_NOTIFY, kMessageText,
                 reinterpret_cast<LPARAM>(&link));
  EXPECT_EQ(answers_, (std::vector<int>{CustomMessageBox::kAccepted,
                                        CustomMessageBox::kCancelled,
                                        CustomMessageBox::kClosed,
                                        CustomMessageBox::kLinkClicked}));
  // The box stays until its owner closes it.
  EXPECT_TRUE(::IsWindow(dialog));
}

TEST_F(CustomMessageBoxTest, ShowsTheHostsTexts) {
  struct {
    int accept;
    bool accept_shown;
    int default_button;
  } const cases[] = {
      {kStringCorruptedGo, true, kMessageAcceptButton},
      {0, false, kMessageCancelButton},
  };
  for (const auto& test : cases) {
    CustomMessageBox box;
    ASSERT_TRUE(Show(&box, test.accept));
    HWND dialog = box.dialog();
    EXPECT_EQ(Text(dialog), L"Tarvo installer");
    EXPECT_EQ(Text(::GetDlgItem(dialog, kMessageCancelButton)), L"Cancel");
    EXPECT_EQ(::IsWindowVisible(::GetDlgItem(dialog, kMessageAcceptButton)) !=
                  FALSE,
              test.accept_shown);
    if (test.accept_shown) {
      EXPECT_EQ(Text(::GetDlgItem(dialog, kMessageAcceptButton)), L"Go!");
    }
    EXPECT_EQ(LOWORD(::SendMessageW(dialog, DM_GETDEFID, 0, 0)),
              test.default_button);
  }
}

TEST_F(CustomMessageBoxTest, OwnerIsDisabledWhileTheBoxIsShown) {
  CustomMessageBox box;
  ASSERT_TRUE(Show(&box, kStringCorruptedGo));
  EXPECT_FALSE(::IsWindowEnabled(owner_));
  HWND dialog = box.dialog();
  box.Close();
  EXPECT_TRUE(::IsWindowEnabled(owner_));
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_EQ(box.dialog(), nullptr);
}

}  // namespace
}  // namespace installer
