#include "desktop/windows/installer/entry/processor_check.h"

namespace installer {

ProcessorCheckHooks GetSystemProcessorCheckHooks() {
  return {&IsProcessorFeaturePresent, &MessageBoxW, &ExitProcess};
}

void EnsureProcessorSupportsSse2(const ProcessorCheckHooks& hooks) {
  if (hooks.is_processor_feature_present(PF_XMMI64_INSTRUCTIONS_AVAILABLE))
    return;
  hooks.message_box(
      nullptr,
      L"This program requires a computer that supports SSE2 instructions.",
      L"Error", MB_OK);
  hooks.exit_process(1);
}

}  // namespace installer
