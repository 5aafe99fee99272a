#include <windows.h>

#include "base/metrics/histogram_registry.h"
#include "gtest/gtest.h"

int main(int argc, char** argv) {
  // A test that crashes must fail its run, not wait on an error dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // Tests read back what recording sites counted, which needs the registry
  // that a real process never has.
  base::HistogramRegistry::ScopedMapsForTesting histogram_registry;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
