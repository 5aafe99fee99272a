#include "desktop/windows/installer/backend/steps/cleanup_batch.h"

#include <windows.h>

#include <string_view>

#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/null_standard_handles.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"

namespace installer {

namespace {

constexpr size_t kMaxProcesses = 3;
// The last line, without a line feed: cmd deletes the batch file once it has
// read the whole file. Where the elevated side holds the file, the line
// fails and that side deletes it instead.
constexpr char kDeleteSelf[] = "del %0";
// Far above any batch this class writes: three processes to wait for.
constexpr size_t kMaxBatchSize = 8 * 1024;
// Digits of the largest process id.
constexpr size_t kMaxIdDigits = 10;

std::string PidName(size_t index) {
  return "PID" + std::to_string(index + 1) + "_RUNNING";
}

// The text in the OEM code page, or empty when one character has no exact
// form there (a best-fit character could name another file).
std::string ToOemCodePage(const std::wstring& text) {
  if (text.empty())
    return std::string();
  BOOL lossy = FALSE;
  const int size = ::WideCharToMultiByte(
      CP_OEMCP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
      nullptr, 0, nullptr, &lossy);
  if (size <= 0 || lossy)
    return std::string();
  std::string result(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, text.data(),
                        static_cast<int>(text.size()), result.data(), size,
                        nullptr, &lossy);
  return lossy ? std::string() : result;
}

// cmd expands "%" even inside quotes; "%%" stands for one.
std::string EscapePercent(const std::string& text) {
  std::string result;
  for (char c : text) {
    result += c;
    if (c == '%')
      result += '%';
  }
  return result;
}

base::FilePath GetSystemFolder() {
  base::FilePath folder;
  if (!base::GetPathForKey(base::kSystemDir, &folder))
    LOG(ERROR) << "Cannot find the system folder";
  return folder;
}

// The lines that call the system's programs, by their full paths, as this
// system spells them: the writer and the elevated check make them alike.
class ProgramLines {
 public:
  ProgramLines() {
    const base::FilePath system = GetSystemFolder();
    const std::string tasklist = QuoteProgram(system, L"tasklist.exe");
    const std::string find = QuoteProgram(system, L"find.exe");
    const std::string ping = QuoteProgram(system, L"ping.exe");
    if (tasklist.empty() || find.empty() || ping.empty())
      return;
    check_start_ = tasklist + " /FI \"PID eq ";
    check_end_ = "\" | " + find + " /c /i \".exe\"";
    pause_ = ping + " -n 2 127.0.0.1";
  }

  // False when the system folder cannot be named in a batch: the batch
  // then waits for nothing.
  bool valid() const { return !pause_.empty(); }

  std::string ProcessCheck(uint32_t id) const {
    return check_start_ + std::to_string(id) + check_end_;
  }
  const std::string& pause() const { return pause_; }

  // The id of a process check line; 0 when `line` is no such line.
  uint32_t ParseProcessCheck(std::string_view line) const {
    if (!valid() || !line.starts_with(check_start_) ||
        !line.ends_with(check_end_)) {
      return 0;
    }
    line.remove_prefix(check_start_.size());
    line.remove_suffix(check_end_.size());
    if (line.empty() || line.size() > kMaxIdDigits ||
        line.find_first_not_of("0123456789") != std::string_view::npos) {
      return 0;
    }
    const uint64_t id = std::stoull(std::string(line));
    return id <= UINT32_MAX ? static_cast<uint32_t>(id) : 0;
  }

 private:
  static std::string QuoteProgram(const base::FilePath& system,
                                  const wchar_t* name) {
    if (system.empty())
      return std::string();
    const std::string encoded = ToOemCodePage(system.Append(name).value());
    if (encoded.empty() || encoded.find('"') != std::string::npos)
      return std::string();
    return "\"" + EscapePercent(encoded) + "\"";
  }

  std::string check_start_;
  std::string check_end_;
  std::string pause_;
};

// Deleted only through the handle that judged it a plain file: never what a
// link in its place leads to.
void DeleteBatchFile(const base::FilePath& batch_file) {
  base::ResolvedEntry entry = base::ResolvedEntry::Resolve(
      batch_file, base::ResolvedEntry::Purpose::kToDelete);
  if (entry.kind() == base::ResolvedEntry::Kind::kMissing)
    return;
  if (entry.kind() != base::ResolvedEntry::Kind::kPlain) {
    LOG(ERROR) << "Left the cleanup batch file, which is no plain file: "
               << batch_file.AsUTF8();
    return;
  }
  if (!entry.DeleteJudgedFile())
    PLOG(ERROR) << "Failed to delete the cleanup batch file";
}

// `batch_file` opened so that nobody else may write, rename or delete it
// while it is held, when it is the plain file its name names (no link) and
// holds a well-formed batch; invalid otherwise.
base::win::ScopedHandle HoldWellFormedBatch(const base::FilePath& batch_file) {
  const base::ResolvedEntry entry = base::ResolvedEntry::Resolve(batch_file);
  if (entry.kind() != base::ResolvedEntry::Kind::kPlain) {
    LOG(ERROR) << "Refused to run the cleanup batch file, which is no plain "
                  "file: "
               << batch_file.AsUTF8();
    return base::win::ScopedHandle();
  }
  base::win::ScopedHandle file(::CreateFileW(
      batch_file.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Failed to open the cleanup batch file";
    return base::win::ScopedHandle();
  }
  // What was opened is what was judged: a name swapped meanwhile resolves
  // elsewhere.
  const base::FilePath held(base::GetFinalPath(file.Get(), batch_file.value()));
  std::string text(kMaxBatchSize + 1, '\0');
  DWORD read = 0;
  if (base::FilePath::CompareIgnoreCase(held, entry.path()) != 0 ||
      !::ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()),
                  &read, nullptr) ||
      read > kMaxBatchSize) {
    LOG(ERROR) << "Refused to run the cleanup batch file "
               << batch_file.AsUTF8();
    return base::win::ScopedHandle();
  }
  text.resize(read);
  if (!CleanupBatch::IsWellFormed(text, batch_file.DirName())) {
    LOG(ERROR) << "Refused to run the cleanup batch file "
               << batch_file.AsUTF8();
    return base::win::ScopedHandle();
  }
  return file;
}

}  // namespace

