#include "desktop/windows/crash_reporter/crash_log_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "desktop/windows/crash_reporter/crash_file.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/process_state.h"

namespace installer {

namespace {

constexpr uint64_t kTotalDumpBudget = 614400;
constexpr uint64_t kThreadDumpBudget = 61440;
constexpr uint64_t kUnlimitedBudget = std::numeric_limits<uint64_t>::max();
// From this thread on (counted from 1) only the crashed one is written.
constexpr size_t kFirstSkippedThread = 500;

constexpr uint64_t kPageSize = 4096;
constexpr uint64_t kMaxStackWindow = 8192;
constexpr uint64_t kMinCrashedStackWindow = 512;
constexpr uint64_t kStackTrimMargin = 128;
constexpr uint64_t kSlotSize = 8;

constexpr uint64_t kCodeRadius = 16;
constexpr uint64_t kDataRadius = 1024;
constexpr size_t kRowBytes = 16;
constexpr size_t kAllContextValues = 17;

uint64_t ReadSlot(const std::vector<uint8_t>& bytes, uint64_t offset) {
  uint64_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

char Printable(uint8_t byte) {
  return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
}

// Module names and versions come from the crashed process and its files.
std::string PrintableText(const char* text) {
  std::string printable;
  for (const char* c = text; *c; ++c)
    printable += (static_cast<uint8_t>(*c) < 0x20) ? '.' : *c;
  return printable;
}

std::string Hex64(uint64_t value, int width) {
  return base::FormatString("%0*llX", width,
                            static_cast<unsigned long long>(value));
}

// A thread's stack, as far as the log shows it.
struct StackCopy {
  uint64_t base = 0;
  std::vector<uint8_t> bytes;

  bool Contains(uint64_t address) const {
    return address >= base && address - base < bytes.size();
  }
  uint64_t whole_slots() const { return bytes.size() / kSlotSize; }
};

// The code of the modules, sorted, so that a value is told to point into
// code or data quickly.
class CodeMap {
 public:
  explicit CodeMap(const ProcessState& state) {
    for (const auto& module : state.GetModules()) {
      code_.push_back(
          {module->GetBase(), module->GetBase() + module->GetCodeEnd()});
    }
    std::sort(code_.begin(), code_.end());
  }

  // Modules do not overlap: the nearest one starting below decides.
  bool IsCode(uint64_t address) const {
    auto after = std::upper_bound(
        code_.begin(), code_.end(),
        std::make_pair(address, std::numeric_limits<uint64_t>::max()));
    return after != code_.begin() && address < std::prev(after)->second;
  }

 private:
  std::vector<std::pair<uint64_t, uint64_t>> code_;
};

// The log's writes, gathered into pieces: a log is written in many small
// lines. The first failed write makes every later one a no-op.
class LogFile {
 public:
  explicit LogFile(CrashFile* file) : file_(file) {}
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void Write(const std::string& text) {
    pending_ += text;
    if (pending_.size() >= kWritePiece)
      Flush();
  }
  bool Flush() {
    if (ok() && !file_->AppendText(pending_))
      failed_ = true;
    pending_.clear();
    return ok();
  }
  bool ok() const { return file_->IsValid() && !failed_; }

 private:
  static constexpr size_t kWritePiece = 64 * 1024;

  CrashFile* const file_;
  std::string pending_;
  bool failed_ = false;
};

class CrashLogWriter {
 public:
  CrashLogWriter(MemoryRangeSet* ranges,
                 const ProcessState& state,
                 const CrashLogData& data,
                 LogFile* file)
      : ranges_(ranges), state_(state), data_(data), file_(file),
        code_(state) {}

  bool Write() {
    ranges_->Clear();
    reader_ = state_.CreateMemoryReader();
    if (!reader_)
      return false;
    WriteHeader();
    WriteMetadata();
    WriteThreads();
    WriteModules();
    WriteMemoryDumps();
    return file_->ok();
  }

 private:
  void WriteHeader() {
    file_->Write(base::FormatString(
        "TARVO-CRASHLOG V1 desktop%s %s %s windows x64 release\n",
        data_.product_suffix.c_str(), data_.version.c_str(),
        data_.build_number.c_str()));
    const ModuleInfo* main = state_.GetMainModule();
    const std::string name = main ? PrintableText(main->GetName()) : "<no name>";
    file_->Write(base::FormatString(
        "%s caused exception %X at address %s (Base: %s)\n", name.c_str(),
        state_.GetExceptionCode(), Hex64(state_.GetExceptionAddress(), 12).c_str(),
        Hex64(main ? main->GetBase() : 0, 12).c_str()));
  }

  void WriteMetadata() {
    if (data_.metadata.empty())
      return;
    file_->Write("\nmetadata:\n");
    for (const auto& [name, value] : data_.metadata) {
      file_->Write(name + "=\"" + EscapeMetadataValue(value) + "\"\n");
    }
  }

  void WriteThreads() {
    const auto& threads = state_.GetThreads();
    for (size_t index = 0; index < threads.size(); ++index) {
      const ThreadInfo& thread = *threads[index];
      if (index + 1 >= kFirstSkippedThread && !thread.IsCrashed())
        continue;
      WriteThread(thread, index + 1 == threads.size());
    }
  }

  uint64_t ThreadBudget(const ThreadInfo& thread, bool is_last) const {
    if (thread.IsCrashed())
      return kUnlimitedBudget;
    const uint64_t covered = ranges_->covered_bytes();
    if (covered >= kTotalDumpBudget)
      return 0;
    const uint64_t remaining = kTotalDumpBudget - covered;
    if (remaining > kThreadDumpBudget)
      return kThreadDumpBudget;
    // Leave something for the threads that follow.
    return is_last ? remaining : remaining / 2;
  }

  void WriteThread(const ThreadInfo& thread, bool is_last) {
    const StackCopy stack = ReadStackWindow(thread);
    uint64_t budget = ThreadBudget(thread, is_last);
    const ThreadRegisters& r = thread.GetRegisters();
    const uint64_t context_values[kAllContextValues] = {
        r.rax, r.rbx, r.rcx, r.rdx, r.rsi, r.rdi, r.r8,  r.r9, r.r10,
        r.r11, r.r12, r.r13, r.r14, r.r15, r.rbp, r.rsp, r.rip};
    size_t context_taken = 0;
    for (uint64_t value : context_values) {
      if (budget == 0)
        break;
      ++context_taken;
      budget -= std::min(budget, AddMemoryAround(value, stack));
    }
    size_t stack_taken = 0;
    for (uint64_t offset = 0;
         offset + kSlotSize <= stack.bytes.size() && budget > 0;
         offset += kSlotSize) {
      ++stack_taken;
      budget -=
          std::min(budget, AddMemoryAround(ReadSlot(stack.bytes, offset), stack));
    }

    const uint32_t id = thread.GetThreadId();
    file_->Write(base::FormatString("\nThread: %08X\n", id));
    file_->Write(base::FormatString(
        "\nThreadInfo: %08X\nPriority=%08X\nCrashed=%d\n"
        "checked_context_values=%zu%s\nchecked_stack_values=%zu%s\n",
        id, static_cast<uint32_t>(thread.GetPriority()),
        thread.IsCrashed() ? 1 : 0, context_taken,
        context_taken == kAllContextValues ? " (all)" : "", stack_taken,
        stack_taken == stack.whole_slots() ? " (all)" : ""));
    WriteRegisters(id, r);
    WriteStackDump(id, r.rbp, stack);
  }

  // Bytes newly covered around a value that may point somewhere.
  uint64_t AddMemoryAround(uint64_t value, const StackCopy& stack) {
    if (stack.Contains(value) || value == 0 || !state_.CanReadByte(value))
      return 0;
    const uint64_t radius = code_.IsCode(value) ? kCodeRadius : kDataRadius;
    const uint64_t start = value > radius ? value - radius : 0;
    const uint64_t end =
        value > kUnlimitedBudget - radius ? kUnlimitedBudget : value + radius;
    return ranges_->Add(start, end);
  }

  StackCopy ReadStackWindow(const ThreadInfo& thread) {
    StackCopy stack;
    const uint64_t start = thread.GetRegisters().rsp & ~uint64_t{3};
    if (start < kPageSize)
      return stack;
    const uint64_t stack_size = thread.GetStackSize();
    uint64_t size = stack_size >= 1 && stack_size <= kMaxStackWindow
                        ? stack_size
                        : kMaxStackWindow;
    if (thread.IsCrashed())
      size = std::max(size, kMinCrashedStackWindow);
    const uint8_t* data = nullptr;
    size_t read = 0;
    while (size > 0 && !(data = reader_->Read(start, size, &read))) {
      // End the window at the page boundary below its current end.
      const uint64_t end = ((start + size - 1) / kPageSize) * kPageSize;
      size = end > start ? end - start : 0;
    }
    if (!data)
      return stack;
    stack.base = start;
    stack.bytes.assign(data, data + read);
    stack.bytes.resize(TrimmedStackSize(thread, stack));
    return stack;
  }

  // How much of the stack copy is worth showing.
  static uint64_t TrimmedStackSize(const ThreadInfo& thread,
                                   const StackCopy& stack) {
    const uint64_t read = stack.bytes.size();
    if (thread.GetStackSize() != 0) {
      uint64_t used = read;
      while (used > 0 && stack.bytes[used - 1] == 0)
        --used;
      used = (used + kSlotSize - 1) / kSlotSize * kSlotSize;
      return std::min(used + kStackTrimMargin, read);
    }
    if (thread.IsCrashed())
      return read;
    return std::min(FrameBound(thread.GetRegisters().rbp, stack) +
                        kStackTrimMargin,
                    read);
  }

  // Without a known stack region: as far as the saved frame pointers lead,
  // and as far as stack slots point further into the copy.
  static uint64_t FrameBound(uint64_t rbp, const StackCopy& stack) {
    const uint64_t size = stack.bytes.size();
    uint64_t last_frame = 0;
    bool have_frame = false;
    for (uint64_t frame = rbp; frame % kSlotSize == 0 && frame >= stack.base;) {
      const uint64_t offset = frame - stack.base;
      if (offset > size || size - offset < 2 * kSlotSize ||
          (have_frame && offset <= last_frame)) {
        break;
      }
      last_frame = offset;
      have_frame = true;
      frame = ReadSlot(stack.bytes, offset);
    }
    uint64_t bound = std::max(last_frame, kMinCrashedStackWindow);
    for (uint64_t offset = 0;
         offset + kSlotSize <= bound && offset + kSlotSize <= size;
         offset += kSlotSize) {
      const uint64_t value = ReadSlot(stack.bytes, offset);
      if (value % kSlotSize == 0 && stack.Contains(value) &&
          value - stack.base > bound) {
        bound = value - stack.base;
      }
    }
    return bound;
  }

  void WriteRegisters(uint32_t id, const ThreadRegisters& r) {
    std::string text = base::FormatString("\nRegisters: %08X\n", id);
    const struct {
      const char* format;
      uint64_t a, b, c;
    } rows[] = {
        {"RAX=%s   RBX=%s   RCX=%s\n", r.rax, r.rbx, r.rcx},
        {"RDX=%s   RSI=%s   RDI=%s\n", r.rdx, r.rsi, r.rdi},
        {" R8=%s    R9=%s   R10=%s\n", r.r8, r.r9, r.r10},
        {"R11=%s   R12=%s   R13=%s\n", r.r11, r.r12, r.r13},
        {"R14=%s   R15=%s   RBP=%s\n", r.r14, r.r15, r.rbp},
    };
    for (const auto& row : rows) {
      base::AppendFormat(&text, row.format, Hex64(row.a, 16).c_str(),
                         Hex64(row.b, 16).c_str(), Hex64(row.c, 16).c_str());
    }
    base::AppendFormat(&text, "RSP=%s   RIP=%s FLAGS=%08X\n",
                       Hex64(r.rsp, 16).c_str(), Hex64(r.rip, 16).c_str(),
                       r.eflags);
    base::AppendFormat(&text, "\nFPU stack: %08X\n", id);
    for (int i = 0; i < 8; ++i) {
      base::AppendFormat(&text, "st(%d)=%04X%s", i, r.st[i].sign_exponent,
                         Hex64(r.st[i].mantissa, 16).c_str());
      text += (i % 3 == 2) ? "\n" : " ";
    }
    base::AppendFormat(&text, "SW=%04X CW=%04X\n", r.status_word,
                       r.control_word);
    for (int i = 0; i < 16; i += 2) {
      for (int j = i; j < i + 2; ++j) {
        const std::string name = base::FormatString("XMM%d", j);
        base::AppendFormat(&text, "%5s=%s%s", name.c_str(),
                           Hex64(r.xmm[j].high, 16).c_str(),
                           Hex64(r.xmm[j].low, 16).c_str());
        text += j == i ? " " : "\n";
      }
    }
    file_->Write(text);
  }

  void WriteStackDump(uint32_t id, uint64_t rbp, const StackCopy& stack) {
    std::string text = base::FormatString("\nStack dump: %08X\n", id);
    // The saved frame pointers, from RBP on, are marked.
    uint64_t frame = rbp;
    const uint64_t size = stack.bytes.size();
    for (uint64_t row = 0; row < size; row += kRowBytes) {
      text += Hex64(stack.base + row, 12) + " ";
      for (uint64_t slot = row; slot < row + kRowBytes; slot += kSlotSize) {
        if (slot + kSlotSize > size) {
          text.append(18, ' ');
          continue;
        }
        const uint64_t value = ReadSlot(stack.bytes, slot);
        const bool marked = stack.base + slot == frame;
        if (marked)
          frame = value;
        text += marked ? '>' : ' ';
        text += Hex64(value, 16) + " ";
      }
      text += ' ';
      for (uint64_t i = row; i < std::min(row + kRowBytes, size); ++i)
        text += Printable(stack.bytes[i]);
      text += '\n';
    }
    file_->Write(text);
  }

  void WriteModules() {
    file_->Write("\nUsed DLLs:\n");
    for (const auto& module : state_.GetModules()) {
      file_->Write(base::FormatString(
          "%-26s %-46s Base: %s Size: %08X Timestamp: %08X\n",
          PrintableText(module->GetName()).c_str(),
          PrintableText(module->GetVersion()).c_str(),
          Hex64(module->GetBase(), 12).c_str(), module->GetSize(),
          module->GetTimestamp()));
    }
  }

  void WriteMemoryDumps() {
    file_->Write("\nMemory dumps:\n");
    bool written = false;
    for (const auto& [range_start, range_end] : ranges_->ranges()) {
      uint64_t start = range_start;
      uint64_t end = range_end;
      if (!state_.CanReadByte(start))
        start = (start / kPageSize + 1) * kPageSize;
      if (!state_.CanReadByte(end))
        end = end / kPageSize * kPageSize;
      if (start >= end)
        continue;
      size_t read = 0;
      const uint8_t* data = reader_->Read(start, end - start, &read);
      if (!data)
        continue;
      if (written)
        file_->Write("\n");
      written = true;
      WriteMemoryRows(start, data, read);
    }
  }

  void WriteMemoryRows(uint64_t start, const uint8_t* data, size_t size) {
    std::string text;
    for (size_t row = 0; row < size; row += kRowBytes) {
      text += Hex64(start + row, 12);
      for (size_t column = 0; column < kRowBytes; ++column) {
        text += column % 4 == 0 ? "  " : " ";
        if (row + column < size)
          base::AppendFormat(&text, "%02X", data[row + column]);
        else
          text += "  ";
      }
      text += ' ';
      for (size_t i = row; i < std::min(row + kRowBytes, size); ++i)
        text += Printable(data[i]);
      text += '\n';
    }
    file_->Write(text);
  }

  MemoryRangeSet* const ranges_;
  const ProcessState& state_;
  const CrashLogData& data_;
  LogFile* const file_;
  const CodeMap code_;
  std::unique_ptr<MemoryReader> reader_;
};

}  // namespace

bool WriteCrashLog(MemoryRangeSet* ranges,
                   const ProcessState& state,
                   const CrashLogData& data,
                   CrashFile* file) {
  LogFile log(file);
  const bool written = CrashLogWriter(ranges, state, data, &log).Write();
  return log.Flush() && written;
}

bool WriteCrashLog(MemoryRangeSet* ranges,
                   const ProcessState& state,
                   const CrashLogData& data,
                   const base::FilePath& path,
                   base::FilePath* made_path) {
  CrashFile file = CrashFile::Create(path);
  if (!file.IsValid())
    return false;
  if (!WriteCrashLog(ranges, state, data, &file)) {
    LOG(ERROR) << "Cannot write the crash log " << file.path().value().c_str();
    file.Discard();
    return false;
  }
  if (made_path)
    *made_path = file.path();
  return true;
}

std::string EscapeMetadataValue(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '"':
        escaped += "\\\"";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\n':
        escaped += "\\n";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace installer
