// A tutorial page's state, completion, analytics and key prompt, apart from its widgets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppNotifications.h"
#include "tests/ui/TutorialWorld.h"
#include "ui/SettingsModel.h"
#include "ui/TutorialStepModel.h"

namespace quorvelle {
namespace {

using Action = TutorialAction;

struct TutorialStepModelTest : testing::Test, test::TutorialWorld {
  platform::fake::ManualExecutor& executor = env.executor;
  platform::NotificationCenter& notifications = env.notifications;

  void post(std::string_view name) { notifications.post(std::string(name)); }
};

TEST_F(TutorialStepModelTest, OnlyThePagesOwnNotificationCompletesItAndOnlyOnce) {
  struct Case {
    Action action;
    std::string_view own;
    std::vector<std::string_view> foreign;
  };
  const std::vector<Case> cases{
      {Action::translate,
       notifications::kDidTranslateSelection,
       {notifications::kDidOpenQuickTranslate, notifications::kDidReplaceRefined}},
      {Action::quickTranslate,
       notifications::kDidOpenQuickTranslate,
       {notifications::kDidTranslateSelection, notifications::kDidReplaceRefined}},
      {Action::refine,
       notifications::kDidReplaceRefined,
       {notifications::kDidTranslateSelection, notifications::kDidOpenQuickTranslate}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.own));
    done = false;
    TutorialStepModel model(c.action, "en", done, services, analytics);
    executor.runUntilIdle();
    int changes = 0;
    model.setOnChange([&] { ++changes; });
    for (auto name : c.foreign) post(name);
    EXPECT_FALSE(done);
    EXPECT_EQ(changes, 0);
    post(c.own);
    EXPECT_TRUE(done);
    EXPECT_EQ(changes, 1);
    post(c.own);
    EXPECT_TRUE(done);
    EXPECT_EQ(changes, 1) << "a repeat starts nothing";
  }
}

TEST_F(TutorialStepModelTest, TheRefinePageCompletesEvenWhileTheKeyPromptShows) {
  TutorialStepModel model(Action::refine, "en", done, services, analytics);
  executor.runUntilIdle();
  ASSERT_TRUE(model.showsKeyPrompt());
  post(notifications::kDidReplaceRefined);
  EXPECT_TRUE(done);
}

TEST_F(TutorialStepModelTest, ALeftPageNoLongerListens) {
  { TutorialStepModel model(Action::translate, "en", done, services, analytics); }
  post(notifications::kDidTranslateSelection);
  EXPECT_FALSE(done);
}

TEST_F(TutorialStepModelTest, ChangingTheShortcutReportsThePagesActionWithoutUserProperties) {
  analytics.setUp();
  client.captures.clear();
  const std::vector<std::pair<Action, std::string>> cases{
      {Action::translate, "translate"}, {Action::quickTranslate, "translate"}, {Action::refine, "refine"}};
  for (const auto& [action, name] : cases) {
    SCOPED_TRACE(name);
    TutorialStepModel model(action, "en", done, services, analytics);
    model.hotkeyChanged();
    ASSERT_EQ(client.captures.size(), 1u);
    const auto& capture = client.captures.front();
    EXPECT_EQ(capture.event, "onboarding_hotkey_customized");
    EXPECT_EQ(capture.properties, (dizizoz::Properties{{"action", name}}));
    EXPECT_EQ(capture.userProperties, std::nullopt) << "absent, not an empty dictionary";
    client.captures.clear();
  }
}

TEST_F(TutorialStepModelTest, WithAnalyticsOffChangingTheShortcutSendsNothing) {
  TutorialStepModel model(Action::refine, "en", done, services, analytics);
  model.hotkeyChanged();
  EXPECT_TRUE(client.captures.empty());
  EXPECT_TRUE(client.calls.empty());
}

TEST_F(TutorialStepModelTest, DraftsPickedByExactLanguageCode) {
  struct Case {
    std::string_view code;
    std::string_view startsWith;
    std::size_t bytes;
  };
  const std::vector<Case> cases{
      {"ru", "мне нужно", 72},   {"uk", "мені треба", 80},     {"es", "necesito", 47},
      {"de", "ich muss", 60},    {"fr", "je dois", 44},        {"en", "i has wrote", 60},
      {"RU", "i has wrote", 60}, {"ru-RU", "i has wrote", 60}, {"", "i has wrote", 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.code));
    const std::string_view draft = TutorialStepModel::refineSample(c.code);
    EXPECT_EQ(draft.substr(0, c.startsWith.size()), c.startsWith);
    EXPECT_EQ(draft.size(), c.bytes);
  }
}

