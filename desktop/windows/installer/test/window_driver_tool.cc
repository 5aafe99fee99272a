// Works another process's installer window from outside, as a user would:
// reads what its controls show, presses its buttons, picks list entries and
// answers its message boxes. Window handles are those the window's process
// printed; they hold across the processes of one Wine session.
//
//   window_driver_tool state HWND
//     Prints the window and its controls as JSON: {"title", "rect":
//     [x, y, width, height], "controls": [{"id", "class", "text", "visible",
//     "enabled", and by kind "checked", "items" and "selected", "position"
//     and "range"}]}. The options page is the control of class "#32770".
//   window_driver_tool click HWND ID        presses a button and returns when
//                                           the window has handled it
//   window_driver_tool post-click HWND ID   presses a button without waiting
//                                           (for a button that opens a box)
//   window_driver_tool select HWND ID INDEX picks a list entry
//   window_driver_tool close HWND           the frame's close button
//   window_driver_tool redraw HWND          repaints the window now
//   window_driver_tool message-box HWND     waits for a message box owned by
//                                           the window and prints it as JSON:
//                                           {"title", "texts", "buttons":
//                                           [{"id", "text"}]}
//   window_driver_tool answer HWND ID       presses the box's button ID
//   window_driver_tool choose-folder HWND PATH
//                                           waits for the folder browser that
//                                           the window opened and picks PATH
//                                           in its folder tree as a user
//                                           would: from PATH's drive (the
//                                           one the browser shows selected,
//                                           else found from the top) opens
//                                           one folder after the other down
//                                           to PATH; the box's OK button is
//                                           then left to "answer"
//   window_driver_tool find PID             waits for the installer window of
//                                           process PID (an unowned visible
//                                           dialog) and prints its handle
//   window_driver_tool windows              prints every visible top-level
//                                           window of the session as a JSON
//                                           list: [{"handle", "pid", "class",
//                                           "title", "owned", "texts"}], the
//                                           texts those of its controls
//   window_driver_tool exit-code PID        holds process PID (the owner of
//                                           a window, started by another),
//                                           prints "holding", waits for it
//                                           to end and prints its exit code
//   window_driver_tool hold-desktop         keeps Wine's desktop open until
//                                           ended: Wine closes it, with its
//                                           desktop process, once no program
//                                           uses it, and starts it again from
//                                           the next one, whose output pipes
//                                           the desktop process then holds.
//                                           Prints "holding" once the desktop
//                                           process runs; ends with 3 when
//                                           Wine could not start it
// A control that is hidden or disabled cannot be pressed or picked, nor a
// folder that the tree does not show: the tool then prints why and ends
// with 2. Bad arguments end with 1.

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/json/json_writer.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/remote_buffer.h"

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";

std::string Utf8(const std::wstring& text) {
  return base::WideToUtf8(text);
}

