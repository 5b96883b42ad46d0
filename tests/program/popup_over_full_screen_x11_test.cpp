// The popups over a full-screen window under openbox, which stacks a focused full-screen window in a layer
// above every other managed window: each popup shows above it, beside the pointer, and quick translate
// still takes the keyboard and gives it back.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <optional>
#include <vector>

#include "tests/program/ProgramX11Test.h"
#include "tests/support/Eventually.h"

namespace {

using namespace quorvelle::test;

xcb_connection_t* connection() {
  return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t rootWindow() {
  return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

// The children of the root window, bottom to top.
std::vector<xcb_window_t> stackingOrder() {
  auto* tree = xcb_query_tree_reply(connection(), xcb_query_tree(connection(), rootWindow()), nullptr);
  if (tree == nullptr) return {};
  const xcb_window_t* children = xcb_query_tree_children(tree);
  std::vector<xcb_window_t> order(children, children + xcb_query_tree_children_length(tree));
  std::free(tree);
  return order;
}

// The child of the root that holds `window`: the window manager's frame of a managed window, the window
// itself when nobody reparented it.
std::optional<xcb_window_t> topLevelOf(xcb_window_t window) {
  for (int depth = 0; depth < 16; ++depth) {
    auto* tree = xcb_query_tree_reply(connection(), xcb_query_tree(connection(), window), nullptr);
    if (tree == nullptr) return std::nullopt;
    const xcb_window_t parent = tree->parent;
    std::free(tree);
    if (parent == rootWindow()) return window;
    window = parent;
  }
  return std::nullopt;
}

bool isStackedAbove(xcb_window_t upper, xcb_window_t lower) {
  const auto order = stackingOrder();
  const auto up = std::find(order.begin(), order.end(), upper);
  const auto low = std::find(order.begin(), order.end(), lower);
  return up != order.end() && low != order.end() && up > low;
}

xcb_window_t idOf(const QString& window) {
  return static_cast<xcb_window_t>(window.toULong());
}

class PopupOverFullScreenX11Test : public ProgramX11Test {
 protected:
  // The full-screen window with the keyboard focus, once openbox has made it cover the screen.
  void showFullScreen(TkTextWindow& window) {
    ASSERT_TRUE(window.isReady()) << "wish did not start (scripts/setup.sh installs tk)";
    window.focus();
    const auto found = waitForWindowNamed("full screen");
    ASSERT_TRUE(found);
    client_ = idOf(*found);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto frame = windowGeometry(*found);
          return frame && *frame == screen;
        },
        "the window covers the screen"));
    const auto top = topLevelOf(client_);
    ASSERT_TRUE(top);
    fullScreenFrame_ = *top;
  }

  // The popup, once it is mapped above the full-screen window with its top-left corner beside the
  // pointer.
  void expectPopupAboveAtThePointer(QPoint pointer) {
    const auto popup = waitForPopup();
    ASSERT_TRUE(popup) << "no popup mapped";
    EXPECT_TRUE(waitUntil([&] { return isStackedAbove(idOf(*popup), fullScreenFrame_); },
                          "the popup is stacked above the full-screen window"));
    const auto frame = windowGeometry(*popup);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->topLeft(), pointer + QPoint(-20, 24));
  }

  xcb_window_t client_ = 0;
  xcb_window_t fullScreenFrame_ = 0;
};

TEST_F(PopupOverFullScreenX11Test, TranslateRefineAndQuickTranslateShowAboveAFullScreenWindow) {
  TkTextWindow window({.title = "full screen", .text = "hello there", .fullScreen = true});
  ASSERT_NO_FATAL_FAILURE(showFullScreen(window));
  const QPoint pointer(400, 300);

  // Translate: the word selected in the full-screen window.
  window.select(0, 5);
  ASSERT_TRUE(waitForPrimary("hello"));
  ASSERT_NO_FATAL_FAILURE(pointerTo(pointer));
  xdotool({"key", "alt+t"});
  ASSERT_NO_FATAL_FAILURE(expectPopupAboveAtThePointer(pointer));
  ASSERT_TRUE(waitForRequest("GET /lookup/hello?accent=uk"));
  clickAt({900, 700});
  ASSERT_TRUE(waitForNoPopup());

  // Refine: the whole text.
  window.focus();
  window.select(0, 11);
  ASSERT_TRUE(waitForPrimary("hello there"));
  ASSERT_NO_FATAL_FAILURE(pointerTo(pointer));
  xdotool({"key", "alt+r"});
  ASSERT_NO_FATAL_FAILURE(expectPopupAboveAtThePointer(pointer));
  ASSERT_TRUE(waitForRequest("POST /refine apiKey,language,text"));
  clickAt({900, 700});
  ASSERT_TRUE(waitForNoPopup());

  // Quick translate: nothing selected. It takes the keyboard from the full-screen window, and gives it
  // back when it closes.
  window.focus();
  QGuiApplication::clipboard()->clear(QClipboard::Selection);
  ASSERT_TRUE(waitForPrimary(""));
  ASSERT_NO_FATAL_FAILURE(pointerTo(pointer));
  xdotool({"key", "alt+t"});
  ASSERT_NO_FATAL_FAILURE(expectPopupAboveAtThePointer(pointer));
  xdotool({"type", "--delay", "30", "water"});
  EXPECT_TRUE(waitForRequest("POST /translate target,text")) << requests_.join('\n').toStdString();
  xdotool({"key", "Escape"});
  ASSERT_TRUE(waitForNoPopup());
  xdotool({"type", "--delay", "30", "!"});
  EXPECT_TRUE(waitUntil([&] { return window.text().value_or("").contains('!'); },
                        "typing reaches the full-screen window again"));
  EXPECT_FALSE(window.text().value_or("").contains("water")) << "quick translate's typing went elsewhere";
}

}  // namespace
