#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "DiziZoz/core/Value.h"
#include "DiziZoz/integrations/DiziZozSwiftUIViewModifier.h"

namespace dizizoz {
class DiziZozSDK;
}

namespace quorvelle {

// Reports a widget's appearances to analytics, as a screen view or as a named event, through the
// client's view helpers: every show of the widget counts (shown, hidden and shown again reports twice),
// whether it was shown itself or with its window; hiding reports nothing, and neither does a window
// coming back from being minimised.
//
// The reporter is a child of the widget and ends with it. Main thread only.
class ViewAppearanceReporter final : public QObject {
 public:
  // A screen view on every appearance. Without a name the screen is named after the widget's class
  // without namespaces, read when the widget is first shown, so a reporter attached in a constructor
  // names the finished class rather than a base.
  static ViewAppearanceReporter* screenView(QWidget* widget,
                                            std::optional<std::string> screenName = std::nullopt,
                                            std::optional<dizizoz::Properties> properties = std::nullopt,
                                            std::shared_ptr<dizizoz::DiziZozSDK> client = nullptr);
  // The event `eventName` on every appearance.
  static ViewAppearanceReporter* viewSeen(QWidget* widget, std::string eventName,
                                          std::optional<dizizoz::Properties> properties = std::nullopt,
                                          std::shared_ptr<dizizoz::DiziZozSDK> client = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ViewAppearanceReporter(QWidget* widget, bool screenEvent, std::optional<std::string> name,
                         std::optional<dizizoz::Properties> properties,
                         std::shared_ptr<dizizoz::DiziZozSDK> client);

  QPointer<QWidget> widget_;
  const bool screenEvent_;
  std::optional<std::string> name_;
  std::optional<dizizoz::Properties> properties_;
  std::shared_ptr<dizizoz::DiziZozSDK> client_;
  // Made at the first appearance, once the widget's class is final.
  std::optional<dizizoz::DiziZozSwiftUIViewModifier> modifier_;
};

}  // namespace quorvelle
