#include "desktop/windows/installer/backend/steps/cleanup_batch.h"

#include <windows.h>

#include <charconv>
#include <string_view>
#include <utility>

#include "base/files/new_file_in_folder.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/system/write_whole_buffer.h"

namespace installer {

namespace {

constexpr char kProcessCheckStart[] = "TASKLIST /FI \"PID eq ";
constexpr char kProcessCheckEnd[] = "\" | FIND /c /i \".exe\"";
constexpr char kDeleteSelf[] = "del %0";
// On the last line, after the batch file is gone from the installation
// folder, the folder itself is removed: cmd has read the whole line already.
constexpr char kThenRemoveFolder[] = " & rmdir ";
// The uninstaller, its front end and its second process.
constexpr size_t kMaxProcesses = 3;
// Far above any batch this class writes for one installation.
constexpr size_t kMaxBatchSize = 4 * 1024 * 1024;

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

std::wstring FromOemCodePage(std::string_view text) {
  if (text.empty())
    return std::wstring();
  const int size = ::MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS,
                                         text.data(),
                                         static_cast<int>(text.size()),
                                         nullptr, 0);
  if (size <= 0)
    return std::wstring();
  std::wstring result(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, text.data(),
                        static_cast<int>(text.size()), result.data(), size);
  return result;
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

// The quoted path as a batch line names it, or empty when it cannot.
std::string QuotePath(const base::FilePath& path) {
  std::string encoded = ToOemCodePage(path.value());
  if (encoded.empty()) {
    wchar_t short_path[MAX_PATH];
    const DWORD length =
        ::GetShortPathNameW(path.value().c_str(), short_path, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
      encoded = ToOemCodePage(std::wstring(short_path, length));
  }
  if (encoded.empty() || encoded.find('"') != std::string::npos) {
    LOG(WARNING) << "Cannot name in the cleanup batch file: " << path.AsUTF8();
    return std::string();
  }
  return "\"" + EscapePercent(encoded) + "\"";
}

// The path of a `command "path"` line, unescaped; empty when the line is
// not of that form or the path does not come back exactly.
base::FilePath ParseQuotedPath(std::string_view line, std::string_view command) {
  const std::string prefix = std::string(command) + " \"";
  if (line.size() <= prefix.size() + 1 || !line.starts_with(prefix) ||
      line.back() != '"') {
    return base::FilePath();
  }
  const std::string_view escaped =
      line.substr(prefix.size(), line.size() - prefix.size() - 1);
  std::string raw;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '"')
      return base::FilePath();
    if (escaped[i] == '%') {
      if (i + 1 >= escaped.size() || escaped[i + 1] != '%')
        return base::FilePath();
      ++i;
    }
    raw += escaped[i];
  }
  return base::FilePath(FromOemCodePage(raw));
}

// The path of `line` when it is `command "path"` for a path below the
// folder as it is written, spelled exactly as GetText writes it. Whether
// the entry is still a plain one of its own there (no link swapped in on
// the way since) is judged when it is acted on, each entry alone. Empty
// otherwise.
base::FilePath ParseOwnPathLine(std::string_view line,
                                std::string_view command,
                                const base::FilePath& folder) {
  const base::FilePath resolved =
      ResolveLocalPath(ParseQuotedPath(line, command));
  if (!IsBelowFolder(resolved, folder) ||
      line.substr(command.size() + 1) != QuotePath(resolved)) {
    return base::FilePath();
  }
  return resolved;
}

// The process id of a process check line; nullopt for another line.
std::optional<uint32_t> ParseProcessCheckLine(std::string_view line) {
  const std::string_view start = kProcessCheckStart;
  const std::string_view end = kProcessCheckEnd;
  if (line.size() <= start.size() + end.size() || !line.starts_with(start) ||
      !line.ends_with(end)) {
    return std::nullopt;
  }
  const std::string_view id =
      line.substr(start.size(), line.size() - start.size() - end.size());
  uint32_t value = 0;
  const auto [rest, error] =
      std::from_chars(id.data(), id.data() + id.size(), value);
  if (error != std::errc() || rest != id.data() + id.size())
    return std::nullopt;
  return value;
}

bool IsFixedLine(std::string_view line) {
  if (line == ":again" || line == ")" || line == "ping -n 2 127.0.0.1")
    return true;
  for (size_t i = 0; i < kMaxProcesses; ++i) {
    const std::string name = PidName(i);
    if (line == "SET " + name + "=TRUE" ||
        line == "IF %" + name + "%==TRUE (" ||
        line == "IF ERRORLEVEL 1 SET " + name + "=FALSE" ||
        line == "IF %" + name + "%==TRUE GOTO :again") {
      return true;
    }
  }
  return false;
}

// The record as a file of its own in its folder: the user may write that
// folder and its reader may run elevated, so a link, a second name of
// another file, a folder or a device in its place is refused, and so is a
// file longer than any record.
bool ReadRecord(const base::FilePath& batch_file, std::string* text) {
  if (!base::NewFileInFolder::ReadToString(batch_file.value(), kMaxBatchSize,
                                           text)) {
    PLOG(ERROR) << "Refused to read " << batch_file.AsUTF8()
                << ": missing, not a plain file of its own or too long";
    return false;
  }
  return true;
}

// Deleted as the file that was judged: a link in its place goes as a link
// or stays, and never takes what it leads to. Gone once the judging handle
// is closed, on return.
bool DeleteJudgedRecord(const base::FilePath& batch_file,
                        const base::FilePath& install_folder) {
  std::optional<base::ResolvedEntry> judged =
      InsideFolderCheck(install_folder).JudgeToDelete(batch_file);
  if (!judged || judged->kind() != base::ResolvedEntry::Kind::kPlain ||
      !judged->DeleteJudgedFile()) {
    PLOG(ERROR) << "Failed to delete the cleanup batch file";
    return false;
  }
  return true;
}

}  // namespace