std::wstring WindowText(HWND window) {
  // WM_GETTEXT crosses processes; GetWindowText would not ask the control.
  const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied =
      ::SendMessageW(window, WM_GETTEXT, text.size(),
                     reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  return std::wstring(name, ::GetClassNameW(window, name, 64));
}

// The controls of the window's dialogs (the window and the pages in it),
// without the parts of controls, such as a combo box's edit field.
std::vector<HWND> Descendants(HWND window) {
  std::vector<HWND> found;
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM list) -> BOOL {
        if (ClassName(::GetParent(child)) == kDialogClass)
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindControl(HWND window, int id) {
  for (HWND child : Descendants(window)) {
    if (::GetDlgCtrlID(child) == id && ClassName(child) != kDialogClass)
      return child;
  }
  return nullptr;
}

bool IsCheckBox(HWND button) {
  const LONG_PTR type = ::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX ||
         type == BS_3STATE || type == BS_AUTO3STATE;
}

void AddComboItems(HWND combo, base::DictionaryValue* entry) {
  auto items = base::MakeValue<base::ListValue>();
  const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    const LRESULT copied = ::SendMessageW(
        combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    items->AppendString(Utf8(text));
  }
  entry->Set("items", std::move(items));
  entry->SetInteger("selected", static_cast<int32_t>(
                                    ::SendMessageW(combo, CB_GETCURSEL, 0, 0)));
}

base::ValueOwner DescribeControl(HWND control) {
  auto entry = base::MakeValue<base::DictionaryValue>();
  const std::wstring class_name = ClassName(control);
  entry->SetInteger("id", ::GetDlgCtrlID(control));
  entry->SetString("class", Utf8(class_name));
  entry->SetString("text", Utf8(WindowText(control)));
  entry->Set("visible",
             base::MakeBooleanValue(::IsWindowVisible(control) != FALSE));
  entry->Set("enabled",
             base::MakeBooleanValue(::IsWindowEnabled(control) != FALSE));
  if (class_name == L"Button" && IsCheckBox(control)) {
    entry->Set("checked",
               base::MakeBooleanValue(::SendMessageW(control, BM_GETCHECK, 0,
                                                     0) == BST_CHECKED));
  } else if (class_name == L"ComboBox") {
    AddComboItems(control, entry.get());
  } else if (class_name == PROGRESS_CLASSW) {
    entry->SetInteger("position", static_cast<int32_t>(::SendMessageW(
                                      control, PBM_GETPOS, 0, 0)));
    auto range = base::MakeValue<base::ListValue>();
    range->AppendInteger(
        static_cast<int32_t>(::SendMessageW(control, PBM_GETRANGE, TRUE, 0)));
    range->AppendInteger(
        static_cast<int32_t>(::SendMessageW(control, PBM_GETRANGE, FALSE, 0)));
    entry->Set("range", std::move(range));
  }
  return entry;
}

void PrintJson(const base::Value& value) {
  std::string json;
  base::WriteJson(value, &json);
  std::puts(json.c_str());
}

int PrintState(HWND window) {
  base::DictionaryValue state;
  state.SetString("title", Utf8(WindowText(window)));
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  auto position = base::MakeValue<base::ListValue>();
  for (LONG value : {rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top}) {
    position->AppendInteger(value);
  }
  state.Set("rect", std::move(position));
  auto controls = base::MakeValue<base::ListValue>();
  for (HWND control : Descendants(window))
    controls->Append(DescribeControl(control));
  state.Set("controls", std::move(controls));
  PrintJson(state);
  return 0;
}

// Null when `control` is not there for a user to use.
HWND UsableControl(HWND window, int id) {
  HWND control = FindControl(window, id);
  if (!control) {
    std::printf("no control %d\n", id);
  } else if (!::IsWindowVisible(control)) {
    std::printf("control %d is hidden\n", id);
  } else if (!::IsWindowEnabled(control)) {
    std::printf("control %d is disabled\n", id);
  } else {
    return control;
  }
  return nullptr;
}

// Whether `box` has become its thread's active window: the window's
// process labels a box's buttons just before it activates it.
bool IsActivated(HWND box) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return ::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &info) &&
         info.hwndActive == box;
}

// The message box that `owner` opened, once it is shown and active; waits
// until there is one.
HWND WaitForMessageBox(HWND owner) {
  for (;;) {
    HWND candidate = nullptr;
    while ((candidate = ::FindWindowExW(nullptr, candidate, kDialogClass,
                                        nullptr)) != nullptr) {
      if (::GetWindow(candidate, GW_OWNER) == owner &&
          ::IsWindowVisible(candidate) && IsActivated(candidate)) {
        return candidate;
      }
    }
    ::Sleep(50);
  }
}

int PrintMessageBox(HWND box) {
  base::DictionaryValue description;
  description.SetString("title", Utf8(WindowText(box)));
  auto texts = base::MakeValue<base::ListValue>();
  auto buttons = base::MakeValue<base::ListValue>();
  for (HWND control : Descendants(box)) {
    const std::wstring text = WindowText(control);
    if (ClassName(control) == L"Button") {
      auto button = base::MakeValue<base::DictionaryValue>();
      button->SetInteger("id", ::GetDlgCtrlID(control));
      button->SetString("text", Utf8(text));
      buttons->Append(std::move(button));
    } else if (!text.empty()) {
      texts->AppendString(Utf8(text));
    }
  }
  description.Set("texts", std::move(texts));
  description.Set("buttons", std::move(buttons));
  PrintJson(description);
  return 0;
}

// Longer names do not occur in the tests' folders.
constexpr int kMaxItemText = MAX_PATH;

// The text of an item of another process's tree view, read through memory
// of that process; empty when it cannot be read.
std::wstring TreeItemText(HWND tree, HTREEITEM item, RemoteBuffer* buffer) {
  TVITEMW request = {};
  request.mask = TVIF_HANDLE | TVIF_TEXT;
  request.hItem = item;
  request.pszText = reinterpret_cast<wchar_t*>(
      static_cast<char*>(buffer->address()) + sizeof(request));
  request.cchTextMax = kMaxItemText;
  wchar_t text[kMaxItemText] = {};
  if (!buffer->Write(0, &request, sizeof(request)) ||
      !::SendMessageW(tree, TVM_GETITEMW, 0,
                      reinterpret_cast<LPARAM>(buffer->address())) ||
      !buffer->Read(sizeof(request), text, sizeof(text))) {
    return std::wstring();
  }
  text[kMaxItemText - 1] = L'\0';
  return text;
}

