#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_

#include <windows.h>

#include <richedit.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/observer_list.h"
#include "base/weak_reference.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"
#include "desktop/windows/installer/ui/scoped_gdi_object.h"
#include "desktop/windows/installer/ui/window_images.h"

namespace installer {

// The installer's only window: the main dialog (host dialog 101) with its
// pages, and the options page (host dialog 138) laid over it. It shows the
// settings and lets the user change them until they are frozen, tells its
// delegates of Accept, Cancel and the full-package request, and records the
// user's path through the pages in the statistics ("ui.page_sequence").
// Lives on the thread whose message loop runs the dialogs; that loop must
// hand messages to the `Win32DialogDispatcher` for keyboard navigation.
class InstallerWindow : public Settings::Observer {
 public:
  enum Page : int32_t {
    kWelcomePage = 0,
    kUninstallPage = 1,
    kTosPage = 2,
    kOptionsPage = 3,
    kProgressPage = 4,
    kErrorPage = 5,
    kNoPage = 6,
  };

  // Told of the user's decisions; a delegate may destroy the window from
  // any of these calls.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void OnAccept() = 0;
    virtual void OnCancel() = 0;
    virtual void OnGetFullPackage() = 0;
  };

  // Asks the user for a folder; false when none was chosen.
  using FolderBrowser = bool (*)(HWND owner,
                                 const std::wstring& title,
                                 const std::wstring& initial_folder,
                                 std::wstring* chosen_folder);

  // Shows the window on its first page (UNINSTALL when uninstalling, else
  // WELCOME); null, with the error logged, when the dialogs cannot be made.
  // `settings` must outlive the window; page entries go below `stats`.
  static std::unique_ptr<InstallerWindow> Create(Settings* settings,
                                                 StatsNode* stats,
                                                 bool run_immediately);

  ~InstallerWindow() override;

  // Does nothing when `page` is the current one.
  void ShowPage(Page page);
  // The phase label of the progress page: downloading (phases 0 and 1),
  // extracting (2), else installing or uninstalling.
  void SetPhase(int phase);
  // Shows the progress page with an empty bar over `low`..`high`, or a
  // marquee.
  void StartProgress(int low, int high, bool marquee);
  // Moves the bar forward to `position`; never back.
  void SetProgress(int position);
  void ShowError(const std::wstring& text,
                 bool offer_full_package,
                 const std::string& failure_reason);
  // A modal error box; the delegates are then told Cancel.
  void ShowMessageBox(const std::wstring& text);
  // The installation succeeded: from now on closing the window asks nothing
  // (there is nothing left to quit) and the delegates are told Cancel.
  void SetInstallationDone() { installation_done_ = true; }

  HWND GetHwnd() const { return dialog_; }
  Page current_page() const { return current_page_; }
  void AddDelegate(Delegate* delegate);
  void RemoveDelegate(Delegate* delegate);

  // Repaints the background (and the themed controls' backgrounds) into
  // the bitmap the dialog paints from; false when one exists and `force` is
  // not set.
  bool RenderBackground(bool force);

  // Settings::Observer:
  void OnSettingsChanged() override;
  void OnLanguageChanged() override;
  void OnPathChanged() override;

  // "WELCOME", ... as the statistics name the pages; "invalid" for others.
  static const char* GetPageName(int page);

  // Tests only: browsing asks `browser` (null: the system's folder dialog,
  // which needs a user).
  static void SetFolderBrowserForTesting(FolderBrowser browser);

 private:
  struct ConstructionKey {};

 public:
  InstallerWindow(ConstructionKey, Settings* settings, StatsNode* stats,
                  bool run_immediately);

 private:
  bool CreateDialogs();
  HWND GetControl(int id) const;
  bool IsUninstalling() const;
  // The status of the chosen folder is known, and it cannot be used.
  bool IsFolderKnownInvalid() const;

  // Dialog procedures and their members (installer_window.cc).
  static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message,
                                         WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK PageDialogProc(HWND dialog, UINT message,
                                         WPARAM wparam, LPARAM lparam);
  INT_PTR OnMainDialogMessage(UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR OnPageDialogMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void InitMainDialog();
  void InitPageDialog();
  void CreateFonts();
  void SetWindowIcons();
  void LoadTermsText();
  void CreateModeTooltip();

  // User actions (installer_window_actions.cc).
  void OnMainCommand(int control, int event);
  void OnPageCommand(int control, int event);
  void OnTermsLinkClicked(HWND control, const CHARRANGE& range);
  void WriteNavigation(const char* action);
  void CountInPage(const char* key);
  void ConfirmCancel();
  void NotifyAccept();
  void NotifyCancel();
  void NotifyGetFullPackage();

  // Settings and controls (installer_window_controls.cc).
  void UpdateControls();
  void UpdateUninstallControls(bool shield);
  void UpdateInstallControls(bool valid, bool shield);
  void SetAcceptTexts();
  void SetControlTexts();
  void SetTitleText();
  void FillLanguageList();
  void FillModeList();
  std::wstring GetModeHelpText() const;
  void FitFullPackageButton();
  void FillPathCombo(HWND combo);
  void SetComboPath(HWND combo, const std::wstring& path);
  void OnModeSelected();
  void OnLanguageSelected();
  void OnOptionClicked(int control);
  void ApplyPathFromControl(int control, bool from_selection);
  // Puts the chosen folder into the list `folder_list_id` and applies it.
  void BrowseForFolder(int folder_list_id);
  void InvalidateControlRect(HWND control);

  // Painting (installer_window_painting.cc).
  void LoadImages();
  void RenderControlBackgrounds(HDC window_dc);
  bool OnEraseBackground(HDC dc);
  INT_PTR OnMainControlColor(UINT message, HDC dc, HWND control);
  INT_PTR OnPageControlColor(UINT message, HDC dc, HWND control);
  void PaintLogo(HWND control, HDC dc);
  static LRESULT CALLBACK ImageControlProc(HWND control, UINT message,
                                           WPARAM wparam, LPARAM lparam,
                                           UINT_PTR subclass_id,
                                           DWORD_PTR reference_data);

  Settings* const settings_;
  const bool run_immediately_;
  HWND dialog_ = nullptr;
  ScopedFont normal_font_;
  ScopedFont bold_font_;
  ScopedFont heading_font_;
  ScopedFont title_font_;
  const std::vector<std::wstring> languages_;
  base::ObserverList<Delegate> delegates_;
  ScopedBitmap logo_;
  ScopedBitmap error_badge_;
  ScopedBitmap background_;
  ScopedBitmap rendered_background_;
  HWND page_dialog_ = nullptr;
  Page current_page_ = kNoPage;
  bool error_page_shown_ = false;
  bool installation_done_ = false;
  HWND tooltip_ = nullptr;
  std::unordered_map<HWND, ControlBackground> control_backgrounds_;
  StatsNode stats_;
  std::unique_ptr<StatsNode> page_stats_;
  ScopedIcon big_icon_;
  ScopedIcon small_icon_;
  // Set while the window itself changes controls, whose notifications are
  // then not the user's.
  bool updating_controls_ = false;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
