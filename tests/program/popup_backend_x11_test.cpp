// The popup as the program assembles it, over the real transport, against a backend that cannot be
// reached: it says so in plain words, and how to start the development backend this project has.

#include <gtest/gtest.h>

#include <QLabel>
#include <memory>
#include <string>

#include "app/LookupClient.h"
#include "app/PopupView.h"
#include "platform/linux/CurlHttpClient.h"
#include "program/DesktopPopup.h"
#include "tests/program/DesktopPopupWorld.h"
#include "tests/support/Eventually.h"

namespace {

using quorvelle::PopupMode;
using quorvelle::test::waitUntil;

class PopupBackendX11Test : public testing::Test, protected quorvelle::test::DesktopPopupWorld {
 protected:
  // The popup of the program against the backend at `url`.
  void assemble(const std::string& url) {
    lookup = std::make_unique<quorvelle::LookupClient>(http, executor, geminiKey, url, "Refine.");
    popup = std::make_unique<quorvelle::DesktopPopup>(panel, services(*lookup));
  }
  void TearDown() override { popup.reset(); }

  QString label(const char* name) {
    auto* found = panel.window()->findChild<QLabel*>(name);
    return found && found->isVisible() ? found->text() : QString();
  }

  platform::CurlHttpClient http;
  std::unique_ptr<quorvelle::LookupClient> lookup;
  std::unique_ptr<quorvelle::DesktopPopup> popup;
};

TEST_F(PopupBackendX11Test, AnUnreachableBackendSaysHowToStartTheDevelopmentBackend) {
  // A port that nobody listens on: the connection is refused at once.
  assemble("http://127.0.0.1:1");
  for (const PopupMode mode : {PopupMode::translate, PopupMode::refine}) {
    SCOPED_TRACE(mode == PopupMode::translate ? "translate" : "refine");
    popup->show("hello", mode);
    ASSERT_TRUE(waitUntil([&] { return !label("error").isEmpty(); }, "the popup shows an error"));
    const QString shown = label("error");
    // What the label shows is what the user reads: no markup, no word of the program's insides, and
    // nothing that sends someone who started it with scripts/run.sh back to run.sh.
    EXPECT_EQ(
        shown.toStdString(),
        "The translation service cannot be reached. Check your connection and try again. If you use the "
        "development backend, start it with tools/dev-backend --port N (in the build folder), where N "
        "is the port of QUORVELLE_BACKEND_URL.");
    EXPECT_FALSE(shown.contains('`'));
    EXPECT_FALSE(shown.contains("Backend"));
    EXPECT_FALSE(shown.contains("run.sh"));
  }
}

}  // namespace
