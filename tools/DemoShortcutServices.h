#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "GlobalShortcuts/MenuTree.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/desktop/MessageBoxAlertPresenter.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/QtSystemBeep.h"
#include "platform/linux/desktop/QtSystemInfo.h"
#include "platform/linux/desktop/X11Connection.h"
#include "program/X11ShortcutServices.h"

// The program's shortcut services for a demo tool: the X11 hot keys and keyboard layout, the program's
// settings (so what a demo stores, the program uses too), the user's languages, message-box alerts and
// the desktop's beep. Make it after the QApplication; open() says on stderr, under the tool's name, when
// there is no X11 display to work with, and gives nothing.
struct DemoShortcutServices {
  static std::unique_ptr<DemoShortcutServices> open(const char* tool,
                                                    std::function<GlobalShortcuts::Menu()> mainMenu = {}) {
    auto x11 = platform::X11Connection::open();
    if (!x11) {
      std::fprintf(stderr, "%s: no X11 display with the XKB extension\n", tool);
      return nullptr;
    }
    auto demo = std::make_unique<DemoShortcutServices>();
    demo->x11 = std::move(x11);
    demo->services.emplace(*demo->x11, demo->executor, demo->defaults, &demo->system, std::move(mainMenu),
                           &demo->alerts, &demo->beep);
    return demo;
  }

  std::unique_ptr<platform::X11Connection> x11;
  platform::QtMainExecutor executor;
  platform::FileUserDefaults defaults;
  platform::QtSystemInfo system;
  platform::MessageBoxAlertPresenter alerts;
  platform::QtSystemBeep beep;
  // Last: ended first, while the services it uses still exist.
  std::optional<quorvelle::X11ShortcutServices> services;
};
