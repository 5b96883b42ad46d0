#include "ui/OnboardingView.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Language.h"

namespace quorvelle {

OnboardingView::OnboardingView(AppSettings& settings, Analytics& analytics, std::function<void()> onFinish,
                               QWidget* parent)
    : QWidget(parent), settings_(settings), analytics_(analytics), onFinish_(std::move(onFinish)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(32, 32, 32, 32);
  auto* title = new QLabel(tr("Welcome to Quorvelle"), this);
  QFont font = title->font();
  font.setPointSizeF(font.pointSizeF() * 1.6);
  font.setBold(true);
  title->setFont(font);
  layout->addWidget(title);
  layout->addWidget(new QLabel(tr("Select text anywhere and press Alt+T to translate it, or Alt+R to refine "
                                  "a draft into clear English."),
                               this));
  layout->addWidget(new QLabel(tr("Translate into:"), this));
  language_ = new QComboBox(this);
  language_->setObjectName(QStringLiteral("targetLanguage"));
  const std::string current = settings_.targetLanguage();
  for (const auto& language : Language::all()) {
    language_->addItem(QString::fromStdString(language.flag + "  " + language.name),
                       QString::fromStdString(language.code));
    if (language.code == current) language_->setCurrentIndex(language_->count() - 1);
  }
  layout->addWidget(language_);
  finish_ = new QPushButton(tr("Get Started"), this);
  finish_->setObjectName(QStringLiteral("finish"));
  finish_->setDefault(true);
  layout->addWidget(finish_);
  connect(finish_, &QPushButton::clicked, this, [this] { finish(); });
}

void OnboardingView::finish() {
  if (!onFinish_) return;  // already finished
  settings_.defaults().set(AppSettings::kTargetLanguage, language_->currentData().toString().toStdString());
  settings_.defaults().set(AppSettings::kHasCompletedOnboarding, true);
  analytics_.capture(std::string(kCompletedEvent));
  finish_->setEnabled(false);
  // Moved out first: the callback closes the window that holds this view.
  auto onFinish = std::move(onFinish_);
  onFinish_ = nullptr;
  onFinish();
}

}  // namespace quorvelle
