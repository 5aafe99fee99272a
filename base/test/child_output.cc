#include "base/test/child_output.h"

#include <windows.h>

#include "base/win/scoped_handle.h"

namespace base {

bool RunChildAndReadOutput(const std::wstring& application, std::wstring command_line,
                           std::string* output) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, 0))
    return false;
  win::ScopedHandle reader(read_end);
  win::ScopedHandle writer(write_end);
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {sizeof(startup)};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, nullptr, &startup, &process)) {
    return false;
  }
  win::ScopedHandle process_handle(process.hProcess);
  win::ScopedHandle thread_handle(process.hThread);
  // Only the child may hold the write end, or the reads never see its end.
  writer.Close();

  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(reader.Get(), buffer, sizeof(buffer), &read, nullptr) && read)
    output->append(buffer, read);
  ::WaitForSingleObject(process_handle.Get(), INFINITE);
  DWORD exit_code = 1;
  return ::GetExitCodeProcess(process_handle.Get(), &exit_code) && exit_code == 0;
}

std::vector<std::string> SplitOutputLines(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos)
      end = output.size();
    std::string line = output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace base
