// The popup's tooltips, with the keyboard in another application and in a window of the program itself:
// Qt shows tooltips in the active window only, the translate and refine popups never become active, and
// the program's own windows (settings, onboarding) are active while the user selects text in them. Each
// tooltip must show its text and be drawn on the screen as the tooltip it is, not as an empty box.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QLineEdit>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>

#include "app/LookupClient.h"
#include "app/PopupView.h"
#include "app/RefinedVariantRow.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/desktop/X11Connection.h"
#include "program/DesktopPopup.h"
#include "tests/program/DesktopPopupWorld.h"
#include "tests/support/CaseName.h"
#include "tests/support/Eventually.h"
#include "tests/support/qt/DesktopTools.h"
#include "tests/support/qt/TkTextWindow.h"

namespace {

using quorvelle::PopupMode;
using quorvelle::test::waitUntil;

// Where the keyboard is while the popup shows.
struct Keyboard {
  const char* name;
  bool inOwnWindow;
};
void PrintTo(const Keyboard& keyboard, std::ostream* out) {
  *out << keyboard.name;
}

class PopupTooltipsX11Test : public testing::TestWithParam<Keyboard>,
                             protected quorvelle::test::DesktopPopupWorld {
 protected:
  void SetUp() override {
    backend = quorvelle::test::startChild(QStringLiteral(QUORVELLE_BINARY_DIR "/tools/dev-backend"),
                                          {"--port", "0"});
    ASSERT_TRUE(waitUntil([&] { return backend->canReadLine(); }, "the development backend is up"));
    const auto url = QString::fromUtf8(backend->readLine()).trimmed().section(' ', -1).toStdString();
    lookup = std::make_unique<quorvelle::LookupClient>(http, executor, geminiKey, url, "Refine.");
    popup = std::make_unique<quorvelle::DesktopPopup>(panel, services(*lookup), x11.get());
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

  static QWidget* tooltipWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "qtooltip_label" && w->isVisible()) return w;
    }
    return nullptr;
  }

  // The tooltip shows `text`, and the screen shows it drawn: mostly its own background colour, with its
  // text in it (a box left black, or transparent where nothing composites it, has neither).
  static bool showsTooltip(const QString& text) {
    if (!QToolTip::isVisible() || QToolTip::text() != text) return false;
    const QWidget* tip = tooltipWindow();
    if (tip == nullptr) return false;
    const QRect area = tip->geometry();
    const QImage shown = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage();
    const QColor base = tip->palette().color(QPalette::ToolTipBase);
    const QColor ink = tip->palette().color(QPalette::ToolTipText);
    const auto near = [](QColor a, QColor b) {
      return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <
             48;
    };
    int background = 0;
    int inked = 0;
    for (int y = 0; y < shown.height(); ++y) {
      for (int x = 0; x < shown.width(); ++x) {
        const QColor pixel = shown.pixelColor(x, y);
        if (near(pixel, base)) ++background;
        if (near(pixel, ink)) ++inked;
      }
    }
    const int all = shown.width() * shown.height();
    return all > 0 && background * 2 > all && inked * 50 > all;
  }

  // Gives the keyboard to another application's window, or to a window of this process: the program's
  // own, as its settings window is.
  void giveTheKeyboardAway() {
    if (!GetParam().inOwnWindow) {
      other = std::make_unique<quorvelle::test::TkTextWindow>(
          quorvelle::test::TkTextWindow::Options{.text = "hello", .geometry = {700, 600, 300, 40}});
      ASSERT_TRUE(other->isReady()) << "wish did not start (scripts/setup.sh installs tk)";
      other->focus();
      ASSERT_TRUE(waitUntil([] { return QApplication::activeWindow() == nullptr; },
                            "another application is in front"));
    } else {
      (new QVBoxLayout(&own))->addWidget(new QLineEdit("hello", &own));
      own.setGeometry(700, 100, 400, 300);
      own.show();
      own.activateWindow();
      ASSERT_TRUE(quorvelle::test::waitUntilActive(&own));
    }
  }
  QWidget* expectedActiveWindow() { return GetParam().inOwnWindow ? &own : nullptr; }

  std::unique_ptr<platform::X11Connection> x11 = platform::X11Connection::open();
  platform::CurlHttpClient http;
  std::unique_ptr<QProcess> backend;
  std::unique_ptr<quorvelle::LookupClient> lookup;
  std::unique_ptr<quorvelle::DesktopPopup> popup;
  std::unique_ptr<quorvelle::test::TkTextWindow> other;
  QWidget own;
};

TEST_P(PopupTooltipsX11Test, TheButtonsShowTheirTooltipsDrawnOverThePopup) {
  ASSERT_NO_FATAL_FAILURE(giveTheKeyboardAway());
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
  // The strip of the hovered row: copy and replace.
  for (const auto& [name, text] :
       {std::pair{"copyButton", "Copy"}, {"replaceButton", "Replace the selected text"}}) {
    auto* button = row->findChild<QWidget*>(name);
    ASSERT_NE(button, nullptr) << name;
    ASSERT_TRUE(waitUntil([&] { return button->isVisible(); }, "the row's buttons show"));
    ASSERT_NO_FATAL_FAILURE(hover(button));
    EXPECT_TRUE(waitUntil([&] { return showsTooltip(text); }, std::string("the tooltip of ") + name));
  }
  EXPECT_EQ(QApplication::activeWindow(), expectedActiveWindow()) << "the popup took the keyboard";
}

INSTANTIATE_TEST_SUITE_P(Keyboard, PopupTooltipsX11Test,
                         testing::Values(Keyboard{"inAnotherApplication", false},
                                         Keyboard{"inTheProgramsOwnWindow", true}),
                         quorvelle::test::NamedCase());

}  // namespace
