#include "app/SelectionCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/ManualExecutor.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/ScriptedAccessibility.h"

namespace quorvelle {
namespace {

using namespace std::chrono_literals;
using platform::Keystroke;
using platform::PasteboardItem;

const Keystroke kCopy{"AB03", Keystroke::control};

PasteboardItem textItem(const std::string& text) {
  return PasteboardItem{{{"text/plain", text}}};
}

// The application in front: what it puts on the pasteboard when it receives the copy keystroke.
struct SelectionCaptureTest : testing::Test {
  SelectionCaptureTest() {
    keys.onSend = [this](const Keystroke& k) {
      if (k == kCopy) pasteboard.simulateCopy(frontAppSelection);
    };
  }

  // Starts a capture; the result lands in the returned slot (outer optional: called yet?).
  std::shared_ptr<std::optional<std::optional<std::string>>> capture() {
    auto result = std::make_shared<std::optional<std::optional<std::string>>>();
    capturer.captureSelection([result](std::optional<std::string> text) {
      ASSERT_FALSE(result->has_value()) << "completion called twice";
      *result = std::move(text);
    });
    return result;
  }

  platform::fake::ManualExecutor executor;
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::RecordingKeystrokeSender keys;
  std::optional<std::string> frontAppSelection;  // nothing: the application ignores Ctrl+C
  SelectionCapture capturer{accessibility, pasteboard, keys, executor};
};

TEST_F(SelectionCaptureTest, AccessibilityTextIsUsedAtOnceUntrimmedWithoutTouchingThePasteboard) {
  accessibility.selectedText = "  spaced out \n";
  pasteboard.contents = {textItem("user clipboard")};
  const auto count = pasteboard.changeCount();

  auto result = capture();

  ASSERT_TRUE(result->has_value());  // before captureSelection returned
  EXPECT_EQ(**result, "  spaced out \n");
  EXPECT_TRUE(keys.sent.empty());
  EXPECT_EQ(pasteboard.changeCount(), count);
  EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST_F(SelectionCaptureTest, NoOrEmptyAccessibilityTextFallsBackToTheCopyKeystroke) {
  for (const auto& axText : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
    platform::fake::ManualExecutor exec;
    platform::fake::RecordingKeystrokeSender sender;
    platform::fake::MemoryPasteboard board;
    sender.onSend = [&](const Keystroke&) { board.simulateCopy("copied"); };
    accessibility.selectedText = axText;
    SelectionCapture c(accessibility, board, sender, exec);
    std::optional<std::string> got;
    c.captureSelection([&](std::optional<std::string> t) { got = std::move(t); });
    exec.advance(150ms);
    EXPECT_EQ(sender.sent, std::vector<Keystroke>{kCopy});
    EXPECT_EQ(got, "copied");
  }
}

// The application in front answers in its own time: nothing happens until it has, and an empty answer
// still leads to the copy.
TEST_F(SelectionCaptureTest, AnAccessibilityAnswerThatComesLaterIsAwaited) {
  accessibility.answerLater = true;
  frontAppSelection = "copied";
  accessibility.selectedText = "late words";
  auto first = capture();
  EXPECT_FALSE(first->has_value());
  accessibility.answerPending();
  ASSERT_TRUE(first->has_value());
  EXPECT_EQ(**first, "late words");
  EXPECT_TRUE(keys.sent.empty());

  accessibility.selectedText = "";
  auto second = capture();
  executor.advance(1s);
  EXPECT_TRUE(keys.sent.empty());
  accessibility.answerPending();
  executor.advance(150ms);
  EXPECT_EQ(keys.sent, std::vector<Keystroke>{kCopy});
  EXPECT_EQ(*second, std::optional<std::string>("copied"));
}

TEST_F(SelectionCaptureTest, CopiedTextIsReadAfterTheSettleDelayCountedFromTheKeystroke) {
  frontAppSelection = "hello";
  keys.holdKeys = true;  // the user still holds the hot key
  auto result = capture();

  executor.advance(500ms);
  EXPECT_TRUE(keys.sent.empty());
  EXPECT_FALSE(result->has_value());

  keys.releaseKeys();
  EXPECT_EQ(keys.sent, std::vector<Keystroke>{kCopy});
  executor.advance(149ms);
  EXPECT_FALSE(result->has_value());
  executor.advance(1ms);
  ASSERT_TRUE(result->has_value());
  EXPECT_EQ(**result, "hello");
}

// Nothing copied: the user's own contents are still there, and are left as they are.
TEST_F(SelectionCaptureTest, UnchangedPasteboardGivesNothingAndIsLeftAlone) {
  pasteboard.contents = {textItem("user clipboard")};
  const auto count = pasteboard.changeCount();
  auto result = capture();
  executor.advance(150ms);

  ASSERT_TRUE(result->has_value());
  EXPECT_EQ(**result, std::nullopt);  // not the user's clipboard text
  EXPECT_EQ(pasteboard.changeCount(), count);
  EXPECT_EQ(pasteboard.contents, std::vector<PasteboardItem>{textItem("user clipboard")});
}

// The copy waits for the snapshot, however long that takes; a snapshot that cannot be taken whole means
// no copy at all, and nothing selected.
TEST_F(SelectionCaptureTest, TheCopyWaitsForTheSnapshotAndIsNotTypedWhenItCannotBeTaken) {
  for (const bool unreadable : {false, true}) {
    SCOPED_TRACE(unreadable ? "unreadable" : "readable");
    platform::fake::ManualExecutor exec;
    platform::fake::RecordingKeystrokeSender sender;
    platform::fake::MemoryPasteboard board;
    board.contents = {textItem("user clipboard")};
    board.answerLater = true;
    board.unreadable = unreadable;
    sender.onSend = [&](const Keystroke&) { board.simulateCopy("copied"); };
    SelectionCapture c(accessibility, board, sender, exec);
    std::optional<std::optional<std::string>> got;
    c.captureSelection([&](std::optional<std::string> t) { got = std::move(t); });
    exec.advance(1s);
    EXPECT_TRUE(sender.sent.empty()) << "copied before the clipboard was saved";

    board.answerPending();
    exec.runUntilIdle();
    exec.advance(150ms);
    board.answerPending();  // the copied text
    exec.runUntilIdle();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, unreadable ? std::nullopt : std::optional<std::string>("copied"));
    EXPECT_EQ(sender.sent.size(), unreadable ? 0u : 1u);
    EXPECT_EQ(board.contents, std::vector<PasteboardItem>{textItem("user clipboard")});
  }
}

TEST_F(SelectionCaptureTest, EveryItemAndReadableTypeIsRestoredInOrder) {
  const std::string binary("\x89PNG\0\r\n\0", 8);
  pasteboard.contents = {
      PasteboardItem{{{"text/html", "<b>rich</b>"}, {"text/plain", "rich"}, {"application/x-broken", "?"}}},
      PasteboardItem{{{"image/png", binary}}},
  };
  pasteboard.unreadableTypes = {"application/x-broken"};
  frontAppSelection = "selected";

  auto result = capture();
  executor.advance(150ms);

  EXPECT_EQ(**result, "selected");
  pasteboard.unreadableTypes.clear();
  EXPECT_EQ(pasteboard.contents, (std::vector<PasteboardItem>{
                                     PasteboardItem{{{"text/html", "<b>rich</b>"}, {"text/plain", "rich"}}},
                                     PasteboardItem{{{"image/png", binary}}},
                                 }));
}

TEST_F(SelectionCaptureTest, CopiedTextIsTrimmedOfUnicodeWhiteSpace) {
  const std::pair<std::string, std::string> cases[] = {
      {" \t\n  \r\n", ""},  // only white space: empty, not nothing
      {"\n  two words\t\n", "two words"},
      {"\u00a0\u3000nbsp\u2029", "nbsp"},
      {"inner  \n  space", "inner  \n  space"},
  };
  for (const auto& [copied, expected] : cases) {
    frontAppSelection = copied;
    auto result = capture();
    executor.advance(150ms);
    ASSERT_TRUE(result->has_value());
    EXPECT_EQ(**result, expected) << copied;
  }
}

TEST_F(SelectionCaptureTest, EmptyPasteboardStaysEmptyAfterTheCopyWasRead) {
  frontAppSelection = "copied";
  auto result = capture();
  executor.advance(150ms);
  EXPECT_EQ(**result, "copied");
  EXPECT_TRUE(pasteboard.contents.empty());
}

// A second press while the first capture waits for its copy must not snapshot the first capture's copied
// text as if it were the user's clipboard.
TEST_F(SelectionCaptureTest, OverlappingCapturesRunOneAfterTheOtherAndKeepTheUserClipboard) {
  pasteboard.contents = {textItem("user clipboard")};
  frontAppSelection = "first";
  auto first = capture();
  executor.advance(50ms);
  frontAppSelection = "second";
  auto second = capture();
  EXPECT_EQ(keys.sent.size(), 1u);  // the second keystroke waits

  executor.advance(100ms);
  EXPECT_EQ(**first, "first");
  EXPECT_FALSE(second->has_value());
  EXPECT_EQ(keys.sent.size(), 2u);

  executor.advance(150ms);
  ASSERT_TRUE(second->has_value());
  EXPECT_EQ(**second, "second");
  EXPECT_EQ(pasteboard.contents, std::vector<PasteboardItem>{textItem("user clipboard")});
}

TEST_F(SelectionCaptureTest, RefusedRestoreStillCompletes) {
  pasteboard.contents = {textItem("user clipboard")};
  frontAppSelection = "copied";
  auto result = capture();
  pasteboard.refuseWrites = true;
  executor.advance(150ms);
  EXPECT_EQ(**result, "copied");
}

TEST_F(SelectionCaptureTest, DestroyedCaptureDropsItsPendingCompletion) {
  frontAppSelection = "copied";
  bool called = false;
  {
    SelectionCapture shortLived(accessibility, pasteboard, keys, executor);
    shortLived.captureSelection([&](std::optional<std::string>) { called = true; });
  }
  executor.advance(1s);
  EXPECT_FALSE(called);

  // Also when the accessibility service answers after the capture has gone.
  accessibility.answerLater = true;
  accessibility.selectedText = "late words";
  {
    SelectionCapture shortLived(accessibility, pasteboard, keys, executor);
    shortLived.captureSelection([&](std::optional<std::string>) { called = true; });
  }
  accessibility.answerPending();
  executor.advance(1s);
  EXPECT_FALSE(called);
}

// An application that owns the clipboard may copy onto it without claiming it again: the change count
// stays, and only the contents tell that it copied. Only the focused window's application is asked.
TEST_F(SelectionCaptureTest, ACopyOntoTheFocusedApplicationsOwnClipboardIsSeenByItsContents) {
  struct Case {
    const char* name;
    bool focusedOwnsClipboard;
    std::string copied;  // what the application puts on its clipboard without claiming it
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"the focused application's clipboard changed", true, "  the selection\n", "the selection"},
      {"the focused application's clipboard holds the same", true, "user clipboard", std::nullopt},
      {"another application's clipboard is not looked into", false, "the selection", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::fake::ManualExecutor exec;
    platform::fake::RecordingKeystrokeSender sender;
    platform::fake::MemoryPasteboard board;
    board.contents = {textItem("user clipboard")};
    const auto saved = board.contents;
    sender.onSend = [&](const Keystroke&) { board.simulateCopyWithoutClaim(c.copied); };
    platform::fake::ScriptedAccessibility ax;
    ax.ownsClipboard = c.focusedOwnsClipboard;
    SelectionCapture capturer2(ax, board, sender, exec);
    std::optional<std::optional<std::string>> got;
    capturer2.captureSelection([&](std::optional<std::string> t) { got = std::move(t); });
    exec.advance(150ms);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, c.expected);
    if (c.expected) {
      EXPECT_EQ(board.contents, saved) << "the user's clipboard is put back";
    }
  }
}

TEST_F(SelectionCaptureTest, RequestAccessibility) {
  struct Case {
    bool trusted;
    bool urlOpens;
    AccessibilityRequestResult expected;
    std::size_t urlsOpened;
  };
  const Case cases[] = {
      {true, false, AccessibilityRequestResult::trusted, 0},
      {false, true, AccessibilityRequestResult::settingsOpened, 1},
      {false, false, AccessibilityRequestResult::failed, 1},
  };
  for (const auto& c : cases) {
    platform::fake::ScriptedAccessibility ax;
    ax.trusted = c.trusted;
    ax.urlOpens = c.urlOpens;
    SelectionCapture capturer2(ax, pasteboard, keys, executor);
    EXPECT_EQ(capturer2.requestAccessibility(), c.expected);
    ASSERT_EQ(ax.openedURLs.size(), c.urlsOpened);
    if (c.urlsOpened) {
      EXPECT_EQ(ax.openedURLs[0], SelectionCapture::privacyPaneURL);
    }
  }
}

TEST_F(SelectionCaptureTest, PostCommandKeySendsThePhysicalKeyWithControl) {
  capturer.postCommandKey(SelectionCapture::pasteKeyCode);
  capturer.postCommandKey(SelectionCapture::copyKeyCode);
  capturer.postCommandKey(0x7f);  // no key there: dropped
  EXPECT_EQ(keys.sent, (std::vector<Keystroke>{{"AB04", Keystroke::control}, kCopy}));
}

// A terminal takes its own copy and paste keys; one that has none gets no keystroke, and its copy
// fallback gives nothing without touching the pasteboard.
TEST_F(SelectionCaptureTest, TerminalsGetTheirOwnCopyAndPasteKeysOrNone) {
  using platform::CopyPasteKeys;
  accessibility.copyPasteKeys = CopyPasteKeys::withShift;
  capturer.postCommandKey(SelectionCapture::pasteKeyCode);
  auto result = capture();
  executor.advance(150ms);
  ASSERT_TRUE(result->has_value());
  const std::uint8_t shifted = Keystroke::control | Keystroke::shift;
  EXPECT_EQ(keys.sent, (std::vector<Keystroke>{{"AB04", shifted}, {"AB03", shifted}}));

  keys.sent.clear();
  accessibility.copyPasteKeys = CopyPasteKeys::none;
  pasteboard.contents = {textItem("user clipboard")};
  const auto count = pasteboard.changeCount();
  capturer.postCommandKey(SelectionCapture::pasteKeyCode);
  result = capture();
  executor.advance(150ms);
  ASSERT_TRUE(result->has_value());
  EXPECT_EQ(**result, std::nullopt);
  EXPECT_TRUE(keys.sent.empty());
  EXPECT_EQ(pasteboard.changeCount(), count);
}

}  // namespace
}  // namespace quorvelle
