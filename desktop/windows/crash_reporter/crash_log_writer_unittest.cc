#include "desktop/windows/crash_reporter/crash_log_writer.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/test/fake_process_state.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::FakeProcessState;

constexpr uint64_t kMainBase = 0x7FF600000000;
constexpr uint64_t kCrashAddress = kMainBase + 0x1234;
constexpr uint64_t kHeap = 0x20000;
constexpr uint64_t kCrashedStack = 0x10000;
constexpr uint64_t kOtherStack = 0x30000;

void PutSlot(std::vector<uint8_t>* bytes, size_t offset, uint64_t value) {
  std::memcpy(bytes->data() + offset, &value, sizeof(value));
}

std::string ReadLog(const base::FilePath& path) {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(path, &text));
  return text;
}

// Two threads, two modules, a heap block and a little code: small enough
// to read the whole log.
std::unique_ptr<FakeProcessState> MakeSmallProcess() {
  auto state = std::make_unique<FakeProcessState>(0xC0000005, kCrashAddress);
  state->AddModule(std::make_unique<FakeProcessState::Module>(
                       "tarvo.exe", "45.0.2548.0", kMainBase, 0x10000, 0x2000,
                       0x5F000000),
                   true);
  state->AddModule(std::make_unique<FakeProcessState::Module>(
                       "kernel32.dll", "", 0x7FFB00000000, 0x20000, 0x10000,
                       0x12345678),
                   false);
  std::vector<uint8_t> heap(0x1000, 0);
  std::memcpy(heap.data() + 0xFF0, "Hello, crash log", 16);
  state->AddMemory(kHeap, heap);
  std::vector<uint8_t> code(0x1000, 0xCC);
  state->AddMemory(kMainBase + 0x1000, code);

  // The crashed thread: 0x1F8 bytes of stack above RSP, a frame chain from
  // RBP, a heap pointer and a return address on it.
  std::vector<uint8_t> stack(0x1000, 0);
  const uint64_t rsp = kCrashedStack + 0xE08;
  PutSlot(&stack, 0xE08, kHeap + 0xFF0);
  PutSlot(&stack, 0xE20, kCrashedStack + 0xE40);  // Saved RBP.
  PutSlot(&stack, 0xE28, kMainBase + 0x1100);     // Return address.
  PutSlot(&stack, 0xE40, 0);
  PutSlot(&stack, 0xE48, 0x4142434445464748);
  state->AddMemory(kCrashedStack, stack);
  ThreadRegisters crashed = {};
  crashed.rax = kHeap + 0xFF0;
  crashed.rsp = rsp;
  crashed.rbp = kCrashedStack + 0xE20;
  crashed.rip = kCrashAddress;
  crashed.eflags = 0x10246;
  crashed.st[0] = {0x8000000000000000, 0x3FFF};
  crashed.status_word = 0x0020;
  crashed.control_word = 0x027F;
  crashed.xmm[0] = {0x1111111111111111, 0x2222222222222222};
  crashed.xmm[15] = {0x3333333333333333, 0x4444444444444444};
  state->AddThread(std::make_unique<FakeProcessState::Thread>(
      0x1A4, 0, true, 0x1F8, crashed));

  // Another thread whose stack region is unknown (stack size 0), of which
  // only 0x200 bytes can be read, and whose RCX points next to RAX above.
  std::vector<uint8_t> other_stack(0x200, 0);
  PutSlot(&other_stack, 0x100, kOtherStack + 0x180);
  PutSlot(&other_stack, 0x180, 0);
  state->AddMemory(kOtherStack, other_stack);
  ThreadRegisters other = {};
  other.rcx = kHeap + 0xFF8;
  other.rsp = kOtherStack;
  other.rbp = kOtherStack + 0x100;
  state->AddThread(std::make_unique<FakeProcessState::Thread>(
      0x2B8, -2, false, 0, other));
  return state;
}

// The log of MakeSmallProcess, checked by hand against the format: RSP's
// two low bits cleared, the crashed thread's stack trimmed after its last
// non-zero byte (a last row of one slot), the other's bounded by its frame
// chain, the saved frame pointers marked, heap and code pointers dumped
// with their windows (2048 and 32 bytes) cut at unreadable pages, the two
// heap windows joined, a forged metadata line escaped.
constexpr char kGoldenLog[] = R"(TARVO-CRASHLOG V1 desktop_tarvo 45.0.2548.0 2548 windows x64 release
tarvo.exe caused exception C0000005 at address 7FF600001234 (Base: 7FF600000000)

