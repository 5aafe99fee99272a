// Shows the installer's help output for the end-to-end tests.
//   help_tool text           writes the help text to standard output.
//   help_tool console FILE   runs the help role (FILE an ASCII path), then copies what its
//                            console shows into FILE (UTF-8, one line per
//                            console row, trailing blanks dropped).

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/entry/help_printer.h"

namespace {

// Wide enough that no help line wraps.
constexpr SHORT kConsoleColumns = 400;
constexpr SHORT kConsoleRows = 200;

int PrintHelpText() {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string text =
      installer::BuildHelpText(installer::GetHelpTextContext());
  fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

base::win::ScopedHandle OpenConsoleBuffer(const wchar_t* name) {
  return base::win::ScopedHandle(
      CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  0, nullptr));
}

// A key press waiting in the console's input, so that the help role's
// PAUSE returns on any system.
bool QueueKeyPress() {
  base::win::ScopedHandle input = OpenConsoleBuffer(L"CONIN$");
  if (!input.IsValid())
    return false;
  INPUT_RECORD records[2] = {};
  for (int i = 0; i < 2; ++i) {
    records[i].EventType = KEY_EVENT;
    records[i].Event.KeyEvent.bKeyDown = i == 0;
    records[i].Event.KeyEvent.wRepeatCount = 1;
    records[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
    records[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
  }
  DWORD written = 0;
  return WriteConsoleInputW(input.Get(), records, 2, &written) && written == 2;
}

std::string ReadConsoleRows() {
  base::win::ScopedHandle output = OpenConsoleBuffer(L"CONOUT$");
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (!output.IsValid() || !GetConsoleScreenBufferInfo(output.Get(), &info))
    return std::string();
  std::string text;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring line(info.dwSize.X, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(output.Get(), line.data(), info.dwSize.X,
                                COORD{0, row}, &read);
    line.resize(read);
    line.erase(line.find_last_not_of(L' ') + 1);
    text += base::WideToUtf8(line) + "\n";
  }
  return text;
}

int RunHelpInConsole(const char* output_path) {
  if (!AllocConsole())
    return 2;
  base::win::ScopedHandle output = OpenConsoleBuffer(L"CONOUT$");
  if (!output.IsValid() ||
      !SetConsoleScreenBufferSize(output.Get(),
                                  COORD{kConsoleColumns, kConsoleRows}) ||
      !QueueKeyPress()) {
    return 3;
  }
  // The console exists already: the role must print into this one.
  installer::PrintHelp();
  const std::string rows = ReadConsoleRows();
  FILE* file = fopen(output_path, "wb");
  if (!file)
    return 4;
  fwrite(rows.data(), 1, rows.size(), file);
  fclose(file);
  return rows.empty() ? 5 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "text") == 0)
    return PrintHelpText();
  if (argc == 3 && strcmp(argv[1], "console") == 0)
    return RunHelpInConsole(argv[2]);
  fprintf(stderr, "usage: help_tool text | console FILE\n");
  return 1;
}
