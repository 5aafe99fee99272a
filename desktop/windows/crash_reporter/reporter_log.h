#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_LOG_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_LOG_H_

namespace installer {

class CrashFile;

// The crash reporter's own log: "<product>_crashreporter.log" in the
// temporary folder (else the debugger's output), and, per thread, the
// capture of what is logged while a crash is processed, which goes into
// that crash's log instead.

void ReporterLogInit();

// While a capture is open on a thread, that thread's log lines go into it
// and nowhere else. Captures nest.
void BeginLogCapture();
void EndLogCapture();
// Appends the lines captured so far to the crash log being written in
// `file` under "Crash Logger:" and empties the capture. True when there was
// nothing to append or it was appended.
bool AppendCapturedLog(CrashFile* file);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_LOG_H_