metadata:
process_type="browser"
note="say \"hi\"\r\nforged=\"line\""

Thread: 000001A4

ThreadInfo: 000001A4
Priority=00000000
Crashed=1
checked_context_values=17 (all)
checked_stack_values=25 (all)

Registers: 000001A4
RAX=0000000000020FF0   RBX=0000000000000000   RCX=0000000000000000
RDX=0000000000000000   RSI=0000000000000000   RDI=0000000000000000
 R8=0000000000000000    R9=0000000000000000   R10=0000000000000000
R11=0000000000000000   R12=0000000000000000   R13=0000000000000000
R14=0000000000000000   R15=0000000000000000   RBP=0000000000010E20
RSP=0000000000010E08   RIP=00007FF600001234 FLAGS=00010246

FPU stack: 000001A4
st(0)=3FFF8000000000000000 st(1)=00000000000000000000 st(2)=00000000000000000000
st(3)=00000000000000000000 st(4)=00000000000000000000 st(5)=00000000000000000000
st(6)=00000000000000000000 st(7)=00000000000000000000 SW=0020 CW=027F
 XMM0=22222222222222221111111111111111  XMM1=00000000000000000000000000000000
 XMM2=00000000000000000000000000000000  XMM3=00000000000000000000000000000000
 XMM4=00000000000000000000000000000000  XMM5=00000000000000000000000000000000
 XMM6=00000000000000000000000000000000  XMM7=00000000000000000000000000000000
 XMM8=00000000000000000000000000000000  XMM9=00000000000000000000000000000000
XMM10=00000000000000000000000000000000 XMM11=00000000000000000000000000000000
XMM12=00000000000000000000000000000000 XMM13=00000000000000000000000000000000
XMM14=00000000000000000000000000000000 XMM15=44444444444444443333333333333333

Stack dump: 000001A4
000000010E08  0000000000020FF0  0000000000000000  ................
000000010E18  0000000000000000 >0000000000010E40  ........@.......
000000010E28  00007FF600001100  0000000000000000  ................
000000010E38  0000000000000000 >0000000000000000  ................
000000010E48  4142434445464748  0000000000000000  HGFEDCBA........
000000010E58  0000000000000000  0000000000000000  ................
000000010E68  0000000000000000  0000000000000000  ................
000000010E78  0000000000000000  0000000000000000  ................
000000010E88  0000000000000000  0000000000000000  ................
000000010E98  0000000000000000  0000000000000000  ................
000000010EA8  0000000000000000  0000000000000000  ................
000000010EB8  0000000000000000  0000000000000000  ................
000000010EC8  0000000000000000                    ........

Thread: 000002B8

ThreadInfo: 000002B8
Priority=FFFFFFFE
Crashed=0
checked_context_values=17 (all)
checked_stack_values=64 (all)

Registers: 000002B8
RAX=0000000000000000   RBX=0000000000000000   RCX=0000000000020FF8
RDX=0000000000000000   RSI=0000000000000000   RDI=0000000000000000
 R8=0000000000000000    R9=0000000000000000   R10=0000000000000000
R11=0000000000000000   R12=0000000000000000   R13=0000000000000000
R14=0000000000000000   R15=0000000000000000   RBP=0000000000030100
RSP=0000000000030000   RIP=0000000000000000 FLAGS=00000000

FPU stack: 000002B8
st(0)=00000000000000000000 st(1)=00000000000000000000 st(2)=00000000000000000000
st(3)=00000000000000000000 st(4)=00000000000000000000 st(5)=00000000000000000000
st(6)=00000000000000000000 st(7)=00000000000000000000 SW=0000 CW=0000
 XMM0=00000000000000000000000000000000  XMM1=00000000000000000000000000000000
 XMM2=00000000000000000000000000000000  XMM3=00000000000000000000000000000000
 XMM4=00000000000000000000000000000000  XMM5=00000000000000000000000000000000
 XMM6=00000000000000000000000000000000  XMM7=00000000000000000000000000000000
 XMM8=00000000000000000000000000000000  XMM9=00000000000000000000000000000000
