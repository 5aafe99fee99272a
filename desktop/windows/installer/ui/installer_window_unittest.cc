#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <memory>
#include <string>
#include <vector>

#include "base/test/temp_tree.h"
#include "base/threading/lock.h"
#include "base/time/tick_time.h"
#include "base/values.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class RecordingDelegate : public InstallerWindow::Delegate {
 public:
  void OnAccept() override { calls.push_back("OnAccept"); }
  void OnCancel() override { calls.push_back("OnCancel"); }
  void OnGetFullPackage() override { calls.push_back("OnGetFullPackage"); }

  std::vector<std::string> calls;
};

// The real window on the test display, with the host's dialogs (the unit
// tests carry the host's resources).
class InstallerWindowTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    settings_ = MakeSettings(tree_.Path(L"Tarvo"));
  }
  void TearDown() override { InstallerWindow::SetFolderBrowserForTesting(nullptr); }

  std::unique_ptr<InstallerWindow> MakeWindow(bool run_immediately = false) {
    auto window = InstallerWindow::Create(settings_.get(), &stats_,
                                          run_immediately);
    EXPECT_TRUE(window);
    if (window)
      window->AddDelegate(&delegate_);
    return window;
  }

  static HWND Control(const InstallerWindow& window, int id) {
    if (HWND control = ::GetDlgItem(window.GetHwnd(), id))
      return control;
    HWND page = ::FindWindowExW(window.GetHwnd(), nullptr, L"#32770", nullptr);
    return ::GetDlgItem(page, id);
  }

  static void Click(const InstallerWindow& window, int id) {
    ::SendMessageW(Control(window, id), BM_CLICK, 0, 0);
  }

  static std::wstring Text(HWND control) {
    wchar_t text[256] = {};
    ::GetWindowTextW(control, text, 256);
    return text;
  }

  // "PAGE" or "PAGE:ACTION" for each entry of the page sequence.
  std::vector<std::string> PageSequence() const {
    std::vector<std::string> pages;
    const base::ListValue* list = nullptr;
    if (!stats_root_.GetList("ui.page_sequence", &list))
      return pages;
    for (size_t i = 0; i < list->GetSize(); ++i) {
      const base::Value* value = nullptr;
      const base::DictionaryValue* entry = nullptr;
      std::string page;
      std::string action;
      if (!list->Get(i, &value) || !value->GetAsDictionary(&entry))
        continue;
      entry->GetString("page_type", &page);
      if (entry->GetString("navigation_action", &action))
        page += ":" + action;
      pages.push_back(page);
    }
    return pages;
  }

  // The integer `key` of the last page entry; -1 when absent.
  int LastPageCounter(const char* key) const {
    const base::ListValue* list = nullptr;
    const base::Value* value = nullptr;
    const base::DictionaryValue* entry = nullptr;
    int count = -1;
    if (stats_root_.GetList("ui.page_sequence", &list) &&
        list->Get(list->GetSize() - 1, &value) &&
        value->GetAsDictionary(&entry)) {
      entry->GetInteger(key, &count);
    }
    return count;
  }

  base::TempTree tree_;
  std::unique_ptr<Settings> settings_;
  base::DictionaryValue stats_root_;
  base::Lock stats_lock_;
  StatsNode stats_{&stats_root_, &stats_lock_, base::TickTime::Now()};
  RecordingDelegate delegate_;
};

TEST_F(InstallerWindowTest, PagesAreRecordedOncePerVisit) {
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  window->ShowPage(InstallerWindow::kWelcomePage);
  Click(*window, kOptionsButton);
  window->ShowPage(InstallerWindow::kOptionsPage);
  Click(*window, kBackButton);
  Click(*window, kAcceptButton);
  EXPECT_EQ(PageSequence(),
            (std::vector<std::string>{"WELCOME:OPTIONS", "OPTIONS:BACK",
                                      "WELCOME:ACCEPT"}));
  EXPECT_EQ(delegate_.calls, std::vector<std::string>{"OnAccept"});
}

// The controller accepts at once; the window shows PROGRESS from its
// initialisation, then its first page, then PROGRESS again.
TEST_F(InstallerWindowTest, RunImmediatelyWindowFollowsNoSettings) {
  auto window = MakeWindow(true);
  ASSERT_TRUE(window);
  window->StartProgress(0, 100, false);
  EXPECT_EQ(PageSequence(),
            (std::vector<std::string>{"PROGRESS", "WELCOME", "PROGRESS"}));
  settings_->SetLanguage(L"de");
  EXPECT_EQ(Text(Control(*window, kOptionsButton)), L"&Options");
}