HTREEITEM NextTreeItem(HWND tree, UINT relation, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(::SendMessageW(
      tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

// What a click on the item does.
void SelectTreeItem(HWND tree, HTREEITEM item) {
  ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET,
                 reinterpret_cast<LPARAM>(item));
  ::SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
}

// Opens the item as the Right key does on the selected one, which lets the
// browser list the folder's subfolders.
void OpenTreeItem(HWND tree, HTREEITEM item) {
  SelectTreeItem(tree, item);
  const LRESULT state =
      ::SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item),
                     TVIS_EXPANDED);
  if (!(state & TVIS_EXPANDED))
    ::SendMessageW(tree, WM_KEYDOWN, VK_RIGHT, 0);
}

using ItemMatch = bool (*)(const std::wstring& text, const std::wstring& name);

bool IsNamed(const std::wstring& text, const std::wstring& name) {
  return ::CompareStringOrdinal(text.c_str(), -1, name.c_str(), -1, TRUE) ==
         CSTR_EQUAL;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The browser names a drive "LABEL (Z:)".
bool IsDrive(const std::wstring& text, const std::wstring& drive) {
  return EndsWith(text, L"(" + drive + L")");
}

// The first item from `first` on among its siblings that matches `name`.
HTREEITEM FindSibling(HWND tree,
                      HTREEITEM first,
                      ItemMatch match,
                      const std::wstring& name,
                      RemoteBuffer* buffer) {
  for (HTREEITEM item = first; item; item = NextTreeItem(tree, TVGN_NEXT, item)) {
    if (match(TreeItemText(tree, item, buffer), name))
      return item;
  }
  return nullptr;
}

HTREEITEM OpenAndFindChild(HWND tree,
                           HTREEITEM item,
                           const std::wstring& name,
                           RemoteBuffer* buffer) {
  OpenTreeItem(tree, item);
  return FindSibling(tree, NextTreeItem(tree, TVGN_CHILD, item), &IsNamed,
                     name, buffer);
}

// The drive's item: the one the browser selected when it preselected a
// folder of the drive, else the one a user finds from the top, where the
// drives lie two levels down (the desktop, then the computer).
HTREEITEM FindDriveItem(HWND tree,
                        const std::wstring& drive,
                        RemoteBuffer* buffer) {
  HTREEITEM selected = NextTreeItem(tree, TVGN_CARET, nullptr);
  if (selected && IsDrive(TreeItemText(tree, selected, buffer), drive))
    return selected;
  for (HTREEITEM root = NextTreeItem(tree, TVGN_ROOT, nullptr); root;
       root = NextTreeItem(tree, TVGN_NEXT, root)) {
    OpenTreeItem(tree, root);
    for (HTREEITEM place = NextTreeItem(tree, TVGN_CHILD, root); place;
         place = NextTreeItem(tree, TVGN_NEXT, place)) {
      OpenTreeItem(tree, place);
      if (HTREEITEM found =
              FindSibling(tree, NextTreeItem(tree, TVGN_CHILD, place),
                          &IsDrive, drive, buffer)) {
        return found;
      }
    }
  }
  return nullptr;
}

std::vector<std::wstring> PathParts(const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == path.npos)
      end = path.size();
    if (end > start)
      parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

int ChooseFolder(HWND browser, const std::wstring& path) {
  HWND tree = ::FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
  const std::vector<std::wstring> parts = PathParts(path);
  if (!tree || parts.empty()) {
    std::puts("no folder tree, or no folder to choose");
    return 2;
  }
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(tree, &process_id);
  std::unique_ptr<RemoteBuffer> buffer = RemoteBuffer::Create(
      process_id, sizeof(TVITEMW) + kMaxItemText * sizeof(wchar_t));
  if (!buffer)
    return 1;
  HTREEITEM item = FindDriveItem(tree, parts[0], buffer.get());
  if (!item) {
    std::printf("no drive %s in the tree\n", Utf8(parts[0]).c_str());
    return 2;
  }
  SelectTreeItem(tree, item);
  for (size_t i = 1; i < parts.size(); ++i) {
    item = OpenAndFindChild(tree, item, parts[i], buffer.get());
    if (!item) {
      std::printf("no folder %s in the tree\n", Utf8(parts[i]).c_str());
      return 2;
    }
    SelectTreeItem(tree, item);
  }
  return 0;
}

HWND ParseHandle(const wchar_t* text) {
  return reinterpret_cast<HWND>(
      static_cast<uintptr_t>(std::wcstoull(text, nullptr, 0)));
}

}  // namespace

struct WindowSearch {
  DWORD process_id;
  HWND found;
};

