// A hot key that another program already holds: the X server refuses it, the shortcut stays absent, and
// the program says so on one line of its log, naming the shortcut and the reason.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>

#include "tests/program/ProgramX11Test.h"
#include "tests/support/Eventually.h"

namespace {

using namespace quorvelle::test;

// Alt+T, held by another X client from before the program starts (AD05 is keycode 28, Alt is Mod1).
class RefusedHotKeyX11Test : public ProgramX11Test {
 protected:
  void arrangeEnvironment(QProcessEnvironment&) override {
    other_ = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other_), 0);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other_)).data->root;
    const std::uint16_t lockVariants[] = {0, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK,
                                          XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK};
    for (const std::uint16_t locks : lockVariants) {
      xcb_generic_error_t* error =
          xcb_request_check(other_, xcb_grab_key_checked(other_, 0, root, XCB_MOD_MASK_1 | locks, 28,
                                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
      ASSERT_EQ(error, nullptr);
    }
  }
  void TearDown() override {
    ProgramX11Test::TearDown();
    if (other_) xcb_disconnect(other_);
  }

  xcb_connection_t* other_ = nullptr;
};

TEST_F(RefusedHotKeyX11Test, TheRefusalIsLoggedOnceWithTheShortcutAndTheReason) {
  const QString line = "the hot key Alt+T is not registered: another program holds it";
  EXPECT_TRUE(waitUntil([&] { return programLog_.contains(line); }, "the refusal is logged"))
      << programLog_.toStdString();
  // A later sentinel: the refine hot key works, so start-up has registered both.
  QLineEdit* field = openTextWindow("me and him goes");
  ASSERT_NE(field, nullptr);
  ASSERT_NO_FATAL_FAILURE(selectAllAndPress("me and him goes", "alt+r"));
  EXPECT_TRUE(waitForRequest("POST /refine apiKey,language,text")) << requests_.join('\n').toStdString();
  EXPECT_EQ(programLog_.count(line), 1) << programLog_.toStdString();
  EXPECT_FALSE(programLog_.contains("Alt+R")) << programLog_.toStdString();
}

}  // namespace
