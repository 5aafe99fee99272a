#include "desktop/windows/crash_reporter/debugged_thread_info.h"

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/win/scoped_handle.h"

namespace installer {

namespace {

constexpr DWORD kThreadAccess = THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION;
constexpr DWORD kContextFlags =
    CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_FLOATING_POINT;

std::string Hex(uint64_t value) {
  return base::FormatString("%llX", static_cast<unsigned long long>(value));
}

base::win::ScopedHandle OpenThreadForContext(uint32_t thread_id) {
  base::win::ScopedHandle thread(::OpenThread(kThreadAccess, FALSE, thread_id));
  if (!thread.IsValid())
    PLOG(ERROR) << "OpenThread failed for 0x" << Hex(thread_id);
  return thread;
}

}  // namespace

DebuggedThreadInfo::DebuggedThreadInfo(uint32_t thread_id, bool crashed)
    : thread_id_(thread_id), crashed_(crashed) {}

DebuggedThreadInfo::~DebuggedThreadInfo() = default;

bool DebuggedThreadInfo::ReadFromThread(HANDLE process) {
  const base::win::ScopedHandle thread = OpenThreadForContext(thread_id_);
  // The system writes the whole extended context: it must be 16-aligned.
  alignas(16) CONTEXT context = {};
  context.ContextFlags = kContextFlags;
  if (!::GetThreadContext(thread.Get(), &context)) {
    PLOG(ERROR) << "GetThreadContext failed for 0x" << Hex(thread_id_);
    return false;
  }
  registers_ = RegistersFromContext(context);
  ReadPriority(thread.Get());
  ReadStackSize(process);
  return true;
}

void DebuggedThreadInfo::ReadFromContext(HANDLE process,
                                         const CONTEXT& context) {
  const base::win::ScopedHandle thread = OpenThreadForContext(thread_id_);
  registers_ = RegistersFromContext(context);
  ReadPriority(thread.Get());
  ReadStackSize(process);
}

// static
ThreadRegisters DebuggedThreadInfo::RegistersFromContext(
    const CONTEXT& context) {
  ThreadRegisters registers = {};
  registers.rax = context.Rax;
  registers.rbx = context.Rbx;
  registers.rcx = context.Rcx;
  registers.rdx = context.Rdx;
  registers.rsi = context.Rsi;
  registers.rdi = context.Rdi;
  registers.rbp = context.Rbp;
  registers.rsp = context.Rsp;
  registers.r8 = context.R8;
  registers.r9 = context.R9;
  registers.r10 = context.R10;
  registers.r11 = context.R11;
  registers.r12 = context.R12;
  registers.r13 = context.R13;
  registers.r14 = context.R14;
  registers.r15 = context.R15;
  registers.rip = context.Rip;
  registers.eflags = context.EFlags;
  const XMM_SAVE_AREA32& fpu = context.FltSave;
  for (int i = 0; i < 8; ++i) {
    registers.st[i].mantissa = fpu.FloatRegisters[i].Low;
    registers.st[i].sign_exponent =
        static_cast<uint16_t>(fpu.FloatRegisters[i].High);
  }
  registers.status_word = fpu.StatusWord;
  registers.control_word = fpu.ControlWord;
  const M128A* xmm = &context.Xmm0;
  for (int i = 0; i < 16; ++i) {
    registers.xmm[i].low = xmm[i].Low;
    registers.xmm[i].high = static_cast<uint64_t>(xmm[i].High);
  }
  return registers;
}

void DebuggedThreadInfo::ReadPriority(HANDLE thread) {
  priority_ = ::GetThreadPriority(thread);
  if (priority_ == THREAD_PRIORITY_ERROR_RETURN) {
    PLOG(ERROR) << "GetThreadPriority failed for 0x" << Hex(thread_id_);
    priority_ = 0;
  }
}

// Only a committed, private, read-write region around RSP is a stack worth
// reading; anything else is a stack pointer gone astray.
void DebuggedThreadInfo::ReadStackSize(HANDLE process) {
  const uint64_t sp = registers_.rsp;
  MEMORY_BASIC_INFORMATION region = {};
  const SIZE_T length = ::VirtualQueryEx(
      process, reinterpret_cast<const void*>(sp), &region, sizeof(region));
  if (length != sizeof(region)) {
    PLOG(ERROR) << "VirtualQueryEx failed, address=0x" << Hex(sp)
                << ", result=" << length << ", expected=" << sizeof(region);
    return;
  }
  const uint64_t base = reinterpret_cast<uint64_t>(region.BaseAddress);
  const uint64_t end = base + region.RegionSize;
  if (region.State != MEM_COMMIT || region.Type != MEM_PRIVATE ||
      region.Protect != PAGE_READWRITE || sp < base || sp >= end) {
    LOG(ERROR) << "Sanity checks failed, state=0x" << Hex(region.State)
               << ", type=0x" << Hex(region.Type) << ", protect=0x"
               << Hex(region.Protect) << ", sp=0x" << Hex(sp) << ", base=0x"
               << Hex(base) << ", size=" << region.RegionSize;
    return;
  }
  stack_size_ = end - sp;
}

}  // namespace installer
