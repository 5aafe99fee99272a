#include "desktop/windows/crash_reporter/counter_file_writer.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "base/files/file.h"
#include "base/files/important_file_writer.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/values.h"

namespace installer {

namespace {

// While running: tries in a row before waiting for the next increment.
constexpr int kRetriesInARow = 10;
constexpr DWORD kRetryDelayMs = 100;
// At shutdown.
constexpr int kFinalAttempts = 10;
constexpr DWORD kFinalRetryDelayMs = 50;
constexpr int kReadPieceSize = 1024;

using FileCounts = std::map<std::string, int64_t>;

bool ReadWhole(base::File& file, std::string* text) {
  if (file.Seek(base::File::kFromBegin, 0) != 0)
    return false;
  char piece[kReadPieceSize];
  for (;;) {
    const int read = file.ReadAtCurrentPos(piece, sizeof(piece));
    if (read < 0)
      return false;
    if (read == 0)
      return true;
    text->append(piece, static_cast<size_t>(read));
  }
}

bool IsBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
  });
}

// The integer counts of the file's text. An empty file is what an
// interrupted rewrite by an older writer leaves: it counts as no counts
// rather than blocking every later write.
bool ParseCounts(const std::string& text, FileCounts* counts) {
  if (IsBlank(text))
    return true;
  base::DictionaryValueOwner dictionary =
      base::DictionaryValue::From(base::ReadJson(text));
  if (!dictionary)
    return false;
  for (base::DictionaryValue::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    int32_t value = 0;
    if (it.value().GetAsInteger(&value))
      (*counts)[it.key()] += value;
  }
  return true;
}

std::string SerializeCounts(const FileCounts& counts) {
  base::DictionaryValue dictionary;
  for (const auto& [name, count] : counts) {
    const int64_t clamped = std::clamp<int64_t>(
        count, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    dictionary.SetByKey(name, base::MakeValue<base::Value>(static_cast<int32_t>(clamped)));
  }
  std::string json;
  base::WriteJson(dictionary, &json);
  return json;
}

}  // namespace

CounterFileWriter::CounterFileWriter(const base::FilePath& path)
    : path_(path),
      wake_(base::SyncEvent::ResetMode::kAutomatic,
            base::SyncEvent::InitialState::kNotSignaled) {
  if (!base::CreateOsThread(0, this, &thread_, base::ThreadPriority::kNormal))
    PLOG(ERROR) << "Cannot start the counter file writer";
}

CounterFileWriter::~CounterFileWriter() {
  stop_ = true;
  wake_.Signal();
  if (thread_.IsValid())
    base::JoinOsThread(thread_);
}

void CounterFileWriter::AddCount(const std::string& name,
                                 uint32_t count,
                                 bool wake) {
  {
    base::AutoLock hold(lock_);
    pending_[name] += count;
  }
  if (wake)
    wake_.Signal();
}

void CounterFileWriter::ThreadMain() {
  wake_.Wait();
  int failures = 0;
  while (!stop_) {
    if (FlushOnce()) {
      failures = 0;
    } else if (++failures < kRetriesInARow) {
      wake_.Signal();
      ::Sleep(kRetryDelayMs);
    } else {
      failures = 0;
    }
    wake_.Wait();
  }
  if (!HasPending())
    return;
  for (int attempt = 0; attempt < kFinalAttempts; ++attempt) {
    if (FlushOnce())
      return;
    ::Sleep(kFinalRetryDelayMs);
  }
}

bool CounterFileWriter::FlushOnce() {
  Counts taken;
  {
    base::AutoLock hold(lock_);
    taken.swap(pending_);
  }
  if (taken.empty())
    return true;
  if (MergeIntoFile(taken))
    return true;
  Restore(taken);
  return false;
}

bool CounterFileWriter::HasPending() {
  base::AutoLock hold(lock_);
  return !pending_.empty();
}

void CounterFileWriter::Restore(const Counts& counts) {
  base::AutoLock hold(lock_);
  for (const auto& [name, count] : counts)
    pending_[name] += count;
}

bool CounterFileWriter::MergeIntoFile(const Counts& counts) {
  FileCounts merged;
  {
    // Held without sharing while it is read: another writer of the file
    // (a second reporter, the browser) waits until the new text is made.
    base::File file(path_, base::File::kOpenAlways | base::File::kRead |
                               base::File::kWrite | base::File::kExclusiveRead |
                               base::File::kExclusiveWrite);
    if (!file.IsValid())
      return false;
    if (!file.created()) {
      std::string text;
      if (!ReadWhole(file, &text) || !ParseCounts(text, &merged))
        return false;
    }
  }
  for (const auto& [name, count] : counts)
    merged[name] += count;
  // Through a temporary file and a rename: truncating and rewriting in place
  // would leave an empty or partial file behind a crash or a short write.
  return base::ImportantFileWriter::WriteFileAtomically(path_,
                                                         SerializeCounts(merged));
}

}  // namespace installer
