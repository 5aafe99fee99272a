#include "desktop/windows/installer/backend/step_machine.h"

#include <atomic>

#include "desktop/windows/installer/backend/installer.h"

namespace installer {

namespace {

std::atomic<StepMachineFactory> g_factory_for_testing{nullptr};

}  // namespace

std::unique_ptr<StepMachine> CreateStepMachine() {
  if (StepMachineFactory factory = g_factory_for_testing.load())
    return factory();
  return std::make_unique<Installer>();
}

StepMachineFactory SetStepMachineFactoryForTesting(StepMachineFactory factory) {
  return g_factory_for_testing.exchange(factory);
}

}  // namespace installer
