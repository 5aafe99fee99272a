#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_HANDSHAKE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_HANDSHAKE_H_

#include <string>

namespace installer {

// What the crash server said to a crash on offer.
enum CrashServerHandshakeResult : int {
  // It wants the upload: a 303 whose Location carries "?id=<report id>&".
  kCrashServerAccepted = 0,
  // 503: it does not want this crash.
  kCrashServerRefused = 1,
  // Anything else, including no answer; callers upload as if accepted.
  kCrashServerHandshakeFailed = 2,
};

// Offers a crash to the crash server (InitCrashServerUrls) with one GET,
// redirects not followed. `crash_url` (the page the crashed process showed)
// and `origin` travel as headers when not empty. On acceptance the report
// id and the whole Location go to the out parameters. A `timeout_ms` above
// 0 limits connecting and sending.
CrashServerHandshakeResult CrashServerHandshake(const std::wstring& crash_url,
                                                const std::wstring& origin,
                                                std::wstring* report_id,
                                                std::wstring* location,
                                                int timeout_ms);

// `value` without carriage returns and line feeds, so that text from a
// crashed process cannot start headers of its own.
std::wstring StripLineBreaks(const std::wstring& value);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_HANDSHAKE_H_
