#ifndef BASE_WIN_GDI_USAGE_DIAGNOSTICS_H_
#define BASE_WIN_GDI_USAGE_DIAGNOSTICS_H_

#include <windows.h>

namespace base::win {

// Called when a DIB section for `header` could not be made over `section`:
// keeps on the stack what tells why (the last error, the bitmap size, GDI,
// USER and memory counts of this process and its children) and ends the
// process through the crash handler. Each suspected cause crashes in its own
// function, so reports tell them apart.
[[noreturn]] void CollectGdiUsageAndCrash(const BITMAPINFOHEADER& header,
                                          HANDLE section);

}  // namespace base::win

#endif  // BASE_WIN_GDI_USAGE_DIAGNOSTICS_H_