TEST_F(InstallerWindowTest, FrozenSettingsPutTheOptionBack) {
  struct {
    int box;
    int32_t flag;
    const char* counter;
  } const cases[] = {
      {kImportDataBox, IMPORT_BROWSER_DATA, "changed_import_data"},
      {kShareUsageBox, ENABLE_TARVO_STATS, "changed_enable_stats"},
  };
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  Click(*window, kOptionsButton);
  for (const auto& test : cases) {
    const bool before = settings_->GetFlag(test.flag);
    settings_->set_changeable(false);
    Click(*window, test.box);
    EXPECT_EQ(settings_->GetFlag(test.flag), before) << test.counter;
    EXPECT_EQ(::SendMessageW(Control(*window, test.box), BM_GETCHECK, 0, 0),
              before ? BST_CHECKED : BST_UNCHECKED)
        << test.counter;
    EXPECT_EQ(LastPageCounter(test.counter), -1);

    settings_->set_changeable(true);
    Click(*window, test.box);
    EXPECT_EQ(settings_->GetFlag(test.flag), !before) << test.counter;
    EXPECT_EQ(LastPageCounter(test.counter), 1);
  }
}

TEST_F(InstallerWindowTest, ProgressMovesOnlyForward) {
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  window->StartProgress(0, 1303, false);
  HWND bar = Control(*window, kProgressBar);
  struct {
    int position;
    int shown;
  } const steps[] = {{5, 5}, {10, 10}, {400, 400}, {300, 400}, {1303, 1303}};
  for (const auto& step : steps) {
    window->SetProgress(step.position);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), step.shown)
        << step.position;
  }
}

// The dialog presses its default button for the Enter key, hidden or not.
TEST_F(InstallerWindowTest, HiddenButtonCannotBePressed) {
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  const WPARAM accept = MAKEWPARAM(kAcceptButton, BN_CLICKED);
  const LPARAM button = reinterpret_cast<LPARAM>(Control(*window, kAcceptButton));
  window->StartProgress(0, 100, true);
  ::SendMessageW(window->GetHwnd(), WM_COMMAND, accept, button);
  EXPECT_TRUE(delegate_.calls.empty());
  window->ShowPage(InstallerWindow::kWelcomePage);
  ::SendMessageW(window->GetHwnd(), WM_COMMAND, accept, button);
  EXPECT_EQ(delegate_.calls, std::vector<std::string>{"OnAccept"});
}

// Wine's Rich Edit never shows the link, so the test sends the notification
// a click on it makes.
TEST_F(InstallerWindowTest, TermsLinkShowsTheTerms) {
  struct {
    CHARRANGE link;
    InstallerWindow::Page page;
  } const cases[] = {
      {{5, 8}, InstallerWindow::kTosPage},
      {{0, 4}, InstallerWindow::kWelcomePage},
  };
  for (const auto& test : cases) {
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    HWND agreement = Control(*window, kTermsAgreementText);
    ::SetWindowTextW(agreement, L"Read tos now");
    ENLINK link = {};
    link.nmhdr = {agreement, kTermsAgreementText, EN_LINK};
    link.msg = WM_LBUTTONUP;
    link.chrg = test.link;
    ::SendMessageW(window->GetHwnd(), WM_NOTIFY, kTermsAgreementText,
                   reinterpret_cast<LPARAM>(&link));
    EXPECT_EQ(window->current_page(), test.page);
    EXPECT_EQ(PageSequence().front(), "WELCOME:TOS");
    stats_root_.RemoveByKey("ui", nullptr);
  }
}

