#include "platform/linux/desktop/QtSystemInfo.h"

#include <QLocale>
#include <QStringList>

namespace platform {

std::vector<std::string> QtSystemInfo::preferredLanguages() const {
  std::vector<std::string> out;
  for (const QString& language : QLocale::system().uiLanguages()) out.push_back(language.toStdString());
  return out;
}

}  // namespace platform