CleanupBatch::CleanupBatch() = default;

CleanupBatch::~CleanupBatch() = default;

void CleanupBatch::AddProcess(uint32_t process_id) {
  if (process_id != 0 && process_ids_.size() < kMaxProcesses)
    process_ids_.push_back(process_id);
}

std::string CleanupBatch::GetText() const {
  const ProgramLines programs;
  std::string text;
  if (!programs.valid())
    return kDeleteSelf;
  auto add_line = [&text](const std::string& line) { text += line + "\n"; };
  for (size_t i = 0; i < process_ids_.size(); ++i)
    add_line("SET " + PidName(i) + "=TRUE");
  add_line(":again");
  for (size_t i = 0; i < process_ids_.size(); ++i) {
    add_line("IF %" + PidName(i) + "%==TRUE (");
    add_line(programs.ProcessCheck(process_ids_[i]));
    add_line("IF ERRORLEVEL 1 SET " + PidName(i) + "=FALSE");
    add_line(")");
  }
  add_line(programs.pause());
  for (size_t i = 0; i < process_ids_.size(); ++i)
    add_line("IF %" + PidName(i) + "%==TRUE GOTO :again");
  return text + kDeleteSelf;
}

// static
bool CleanupBatch::IsWellFormed(std::string_view text,
                                const base::FilePath& install_folder) {
  if (!InsideFolderCheck(install_folder).valid())
    return false;
  // The ids it waits for, in order; the text must then be exactly the one
  // this class writes for them.
  const ProgramLines programs;
  CleanupBatch batch;
  size_t ids = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos)
      end = text.size();
    if (const uint32_t id =
            programs.ParseProcessCheck(text.substr(start, end - start))) {
      if (++ids > kMaxProcesses)
        return false;
      batch.AddProcess(id);
    }
    start = end + 1;
  }
  return text == batch.GetText();
}

// static
bool CleanupBatch::TakeOver(const base::FilePath& batch_file,
                            const base::FilePath& install_folder) {
  InsideFolderCheck inside_folder(install_folder);
  const InsideFolderCheck::Entry judged = inside_folder.Judge(batch_file);
  std::string text;
  if (judged.kind != InsideFolderCheck::Kind::kPlain ||
      base::FilePath::CompareIgnoreCase(judged.path.DirName(),
                                        inside_folder.folder()) != 0 ||
      !base::ReadFileToStringWithMaxSize(judged.path, &text, kMaxBatchSize) ||
      !IsWellFormed(text, install_folder)) {
    LOG(ERROR) << "Refused to run the cleanup batch file "
               << batch_file.AsUTF8();
    return false;
  }
  {
    base::ResolvedEntry entry = base::ResolvedEntry::Resolve(
        judged.path, base::ResolvedEntry::Purpose::kToDelete);
    if (entry.kind() != base::ResolvedEntry::Kind::kPlain ||
        !entry.DeleteJudgedFile()) {
      PLOG(ERROR) << "Failed to delete the cleanup batch file";
      return false;
    }
  }  // Gone once the judging handle closes.
  // CREATE_NEW: a file that reappeared meanwhile is not ours.
  base::win::ScopedHandle file(::CreateFileW(
      judged.path.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file.IsValid() ||
      !::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()),
                   &written, nullptr) ||
      written != text.size()) {
    PLOG(ERROR) << "Failed to write the cleanup batch file";
    return false;
  }
  return true;
}

bool StartCleanupBatch(const base::FilePath& batch_file, bool wait) {
  const base::FilePath system = GetSystemFolder();
  // cmd expands "%" on its command line and has no escape for it there.
  if (system.empty() || batch_file.value().find(L'%') != std::wstring::npos) {
    LOG(ERROR) << "Cannot start the cleanup batch file "
               << batch_file.AsUTF8();
    return false;
  }
  base::win::ScopedHandle held;
  if (wait) {
    held = HoldWellFormedBatch(batch_file);
    if (!held.IsValid())
      return false;
  }
  base::ProcessLaunchOptions options;
  options.start_hidden = true;
  options.wait = wait;
  // Not a folder of the installation, which cmd would hold, nor one a user
  // can write.
  options.current_directory = system.value();
  // The batch echoes every command and outlives this process: its output
  // must not reach whatever reads ours.
  base::NullStandardHandles null_handles;
  if (!null_handles.ApplyTo(&options))
    LOG(WARNING) << "The cleanup batch keeps our standard handles";
  // The system's cmd, without AutoRun commands; /s takes the outer quotes
  // away, leaving the batch's path quoted whatever it holds.
  const std::wstring command_line = L"\"" +
                                    system.Append(L"cmd.exe").value() +
                                    L"\" /d /s /c \"\"" + batch_file.value() +
                                    L"\"\"";
  bool started = false;
  {
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    started = base::LaunchProcess(command_line, options).IsValid();
  }
  if (!started)
    PLOG(ERROR) << "Failed to start the cleanup batch file";
  if (wait) {
    held.Close();
    DeleteBatchFile(batch_file);
  }
  return started;
}

}  // namespace installer
