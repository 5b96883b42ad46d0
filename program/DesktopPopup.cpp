#include "program/DesktopPopup.h"

#include <QAbstractEventDispatcher>
#include <QImage>
#include <stdexcept>

#include "app/PopupModel.h"
#include "app/PopupView.h"
#include "platform/linux/desktop/QtPopupPanel.h"
#include "platform/linux/desktop/X11CompositorWatch.h"

namespace quorvelle {

DesktopPopup::DesktopPopup(platform::QtPopupPanel& panel, PopupController::Services services,
                           platform::X11Connection* x11)
    : panel_(panel) {
  // A controller driving one panel while the view sits in another would size and place an empty window.
  if (&services.panel != &panel)
    throw std::invalid_argument("DesktopPopup: the controller must drive the panel");
  controller_ = PopupController::create(services);
  if (x11) {
    compositor_ = std::make_unique<platform::X11CompositorWatch>(*x11, [this](bool compositing) {
      if (auto* view = panel_.window()->findChild<PopupView*>()) view->setTranslucent(compositing);
    });
  }
  // In the turn after the loop first waits for events: the toolkit has flushed what start-up drew (the
  // tray icon and the hot keys' grabs among it) just before that wait, so that building the view and
  // warming the panel delay nothing the user sees.
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    idleTurn_.setSingleShot(true);
    idleTurn_.setInterval(0);
    QObject::connect(&idleTurn_, &QTimer::timeout, [this] {
      buildView();
      warmUp();
    });
    whenIdle_ = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] {
      QObject::disconnect(whenIdle_);
      idleTurn_.start();
    });
  } else {
    buildView();
  }
}

DesktopPopup::~DesktopPopup() {
  QObject::disconnect(whenIdle_);
  idleTurn_.stop();
  controller_->dismiss();
  // The view watches the controller's model.
  panel_.setContent(nullptr);
}

void DesktopPopup::buildView() {
  if (viewBuilt_) return;
  viewBuilt_ = true;
  auto* view = new PopupView(controller_->model(), controller_->viewCallbacks());
  if (compositor_) view->setTranslucent(compositor_->isCompositing());
  panel_.setContent(view);
}

void DesktopPopup::warmUp() {
  if (warm_) return;
  warm_ = true;
  // An unmanaged window is created hidden and shows only when mapped: making it now draws nothing.
  QWidget* window = panel_.window();
  window->ensurePolished();
  window->winId();
  // The first popup's fonts and text layouts: a scratch view of a word with its translation and entry,
  // laid out and drawn into an image while loading and once loaded. It shares nothing with the popup.
  PopupModel sample;
  sample.reset("Quorvelle", PopupMode::translate, true);
  PopupView scratch(sample, {});
  if (compositor_) scratch.setTranslucent(compositor_->isCompositing());
  const auto draw = [&scratch] {
    scratch.resize(scratch.sizeHint());
    QImage image(scratch.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    static_cast<QWidget&>(scratch).render(&image);  // PopupView::render() is its own
  };
  draw();
  sample.setTranslation(TranslationResult{"Кворвелле"});
  sample.setEntry(DictionaryEntry{.ipa = "/kwɔːˈvɛl/",
                                  .definition = "A word, drawn once before the first popup.",
                                  .audioUrl = "https://example.invalid/a.mp3",
                                  .pageUrl = "https://example.invalid/"});
  sample.setLoading(false);
  draw();
  // The popup's own view, hidden: polished and laid out at its fitting size.
  panel_.fittingContentSize();
}

void DesktopPopup::show(const std::string& text, PopupMode mode) {
  buildView();
  controller_->show(text, mode);
}

void DesktopPopup::showQuickTranslate() {
  buildView();
  controller_->showQuickTranslate();
}

void DesktopPopup::showError(const std::string& text, PopupMode mode, const std::string& message) {
  controller_->showError(text, mode, message);
}

}  // namespace quorvelle
