#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/DeviceIdentity.h"
#include "platform/fake/FixedMachineIdentity.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MapBundleInfo.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/fake/SeededRandom.h"
#include "platform/linux/desktop/QtAppWindowHost.h"
#include "tests/GlobalShortcuts/ShortcutsTestEnvironment.h"
#include "tests/support/RecordingAnalyticsClient.h"
#include "ui/OnboardingView.h"
#include "ui/SettingsView.h"

namespace quorvelle {
namespace {

struct WindowsTest : testing::Test {
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FixedSystemInfo system{{"fr-FR"}};
  AppSettings settings{defaults, system};
  test::RecordingAnalyticsClient client;
  platform::fake::MapBundleInfo bundle{{{"DiziZozAPIKey", "phc_key"}, {"DiziZozHost", "https://eu.example"}}};
  platform::fake::FixedMachineIdentity machine{"6F1C2D3E-0000-4000-8000-123456789ABC"};
  platform::fake::SeededRandom random{1};
  DeviceIdentity device{machine, defaults, random};
  Analytics analytics{client, bundle, device};
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

TEST_F(WindowsTest, OnboardingStoresTheLanguageCompletesReportsAndFinishesOnce) {
  analytics.setUp();
  int finished = 0;
  OnboardingView view(settings, analytics, [&] {
    // Everything is stored before the window is told.
    EXPECT_TRUE(defaults.boolForKey(AppSettings::kHasCompletedOnboarding));
    ++finished;
  });
  EXPECT_EQ(view.languagePicker()->currentData().toString(), "fr");  // the system's language first
  view.languagePicker()->setCurrentIndex(view.languagePicker()->findData("ja"));
  QTest::mouseClick(view.finishButton(), Qt::LeftButton);
  view.finish();

  EXPECT_EQ(finished, 1);
  EXPECT_EQ(defaults.stringForKey(AppSettings::kTargetLanguage), "ja");
  ASSERT_EQ(client.captures.size(), 1u);
  EXPECT_EQ(client.captures[0].event, "onboarding_completed");
}

TEST_F(WindowsTest, OnboardingWithAnalyticsOffStillCompletes) {
  int finished = 0;
  OnboardingView view(settings, analytics, [&] { ++finished; });
  view.finish();
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(client.captures.empty());
}

TEST_F(WindowsTest, WindowHostFlipsGeometryFitsItsContentAndSurvivesBeingDroppedFromItsContent) {
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

  // Dropping the window from inside its content's own signal must not delete the content under it.
  platform::fake::MemoryUserDefaults otherDefaults;
  AppSettings other{otherDefaults, system};
  std::unique_ptr<platform::AppWindow> onboarding;
  auto* view = new OnboardingView(other, analytics, [&] { onboarding.reset(); });
  onboarding = host.makeWindow(view);
  onboarding->makeKeyAndOrderFront();
  QTest::mouseClick(view->finishButton(), Qt::LeftButton);
  EXPECT_EQ(onboarding, nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace quorvelle
