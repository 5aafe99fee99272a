#include "base/trace_event/memory_dump_scheduler.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/time/tick_time.h"
#include "base/time/time_delta.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

constinit std::atomic<uint32_t> g_polling_interval_ms{
    MemoryDumpScheduler::kDefaultPollingIntervalMs};

const uint8_t* MemoryInfraCategory() {
  static const uint8_t* const category =
      TraceLog::GetCategoryEnabledFlag(MemoryDumpManager::kTraceCategory);
  return category;
}

void AddPollEvent(char phase, const char* name, const char* argument_name,
                  uint8_t type, uint64_t megabytes, uint32_t flags) {
  TraceValue value = {};
  value.as_uint = megabytes;
  TraceLog::GetInstance()->AddEvent(
      phase, MemoryInfraCategory(), name, nullptr, 0, 0,
      static_cast<int32_t>(GetCurrentThreadId()),
      TickTime::Now().ToInternalValue(), 1, &argument_name, &type, &value,
      nullptr, flags);
}

}  // namespace

MemoryDumpScheduler::MemoryDumpScheduler(
    MemoryDumpManager* manager,
    RefPtr<SequencedTaskRunner> polling_task_runner)
    : manager_(manager),
      timer_(true, true),
      polling_task_runner_(std::move(polling_task_runner)),
      polling_interval_ms_(
          g_polling_interval_ms.load(std::memory_order_relaxed)) {}

MemoryDumpScheduler::~MemoryDumpScheduler() = default;

// static
bool MemoryDumpScheduler::SetPollingIntervalOverride(uint32_t interval_ms) {
  if (interval_ms == 0) {
    LOG(ERROR) << "A memory polling interval of 0 ms is refused";
    return false;
  }
  g_polling_interval_ms.store(interval_ms, std::memory_order_relaxed);
  return true;
}

bool MemoryDumpScheduler::AddTrigger(uint32_t trigger_type,
                                     int level_of_detail, uint32_t period_ms) {
  if (period_ms == 0) {
    LOG(ERROR) << "A memory-dump trigger with a period of 0 ms is refused";
    return false;
  }
  if (trigger_type == MemoryDumpManager::kDumpTypePeakMemoryUsage) {
    polling_enabled_ = true;
    polling_level_ = level_of_detail;
    min_polls_between_dumps_ = static_cast<int32_t>(
        (period_ms + polling_interval_ms_ - 1) / polling_interval_ms_);
    return true;
  }
  if (trigger_type != MemoryDumpManager::kDumpTypePeriodicInterval) {
    LOG(ERROR) << "Unknown memory-dump trigger type " << trigger_type;
    return false;
  }
  periodic_enabled_ = true;
  if (level_of_detail == kDumpLevelLight)
    light_period_ms_ = period_ms;
  else if (level_of_detail == kDumpLevelDetailed)
    heavy_period_ms_ = period_ms;
  if (period_ms < min_period_ms_)
    min_period_ms_ = period_ms;
  return true;
}

void MemoryDumpScheduler::NotifyPeriodicTriggerSupported() {
  if (!periodic_enabled_ || timer_.IsRunning())
    return;
  light_dump_rate_ = light_period_ms_ / min_period_ms_;
  heavy_dump_rate_ = heavy_period_ms_ / min_period_ms_;
  dump_count_ = 0;
  timer_.Start(FROM_HERE, TimeDelta::FromMilliseconds(min_period_ms_),
               Bind(&MemoryDumpScheduler::RequestPeriodicGlobalDump, this));
}

void MemoryDumpScheduler::DisablePeriodicTrigger() {
  if (timer_.IsRunning())
    timer_.Stop();
}

int MemoryDumpScheduler::NextPeriodicDumpLevel() {
  int level = kDumpLevelBackground;
  if (light_dump_rate_ != 0 && dump_count_ % light_dump_rate_ == 0)
    level = kDumpLevelLight;
  if (heavy_dump_rate_ != 0 && dump_count_ % heavy_dump_rate_ == 0)
    level = kDumpLevelDetailed;
  ++dump_count_;
  return level;
}

void MemoryDumpScheduler::RequestPeriodicGlobalDump() {
  manager_->RequestGlobalDump(MemoryDumpManager::kDumpTypePeriodicInterval,
                              NextPeriodicDumpLevel(),
                              MemoryDumpManager::GlobalDumpCallback());
}

void MemoryDumpScheduler::NotifyPollingSupported() {
  if (!polling_enabled_ || polling_started_)
    return;
  polling_started_ = true;
  polls_since_last_dump_ = 0;
  last_dump_memory_total_ = 0;
  // The manager stops the polling thread before it deletes the scheduler.
  polling_task_runner_->PostTask(
      FROM_HERE, Bind(&MemoryDumpScheduler::PollMemoryOnPollingThread, this));
}

void MemoryDumpScheduler::DisablePolling() {
  if (polling_task_runner_ && !polling_task_runner_->IsOnOwnThread()) {
    if (polling_task_runner_->PostTask(
            FROM_HERE, Bind(&MemoryDumpScheduler::DisablePolling, this))) {
      return;
    }
  }
  polling_enabled_ = false;
  polling_task_runner_ = nullptr;
}

bool MemoryDumpScheduler::ShouldTriggerPeakDump(uint64_t total) {
  if (total == 0)
    return false;
  ++polls_since_last_dump_;
  if (last_dump_memory_total_ != 0 &&
      polls_since_last_dump_ < min_polls_between_dumps_) {
    return false;
  }
  const bool trigger =
      last_dump_memory_total_ == 0 ||
      static_cast<int64_t>(total - last_dump_memory_total_) >
          kPeakIncreaseBytes;
  if (trigger) {
    last_dump_memory_total_ = total;
    polls_since_last_dump_ = 0;
  }
  return trigger;
}

void MemoryDumpScheduler::PollMemoryOnPollingThread() {
  if (!polling_enabled_)
    return;
  const uint64_t total = manager_->PollFastMemoryTotal();
  const bool traced =
      (*MemoryInfraCategory() & kCategoryGroupEnabledMask) != 0;
  if (polling_level_ == kDumpLevelDetailed && traced) {
    AddPollEvent('C', "PolledMemoryMB", "value", kTraceValueTypeInt,
                 total >> 20, 0);
  }
  if (ShouldTriggerPeakDump(total)) {
    if (traced) {
      AddPollEvent(kTracePhaseInstant, "Peak memory dump Triggered",
                   "total_usage_MB", kTraceValueTypeUint, total >> 20,
                   kTraceFlagScopeProcess);
    }
    manager_->RequestGlobalDump(MemoryDumpManager::kDumpTypePeakMemoryUsage,
                                polling_level_,
                                MemoryDumpManager::GlobalDumpCallback());
  }
  CurrentTaskRunnerHandle::Get()->PostTaskWithDelay(
      FROM_HERE, Bind(&MemoryDumpScheduler::PollMemoryOnPollingThread, this),
      TimeDelta::FromMilliseconds(polling_interval_ms_));
}

}  // namespace base