CleanupBatch::CleanupBatch(const base::FilePath& install_folder)
    : inside_folder_(install_folder) {}

CleanupBatch::~CleanupBatch() = default;

void CleanupBatch::AddProcess(uint32_t process_id) {
  if (process_id != 0 && process_ids_.size() < kMaxProcesses)
    process_ids_.push_back(process_id);
}

bool CleanupBatch::AddPath(const base::FilePath& path, bool with_folders) {
  const InsideFolderCheck::Entry entry = inside_folder_.Judge(path);
  if (!entry.is_direct()) {
    LOG(ERROR) << "Refused to name in the cleanup batch file: "
               << path.AsUTF8();
    return false;
  }
  const base::FilePath& resolved = entry.path;
  paths_.push_back(resolved);
  if (!with_folders)
    return true;
  // Up to the installation folder and no further: the folders above it are
  // not ours, even when they happen to be empty.
  const base::FilePath& install_folder = inside_folder_.folder();
  for (base::FilePath folder = resolved.DirName();
       IsBelowFolder(folder, install_folder); folder = folder.DirName()) {
    folders_.insert(folder.value());
  }
  folders_.insert(install_folder.value());
  return true;
}

std::string CleanupBatch::GetText() const {
  std::string text;
  auto add_line = [&text](const std::string& line) { text += line + "\n"; };
  for (size_t i = 0; i < process_ids_.size(); ++i)
    add_line("SET " + PidName(i) + "=TRUE");
  add_line(":again");
  for (size_t i = 0; i < process_ids_.size(); ++i) {
    add_line("IF %" + PidName(i) + "%==TRUE (");
    add_line(kProcessCheckStart + std::to_string(process_ids_[i]) +
             kProcessCheckEnd);
    add_line("IF ERRORLEVEL 1 SET " + PidName(i) + "=FALSE");
    add_line(")");
  }
  add_line("ping -n 2 127.0.0.1");
  for (size_t i = 0; i < process_ids_.size(); ++i)
    add_line("IF %" + PidName(i) + "%==TRUE GOTO :again");
  for (const base::FilePath& path : paths_) {
    const std::string quoted = QuotePath(path);
    if (!quoted.empty())
      add_line("del " + quoted);
  }
  // Descending order puts a folder before the folders that contain it.
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
    const std::string quoted = QuotePath(base::FilePath(*it));
    if (!quoted.empty())
      add_line("rmdir " + quoted);
  }
  text += kDeleteSelf;
  const std::string folder = QuotePath(inside_folder_.folder());
  if (!folder.empty())
    text += kThenRemoveFolder + folder;
  return text;
}

