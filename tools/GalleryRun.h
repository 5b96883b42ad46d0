#pragma once

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

// What a gallery tool needs around its QApplication: the offscreen platform unless QT_QPA_PLATFORM says
// otherwise, a private runtime folder when there is none (Qt warns without one), and a count of Qt's
// warnings, each also printed under the tool's name. Make it before the QApplication; install() once the
// QApplication exists. Main thread.
class GalleryRun {
 public:
  explicit GalleryRun(const char* tool) {
    tool_ = tool;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
      std::string pattern = std::string("/tmp/") + tool + "-XXXXXX";
      if (const char* made = mkdtemp(pattern.data())) {
        runtime_ = made;
        setenv("XDG_RUNTIME_DIR", made, 1);
      }
    }
  }
  ~GalleryRun() {
    if (!runtime_.isEmpty()) QDir(QString::fromLocal8Bit(runtime_)).removeRecursively();
  }
  GalleryRun(const GalleryRun&) = delete;
  GalleryRun& operator=(const GalleryRun&) = delete;

  void install() { qInstallMessageHandler(countWarning); }

  // Saves `widget` as <name>.png in `folder` and prints the path; false (said on stderr) when it cannot.
  static bool save(QWidget& widget, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name + ".png");
    if (!widget.grab().save(path)) {
      std::fprintf(stderr, "%s: cannot write %s\n", tool_, path.toLocal8Bit().constData());
      return false;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
    return true;
  }

  // The exit status: 0 when everything was written and Qt warned of nothing.
  int finish(bool written) const {
    if (warnings_ > 0) std::fprintf(stderr, "%s: %d warning(s)\n", tool_, warnings_);
    return written && warnings_ == 0 ? 0 : 1;
  }

 private:
  static void countWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg) return;
    ++warnings_;
    std::fprintf(stderr, "%s: %s\n", tool_, message.toLocal8Bit().constData());
  }

  static inline const char* tool_ = "";
  static inline int warnings_ = 0;
  QByteArray runtime_;
};
