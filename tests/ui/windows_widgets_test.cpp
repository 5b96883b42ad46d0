#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/linux/desktop/QtAppWindowHost.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "ui/SettingsView.h"

namespace quorvelle {
namespace {

struct WindowsTest : testing::Test {
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system{{"fr-FR"}};
  AppSettings settings{defaults, system};
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::ManualWorkspace workspace;
  test::ShortcutsTestEnvironment shortcuts;
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  Keychain keychain{secrets, keyringWorker, shortcuts.executor};
  GeminiKeyManager geminiKey{keychain};
  WindowServices services{settings,          geminiKey, accessibility, workspace, shortcuts.notifications,
                          shortcuts.executor};
};

TEST_F(WindowsTest, WindowHostFlipsGeometryAndFitsItsContent) {
  platform::QtAppWindowHost host;
  auto* content = new SettingsView(services);
  auto window = host.makeWindow(content);
  EXPECT_EQ(window->contentFittingSize(), (platform::Size{640, 460}));
  window->setContentSize({640, 460});
  window->setFrameOrigin({30, 40});
  EXPECT_EQ(window->frame(), (platform::Rect{{30, 40}, {640, 460}}));
  window->makeKeyAndOrderFront();
  EXPECT_TRUE(window->isVisible());
  window->close();
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace quorvelle
