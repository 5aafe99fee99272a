#include "base/exit_callback_stack.h"

#include <optional>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// Each callback appends its name to `g_log`. Tests run one at a time.
std::string g_log;

void AppendA(void*) { g_log += 'A'; }
void AppendB(void*) { g_log += 'B'; }
void AppendC(void*) { g_log += 'C'; }
void AppendLate(void*) { g_log += 'L'; }

void RegisterLate(void*) {
  g_log += 'R';
  ExitCallbackStack::RegisterCallback(&AppendLate, nullptr);
}

void AppendChar(void* text) {
  g_log += *static_cast<const char*>(text);
}

class ExitCallbackStackTest : public testing::Test {
 protected:
  void SetUp() override { g_log.clear(); }
};

TEST_F(ExitCallbackStackTest, RunsLastRegisteredFirst) {
  {
    ExitCallbackStack stack;
    ExitCallbackStack::RegisterCallback(&AppendA, nullptr);
    ExitCallbackStack::RegisterCallback(&AppendB, nullptr);
    ExitCallbackStack::RegisterCallback(&AppendC, nullptr);
    EXPECT_EQ("", g_log);
  }
  EXPECT_EQ("CBA", g_log);
}

TEST_F(ExitCallbackStackTest, CallbackRegisteredDuringProcessingNeverRuns) {
  {
    ExitCallbackStack stack;
    ExitCallbackStack::RegisterCallback(&AppendA, nullptr);
    ExitCallbackStack::RegisterCallback(&RegisterLate, nullptr);
  }
  EXPECT_EQ("RA", g_log);
}

TEST_F(ExitCallbackStackTest, ProcessCallbacksNowEmptiesTheStack) {
  ExitCallbackStack stack;
  ExitCallbackStack::RegisterCallback(&AppendA, nullptr);
  ExitCallbackStack::ProcessCallbacksNow();
  ExitCallbackStack::ProcessCallbacksNow();
  EXPECT_EQ("A", g_log);
}

TEST_F(ExitCallbackStackTest, InnerStackShadowsTheOuterOne) {
  static const char kOuterFirst = '1', kInner = '2', kOuterAfter = '3';
  {
    ExitCallbackStack outer;
    ExitCallbackStack::RegisterCallback(&AppendChar,
                                        const_cast<char*>(&kOuterFirst));
    {
      ExitCallbackStack inner;
      ExitCallbackStack::RegisterCallback(&AppendChar,
                                          const_cast<char*>(&kInner));
    }
    EXPECT_EQ("2", g_log);
    ExitCallbackStack::RegisterCallback(&AppendChar,
                                        const_cast<char*>(&kOuterAfter));
  }
  EXPECT_EQ("231", g_log);
}

TEST_F(ExitCallbackStackTest, WithoutAStackNothingIsKept) {
  ExitCallbackStack::RegisterCallback(&AppendA, nullptr);
  ExitCallbackStack::ProcessCallbacksNow();
  { ExitCallbackStack later; }
  EXPECT_EQ("", g_log);
}

}  // namespace
}  // namespace base