XMM10=00000000000000000000000000000000 XMM11=00000000000000000000000000000000
XMM12=00000000000000000000000000000000 XMM13=00000000000000000000000000000000
XMM14=00000000000000000000000000000000 XMM15=00000000000000000000000000000000

Stack dump: 000002B8
000000030000  0000000000000000  0000000000000000  ................
000000030010  0000000000000000  0000000000000000  ................
000000030020  0000000000000000  0000000000000000  ................
000000030030  0000000000000000  0000000000000000  ................
000000030040  0000000000000000  0000000000000000  ................
000000030050  0000000000000000  0000000000000000  ................
000000030060  0000000000000000  0000000000000000  ................
000000030070  0000000000000000  0000000000000000  ................
000000030080  0000000000000000  0000000000000000  ................
000000030090  0000000000000000  0000000000000000  ................
0000000300A0  0000000000000000  0000000000000000  ................
0000000300B0  0000000000000000  0000000000000000  ................
0000000300C0  0000000000000000  0000000000000000  ................
0000000300D0  0000000000000000  0000000000000000  ................
0000000300E0  0000000000000000  0000000000000000  ................
0000000300F0  0000000000000000  0000000000000000  ................
000000030100 >0000000000030180  0000000000000000  ................
000000030110  0000000000000000  0000000000000000  ................
000000030120  0000000000000000  0000000000000000  ................
000000030130  0000000000000000  0000000000000000  ................
000000030140  0000000000000000  0000000000000000  ................
000000030150  0000000000000000  0000000000000000  ................
000000030160  0000000000000000  0000000000000000  ................
000000030170  0000000000000000  0000000000000000  ................
000000030180 >0000000000000000  0000000000000000  ................
000000030190  0000000000000000  0000000000000000  ................
0000000301A0  0000000000000000  0000000000000000  ................
0000000301B0  0000000000000000  0000000000000000  ................
0000000301C0  0000000000000000  0000000000000000  ................
0000000301D0  0000000000000000  0000000000000000  ................
0000000301E0  0000000000000000  0000000000000000  ................
0000000301F0  0000000000000000  0000000000000000  ................

Used DLLs:
tarvo.exe                  45.0.2548.0                                    Base: 7FF600000000 Size: 00010000 Timestamp: 5F000000
kernel32.dll                                                              Base: 7FFB00000000 Size: 00020000 Timestamp: 12345678

Memory dumps:
000000020BF0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C10  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C20  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C30  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C40  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C50  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C60  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C70  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C80  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020C90  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020CA0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020CB0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020CC0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020CD0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020CE0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020CF0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D10  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D20  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D30  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D40  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D50  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D60  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D70  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D80  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020D90  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020DA0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020DB0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020DC0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020DD0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020DE0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020DF0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E10  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E20  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E30  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E40  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E50  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E60  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E70  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E80  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020E90  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020EA0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020EB0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020EC0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020ED0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020EE0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020EF0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F10  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F20  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F30  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F40  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F50  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F60  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F70  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F80  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020F90  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020FA0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020FB0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020FC0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020FD0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020FE0  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 ................
000000020FF0  48 65 6C 6C  6F 2C 20 63  72 61 73 68  20 6C 6F 67 Hello, crash log

7FF6000010F0  CC CC CC CC  CC CC CC CC  CC CC CC CC  CC CC CC CC ................
7FF600001100  CC CC CC CC  CC CC CC CC  CC CC CC CC  CC CC CC CC ................

7FF600001224  CC CC CC CC  CC CC CC CC  CC CC CC CC  CC CC CC CC ................
7FF600001234  CC CC CC CC  CC CC CC CC  CC CC CC CC  CC CC CC CC ................
)";

