#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_FEATURES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_FEATURES_H_

namespace base {
class FilePath;
}

namespace installer {

// The two switches of the crash reporter: whether the user lets usage be
// reported at all (on unless the browser's preferences say otherwise), and
// whether crashes go as minidumps to the alternative collector (off unless
// the browser's feature table, a "with-feature:" switch or the browser's
// preferences turn it on, in that order of precedence from low to high).
// Set once at the reporter's start, read from any thread afterwards.

void ApplyFeatureOverrides(const base::FilePath& preferences_file);
bool IsMetricsReportingEnabled();
bool IsAlternativeCrashLoggingEnabled();

namespace internal {
// Tests only: back to the defaults.
void ResetReporterFeaturesForTesting();
}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_FEATURES_H_
