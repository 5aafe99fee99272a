#include "base/message_loop/message_pump_io.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using IoContext = MessagePumpForIO::IoContext;

// Both ends of a connected, overlapped message pipe.
struct PipePair {
  win::ScopedHandle server;
  win::ScopedHandle client;
};

PipePair MakePipePair() {
  static int counter = 0;
  std::wstring name = L"\\\\.\\pipe\\message_pump_io_test_" +
                      std::to_wstring(GetCurrentProcessId()) + L"_" +
                      std::to_wstring(++counter);
  PipePair pipes;
  pipes.server.Set(CreateNamedPipeW(
      name.c_str(),
      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
      nullptr));
  pipes.client.Set(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                               nullptr));
  return pipes;
}

bool Started(BOOL result) {
  return result || GetLastError() == ERROR_IO_PENDING;
}

// Reads messages one at a time, each read started by the previous one's
// completion.
class Reader : public MessagePumpForIO::IOHandler {
 public:
  explicit Reader(HANDLE pipe) : pipe_(pipe) {}

  bool StartRead() {
    context_ = IoContext();
    return Started(
        ReadFile(pipe_, buffer_, sizeof(buffer_), nullptr, &context_.overlapped));
  }

  void OnIOCompleted(IoContext* context, DWORD bytes, DWORD error) override {
    if (context != &context_)
      ++foreign_contexts;
    errors.push_back(error);
    received.emplace_back(buffer_, bytes);
    if (error == 0 && static_cast<int>(received.size()) < wanted)
      StartRead();
    else if (runner)
      runner->Quit();
  }

  std::vector<std::string> received;
  std::vector<DWORD> errors;
  int foreign_contexts = 0;
  int wanted = 1;
  LoopRunner* runner = nullptr;

 private:
  HANDLE pipe_;
  IoContext context_;
  char buffer_[64];
};

// Starts all its writes at once; records the order of their completions.
class Writer : public MessagePumpForIO::IOHandler {
 public:
  Writer(HANDLE pipe, int count) : pipe_(pipe), contexts_(count) {
    for (int i = 0; i < count; ++i)
      messages_.push_back("message " + std::to_string(i));
  }

  bool StartWrites() {
    for (size_t i = 0; i < contexts_.size(); ++i) {
      if (!Started(WriteFile(pipe_, messages_[i].data(),
                             static_cast<DWORD>(messages_[i].size()), nullptr,
                             &contexts_[i].overlapped))) {
        return false;
      }
    }
    return true;
  }

  void OnIOCompleted(IoContext* context, DWORD bytes, DWORD error) override {
    int index = static_cast<int>(context - contexts_.data());
    if (index < 0 || index >= static_cast<int>(contexts_.size())) {
      ++foreign_contexts;
      return;
    }
    completed.push_back(index);
    if (bytes != messages_[index].size() || error != 0)
      ++bad_completions;
  }

  const std::vector<std::string>& messages() const { return messages_; }

  std::vector<int> completed;
  int bad_completions = 0;
  int foreign_contexts = 0;

 private:
  HANDLE pipe_;
  std::vector<IoContext> contexts_;
  std::vector<std::string> messages_;
};

TEST(MessagePumpIOTest, OverlappedPipeTransfersArriveThroughLoopInOrder) {
  MessageLoop loop(MessageLoop::Type::kIO);
  PipePair pipes = MakePipePair();
  ASSERT_TRUE(pipes.server.IsValid() && pipes.client.IsValid());
  constexpr int kMessages = 40;
  Reader reader(pipes.server.Get());
  Writer writer(pipes.client.Get(), kMessages);
  ASSERT_TRUE(loop.RegisterIOHandler(pipes.server.Get(), &reader));
  ASSERT_TRUE(loop.RegisterIOHandler(pipes.client.Get(), &writer));

  LoopRunner runner;
  reader.wanted = kMessages;
  reader.runner = &runner;
  // Tasks keep running between completions.
  int tasks_run = 0;
  for (int i = 0; i < 10; ++i)
    loop.task_runner()->PostTask(FROM_HERE, Bind([&] { ++tasks_run; }));
  ASSERT_TRUE(writer.StartWrites());
  ASSERT_TRUE(reader.StartRead());
  runner.Run();

  EXPECT_EQ(writer.messages(), reader.received);
  std::vector<int> in_order(kMessages);
  for (int i = 0; i < kMessages; ++i)
    in_order[i] = i;
  // The last write may complete after the last read ended the run.
  loop.WaitForIOCompletion(0, nullptr);
  EXPECT_EQ(in_order, writer.completed);
  EXPECT_EQ(0, writer.bad_completions);
  EXPECT_EQ(0, reader.foreign_contexts + writer.foreign_contexts);
  EXPECT_EQ(10, tasks_run);
}

TEST(MessagePumpIOTest, FilteredWaitKeepsOtherCompletionsForLaterInOrder) {
  MessageLoop loop(MessageLoop::Type::kIO);
  PipePair pipes = MakePipePair();
  Reader reader(pipes.server.Get());
  Writer writer(pipes.client.Get(), 2);
  ASSERT_TRUE(loop.RegisterIOHandler(pipes.server.Get(), &reader));
  ASSERT_TRUE(loop.RegisterIOHandler(pipes.client.Get(), &writer));

  ASSERT_TRUE(writer.StartWrites());
  ASSERT_TRUE(reader.StartRead());
  while (reader.received.empty())
    ASSERT_TRUE(loop.WaitForIOCompletion(5000, &reader));
  EXPECT_EQ("message 0", reader.received[0]);
  EXPECT_TRUE(writer.completed.empty());

  // The writes' completions come now, in arrival order, before waiting.
  EXPECT_TRUE(loop.WaitForIOCompletion(0, nullptr));
  EXPECT_TRUE(loop.WaitForIOCompletion(0, nullptr));
  EXPECT_EQ((std::vector<int>{0, 1}), writer.completed);
  EXPECT_FALSE(loop.WaitForIOCompletion(0, nullptr));
}

TEST(MessagePumpIOTest, FailedOperationIsDeliveredWithItsErrorAndNoBytes) {
  MessageLoop loop(MessageLoop::Type::kIO);
  PipePair pipes = MakePipePair();
  Reader reader(pipes.server.Get());
  ASSERT_TRUE(loop.RegisterIOHandler(pipes.server.Get(), &reader));
  ASSERT_TRUE(reader.StartRead());
  pipes.client.Close();
  while (reader.errors.empty())
    ASSERT_TRUE(loop.WaitForIOCompletion(5000, &reader));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), reader.errors[0]);
  EXPECT_EQ("", reader.received[0]);
}

TEST(MessagePumpIOTest, WakeUpsCoalesceAndNeverReachHandlers) {
  MessagePumpForIO pump;
  for (int i = 0; i < 1000; ++i)
    pump.WakeUp();
  // One packet: consumed by the first wait, nothing for the second.
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
  pump.WakeUp();
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
}

HANDLE WINAPI FailToCreatePort(HANDLE, HANDLE, ULONG_PTR, DWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST(MessagePumpIOTest, PumpWithoutCompletionPortEndsTheProcess) {
  // It could only fail every wait at once, spinning.
  EXPECT_DEATH(
      {
        MessagePumpForIO::SetCreatePortFunctionForTesting(&FailToCreatePort);
        MessagePumpForIO pump;
      },
      "CreateIoCompletionPort failed");
}

}  // namespace
}  // namespace base