TEST(CrashLogWriterTest, SmallProcessGivesTheGoldenLog) {
  const std::unique_ptr<FakeProcessState> state = MakeSmallProcess();
  CrashLogData data;
  data.product_suffix = "_tarvo";
  data.version = "45.0.2548.0";
  data.build_number = "2548";
  data.metadata = {{"process_type", "browser"},
                   {"note", "say \"hi\"\r\nforged=\"line\""}};
  const base::ScopedTempFolder folder;
  const base::FilePath path = folder.path().Append(L"crash log \u00e9.txt");
  MemoryRangeSet ranges;
  ASSERT_TRUE(WriteCrashLog(&ranges, *state, data, path));

  std::string log = ReadLog(path);
  // Text mode: every line ends in CR LF, and no CR stands alone.
  std::string lines;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\r') {
      ASSERT_EQ(log[i + 1], '\n') << i;
      continue;
    }
    ASSERT_TRUE(log[i] != '\n' || (i > 0 && log[i - 1] == '\r')) << i;
    lines += log[i];
  }
  EXPECT_EQ(lines, kGoldenLog);
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// From the 500th thread on only the crashed one is written, wherever it is.
TEST(CrashLogWriterTest, ThreadsFromThe500thOnAreLeftOutUnlessCrashed) {
  struct {
    size_t crashed_index;
    size_t written;
  } const kCases[] = {{0, 499}, {549, 500}};
  for (const auto& test : kCases) {
    FakeProcessState state(0xC0000005, 0);
    for (size_t index = 0; index < 600; ++index) {
      state.AddThread(std::make_unique<FakeProcessState::Thread>(
          static_cast<uint32_t>(index + 1), 0, index == test.crashed_index, 0,
          ThreadRegisters{}));
    }
    const base::ScopedTempFolder folder;
    const base::FilePath path = folder.path().Append(L"log.txt");
    MemoryRangeSet ranges;
    ASSERT_TRUE(WriteCrashLog(&ranges, state, CrashLogData(), path));
    const std::string log = ReadLog(path);
    EXPECT_EQ(CountOf(log, "ThreadInfo: "), test.written);
    EXPECT_EQ(CountOf(log, "ThreadInfo: 000001F3"), 1u);  // The 499th.
    EXPECT_EQ(CountOf(log, "ThreadInfo: 000001F4"), 0u);
    EXPECT_EQ(CountOf(log, "ThreadInfo: 00000226"),
              test.crashed_index == 549 ? 1u : 0u);
    EXPECT_EQ(CountOf(log, "metadata:"), 0u);
  }
}

// Every register of 40 threads points at data of its own: the crashed
// thread's memory is all dumped, the others' share what is left of the
// budget, and the last ones get nothing.
TEST(CrashLogWriterTest, DumpedMemoryStaysWithinTheBudget) {
  constexpr uint64_t kData = 0x10000000;
  constexpr uint64_t kWindow = 2048;
  FakeProcessState state(0xC0000005, 0);
  state.AddSelfPointingMemory(kData, 40 * 17 * 4096);
  for (uint32_t thread = 0; thread < 40; ++thread) {
    ThreadRegisters registers = {};
    uint64_t* values[] = {&registers.rax, &registers.rbx, &registers.rcx,
                          &registers.rdx, &registers.rsi, &registers.rdi,
                          &registers.r8,  &registers.r9,  &registers.r10,
                          &registers.r11, &registers.r12, &registers.r13,
                          &registers.r14, &registers.r15, &registers.rbp,
                          &registers.rsp, &registers.rip};
    for (uint64_t i = 0; i < 17; ++i)
      *values[i] = kData + (thread * 17 + i) * 4096 + kWindow;
    // No stack, whose slots would count too.
    registers.rsp = 0;
    state.AddThread(std::make_unique<FakeProcessState::Thread>(
        thread + 1, 0, thread == 0, 0, registers));
  }
  const base::ScopedTempFolder folder;
  const base::FilePath path = folder.path().Append(L"log.txt");
  MemoryRangeSet ranges;
  ASSERT_TRUE(WriteCrashLog(&ranges, state, CrashLogData(), path));
  const std::string log = ReadLog(path);

  EXPECT_GE(ranges.covered_bytes(), 614400 - kWindow);
  // The last window a thread takes may pass its budget.
  EXPECT_LE(ranges.covered_bytes(), 614400 + kWindow);
  EXPECT_EQ(log.find("checked_context_values=17 (all)"),
            log.find("checked_context_values="));
  EXPECT_GT(CountOf(log, "checked_context_values=0\r\n"), 0u);
}

}  // namespace
}  // namespace installer
