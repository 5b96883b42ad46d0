#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/TestEnvironment.h"

// Shared main of the tests that need no display.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  quorvelle::test::prepareTestEnvironment();
  std::atexit(quorvelle::test::cleanUpTestEnvironment);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
