#include "base/win/handle_verifier.h"

#include <windows.h>

#include <thread>
#include <vector>

#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

HANDLE NewEvent() {
  return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

// A second handle to this process, protected from closing: the one failed
// close the verifier lets pass.
HANDLE NewProtectedProcessHandle() {
  HANDLE process = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process, 0,
                  FALSE, DUPLICATE_SAME_ACCESS);
  SetHandleInformation(process, HANDLE_FLAG_PROTECT_FROM_CLOSE,
                       HANDLE_FLAG_PROTECT_FROM_CLOSE);
  return process;
}

void Unprotect(HANDLE handle) {
  SetHandleInformation(handle, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
  CloseHandle(handle);
}

// The verifier's fatal trap ends the child with an illegal instruction; any
// other death is a different fault.
const testing::ExitedWithCode kTrapped(static_cast<int>(STATUS_ILLEGAL_INSTRUCTION));

int g_owner_a;
int g_owner_b;

using HandleVerifierDeathTest = testing::Test;

TEST_F(HandleVerifierDeathTest, ActiveVerifierStopsAtMisuse) {
  const struct {
    const char* name;
    void (*misuse)(HandleVerifier& verifier, HANDLE handle);
  } kCases[] = {
      {"tracked twice",
       [](HandleVerifier& v, HANDLE h) {
         v.StartTracking(h, &g_owner_a, nullptr, nullptr);
         v.StartTracking(h, &g_owner_b, nullptr, nullptr);
       }},
      {"stopped by a non-owner",
       [](HandleVerifier& v, HANDLE h) {
         v.StartTracking(h, &g_owner_a, nullptr, nullptr);
         v.StopTracking(h, &g_owner_b, nullptr, nullptr);
       }},
      {"stopped while untracked",
       [](HandleVerifier& v, HANDLE h) { v.StopTracking(h, &g_owner_a, nullptr, nullptr); }},
      {"stopped twice",
       [](HandleVerifier& v, HANDLE h) {
         v.StartTracking(h, &g_owner_a, nullptr, nullptr);
         v.StopTracking(h, &g_owner_a, nullptr, nullptr);
         v.StopTracking(h, &g_owner_a, nullptr, nullptr);
       }},
      {"closed behind its owner's back",
       [](HandleVerifier& v, HANDLE h) {
         v.StartTracking(h, &g_owner_a, nullptr, nullptr);
         v.OnHandleBeingClosed(h);
       }},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    EXPECT_EXIT(
        {
          HandleVerifier verifier(true);
          test_case.misuse(verifier, NewEvent());
        },
        kTrapped, "");
  }
}

TEST_F(HandleVerifierDeathTest, FailedCloseStopsActiveAndInactive) {
  for (const bool active : {true, false}) {
    SCOPED_TRACE(active ? "active" : "inactive");
    // Closed twice: the second close meets a dead handle.
    EXPECT_EXIT(
        {
          HandleVerifier verifier(active);
          const HANDLE event = NewEvent();
          verifier.CloseHandleChecked(event);
          verifier.CloseHandleChecked(event);
        },
        kTrapped, "");
    // Protection from closing excuses process handles only.
    EXPECT_EXIT(
        {
          HandleVerifier verifier(active);
          const HANDLE event = NewEvent();
          SetHandleInformation(event, HANDLE_FLAG_PROTECT_FROM_CLOSE,
                               HANDLE_FLAG_PROTECT_FROM_CLOSE);
          verifier.CloseHandleChecked(event);
        },
        kTrapped, "");
  }
}

TEST(HandleVerifierTest, ProtectedProcessHandleFailsToCloseWithoutStopping) {
  for (const bool active : {true, false}) {
    SCOPED_TRACE(active ? "active" : "inactive");
    HandleVerifier verifier(active);
    const HANDLE process = NewProtectedProcessHandle();
    EXPECT_FALSE(verifier.CloseHandleChecked(process));
    EXPECT_TRUE(IsOpen(process));
    Unprotect(process);
  }
}

TEST(HandleVerifierTest, CheckedCloseClosesTheHandle) {
  for (const bool active : {true, false}) {
    HandleVerifier verifier(active);
    const HANDLE event = NewEvent();
    EXPECT_TRUE(verifier.CloseHandleChecked(event));
    EXPECT_FALSE(IsOpen(event));
  }
}

TEST(HandleVerifierTest, ActiveVerifierAcceptsAnOrderlyLife) {
  HandleVerifier verifier(true);
  const HANDLE event = NewEvent();
  verifier.OnHandleBeingClosed(event);  // Untracked handles pass.
  verifier.StartTracking(event, &g_owner_a, nullptr, nullptr);
  verifier.StopTracking(event, &g_owner_a, nullptr, nullptr);
  verifier.OnHandleBeingClosed(event);
  // Forgotten handles may be tracked again, by a new owner.
  verifier.StartTracking(event, &g_owner_b, nullptr, nullptr);
  verifier.StopTracking(event, &g_owner_b, nullptr, nullptr);
  EXPECT_TRUE(verifier.CloseHandleChecked(event));
}

TEST(HandleVerifierTest, InactiveOrDisabledVerifierIgnoresTracking) {
  HandleVerifier inactive(false);
  HandleVerifier disabled(true);
  disabled.Disable();
  for (HandleVerifier* verifier : {&inactive, &disabled}) {
    const HANDLE event = NewEvent();
    verifier->StartTracking(event, &g_owner_a, nullptr, nullptr);
    verifier->StartTracking(event, &g_owner_b, nullptr, nullptr);
    verifier->OnHandleBeingClosed(event);
    verifier->StopTracking(event, &g_owner_a, nullptr, nullptr);
    verifier->StopTracking(event, &g_owner_a, nullptr, nullptr);
    EXPECT_TRUE(verifier->CloseHandleChecked(event));
  }
}

TEST(HandleVerifierTest, TracksHandlesOfManyThreads) {
  HandleVerifier verifier(true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&verifier] {
      for (int i = 0; i < 200; ++i) {
        const HANDLE event = NewEvent();
        int owner = 0;
        verifier.StartTracking(event, &owner, nullptr, nullptr);
        verifier.StopTracking(event, &owner, nullptr, nullptr);
        verifier.CloseHandleChecked(event);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
}

// This test executable exports no "GetHandleVerifier", like a host without
// a verifier of its own.
TEST(HandleVerifierTest, ProcessVerifierOfHostWithoutExportIsInactive) {
  HandleVerifier* verifier = HandleVerifier::CreateOrFindInstance();
  EXPECT_EQ(verifier, HandleVerifier::CreateOrFindInstance());
  EXPECT_EQ(GetModuleHandleW(nullptr), verifier->GetModule());
  const HANDLE event = NewEvent();
  HandleVerifier::StartTrackingGlobal(event, &g_owner_a, nullptr, nullptr);
  HandleVerifier::StartTrackingGlobal(event, &g_owner_b, nullptr, nullptr);
  HandleVerifier::StopTrackingHandle(event, &g_owner_a, nullptr, nullptr);
  EXPECT_TRUE(CloseHandleVerified(event));
  EXPECT_FALSE(IsOpen(event));
}

}  // namespace
}  // namespace base::win
