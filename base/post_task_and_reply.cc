#include "base/post_task_and_reply.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/task_runner.h"
#include "base/worker_pool.h"

namespace base {

namespace {

// Travels with the steps. Each step's closure owns it, so a step that is
// dropped unrun (its runner went away) frees the task, the reply and the
// origin runner instead of leaking them.
struct Relay {
  SourceLocation from_here;
  RefPtr<SequencedTaskRunner> origin;
  Closure reply;
  Closure task;
};

void RunReplyAndDestroy(std::unique_ptr<Relay>& relay) {
  // Nothing bound to the task may outlive it into the reply.
  relay->task.Reset();
  relay->reply.Run();
  relay.reset();
}

void RunTaskAndPostReply(std::unique_ptr<Relay>& relay) {
  relay->task.Run();
  RefPtr<SequencedTaskRunner> origin = relay->origin;
  SourceLocation from_here = relay->from_here;
  // On failure the reply step is released here and takes the relay with it.
  origin->PostTaskWithDelay(
      from_here, Bind(&RunReplyAndDestroy, std::move(relay)), TimeDelta());
}

}  // namespace

bool TaskRunnerRelay::PostTask(const SourceLocation& from_here, Closure task) {
  return runner_.PostTaskWithDelay(from_here, std::move(task), TimeDelta());
}

bool WorkerPoolRelay::PostTask(const SourceLocation& from_here, Closure task) {
  return WorkerPool::PostTask(from_here, std::move(task), task_is_slow_);
}

bool PostTaskAndReplyCore(PostTaskAndReplyRelay& poster,
                          const SourceLocation& from_here, Closure task,
                          Closure reply) {
  RefPtr<SequencedTaskRunner> origin = GetCurrentSequencedTaskRunner();
  // Without a runner to come back to the reply could never run.
  if (!origin)
    return false;
  auto relay = std::make_unique<Relay>(
      Relay{from_here, std::move(origin), std::move(reply), std::move(task)});
  return poster.PostTask(from_here,
                         Bind(&RunTaskAndPostReply, std::move(relay)));
}

bool PostTaskAndReply(TaskRunner& runner, const SourceLocation& from_here,
                      Closure task, Closure reply) {
  TaskRunnerRelay poster(runner);
  return PostTaskAndReplyCore(poster, from_here, std::move(task),
                              std::move(reply));
}

}  // namespace base
