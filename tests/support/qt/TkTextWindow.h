#pragma once

#include <QProcess>
#include <QRect>
#include <QString>
#include <optional>

namespace quorvelle::test {

// A one-line text field in a window of another X client, Tk's `wish`: a real application that the
// program did not write, whose field selects, copies (Ctrl+C) and pastes (Ctrl+V) as Tk does. With
// `exportSelection` its selection is the PRIMARY selection, as in most X applications; without, Tk keeps
// the selection to the field.
//
// Main thread of a Qt test; the process ends with the object.
class TkTextWindow {
 public:
  struct Options {
    QString title = QStringLiteral("tk-text-window");
    QString text;
    QRect geometry{100, 100, 400, 40};
    bool exportSelection = true;
    // Asks the window manager for a full-screen window (the geometry is then the window manager's).
    bool fullScreen = false;
  };

  explicit TkTextWindow(Options options);
  ~TkTextWindow();
  TkTextWindow(const TkTextWindow&) = delete;
  TkTextWindow& operator=(const TkTextWindow&) = delete;

  // True once the window is mapped and answering.
  bool isReady() const { return ready_; }
  // Selects the characters [from, to) of the field.
  void select(int from, int to);
  // Takes the X input focus into the field (as a click would, also without a window manager).
  void focus();
  // Puts `text` on the clipboard as a copy in Tk does: Tk claims the clipboard the first time and, while
  // it owns it, changes its contents without claiming it again.
  void copyToClipboard(const QString& text);
  // The field's text, or nothing when Tk did not answer.
  std::optional<QString> text();
  // The X window the window manager framed the window in (Tk's id, in hex).
  std::optional<QString> window();

 private:
  // Runs `command` in the Tk interpreter and returns what it printed (one line).
  std::optional<QString> ask(const QString& command);

  QProcess process_;
  bool ready_ = false;
};

}  // namespace quorvelle::test
