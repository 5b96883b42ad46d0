#include <gtest/gtest.h>

#include <QVBoxLayout>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "DiziZoz/core/DiziZozConfig.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "app/ViewAppearanceReporter.h"
#include "tests/support/dizizoz/FakeIntegrations.h"
#include "tests/support/dizizoz/TestServices.h"

namespace shop {

// Attaches its reporter while it is still being built, when the widget's class is not yet final.
class ProfileScreen final : public QWidget {
 public:
  explicit ProfileScreen(std::shared_ptr<dizizoz::DiziZozSDK> client) {
    quorvelle::ViewAppearanceReporter::screenView(this, std::nullopt, std::nullopt, std::move(client));
  }
};

}  // namespace shop

namespace {

using dizizoz::DiziZozConfig;
using dizizoz::DiziZozSDK;
using quorvelle::ViewAppearanceReporter;

class ViewAppearanceReporterTest : public ::testing::Test {
 protected:
  ViewAppearanceReporterTest() {
    dizizoz::test::registerFakeIntegrations();
    auto options = std::make_shared<DiziZozConfig>(
        std::string("phc_widgets_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    options->disableFlushOnBackgroundForTesting = true;
    client = ts.client(options);
    client->setup(options);
  }

  // "event:screen name" for screen views, the event name otherwise.
  std::vector<std::string> captured() const {
    std::vector<std::string> out;
    for (const auto& e : ts.lastEventQueue()->records()) {
      out.push_back(e.event == "$screen" ? "$screen:" + e.properties["$screen_name"].get<std::string>()
                                         : e.event);
    }
    return out;
  }

  dizizoz::test::TestServices ts;
  std::shared_ptr<DiziZozSDK> client;
};

TEST_F(ViewAppearanceReporterTest, AnUnnamedScreenIsTheWidgetClassAndEveryShowCounts) {
  shop::ProfileScreen screen(client);
  screen.show();
  screen.hide();
  screen.show();
  EXPECT_EQ(captured(), (std::vector<std::string>{"$screen:ProfileScreen", "$screen:ProfileScreen"}));
}

TEST_F(ViewAppearanceReporterTest, AChildAppearsWithItsWindowUnlessHiddenItself) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* banner = new QWidget;
  auto* details = new QWidget;
  layout->addWidget(banner);
  layout->addWidget(details);
  ViewAppearanceReporter::viewSeen(banner, "Banner Seen", dizizoz::Properties{{"slot", 1}}, client);
  ViewAppearanceReporter::screenView(details, "Details", std::nullopt, client);

  window.show();
  details->hide();
  window.hide();
  window.show();
  EXPECT_EQ(captured(), (std::vector<std::string>{"Banner Seen", "$screen:Details", "Banner Seen"}));
  EXPECT_EQ(ts.lastEventQueue()->records().front().properties["slot"], 1);

  // The reporter ends with its widget.
  delete banner;
  window.hide();
  window.show();
  EXPECT_EQ(captured().size(), 3u);
}

}  // namespace
