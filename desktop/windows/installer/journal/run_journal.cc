#include "desktop/windows/installer/journal/run_journal.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/run_folder_name.h"

namespace installer {

namespace {

struct KindTag {
  RunJournal::Kind kind;
  const char* tag;
};
constexpr KindTag kKindTags[] = {
    {RunJournal::Kind::kSetAside, "aside"},
    {RunJournal::Kind::kCreated, "created"},
    {RunJournal::Kind::kTemporary, "temporary"},
    {RunJournal::Kind::kCreatedFolder, "folder"},
    {RunJournal::Kind::kMoved, "moved"},
    {RunJournal::Kind::kCreatedKey, "key"},
    {RunJournal::Kind::kDeletedKey, "deletedkey"},
    {RunJournal::Kind::kOldValue, "value"},
    {RunJournal::Kind::kCommitted, "committed"},
};

const char* TagOf(RunJournal::Kind kind) {
  for (const KindTag& entry : kKindTags) {
    if (entry.kind == kind)
      return entry.tag;
  }
  return "";
}

bool KindOf(const std::string& tag, RunJournal::Kind* kind) {
  for (const KindTag& entry : kKindTags) {
    if (tag == entry.tag) {
      *kind = entry.kind;
      return true;
    }
  }
  return false;
}

constexpr char kCurrentUser[] = "HKCU";
constexpr char kLocalMachine[] = "HKLM";

bool IsKeyKind(RunJournal::Kind kind) {
  return kind == RunJournal::Kind::kCreatedKey ||
         kind == RunJournal::Kind::kDeletedKey ||
         kind == RunJournal::Kind::kOldValue;
}

// A journal a run writes stays far below these: some hundred bytes a file.
// Larger ones are not read into memory at all.
constexpr int64_t kMaxJournalBytes = 64 << 20;
// Two paths of 32,767 units in UTF-8, or a key, a name and a value in hex.
constexpr size_t kMaxLineBytes = 256 << 10;

// The registry views a run works in.
bool IsKnownView(uint32_t view) {
  return view == 0 || view == KEY_WOW64_32KEY || view == KEY_WOW64_64KEY;
}

bool ParseUint(const std::string& text, uint32_t* number) {
  return base::StringToUintImpl(text.data(), text.data() + text.size(), number);
}

// A value's name and data are written in hex: either may hold a tab or a
// line break. Empty stands for no bytes, which HexStringToBytes refuses.
bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  return text.empty() || base::HexStringToBytes(text, bytes);
}

std::wstring WideOfBytes(const std::vector<uint8_t>& bytes) {
  return base::Utf8ToWide(std::string(bytes.begin(), bytes.end()));
}

std::string HexOfWide(const std::wstring& text) {
  const std::string utf8 = base::WideToUtf8(text);
  return base::HexEncode(utf8.data(), utf8.size());
}

// A key path in hex, as written now (a subkey name may hold a tab or a line
// break), or as text, as earlier runs wrote it: those paths all begin with
// "Software\", which is not hex.
bool ParseKeyPath(const std::string& text, std::wstring* key) {
  std::vector<uint8_t> bytes;
  if (text.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
    *key = base::Utf8ToWide(text);
  else if (ParseHex(text, &bytes))
    *key = WideOfBytes(bytes);
  else
    return false;
  return !key->empty();
}

// Tag, root, view, key path; for an old value then its name, type and data.
bool ParseKeyLine(const std::vector<std::string>& fields,
                  RunJournal::Entry* entry) {
  const bool is_value = entry->kind == RunJournal::Kind::kOldValue;
  uint32_t view = 0;
  if (fields.size() != (is_value ? 7u : 4u) || !ParseUint(fields[2], &view) ||
      !IsKnownView(view) || !ParseKeyPath(fields[3], &entry->key)) {
    return false;
  }
  if (fields[1] == kCurrentUser)
    entry->root = HKEY_CURRENT_USER;
  else if (fields[1] == kLocalMachine)
    entry->root = HKEY_LOCAL_MACHINE;
  else
    return false;
  entry->view = view;
  if (!is_value)
    return true;
  std::vector<uint8_t> name;
  uint32_t type = 0;
  if (!ParseHex(fields[4], &name) || !ParseUint(fields[5], &type) ||
      !ParseHex(fields[6], &entry->value_data)) {
    return false;
  }
  entry->value_name = WideOfBytes(name);
  entry->value_type = type;
  return true;
}

bool ParseLine(const std::string& line, RunJournal::Entry* entry) {
  const std::vector<std::string> fields = base::SplitString(
      line, "\t", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  if (fields.empty() || !KindOf(fields[0], &entry->kind))
    return false;
  if (IsKeyKind(entry->kind))
    return ParseKeyLine(fields, entry);
  const size_t expected = entry->kind == RunJournal::Kind::kCommitted ? 1
                          : entry->kind == RunJournal::Kind::kSetAside ||
                                  entry->kind == RunJournal::Kind::kMoved
                              ? 3
                              : 2;
  if (fields.size() != expected)
    return false;
  if (expected > 1)
    entry->path = base::FilePath::FromUTF8(fields[1]);
  if (expected > 2)
    entry->aside = base::FilePath::FromUTF8(fields[2]);
  return (expected < 2 || !entry->path.empty()) &&
         (expected < 3 || !entry->aside.empty());
}

}  // namespace

namespace {

RunJournal::FileCalls g_file_calls = {&::WriteFile, &::FlushFileBuffers};

// A line whose change moves, deletes or overwrites what was there: lost in
// a power cut while the change lands, the recovery could not give back
// what was displaced. Creations are not flushed one by one (a package has
// thousands of files): one lost leaves only a file the run made, and the
// next flushed line takes it along.
bool MustReachDiskFirst(RunJournal::Kind kind) {
  switch (kind) {
    case RunJournal::Kind::kSetAside:
    case RunJournal::Kind::kMoved:
    case RunJournal::Kind::kDeletedKey:
    case RunJournal::Kind::kOldValue:
    case RunJournal::Kind::kCommitted:
      return true;
    case RunJournal::Kind::kCreated:
    case RunJournal::Kind::kTemporary:
    case RunJournal::Kind::kCreatedFolder:
    case RunJournal::Kind::kCreatedKey:
      return false;
  }
  return true;
}

}  // namespace

// static
RunJournal::FileCalls RunJournal::SwapFileCallsForTesting(
    const FileCalls& calls) {
  const FileCalls previous = g_file_calls;
  g_file_calls = calls;
  return previous;
}

// static
RunJournal* RunJournal::Get() {
  static RunJournal journal;
  return &journal;
}

// static
bool RunJournal::Read(const base::FilePath& file, std::vector<Entry>* entries) {
  entries->clear();
  std::string text;
  // A journal lies in a folder the user may write while its reader may run
  // elevated: only the file of its own under that name, never what a link
  // in its place leads to; larger ones than a run writes are not read into
  // memory at all.
  if (!base::NewFileInFolder::ReadToString(
          file.value(), static_cast<size_t>(kMaxJournalBytes), &text)) {
    PLOG(ERROR) << "Refusing a journal that is missing, not a plain file of "
                   "its own, or more than a run writes: "
                << file.AsUTF8();
    return false;
  }
  // Only whole lines: the process may have died in the middle of one. Any
  // other line that does not parse makes the whole journal suspect: its
  // lines depend on each other, and a forged or broken one could make the
  // rest undo the wrong thing.
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    Entry entry;
    if (end - start > kMaxLineBytes ||
        !ParseLine(text.substr(start, end - start), &entry)) {
      LOG(ERROR) << "Refusing a journal whose line " << entries->size() + 1
                 << " does not parse: " << file.AsUTF8();
      entries->clear();
      return false;
    }
    entries->push_back(std::move(entry));
  }
  return true;
}

RunJournal::RunJournal() = default;

RunJournal::~RunJournal() = default;

void RunJournal::Start(const base::FilePath& folder) {
  folder_ = folder;
  broken_ = false;
}

bool RunJournal::RecordSetAside(const base::FilePath& path,
                                const base::FilePath& aside) {
  return Write(Kind::kSetAside, path, aside);
}

bool RunJournal::RecordMoved(const base::FilePath& source,
                             const base::FilePath& target) {
  return Write(Kind::kMoved, source, target);
}

bool RunJournal::RecordMovedOutOfTemporary(const base::FilePath& source,
                                           const base::FilePath& target) {
  return Write(Kind::kMoved, source, target, Flush::kWithNextLine);
}

bool RunJournal::RecordCreated(const base::FilePath& path) {
  return Write(Kind::kCreated, path, base::FilePath());
}

bool RunJournal::RecordTemporary(const base::FilePath& path) {
  return Write(Kind::kTemporary, path, base::FilePath());
}

bool RunJournal::RecordCreatedFolder(const base::FilePath& path) {
  return Write(Kind::kCreatedFolder, path, base::FilePath());
}

bool RunJournal::RecordCreatedKey(HKEY root,
                                  REGSAM view,
                                  const std::wstring& key) {
  return WriteKeyLine(Kind::kCreatedKey, root, view, key, std::string());
}

bool RunJournal::RecordDeletedKey(HKEY root,
                                  REGSAM view,
                                  const std::wstring& key) {
  return WriteKeyLine(Kind::kDeletedKey, root, view, key, std::string());
}

bool RunJournal::RecordOldValue(HKEY root,
                                REGSAM view,
                                const std::wstring& key,
                                const std::wstring& name,
                                DWORD type,
                                const std::vector<uint8_t>& data) {
  const std::string utf8_name = base::WideToUtf8(name);
  return WriteKeyLine(
      Kind::kOldValue, root, view, key,
      "\t" + base::HexEncode(utf8_name.data(), utf8_name.size()) +
          base::FormatString("\t%lu\t", static_cast<unsigned long>(type)) +
          base::HexEncode(data.data(), data.size()),
      type == kNoValue ? Flush::kWithNextLine : Flush::kByKind);
}

bool RunJournal::RecordCommitted() {
  return Write(Kind::kCommitted, base::FilePath(), base::FilePath());
}

void RunJournal::KeepForRecovery() {
  kept_for_recovery_ = true;
}

void RunJournal::Finish() {
  folder_ = base::FilePath();
  broken_ = false;
  const bool keep = kept_for_recovery_;
  kept_for_recovery_ = false;
  if (!handle_.IsValid())
    return;
  handle_.Close();
  if (keep) {
    LOG(ERROR) << "Keeping the run's journal for the next run to finish its "
                  "undo: "
               << file_.AsUTF8();
  } else if (!base::DeletePath(file_, false)) {
    PLOG(ERROR) << "Failed removing the run's journal " << file_.AsUTF8();
  }
  file_ = base::FilePath();
}

bool RunJournal::Write(Kind kind,
                       const base::FilePath& path,
                       const base::FilePath& aside,
                       Flush flush) {
  if (!IsKept())
    return true;
  if (!Open())
    return false;
  std::string line = TagOf(kind);
  if (kind != Kind::kCommitted)
    line += "\t" + path.AsUTF8();
  if (kind == Kind::kSetAside || kind == Kind::kMoved)
    line += "\t" + aside.AsUTF8();
  line += "\n";
  return WriteLine(kind, line, flush);
}

bool RunJournal::WriteKeyLine(Kind kind,
                              HKEY root,
                              REGSAM view,
                              const std::wstring& key,
                              const std::string& tail,
                              Flush flush) {
  const char* root_name = root == HKEY_CURRENT_USER    ? kCurrentUser
                          : root == HKEY_LOCAL_MACHINE ? kLocalMachine
                                                       : nullptr;
  if (!root_name || !IsKept())
    return true;
  if (!Open())
    return false;
  return WriteLine(kind,
                   base::FormatString("%s\t%s\t%lu\t", TagOf(kind), root_name,
                                      static_cast<unsigned long>(view)) +
                       HexOfWide(key) + tail + "\n",
                   flush);
}

bool RunJournal::WriteLine(Kind kind,
                           const std::string& line,
                           Flush flush) {
  if (broken_) {
    LOG(ERROR) << "The run's journal lost a line: no further change is made";
    return false;
  }
  DWORD written = 0;
  if (!g_file_calls.write(handle_.Get(), line.data(),
                          static_cast<DWORD>(line.size()), &written, nullptr)) {
    PLOG(ERROR) << "Failed writing the run's journal";
    broken_ = true;
    return false;
  }
  if (written != line.size()) {
    LOG(ERROR) << "Failed writing the run's journal: " << written << " of "
               << line.size() << " bytes written";
    broken_ = true;
    return false;
  }
  if (flush == Flush::kWithNextLine || !MustReachDiskFirst(kind))
    return true;
  // Also takes the lines before it, the creations among them, to the disk.
  if (!g_file_calls.flush(handle_.Get())) {
    PLOG(ERROR) << "Failed flushing the run's journal";
    broken_ = true;
    return false;
  }
  return true;
}

bool RunJournal::IsKept() const {
  // Before the installation folder exists, nothing of the run lies in it;
  // outside a run (tests of single operations) there is nothing to keep.
  return handle_.IsValid() ||
         (!folder_.empty() && base::DirectoryExists(folder_));
}

bool RunJournal::Open() {
  if (handle_.IsValid())
    return true;
  file_ =
      folder_.Append(RunFolderName::MakeForThisRun(kFilePrefix) + kExtension);
  // Made new under its own name alone, through the folder held from the
  // drive root: the folder may be the user's, and a link at the journal's
  // name or on the way would send an elevated run's writes elsewhere. A
  // taken name is nobody's to replace; the recovery finds the journal by
  // this very name. Others may read it (the next run, while this one is
  // alive, only to find it is not its own to act on).
  base::NewFileInFolder::Result made = base::NewFileInFolder::Create(
      file_.value(), base::NewFileInFolder::OldFile::kKeep, GENERIC_WRITE,
      /*name_tries=*/1);
  handle_ = std::move(made.file);
  if (!handle_.IsValid()) {
    LOG(ERROR) << "Failed creating the run's journal " << file_.AsUTF8()
               << ": " << base::SystemErrorCodeToString(made.error);
    file_ = base::FilePath();
    broken_ = true;
    return false;
  }
  return true;
}

}  // namespace installer
