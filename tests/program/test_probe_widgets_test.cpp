// The program's window probe, read over its socket as the desktop tests read it, on real widgets.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <cstring>
#include <filesystem>
#include <memory>

#include "program/TestProbe.h"
#include "tests/program/ProgramProbe.h"
#include "tests/support/Eventually.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"

namespace {

using quorvelle::TestProbe;
using namespace quorvelle::test;

struct TestProbeTest : testing::Test {
  QString socketPath() const { return QString::fromStdString((dir / "probe").string()); }

  // Shows `window` and waits until the toolkit has it on screen.
  static void show(QWidget& window) {
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible() && window.windowHandle()->isExposed(); },
                          "the window exposed"));
  }

  TempDir dir;
};

TEST_F(TestProbeTest, ReportsWhatEachVisibleWidgetIsAndWhereAClickReachesIt) {
  QWidget window;
  window.setWindowTitle("Probed");
  window.setGeometry(100, 100, 400, 300);
  auto* layout = new QVBoxLayout(&window);
  auto* next = new QPushButton("Continue", &window);
  next->setEnabled(false);
  auto* choice = new QPushButton(&window);
  choice->setAccessibleName("German");
  choice->setCheckable(true);
  choice->setChecked(true);
  auto* hidden = new QLabel("Not now", &window);
  hidden->hide();
  auto* key = new QLineEdit("AIza-secret", &window);
  key->setEchoMode(QLineEdit::Password);
  key->selectAll();
  auto* practice = new QPlainTextEdit("first line\nsecond line", &window);
  practice->selectAll();
  // A tall grid in a short scroll area: its lower part is clipped.
  auto* scroll = new QScrollArea(&window);
  scroll->setFixedHeight(60);
  auto* tall = new QLabel("tall", scroll);
  tall->setFixedSize(200, 400);
  scroll->setWidget(tall);
  for (QWidget* w :
       {static_cast<QWidget*>(next), static_cast<QWidget*>(choice), static_cast<QWidget*>(hidden),
        static_cast<QWidget*>(key), static_cast<QWidget*>(practice), static_cast<QWidget*>(scroll)}) {
    layout->addWidget(w);
  }
  ASSERT_NO_FATAL_FAILURE(show(window));

  TestProbe probe(socketPath().toStdString());
  ASSERT_TRUE(probe.listening());
  const auto snapshot = readProbe(socketPath());
  ASSERT_TRUE(snapshot);
  const ProbedWindow* probed = snapshot->titled("Probed");
  ASSERT_NE(probed, nullptr);
  EXPECT_EQ(probed->id, QString::number(window.winId()));

  const ProbedWidget* button = probed->withText("Continue");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->className, "QPushButton");
  EXPECT_FALSE(button->enabled);
  EXPECT_FALSE(button->checked.has_value());
  EXPECT_EQ(button->geometry, QRect(next->mapToGlobal(QPoint(0, 0)), next->size()));
  EXPECT_EQ(button->shown, button->geometry);

  const ProbedWidget* card = probed->named("German");
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(card->checked, std::optional<bool>(true));

  EXPECT_EQ(probed->withText("Not now"), nullptr) << "a hidden widget is not reported";

  const ProbedWidget* field = probed->find([](const ProbedWidget& w) { return w.className == "QLineEdit"; });
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->text, key->displayText());
  EXPECT_TRUE(field->selectedText.isEmpty());
  EXPECT_FALSE(TestProbe::snapshot().contains("AIza-secret")) << "a password field's secret left the program";

  const ProbedWidget* editor = probed->withText("first line\nsecond line");
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->selectedText, "first line\nsecond line");

  const ProbedWidget* clipped = probed->withText("tall");
  ASSERT_NE(clipped, nullptr);
  EXPECT_EQ(clipped->geometry.height(), 400);
  EXPECT_LT(clipped->shown.height(), 60);
  EXPECT_TRUE(clipped->geometry.contains(clipped->shown));
}

TEST_F(TestProbeTest, ListensOnlyWhenTheEnvironmentNamesASocketAndRemovesItAtTheEnd) {
  {
    ScopedEnvironment unset{{TestProbe::kVariable, std::nullopt}};
    EXPECT_EQ(TestProbe::fromEnvironment(), nullptr);
  }
  ScopedEnvironment set{{TestProbe::kVariable, socketPath().toStdString()}};
  auto probe = TestProbe::fromEnvironment();
  ASSERT_NE(probe, nullptr);
  EXPECT_TRUE(std::filesystem::is_socket(socketPath().toStdString()));
  probe.reset();
  EXPECT_FALSE(std::filesystem::exists(socketPath().toStdString()));
  EXPECT_FALSE(readProbe(socketPath()));
}

TEST_F(TestProbeTest, AClientThatDoesNotReadHoldsUpNobody) {
  // More than a socket holds, so that the answer to the client that never reads stays half sent.
  QWidget window;
  window.setWindowTitle("Large");
  auto* layout = new QVBoxLayout(&window);
  for (int i = 0; i < 400; ++i) layout->addWidget(new QLabel(QString(2000, QLatin1Char('x')), &window));
  ASSERT_NO_FATAL_FAILURE(show(window));
  TestProbe probe(socketPath().toStdString());
  ASSERT_TRUE(probe.listening());

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socketPath().toStdString();
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(silent, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

  const auto snapshot = readProbe(socketPath());
  ::close(silent);
  ASSERT_TRUE(snapshot);
  ASSERT_NE(snapshot->titled("Large"), nullptr);
  EXPECT_EQ(snapshot->titled("Large")->widgets.size(), 400u);
  // The half-sent answer ends with the client that left.
  EXPECT_TRUE(readProbe(socketPath()));
}

}  // namespace
