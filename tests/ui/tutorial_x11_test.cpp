// The tutorial's practice fields with the real desktop peers: a word double-clicked there is what the
// hot key reads, and a variant pasted with synthetic Ctrl+V replaces the selected draft.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <memory>
#include <optional>
#include <string>

#include "app/LookupClient.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/X11Accessibility.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/XTestKeystrokeSender.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/ui/TutorialWorld.h"
#include "ui/TutorialSample.h"
#include "ui/TutorialStep.h"

namespace quorvelle {
namespace {

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
    ASSERT_TRUE(test::waitUntil([&] { return page.isActiveWindow(); }, "the page's window active"));
    env.executor.runUntilIdle();
  }

  static void run(const QStringList& args) {
    QProcess p;
    p.start("xdotool", args);
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(test::waitUntil([&] { return p.state() == QProcess::NotRunning; }, "xdotool ended"));
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
  ASSERT_TRUE(test::waitUntil([&] { return page.sample()->textCursor().selectedText() == "serendipity"; },
                              "the practice word selected"));

  platform::X11Accessibility accessibility(x11.get(), *executor);
  std::optional<std::optional<std::string>> read;
  accessibility.readFocusedSelectedText([&](std::optional<std::string> text) { read = std::move(text); });
  ASSERT_TRUE(test::waitUntil([&] { return read.has_value(); }, "the selection read"));
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
  ASSERT_TRUE(test::waitUntil([&] { return page.sample()->toPlainText() == variant; }, "the draft replaced"))
      << page.sample()->toPlainText().toStdString();
  EXPECT_EQ(page.model().sample(), variant.toStdString());
}

// What a new user first translates and refines, against the development backend that `scripts/run.sh`
// starts: the practice word gets its translation and dictionary entry, and every practice draft comes back
// rewritten, never as a placeholder.
TEST_F(TutorialX11, ThePracticeWordAndDraftsGetRealAnswersFromTheDevelopmentBackend) {
  auto backend = test::startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/dev-backend"), {"--port", "0"});
  ASSERT_TRUE(test::waitUntil([&] { return backend->canReadLine(); }, "the development backend is up"));
  const std::string url = QString::fromUtf8(backend->readLine()).trimmed().section(' ', -1).toStdString();
  platform::CurlHttpClient http;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  const Keychain keychain(secrets, keyringWorker, *executor);
  const GeminiKeyManager key(keychain);
  const LookupClient client(http, *executor, key, url, "Refine.");

  TutorialStep translatePage(TutorialAction::translate, "en", done, services, analytics);
  const std::string word = translatePage.sample()->toPlainText().toStdString();
  std::optional<LookupResult<TranslationResult>> translation;
  std::optional<LookupResult<DictionaryEntry>> entry;
  client.translate(word, "fr", {}, [&](auto r) { translation.emplace(std::move(r)); });
  client.lookup(word, "uk", {}, [&](auto r) { entry.emplace(std::move(r)); });
  ASSERT_TRUE(test::waitUntil([&] { return translation && entry; }, "the word's answers"));
  ASSERT_TRUE(translation->ok());
  EXPECT_EQ(translation->value().translated, "sérendipité");
  ASSERT_TRUE(entry->ok()) << entry->error().errorDescription();
  EXPECT_TRUE(entry->value().definition && entry->value().ipa && entry->value().audioUrl);

  for (const char* language : {"en", "ru", "uk", "es", "de", "fr"}) {
    SCOPED_TRACE(language);
    const std::string draft(TutorialStep::refineSample(language));
    std::optional<LookupResult<RefineResult>> refined;
    client.refine(draft, "", "en", {}, [&](auto r) { refined.emplace(std::move(r)); });
    ASSERT_TRUE(test::waitUntil([&] { return refined.has_value(); }, "the draft's variants"));
    ASSERT_TRUE(refined->ok());
    const QString variants = QString::fromStdString(refined->value().refined);
    EXPECT_EQ(variants.count("\n---\n"), 2);
    EXPECT_FALSE(variants.toLower().contains(QString::fromStdString(draft).toLower()))
        << "the draft came back as it was: " << variants.toStdString();
  }
  test::stopChild(backend);
}

}  // namespace
}  // namespace quorvelle