bool CleanupBatch::Write(const base::FilePath& batch_file) const {
  base::NewFileInFolder::Result made = base::NewFileInFolder::Create(
      batch_file.value(), base::NewFileInFolder::OldFile::kDelete,
      GENERIC_WRITE | DELETE);
  if (!made.file.IsValid()) {
    ::SetLastError(made.error);
    PLOG(ERROR) << "Failed to make the cleanup batch file "
                << batch_file.AsUTF8();
    return false;
  }
  const std::string text = GetText();
  const DWORD error =
      made.try_number != 1
          ? ERROR_ALREADY_EXISTS
          : WriteWholeBuffer(made.file.Get(), text.data(), text.size());
  if (error == ERROR_SUCCESS)
    return true;
  // Under another name (a link or a file in use kept the name), or cut
  // short: gone again.
  FILE_DISPOSITION_INFO disposition = {TRUE};
  ::SetFileInformationByHandle(made.file.Get(), FileDispositionInfo,
                               &disposition, sizeof(disposition));
  ::SetLastError(error);
  PLOG(ERROR) << "Failed to write the cleanup batch file "
              << batch_file.AsUTF8();
  return false;
}

// static
bool CleanupBatch::IsWellFormed(std::string_view text,
                                const base::FilePath& install_folder) {
  return Parse(text, install_folder).has_value();
}

// static
std::optional<CleanupBatch::Contents> CleanupBatch::Parse(
    std::string_view text,
    const base::FilePath& install_folder) {
  InsideFolderCheck inside_folder(install_folder);
  if (!inside_folder.valid())
    return std::nullopt;
  const std::string quoted_folder = QuotePath(inside_folder.folder());
  const auto is_folder_line = [&quoted_folder](std::string_view line) {
    return !quoted_folder.empty() && line == "rmdir " + quoted_folder;
  };
  Contents contents;
  bool removes_folder = false;
  const size_t last_line = text.rfind('\n') + 1;
  const size_t folder_removal = text.find(kThenRemoveFolder, last_line);
  if (folder_removal != std::string_view::npos) {
    if (!is_folder_line(text.substr(folder_removal + 3)))
      return std::nullopt;
    removes_folder = true;
    text = text.substr(0, folder_removal);
  }
  if (!text.ends_with(kDeleteSelf))
    return std::nullopt;
  text.remove_suffix(std::string_view(kDeleteSelf).size());
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos)
      return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (IsFixedLine(line))
      continue;
    if (const std::optional<uint32_t> id = ParseProcessCheckLine(line)) {
      if (contents.process_ids.size() >= kMaxProcesses)
        return std::nullopt;
      contents.process_ids.push_back(*id);
      continue;
    }
    if (is_folder_line(line)) {
      removes_folder = true;
      continue;
    }
    if (base::FilePath file = ParseOwnPathLine(line, "del", inside_folder.folder());
        !file.empty()) {
      contents.files.push_back(std::move(file));
      continue;
    }
    base::FilePath folder = ParseOwnPathLine(line, "rmdir", inside_folder.folder());
    if (folder.empty())
      return std::nullopt;
    contents.folders.push_back(std::move(folder));
  }
  if (removes_folder)
    contents.folders.push_back(inside_folder.folder());
  return contents;
}

// static
std::optional<CleanupBatch::Contents> CleanupBatch::Read(
    const base::FilePath& batch_file,
    const base::FilePath& install_folder) {
  std::string text;
  if (!ReadRecord(batch_file, &text))
    return std::nullopt;
  std::optional<Contents> contents = Parse(text, install_folder);
  if (!contents)
    LOG(ERROR) << "Not one of our records: " << batch_file.AsUTF8();
  return contents;
}

// static
bool CleanupBatch::TakeOver(const base::FilePath& batch_file,
                            const base::FilePath& install_folder) {
  std::string text;
  if (!ReadRecord(batch_file, &text) || !IsWellFormed(text, install_folder)) {
    LOG(ERROR) << "Refused to run the cleanup batch file "
               << batch_file.AsUTF8();
    return false;
  }
  if (!DeleteJudgedRecord(batch_file, install_folder))
    return false;
  // Made new (a file that reappeared meanwhile is not ours) under its own
  // name, through the folder held from the drive root: an elevated helper
  // writes it into the user's folder, where a folder on the way may be
  // swapped for a link.
  const base::win::ScopedHandle file =
      base::NewFileInFolder::Create(batch_file.value(),
                                    base::NewFileInFolder::OldFile::kKeep,
                                    GENERIC_WRITE, /*name_tries=*/1)
          .file;
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

}  // namespace installer
