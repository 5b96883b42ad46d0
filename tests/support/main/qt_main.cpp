#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <cstring>

#include "tests/support/Eventually.h"
#include "tests/support/TestEnvironment.h"

// Shared main of the Qt tests. Widget tests run on the offscreen platform unless the caller chose one;
// x11 tests are built with QUORVELLE_TEST_QPA="xcb" and run under their own Xvfb.
int main(int argc, char** argv) {
#ifdef QUORVELLE_TEST_QPA
  if (std::getenv("DISPLAY") != nullptr) setenv("QT_QPA_PLATFORM", QUORVELLE_TEST_QPA, 1);
#endif
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  quorvelle::test::prepareTestEnvironment();
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // discovery needs no QApplication

  int rc = 0;
  {
    QApplication app(argc, argv);
    // Waits keep this process's windows, selections and child processes answering.
    quorvelle::test::setWaitPump(
        [](std::chrono::milliseconds pause) { QTest::qWait(static_cast<int>(pause.count())); });
    rc = RUN_ALL_TESTS();
  }
  quorvelle::test::cleanUpTestEnvironment();
  return rc;
}