// The error badge overlaps the logo's lower right corner, where the logo
// itself is transparent.
TEST_F(InstallerWindowTest, ErrorBadgeShowsOnTheErrorPageOnly) {
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  HWND logo = Control(*window, kLogoArea);
  RECT client = {};
  ::GetClientRect(logo, &client);
  // A point of the badge's dark red disc: badge pixel (8, 16); the badge
  // (32 pixels) stands 10 pixels out of the logo's (96 pixels) corner.
  const int x = client.right / 2 - 48 + 96 - 32 + 10 + 8;
  const int y = client.bottom / 2 - 48 + 96 - 32 + 10 + 16;
  // Drawn onto white in a bitmap of its own: the display is shared with
  // other tests' windows.
  auto pixel = [&] {
    ScopedWindowDc window_dc(logo);
    ScopedMemoryDc dc(window_dc.Get());
    ScopedBitmap bitmap(::CreateCompatibleBitmap(window_dc.Get(), client.right,
                                                 client.bottom));
    ScopedSelectObject select(dc.Get(), bitmap.Get());
    ::FillRect(dc.Get(), &client,
               static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SendMessageW(logo, WM_PRINTCLIENT,
                   reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT);
    return ::GetPixel(dc.Get(), x, y);
  };
  EXPECT_EQ(pixel(), RGB(255, 255, 255));
  window->ShowError(L"Failed", false, "reason");
  const COLORREF error = pixel();
  EXPECT_NEAR(GetRValue(error), 178, 8);
  EXPECT_NEAR(GetGValue(error), 16, 8);
  EXPECT_NEAR(GetBValue(error), 32, 8);
}

// Either browse button starts from the folder in the list beside it, and
// the chosen folder reaches both lists and the settings.
TEST_F(InstallerWindowTest, ChosenFolderGoesToTheListsAndTheSettings) {
  static base::FilePath chosen;
  static std::wstring initial;
  InstallerWindow::SetFolderBrowserForTesting(
      [](HWND, const std::wstring&, const std::wstring& initial_folder,
         std::wstring* folder) {
        initial = initial_folder;
        *folder = chosen.value();
        return true;
      });
  struct {
    const wchar_t* folder;
    int page_button;
    int browse_button;
    const wchar_t* listed;  // The folder in the lists before, when set.
    bool starts_there;
  } const cases[] = {
      {L"FromOptions", kOptionsButton, kChangeFolderButton, nullptr, true},
      {L"FromMainPage", 0, kMainBrowseButton, nullptr, true},
      // The dialog opens the folder it starts from: never a refused one.
      {L"FromAPipe", 0, kMainBrowseButton, L"\\\\localhost\\pipe\\x", false},
  };
  for (const auto& test : cases) {
    if (test.listed) {
      settings_->SetInstallFolderIfAllowed(base::FilePath(test.listed));
      WaitForStatus(*settings_);
    }
    const std::wstring before = settings_->GetStatus()->install_folder.value();
    chosen = tree_.Path(test.folder);
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    if (test.listed)
      EXPECT_EQ(Text(Control(*window, kMainFolderList)), test.listed);
    if (test.page_button)
      Click(*window, test.page_button);
    Click(*window, test.browse_button);
    WaitForStatus(*settings_);
    EXPECT_EQ(initial, test.starts_there ? before : L"") << test.folder;
    EXPECT_EQ(settings_->GetStatus()->install_folder.value(), chosen.value());
    EXPECT_EQ(Text(Control(*window, kFolderList)), chosen.value());
    EXPECT_EQ(Text(Control(*window, kMainFolderList)), chosen.value());
  }
}

// The main page's red notice says why Accept is disabled, there only.
TEST_F(InstallerWindowTest, RedTextShowsOnTheMainPageForAnUnusableFolder) {
  tree_.WriteFile(L"File", "");
  settings_->SetInstallFolderIfAllowed(tree_.Path(L"File\\Tarvo"));
  WaitForStatus(*settings_);
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  HWND red_text = Control(*window, kRedText);
  HWND accept = Control(*window, kAcceptButton);
  EXPECT_EQ(Text(red_text), L"The install path is invalid");
  struct {
    InstallerWindow::Page page;
    const wchar_t* folder;
    bool shown;
  } const steps[] = {
      {InstallerWindow::kWelcomePage, nullptr, true},
      {InstallerWindow::kTosPage, nullptr, false},
      {InstallerWindow::kWelcomePage, nullptr, true},
      {InstallerWindow::kWelcomePage, L"Usable", false},
      {InstallerWindow::kWelcomePage, L"File\\Again", true},
      {InstallerWindow::kProgressPage, nullptr, false},
  };
  for (const auto& step : steps) {
    window->ShowPage(step.page);
    if (step.folder) {
      settings_->SetInstallFolderIfAllowed(tree_.Path(step.folder));
      WaitForStatus(*settings_);
    }
    EXPECT_EQ(::IsWindowVisible(red_text) != FALSE, step.shown)
        << window->GetPageName(step.page) << " "
        << (step.folder ? step.folder : L"");
    if (step.page == InstallerWindow::kWelcomePage) {
      EXPECT_EQ(::IsWindowEnabled(accept) != FALSE, !step.shown);
    }
  }
}

}  // namespace
}  // namespace installer
