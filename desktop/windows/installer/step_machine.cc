#include "desktop/windows/installer/step_machine.h"

#include <atomic>

namespace installer {

namespace {

std::atomic<StepMachineFactory> g_factory_for_testing{nullptr};

}  // namespace

std::unique_ptr<StepMachine> CreateStepMachine() {
  if (StepMachineFactory factory = g_factory_for_testing.load())
    return factory();
  // The installer step machine is not part of the library yet.
  return nullptr;
}

StepMachineFactory SetStepMachineFactoryForTesting(StepMachineFactory factory) {
  return g_factory_for_testing.exchange(factory);
}

}  // namespace installer
