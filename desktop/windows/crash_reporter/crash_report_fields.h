#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORT_FIELDS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORT_FIELDS_H_

#include <windows.h>

#include <cstdint>
#include <optional>

namespace installer {

struct CrashLogData;
class ParameterMap;
class UploadParameterSet;

// What a crash's keys become in its crash log and in its uploads, by the
// omit, selection and rename tables the crash server expects.

// The crash log's metadata from the keys ("ver" and "UBN" go to the header
// instead), then the system description, then the header's defaults.
void FillCrashLogData(const ParameterMap& parameters, CrashLogData* data);
// The product's suffix, version and build number where the header has none.
void ApplyCrashLogHeaderDefaults(CrashLogData* data);

// The fields of a crash log upload to the crash server.
void FillRegularUploadFields(const ParameterMap& parameters,
                             UploadParameterSet* fields);

// The fields of a minidump upload to the alternative collector: the keys,
// the times of `process` (opened with PROCESS_QUERY_INFORMATION, or null)
// and the product.
void FillAlternativeUploadFields(const ParameterMap& parameters,
                                 HANDLE process,
                                 UploadParameterSet* fields);

// "StartupTime", "CrashTime" (seconds since 1970) and "InstallTime" (of
// the process's executable file, when it can be read). `uptime_us` is how
// long the process had run when it crashed, when known.
void AddCrashTimes(HANDLE process,
                   std::optional<int64_t> uptime_us,
                   UploadParameterSet* fields);
// "ProductName", "Version", "UBN", and unless the process said so itself,
// "symbols-package", "BuildID" and "ReleaseChannel".
void AddProductInformation(HANDLE process, UploadParameterSet* fields);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORT_FIELDS_H_
