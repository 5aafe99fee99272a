#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_STATE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_STATE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// What the crash log is written from: a read-only view of a crashed
// process, its modules, its threads and its memory. Kept abstract so that
// the log's format can be checked against a process made up in a test.

namespace installer {

// Reads another process's memory into a buffer of its own.
class MemoryReader {
 public:
  virtual ~MemoryReader() = default;

  // The bytes read (`bytes_read` of them, at least 1), valid until the next
  // call; null when nothing could be read.
  virtual const uint8_t* Read(uint64_t address,
                              size_t size,
                              size_t* bytes_read) = 0;
};

class ModuleInfo {
 public:
  virtual ~ModuleInfo() = default;

  // At most 127 characters.
  virtual const char* GetName() const = 0;
  virtual uint64_t GetBase() const = 0;
  virtual uint32_t GetSize() const = 0;
  // Same as GetBase.
  virtual uint64_t GetCodeBase() const = 0;
  // Offset from the base of the end of the code (BaseOfCode + SizeOfCode).
  virtual uint64_t GetCodeEnd() const = 0;
  // Empty when the module has no version text.
  virtual const char* GetVersion() const = 0;
  // The PE file header's TimeDateStamp; 0 when unknown.
  virtual uint32_t GetTimestamp() const = 0;
};

// An x87 register: the 64-bit mantissa and the sign-and-exponent word.
struct X87Register {
  uint64_t mantissa;
  uint16_t sign_exponent;
};

// The registers of one thread as the crash log shows them; all zero until
// they are read.
struct ThreadRegisters {
  uint64_t rax, rbx, rcx, rdx, rsi, rdi, rbp, rsp;
  uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  uint64_t rip;
  uint32_t eflags;
  X87Register st[8];
  uint32_t status_word;
  uint32_t control_word;
  // Low and high 64 bits of XMM0 to XMM15.
  struct {
    uint64_t low;
    uint64_t high;
  } xmm[16];
};

class ThreadInfo {
 public:
  virtual ~ThreadInfo() = default;

  virtual uint32_t GetThreadId() const = 0;
  virtual int32_t GetPriority() const = 0;
  virtual const ThreadRegisters& GetRegisters() const = 0;
  // Bytes from RSP to the end of the stack's memory region; 0 when the
  // region did not look like a stack.
  virtual uint64_t GetStackSize() const = 0;
  virtual bool IsCrashed() const = 0;
};

class ProcessState {
 public:
  virtual ~ProcessState() = default;

  virtual bool CanReadByte(uint64_t address) const = 0;
  virtual uint32_t GetExceptionCode() const = 0;
  // A name for the exception code, or null.
  virtual const char* GetExceptionName() const = 0;
  virtual uint64_t GetExceptionAddress() const = 0;
  // The crashed thread first.
  virtual const std::vector<std::unique_ptr<ThreadInfo>>& GetThreads()
      const = 0;
  // Null when the executable's module was not found.
  virtual const ModuleInfo* GetMainModule() const = 0;
  virtual const std::vector<std::unique_ptr<ModuleInfo>>& GetModules()
      const = 0;
  // Null when the process cannot be read.
  virtual std::unique_ptr<MemoryReader> CreateMemoryReader() const = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_STATE_H_
