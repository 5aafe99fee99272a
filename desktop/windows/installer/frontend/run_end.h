#ifndef DESKTOP_WINDOWS_INSTALLER_FRONTEND_RUN_END_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONTEND_RUN_END_H_

#include <cstdint>
#include <string>

#include "base/time/time_delta.h"
#include "base/weak_reference.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

namespace base {
class FilePath;
class LoopRunner;
}

namespace installer {

class Stats;

// How a front end's run ends, the same for the silent and the windowed
// one: it keeps the run's error as the user sees it in the window, writes
// the outcome into the statistics report and into the front end's log (the
// log a user or support finds), sends the report, and quits the run's loop
// once the report is out and no backend runs any more: the package folder
// goes as the run ends, which must not happen under a program running from
// it. Lives on the front end's main thread.
class RunEnd {
 public:
  // An error the user is told of; the report's failure reason is its
  // message.
  using Error = RunError;

  // The text the window shows for `error`, cause included.
  static std::wstring WindowText(const Error& error);
  // What a run whose package could not be fetched ends with: `state` the
  // `PackageFetcher::FetchState` of the failed attempt, `cause` what failed
  // it, its write error one into `download_folder`. A full disk is named
  // with the folder whose disk it is; a refused signature by what refused
  // it (changed package files as the hand-over tells them); a package older
  // than this installer as such.
  static Error FetchFailureError(int state,
                                 const PackageFetcher::FailureCause& cause,
                                 const base::FilePath& download_folder);

  // When and how the report goes out.
  struct ReportPolicy {
    bool send = false;
    // An unreachable server is waited for (a long time) rather than given up
    // after a few retries.
    bool wait_for_network = false;
    // Zero: the run waits for the report whatever it takes.
    base::TimeDelta max_wait;
  };

  // `loop_runner` and `stats` must outlive this object.
  RunEnd(base::LoopRunner* loop_runner, Stats* stats);
  RunEnd(const RunEnd&) = delete;
  RunEnd& operator=(const RunEnd&) = delete;
  ~RunEnd();

  // The error that the run ends with unless a later one replaces it; the
  // report's failure reason follows it.
  void SetError(const Error& error);
  bool has_error() const { return error_.code != 0; }
  // The backend's errors: the first of an attempt is the one the user sees
  // and the report keeps. A backend that handed over to the package's
  // installer follows that installer's error with a general one of its
  // own; the first names the cause. False (and logged) for a later one.
  bool KeepFirstError(const Error& error);
  // As SetError, for an error that stands over any later one of the
  // attempt.
  void ReplaceError(const Error& error);
  // The attempt's error was dealt with: the user may try again, and the
  // next attempt's first error is kept anew.
  void OnErrorHandled() { error_kept_ = false; }

  void OnBackendStarted() { backend_running_ = true; }
  void OnBackendEnded();

  // Ends the run once (later calls are logged and ignored): the outcome
  // goes into the report and the log, the report out as `policy` says.
  void End(bool success, const ReportPolicy& policy);
  bool ended() const { return ended_; }

 private:
  void LogOutcome(bool success) const;
  void SendReport(const ReportPolicy& policy);
  void OnReportSent();
  void StopWaitingForReport(base::TimeDelta waited);
  void QuitWhenDone();

  base::LoopRunner* const loop_runner_;
  Stats* const stats_;
  Error error_;
  // An attempt's first error is kept; later ones are dropped.
  bool error_kept_ = false;
  bool ended_ = false;
  bool backend_running_ = false;
  bool report_pending_ = false;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONTEND_RUN_END_H_
