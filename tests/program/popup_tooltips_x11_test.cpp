// The popup's tooltips while another application has the keyboard: Qt shows tooltips in the active
// window only, and the translate and refine popups never become active.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QToolTip>
#include <memory>
#include <string>

#include "app/LookupClient.h"
#include "app/PopupView.h"
#include "app/RefinedVariantRow.h"
#include "platform/linux/CurlHttpClient.h"
#include "program/DesktopPopup.h"
#include "tests/program/DesktopPopupWorld.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/support/qt/TkTextWindow.h"

namespace {

using quorvelle::PopupMode;
using quorvelle::test::waitUntil;

class PopupTooltipsX11Test : public testing::Test, protected quorvelle::test::DesktopPopupWorld {
 protected:
  void SetUp() override {
    backend = quorvelle::test::startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/dev-backend"),
                                          {"--port", "0"});
    ASSERT_TRUE(waitUntil([&] { return backend->canReadLine(); }, "the development backend is up"));
    const auto url = QString::fromUtf8(backend->readLine()).trimmed().section(' ', -1).toStdString();
    lookup = std::make_unique<quorvelle::LookupClient>(http, executor, geminiKey, url, "Refine.");
    popup = std::make_unique<quorvelle::DesktopPopup>(panel, services(*lookup));
  }
  void TearDown() override {
    popup.reset();
    quorvelle::test::stopChild(backend);
  }

  void hover(const QWidget* widget) {
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    quorvelle::test::xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
    ASSERT_TRUE(waitUntil([&] { return QCursor::pos() == at; }, "the pointer is there"));
  }

  static bool showsTooltip(const QString& text) { return QToolTip::isVisible() && QToolTip::text() == text; }

  platform::CurlHttpClient http;
  std::unique_ptr<QProcess> backend;
  std::unique_ptr<quorvelle::LookupClient> lookup;
  std::unique_ptr<quorvelle::DesktopPopup> popup;
};

TEST_F(PopupTooltipsX11Test, TheButtonsShowTheirTooltipsWhileAnotherApplicationHasTheKeyboard) {
  quorvelle::test::TkTextWindow other({.text = "hello", .geometry = {700, 600, 300, 40}});
  ASSERT_TRUE(other.isReady()) << "wish did not start (scripts/setup.sh installs tk)";
  other.focus();
  ASSERT_TRUE(
      waitUntil([] { return QApplication::activeWindow() == nullptr; }, "another application is in front"));
  const auto& model = popup->controller().model();

  popup->show("hello", PopupMode::translate);
  ASSERT_TRUE(waitUntil([&] { return panel.isVisible() && !model.isLoading(); }, "the word has loaded"));
  ASSERT_NO_FATAL_FAILURE(hover(child("playButton")));
  EXPECT_TRUE(waitUntil([] { return showsTooltip("Play pronunciation"); }, "the play button's tooltip"));
  ASSERT_NO_FATAL_FAILURE(hover(child("dictionaryLink")));
  EXPECT_TRUE(waitUntil([] { return showsTooltip("Open in Cambridge Dictionary"); }, "the link's tooltip"));

  popup->show("me and him goes", PopupMode::refine);
  ASSERT_TRUE(
      waitUntil([&] { return !model.isLoading() && child<quorvelle::RefinedVariantRow>("variantRow"); },
                "the variants have loaded"));
  auto* row = child<quorvelle::RefinedVariantRow>("variantRow");
  ASSERT_NO_FATAL_FAILURE(hover(row));
  EXPECT_TRUE(
      waitUntil([] { return showsTooltip("Click to replace the selected text"); }, "the row's tooltip"));
  EXPECT_EQ(QApplication::activeWindow(), nullptr) << "the popup took the keyboard";
}

}  // namespace
