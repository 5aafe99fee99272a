#include "desktop/windows/crash_reporter/crash_file.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/logging.h"

namespace installer {

namespace {

// WriteFile takes a DWORD; crash files stay far below, but a larger piece
// is still written whole.
constexpr size_t kMaxWritePiece = 1 << 24;

}  // namespace

// static
CrashFile CrashFile::Create(const base::FilePath& path, DWORD access) {
  base::NewFileInFolder::Result made = base::NewFileInFolder::Create(
      path.value(), base::NewFileInFolder::OldFile::kKeep, access);
  if (!made.file.IsValid()) {
    LOG(ERROR) << "Cannot create the crash file " << made.path.c_str()
               << ", error " << made.error;
  }
  // Spelled as asked: a relative name stays relative, as the crash server
  // is to see it.
  base::FilePath made_path =
      made.file.IsValid() ? base::FilePath(base::NewFileInFolder::NameOfTry(
                                path.value(), made.try_number))
                          : path;
  return CrashFile(std::move(made.file), std::move(made_path));
}

CrashFile::CrashFile(base::win::ScopedHandle file, base::FilePath path)
    : file_(std::move(file)), path_(std::move(path)) {}

CrashFile::~CrashFile() = default;

bool CrashFile::Append(std::string_view bytes) {
  while (IsValid() && !bytes.empty()) {
    const DWORD piece =
        static_cast<DWORD>(std::min(bytes.size(), kMaxWritePiece));
    DWORD written = 0;
    if (!::WriteFile(file_.Get(), bytes.data(), piece, &written, nullptr) ||
        written == 0) {
      PLOG(ERROR) << "Cannot write " << path_.value().c_str();
      return false;
    }
    bytes.remove_prefix(written);
  }
  return IsValid();
}

bool CrashFile::AppendText(std::string_view text) {
  std::string lines;
  lines.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n')
      lines += '\r';
    lines += c;
  }
  return Append(lines);
}

void CrashFile::Discard() {
  if (!IsValid())
    return;
  file_.Close();
  // By name, as a link if one took its place since: never through it.
  base::DeletePath(path_, false);
}

}  // namespace installer