TEST_F(TutorialStepModelTest, TheRefineDraftIsFilledWithoutAKeyAndEditsStay) {
  TutorialStepModel model(Action::refine, "de", done, services, analytics);
  executor.runUntilIdle();
  EXPECT_TRUE(model.showsKeyPrompt());
  EXPECT_EQ(model.sample(), TutorialStepModel::refineSample("de"));
  model.setSample("ich habe es geändert");
  EXPECT_EQ(model.sample(), "ich habe es geändert");
}

TEST_F(TutorialStepModelTest, TheTranslateWordRevertsEveryEdit) {
  TutorialStepModel model(Action::translate, "de", done, services, analytics);
  int changes = 0;
  model.setOnChange([&] { ++changes; });
  model.setSample("serendipityx");
  EXPECT_EQ(model.sample(), "serendipity");
  EXPECT_EQ(changes, 1) << "the view is told to show the word again";
}

TEST_F(TutorialStepModelTest, OnlyTheRefinePageWithoutAStoredKeyPrompts) {
  {
    TutorialStepModel model(Action::translate, "en", done, services, analytics);
    executor.runUntilIdle();
    EXPECT_FALSE(model.showsKeyPrompt());
  }
  storeKey();
  TutorialStepModel model(Action::refine, "en", done, services, analytics);
  executor.runUntilIdle();
  EXPECT_FALSE(model.showsKeyPrompt());
}

TEST_F(TutorialStepModelTest, SavingTrimsTheKeyAndShowsTheDraft) {
  TutorialStepModel model(Action::refine, "en", done, services, analytics);
  executor.runUntilIdle();
  model.addKey();
  EXPECT_TRUE(model.editingKey());

  // Blank input: Save stays off and Return stores nothing.
  model.setKeyInput(" \t\n ");
  EXPECT_FALSE(model.canSaveKey());
  model.saveKey();
  executor.runUntilIdle();
  EXPECT_EQ(storedKey(), std::nullopt);
  EXPECT_TRUE(model.editingKey());
  EXPECT_FALSE(model.keyBusy());

  model.setKeyInput("  AIza key with inner spaces\n");
  EXPECT_TRUE(model.canSaveKey());
  model.saveKey();
  EXPECT_TRUE(model.keyBusy());
  EXPECT_FALSE(model.canSaveKey());
  executor.runUntilIdle();
  EXPECT_EQ(storedKey(), "AIza key with inner spaces");
  EXPECT_FALSE(model.showsKeyPrompt());
  EXPECT_FALSE(model.editingKey());
  EXPECT_EQ(model.keyInput(), "");
  EXPECT_EQ(model.keyMessage(), "");
}

TEST_F(TutorialStepModelTest, AFailedSaveKeepsThePromptAndSaysSo) {
  TutorialStepModel model(Action::refine, "en", done, services, analytics);
  executor.runUntilIdle();
  model.addKey();
  model.setKeyInput("AIzaRefused");
  secrets.setFailing(true);
  model.saveKey();
  executor.runUntilIdle();
  EXPECT_TRUE(model.showsKeyPrompt());
  EXPECT_TRUE(model.editingKey());
  EXPECT_EQ(model.keyInput(), "AIzaRefused");
  EXPECT_EQ(model.keyMessage(), GeminiKeyManager::kSaveFailed);

  // A later save that works clears the message.
  secrets.setFailing(false);
  model.saveKey();
  executor.runUntilIdle();
  EXPECT_FALSE(model.showsKeyPrompt());
  EXPECT_EQ(model.keyMessage(), "");
}

TEST_F(TutorialStepModelTest, AnAnswerAfterThePageLeftIsDropped) {
  auto model = std::make_unique<TutorialStepModel>(Action::refine, "en", done, services, analytics);
  executor.runUntilIdle();
  model->addKey();
  model->setKeyInput("AIzaLate");
  model->saveKey();
  model.reset();
  executor.runUntilIdle();
  EXPECT_EQ(storedKey(), "AIzaLate");
}

TEST_F(TutorialStepModelTest, GetAFreeKeyOpensTheKeyPage) {
  TutorialStepModel model(Action::refine, "en", done, services, analytics);
  model.openKeyPage();
  ASSERT_EQ(workspace.openedURLs.size(), 1u);
  EXPECT_EQ(workspace.openedURLs.front(), SettingsModel::kKeyPageURL);
}

}  // namespace
}  // namespace quorvelle
