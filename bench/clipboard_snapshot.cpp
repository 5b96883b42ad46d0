// What saving the user's clipboard costs the copy fallback when it holds a large image: the program's
// snapshot (every type, large ones taken in parts, on its own X connection) against a plain copy of the
// same bytes by xclip, a standard clipboard tool. The clipboard is served by tools/clipboard-owner, in
// parts as toolkits do. Needs an X server: run it as `scripts/with-xvfb.sh
// build/release/bench/bench_clipboard_snapshot`.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryFile>
#include <optional>
#include <vector>

#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/X11ClipboardPasteboard.h"
#include "platform/linux/desktop/X11Connection.h"

namespace {

QApplication& application() {
  static int argc = 1;
  static char name[] = "bench_clipboard_snapshot";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "xcb");
  static QApplication app(argc, argv);
  return app;
}

// Another application's clipboard holding `megabytes` of image bytes and a line of text.
class ImageOnTheClipboard {
 public:
  explicit ImageOnTheClipboard(int megabytes) {
    file_.open();
    QByteArray bytes(qsizetype{megabytes} << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    file_.write(bytes);
    file_.close();
    owner_.start(QStringLiteral(QUORVELLE_BENCH_BINARY_DIR "/tools/clipboard-owner"),
                 {"image/png", "@" + file_.fileName(), "text/plain", "user text"});
    owner_.waitForStarted();
    while (!owner_.canReadLine() && owner_.state() == QProcess::Running) owner_.waitForReadyRead(100);
  }
  ~ImageOnTheClipboard() {
    owner_.kill();
    owner_.waitForFinished();
  }
  bool ready() const { return owner_.state() == QProcess::Running; }

 private:
  QTemporaryFile file_;
  QProcess owner_;
};

void snapshot(benchmark::State& state) {
  application();
  auto x11 = platform::X11Connection::open();
  if (!x11) return state.SkipWithError("no X server (run under scripts/with-xvfb.sh)");
  platform::QtMainExecutor executor;
  platform::X11ClipboardPasteboard pasteboard(*x11, executor);
  const ImageOnTheClipboard clipboard(static_cast<int>(state.range(0)));
  if (!clipboard.ready()) return state.SkipWithError("tools/clipboard-owner did not start");
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::optional<std::optional<std::vector<platform::PasteboardItem>>> items;
    pasteboard.readItems([&](auto read) { items = std::move(read); });
    while (!items) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!*items || items->value().empty()) return state.SkipWithError("the snapshot could not be taken");
    bytes = 0;
    for (const auto& entry : items->value().front().entries) bytes += entry.data.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

// The anchor: xclip copying the image's bytes out of the same clipboard.
void xclipCopy(benchmark::State& state) {
  application();
  const ImageOnTheClipboard clipboard(static_cast<int>(state.range(0)));
  if (!clipboard.ready()) return state.SkipWithError("tools/clipboard-owner did not start");
  qint64 bytes = 0;
  for (auto _ : state) {
    QProcess xclip;
    xclip.start("xclip", {"-o", "-selection", "clipboard", "-t", "image/png"});
    QByteArray out;
    while (xclip.state() != QProcess::NotRunning || xclip.bytesAvailable() > 0) {
      xclip.waitForReadyRead(50);
      out += xclip.readAllStandardOutput();
    }
    bytes = out.size();
  }
  state.SetBytesProcessed(bytes * state.iterations());
}

BENCHMARK(snapshot)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(xclipCopy)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
