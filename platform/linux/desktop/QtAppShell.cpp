#include "platform/linux/desktop/QtAppShell.h"

#include <QApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <utility>
#include <vector>

namespace platform {
namespace {

// A closed book, drawn so that the icon exists whatever icon theme the desktop has.
// Drawn at the tray's size and at the onboarding splash's, so that neither is a scaled-up picture.
QIcon bookIcon() {
  QIcon icon;
  for (int size : {64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 70));
    p.drawRoundedRect(QRectF(12, 6, 40, 52), 5, 5);
    p.setBrush(QColor(235, 235, 240));
    p.drawRect(QRectF(16, 48, 34, 6));
    p.setBrush(QColor(60, 60, 70));
    p.drawRect(QRectF(12, 6, 6, 52));
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QIcon iconNamed(const std::string& name) {
  // The book is drawn rather than looked up in the icon theme: the look-up costs start-up time and, on
  // most desktops, ends in the drawing anyway.
  if (name == "book.fill") return bookIcon();
  return QIcon::fromTheme(QString::fromStdString(name), bookIcon());
}

}  // namespace

// Qt acts on a menu action's shortcut only through the window whose menu bar holds the menu, and a tray's
// menu is in none: the keys it shows would do nothing. Each is given its own shortcut in the open menu
// and in every window of the program as it first takes the keyboard (a shortcut acts only in the active
// window).
class QtAppShell::KeyEquivalents final : public QObject {
 public:
  void add(const QKeySequence& keys, QAction* action) { entries_.emplace_back(keys, action); }

  void install(QMenu* menu) {
    attach(menu, menu);
    if (QWidget* active = QApplication::activeWindow()) attachToWindow(active);
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
      if (focused == nullptr) return;
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->windowHandle() == focused) attachToWindow(window);
      }
    });
  }

 private:
  static constexpr const char* kAttached = "quorvelleKeyEquivalents";

  void attachToWindow(QWidget* window) {
    if (!window->isWindow() || window->windowType() != Qt::Window || window->property(kAttached).toBool())
      return;
    window->setProperty(kAttached, true);
    attach(window, nullptr);
  }

  // Shortcuts of `owner`'s window; `menu`, when given, closes before the item runs.
  void attach(QWidget* owner, QMenu* menu) {
    for (const auto& [keys, action] : entries_) {
      auto* shortcut = new QShortcut(keys, owner);
      QObject::connect(shortcut, &QShortcut::activated, owner, [menu, action = QPointer<QAction>(action)] {
        if (menu) menu->hide();
        if (action) action->trigger();
      });
    }
  }

  std::vector<std::pair<QKeySequence, QAction*>> entries_;
};

QtAppShell::QtAppShell() = default;

QIcon QtAppShell::applicationIcon() {
  return iconNamed("book.fill");
}
QtAppShell::~QtAppShell() = default;

bool QtAppShell::hasStatusIcon() const {
  return tray_ && tray_->isVisible();
}

bool QtAppShell::installStatusMenu(const std::string& title, const std::string& iconName,
                                   std::vector<StatusMenuItem> items) {
  menu_ = std::make_unique<QMenu>();
  keyEquivalents_ = std::make_unique<KeyEquivalents>();
  for (auto& item : items) {
    if (item.isDivider()) {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(QString::fromStdString(item.title));
    if (!item.keyEquivalent.empty()) {
      const QKeySequence keys(Qt::CTRL | QKeySequence(QString::fromStdString(item.keyEquivalent))[0].key());
      action->setShortcut(keys);
      keyEquivalents_->add(keys, action);
    }
    QObject::connect(action, &QAction::triggered, [run = std::move(item.action)] { run(); });
  }
  keyEquivalents_->install(menu_.get());
  tray_ = std::make_unique<QSystemTrayIcon>(iconNamed(iconName));
  tray_->setToolTip(QString::fromStdString(title));
  tray_->setContextMenu(menu_.get());
  // A left click opens the same menu, as on a menu bar.
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, menu_.get(),
                   [this](QSystemTrayIcon::ActivationReason why) {
                     if (why == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
                   });
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  tray_->show();
  return true;
}

void QtAppShell::setActivationPolicy(ActivationPolicy policy) {
  policy_ = policy;
}

void QtAppShell::activateIgnoringOtherApps() {
  // Windows raise and activate themselves when fronted; here only the one that is active is raised again.
  if (QWidget* window = QApplication::activeWindow()) {
    window->raise();
    window->activateWindow();
  }
}

void QtAppShell::terminate() {
  QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
}

}  // namespace platform