HWND FindProcessWindow(DWORD process_id) {
  WindowSearch search = {process_id, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<WindowSearch*>(data);
        DWORD owner_process = 0;
        ::GetWindowThreadProcessId(window, &owner_process);
        if (owner_process != search->process_id ||
            ClassName(window) != kDialogClass || !::IsWindowVisible(window) ||
            ::GetWindow(window, GW_OWNER)) {
          return TRUE;
        }
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Only a hang guard of the test ends these waits.
int FindWindowOfProcess(DWORD process_id) {
  HWND window = nullptr;
  while ((window = FindProcessWindow(process_id)) == nullptr)
    ::Sleep(50);
  std::printf("0x%llx\n", static_cast<unsigned long long>(
                               reinterpret_cast<uintptr_t>(window)));
  return 0;
}

std::string HandleText(HWND window) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llx",
                static_cast<unsigned long long>(
                    reinterpret_cast<uintptr_t>(window)));
  return text;
}

base::DictionaryValueOwner DescribeTopLevelWindow(HWND window) {
  auto description = base::MakeValue<base::DictionaryValue>();
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(window, &process_id);
  description->SetString("handle", HandleText(window));
  description->SetInteger("pid", static_cast<int>(process_id));
  description->SetString("class", Utf8(ClassName(window)));
  description->SetString("title", Utf8(WindowText(window)));
  description->Set("owned", base::MakeBooleanValue(
                                ::GetWindow(window, GW_OWNER) != nullptr));
  auto texts = base::MakeValue<base::ListValue>();
  for (HWND control : Descendants(window)) {
    const std::wstring text = WindowText(control);
    if (!text.empty())
      texts->AppendString(Utf8(text));
  }
  description->Set("texts", std::move(texts));
  return description;
}

int PrintTopLevelWindows() {
  std::vector<HWND> windows;
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        if (::IsWindowVisible(window))
          reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  base::ListValue list;
  for (HWND window : windows)
    list.Append(DescribeTopLevelWindow(window));
  PrintJson(list);
  return 0;
}

int PrintExitCode(DWORD process_id) {
  const base::win::ScopedHandle process(::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process.IsValid()) {
    std::printf("no such process\n");
    return 2;
  }
  std::puts("holding");
  std::fflush(stdout);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process.Get(), &exit_code))
    return 2;
  std::printf("%lu\n", exit_code);
  return 0;
}

// The desktop window belongs to the desktop process once Wine has started
// it; without a display Wine gives up and the window is missing or this
// process's own.
int HoldDesktop() {
  DWORD desktop_process = 0;
  const HWND desktop = ::GetDesktopWindow();
  if (!desktop || !::GetWindowThreadProcessId(desktop, &desktop_process) ||
      desktop_process == 0 || desktop_process == ::GetCurrentProcessId()) {
    return 3;
  }
  std::puts("holding");
  std::fflush(stdout);
  ::Sleep(INFINITE);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"hold-desktop")
    return HoldDesktop();
  if (argc == 2 && std::wstring(argv[1]) == L"windows")
    return PrintTopLevelWindows();
  if (argc < 3)
    return 1;
  const std::wstring command = argv[1];
  if (command == L"find")
    return FindWindowOfProcess(std::wcstoul(argv[2], nullptr, 10));
  if (command == L"exit-code")
    return PrintExitCode(std::wcstoul(argv[2], nullptr, 10));
  HWND window = ParseHandle(argv[2]);
  if (!::IsWindow(window)) {
    std::puts("no such window");
    return 1;
  }
  const int id = argc > 3 ? std::wcstol(argv[3], nullptr, 10) : 0;
  if (command == L"state")
    return PrintState(window);
  if (command == L"click" || command == L"post-click") {
    HWND button = UsableControl(window, id);
    if (!button)
      return 2;
    if (command == L"click")
      ::SendMessageW(button, BM_CLICK, 0, 0);
    else
      ::PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == L"select" && argc > 4) {
    HWND combo = UsableControl(window, id);
    if (!combo)
      return 2;
    // What the list itself does when the user picks an entry.
    ::SendMessageW(combo, CB_SETCURSEL, std::wcstol(argv[4], nullptr, 10), 0);
    ::SendMessageW(::GetParent(combo), WM_COMMAND,
                   MAKEWPARAM(id, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
    return 0;
  }
  if (command == L"close") {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == L"redraw") {
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN |
                       RDW_UPDATENOW);
    return 0;
  }
  if (command == L"message-box")
    return PrintMessageBox(WaitForMessageBox(window));
  if (command == L"choose-folder" && argc > 3)
    return ChooseFolder(WaitForMessageBox(window), argv[3]);
  if (command == L"answer") {
    HWND button = UsableControl(WaitForMessageBox(window), id);
    if (!button)
      return 2;
    ::SendMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  return 1;
}
