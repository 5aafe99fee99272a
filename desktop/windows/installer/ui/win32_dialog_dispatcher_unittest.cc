#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

#include <vector>

#include "base/message_loop/message_pump_dispatcher.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

// The host's message box dialog, as a plain modeless dialog.
class DialogDispatchTest : public testing::Test {
 protected:
  void SetUp() override {
    LoadRichEditLibrary();
    for (HWND& dialog : dialogs_) {
      dialog = ::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                    MAKEINTRESOURCEW(kMessageBoxDialog),
                                    nullptr, &PlainDialogProc, 0);
      ASSERT_TRUE(dialog);
    }
  }
  void TearDown() override {
    for (HWND dialog : dialogs_)
      ::DestroyWindow(dialog);
  }

  HWND dialogs_[2] = {};
};

TEST_F(DialogDispatchTest, OnlyTheDeactivatedDialogStopsBeingCurrent) {
  enum Step { kSetFirst, kSetSecond, kClearFirst, kClearSecond };
  struct {
    const char* name;
    std::vector<Step> steps;
    int current;  // index into dialogs_, -1 for none
  } const cases[] = {
      {"ActivatedIsCurrent", {kSetFirst}, 0},
      {"DeactivatedIsNotCurrent", {kSetFirst, kClearFirst}, -1},
      {"LaterActivationWins", {kSetFirst, kSetSecond}, 1},
      // The first one's deactivation arrives after the second's activation.
      {"LateDeactivationKeepsOther", {kSetFirst, kSetSecond, kClearFirst}, 1},
      {"DeactivationWithoutCurrent", {kClearSecond}, -1},
  };
  for (const auto& test : cases) {
    Win32DialogDispatcher dispatcher;
    for (Step step : test.steps) {
      HWND dialog = dialogs_[step == kSetSecond || step == kClearSecond];
      if (step == kSetFirst || step == kSetSecond)
        dispatcher.SetCurrentDialog(dialog);
      else
        dispatcher.ClearCurrentDialog(dialog);
    }
    EXPECT_EQ(dispatcher.current_dialog(),
              test.current < 0 ? nullptr : dialogs_[test.current])
        << test.name;
  }
}

TEST_F(DialogDispatchTest, CurrentDialogTakesItsKeys) {
  HWND cancel = ::GetDlgItem(dialogs_[0], kMessageCancelButton);
  const MSG tab = {cancel, WM_KEYDOWN, VK_TAB, 0};
  Win32DialogDispatcher dispatcher;
  EXPECT_EQ(dispatcher.Dispatch(tab),
            base::MessagePumpDispatcher::kDefaultProcessing);
  dispatcher.SetCurrentDialog(dialogs_[0]);
  EXPECT_EQ(dispatcher.Dispatch(tab), 0u);
  // A key of another window is not the dialog's.
  const MSG other = {::GetDlgItem(dialogs_[1], kMessageCancelButton),
                     WM_KEYDOWN, VK_TAB, 0};
  EXPECT_EQ(dispatcher.Dispatch(other),
            base::MessagePumpDispatcher::kDefaultProcessing);
}

}  // namespace
}  // namespace installer
