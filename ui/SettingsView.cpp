#include "ui/SettingsView.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/AppNotifications.h"
#include "app/Language.h"

namespace quorvelle {

SettingsView::SettingsView(const AppSettings& settings, const GeminiKeyManager& geminiKey,
                           platform::NotificationCenter& notifications, platform::MainExecutor& executor,
                           QWidget* parent)
    : QWidget(parent), executor_(executor) {
  setFixedSize(kWidth, kHeight);
  auto* layout = new QVBoxLayout(this);
  panes_ = new QTabWidget(this);
  layout->addWidget(panes_);

  auto* translating = new QWidget(panes_);
  auto* translatingForm = new QFormLayout(translating);
  const Language* language = Language::find(settings.targetLanguage());
  translatingForm->addRow(tr("Target language:"),
                          new QLabel(language ? QString::fromStdString(language->flag + "  " + language->name)
                                              : QString::fromStdString(settings.targetLanguage()),
                                     translating));
  panes_->addTab(translating, tr("Translating"));

  auto* refining = new QWidget(panes_);
  auto* refiningForm = new QFormLayout(refining);
  geminiKey_ = new QLineEdit(refining);
  geminiKey_->setObjectName(QStringLiteral("geminiApiKey"));
  geminiKey_->setPlaceholderText(QStringLiteral("Gemini API key"));
  // The keyring may take a while: the window shows at once and the stored key's mask when it arrives.
  geminiKey.readMaskedKey([field = QPointer<QLineEdit>(geminiKey_)](std::optional<std::string> masked) {
    if (field && masked) field->setPlaceholderText(QString::fromStdString(*masked));
  });
  refiningForm->addRow(tr("Gemini API key:"), geminiKey_);
  panes_->addTab(refining, tr("Refining"));

  focusObserver_ = notifications.addObserver(std::string(notifications::kFocusGeminiApiKey),
                                             [this](const platform::Notification&) { focusGeminiApiKey(); });
}

SettingsView::Pane SettingsView::currentPane() const {
  return Pane(panes_->currentIndex());
}

void SettingsView::focusGeminiApiKey() {
  if (!isVisible()) return;
  panes_->setCurrentIndex(refining);
  // After the pane switch has been laid out, like a focus request queued behind it.
  QPointer<QLineEdit> field = geminiKey_;
  executor_.post([field] {
    if (field) field->setFocus(Qt::OtherFocusReason);
  });
}

}  // namespace quorvelle
