#include "desktop/windows/crash_reporter/scoped_debugger_attachment.h"

#include "base/logging.h"

namespace installer {

ScopedDebuggerAttachment::ScopedDebuggerAttachment(DWORD process_id)
    : process_id_(process_id) {
  attached_ = ::DebugActiveProcess(process_id);
  if (!attached_)
    PLOG(ERROR) << "DebugActiveProcess failed";
}

ScopedDebuggerAttachment::~ScopedDebuggerAttachment() {
  if (attached_ && !::DebugActiveProcessStop(process_id_))
    PLOG(ERROR) << "DebugActiveProcessStop failed";
}

}  // namespace installer
