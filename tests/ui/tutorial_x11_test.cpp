// The tutorial's practice fields with the real desktop peers: a word double-clicked there is what the
// hot key reads, and a variant pasted with synthetic Ctrl+V replaces the selected draft.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QTest>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/X11Accessibility.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/XTestKeystrokeSender.h"
#include "tests/support/Eventually.h"
#include "tests/ui/TutorialWorld.h"
#include "ui/TutorialSample.h"
#include "ui/TutorialStep.h"

namespace quorvelle {
namespace {

using quorvelle::test::waitUntil;

struct TutorialX11 : testing::Test, test::TutorialWorld {
  void SetUp() override {
    x11 = platform::X11Connection::open();
    ASSERT_TRUE(x11);
    ASSERT_TRUE(x11->hasXTest());
    executor = std::make_unique<platform::QtMainExecutor>();
    storeKey();
  }

  void show(TutorialStep& page) {
    page.resize(620, 560);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return page.isActiveWindow(); }, "the window page is active"));
    env.executor.runUntilIdle();
  }

  static void run(const QStringList& args) {
    QProcess p;
    p.start("xdotool", args);
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(
        waitUntil([&] { return p.state() == QProcess::NotRunning; }, "p.state() == QProcess::NotRunning"));
  }

  std::unique_ptr<platform::X11Connection> x11;
  std::unique_ptr<platform::QtMainExecutor> executor;
};

TEST_F(TutorialX11, ADoubleClickedWordIsWhatTheHotKeyReads) {
  TutorialStep page(TutorialAction::translate, "en", done, services, analytics);
  ASSERT_NO_FATAL_FAILURE(show(page));
  const QPoint at = page.sample()->mapToGlobal(page.sample()->rect().center());
  ASSERT_NO_FATAL_FAILURE(run({"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                               "--repeat", "2", "--delay", "80", "1"}));
  ASSERT_TRUE(waitUntil([&] { return page.sample()->textCursor().selectedText() == "serendipity"; },
                        "page.sample()->textCursor().selectedText() == \"serendipity\""));

  platform::X11Accessibility accessibility(x11.get(), *executor);
  std::optional<std::optional<std::string>> read;
  accessibility.readFocusedSelectedText([&](std::optional<std::string> text) { read = std::move(text); });
  ASSERT_TRUE(waitUntil([&] { return read.has_value(); }, "read.has_value()"));
  EXPECT_EQ(*read, std::optional<std::string>("serendipity"));
  EXPECT_EQ(page.sample()->toPlainText(), "serendipity");
}

TEST_F(TutorialX11, APastedVariantReplacesTheSelectedDraft) {
  TutorialStep page(TutorialAction::refine, "en", done, services, analytics);
  ASSERT_NO_FATAL_FAILURE(show(page));
  ASSERT_TRUE(page.sample()->isVisible());
  page.sample()->setFocus();
  page.sample()->selectAll();
  const QString variant = "I wrote this sentence very quickly; please improve it.";
  QGuiApplication::clipboard()->setText(variant);

  platform::XTestKeystrokeSender keys(*x11, *executor);
  keys.send({.keyName = "AB04", .modifiers = platform::Keystroke::control});
  ASSERT_TRUE(waitUntil([&] { return page.sample()->toPlainText() == variant; },
                        "page.sample()->toPlainText() == variant"))
      << page.sample()->toPlainText().toStdString();
  EXPECT_EQ(page.model().sample(), variant.toStdString());
}

}  // namespace
}  // namespace quorvelle
