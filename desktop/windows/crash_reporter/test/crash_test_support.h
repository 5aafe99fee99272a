#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_TEST_CRASH_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_TEST_CRASH_TEST_SUPPORT_H_

#include <windows.h>

#include <dbghelp.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/standard_user_token.h"

namespace installer::test {

// A test program built beside the test executable.
inline std::wstring TestProgramPath(const wchar_t* name) {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring path(module, length);
  return path.substr(0, path.rfind(L'\\') + 1) + name;
}

// A child process whose standard output and error come through a pipe,
// read line by line. It runs as a standard user's process would, unless
// started with this process's own token: one that may run elevated (every
// one of Wine's by its own token) takes no crash reporter its command line
// names and no place from its environment. Waits have no time limit: a
// hang is the test runner's to end.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (process_.IsValid() &&
        ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.Get(), 1);
    }
  }

  enum class Token { kStandardUser, kOwn };

  bool Start(const wchar_t* program,
             const std::wstring& arguments,
             Token token_kind = Token::kStandardUser) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inheritable, 0))
      return false;
    output_.Set(read_end);
    base::win::ScopedHandle writer(write_end);
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    std::wstring command =
        L"\"" + TestProgramPath(program) + L"\" " + arguments;
    const base::win::ScopedHandle token = token_kind == Token::kStandardUser
                                              ? MakeStandardUserToken()
                                              : base::win::ScopedHandle();
    PROCESS_INFORMATION started = {};
    if ((token_kind == Token::kStandardUser && !token.IsValid()) ||
        !::CreateProcessAsUserW(token.Get(), nullptr, command.data(), nullptr,
                                nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                &started)) {
      return false;
    }
    process_.Set(started.hProcess);
    const base::win::ScopedHandle thread(started.hThread);
    pid_ = started.dwProcessId;
    return true;
  }

  // False at the end of the output.
  bool ReadLine(std::string* line) {
    for (;;) {
      const size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        *line = buffer_.substr(0, end);
        if (!line->empty() && line->back() == '\r')
          line->pop_back();
        buffer_.erase(0, end + 1);
        return true;
      }
      char chunk[1024];
      DWORD read = 0;
      if (!::ReadFile(output_.Get(), chunk, sizeof(chunk), &read, nullptr) ||
          read == 0) {
        if (buffer_.empty())
          return false;
        *line = buffer_;
        buffer_.clear();
        return true;
      }
      buffer_.append(chunk, read);
    }
  }

  // The remaining lines, once the process has ended.
  std::vector<std::string> WaitForExit(DWORD* exit_code) {
    std::vector<std::string> lines;
    std::string line;
    while (ReadLine(&line))
      lines.push_back(line);
    ::WaitForSingleObject(process_.Get(), INFINITE);
    ::GetExitCodeProcess(process_.Get(), exit_code);
    return lines;
  }

  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_.Get(); }

 private:
  base::win::ScopedHandle process_;
  base::win::ScopedHandle output_;
  DWORD pid_ = 0;
  std::string buffer_;
};

// The value after "<key> " of the first line that starts so; empty when
// there is none.
inline std::string ValueOfLine(const std::vector<std::string>& lines,
                               const std::string& key) {
  for (const std::string& line : lines) {
    if (line.rfind(key + " ", 0) == 0)
      return line.substr(key.size() + 1);
  }
  return std::string();
}

// A minidump as the system's own reader sees it.
class MinidumpFile {
 public:
  explicit MinidumpFile(const std::wstring& path) {
    file_.Set(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file_.IsValid())
      return;
    mapping_.Set(::CreateFileMappingW(file_.Get(), nullptr, PAGE_READONLY, 0, 0,
                                      nullptr));
    if (mapping_.IsValid())
      view_ = ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, 0);
  }
  ~MinidumpFile() {
    if (view_)
      ::UnmapViewOfFile(view_);
  }

  bool IsValid() const { return view_ != nullptr; }

  bool ReadStream(ULONG type, std::vector<uint8_t>* bytes) const {
    MINIDUMP_DIRECTORY* directory = nullptr;
    void* stream = nullptr;
    ULONG size = 0;
    if (!view_ ||
        !::MiniDumpReadDumpStream(view_, type, &directory, &stream, &size)) {
      return false;
    }
    const auto* begin = static_cast<const uint8_t*>(stream);
    bytes->assign(begin, begin + size);
    return true;
  }

  bool ReadException(DWORD* thread_id, DWORD* code) const {
    std::vector<uint8_t> bytes;
    if (!ReadStream(ExceptionStream, &bytes) ||
        bytes.size() < sizeof(MINIDUMP_EXCEPTION_STREAM)) {
      return false;
    }
    const auto* exception =
        reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(bytes.data());
    *thread_id = exception->ThreadId;
    *code = exception->ExceptionRecord.ExceptionCode;
    return true;
  }

 private:
  base::win::ScopedHandle file_;
  base::win::ScopedHandle mapping_;
  void* view_ = nullptr;
};

// The .dmp files of `folder`.
inline std::vector<std::wstring> FindDumps(const std::wstring& folder) {
  std::vector<std::wstring> dumps;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((folder + L"\\*.dmp").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return dumps;
  do {
    dumps.push_back(folder + L"\\" + entry.cFileName);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return dumps;
}

// The process's command line is `arguments` while it lives.
class ScopedCommandLine {
 public:
  explicit ScopedCommandLine(const std::wstring& arguments) {
    auto command_line =
        std::make_unique<base::CommandLine>(base::CommandLine::NO_PROGRAM);
    command_line->ParseFromString(L"reporter.exe " + arguments);
    previous_ =
        base::CommandLine::SetForCurrentProcessForTesting(std::move(command_line));
  }
  ScopedCommandLine(const ScopedCommandLine&) = delete;
  ScopedCommandLine& operator=(const ScopedCommandLine&) = delete;
  ~ScopedCommandLine() {
    base::CommandLine::SetForCurrentProcessForTesting(std::move(previous_));
  }

 private:
  std::unique_ptr<base::CommandLine> previous_;
};

// An environment variable of a test, removed again afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    ::SetEnvironmentVariableW(name, value);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_TEST_CRASH_TEST_SUPPORT_H_
