// clipboard-owner TYPE DATA [TYPE DATA]...
//
// Takes the clipboard (X11 CLIPBOARD) with DATA offered under each MIME TYPE (DATA "@PATH" offers the
// bytes of the file PATH), prints "ready" once it owns it and serves it until terminated or until
// standard input closes. A stand-in for "another
// application copied rich content", for tests and for trying the selection capture by hand.
#include <unistd.h>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QSocketNotifier>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: %s TYPE DATA [TYPE DATA]...\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  auto* data = new QMimeData;
  for (int i = 1; i + 1 < argc; i += 2) {
    QByteArray bytes(argv[i + 1]);
    if (bytes.startsWith('@')) {
      QFile file(QString::fromLocal8Bit(bytes.mid(1)));
      if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "clipboard-owner: cannot read %s\n", bytes.mid(1).constData());
        return 1;
      }
      bytes = file.readAll();
    }
    data->setData(QString::fromLocal8Bit(argv[i]), bytes);
  }
  QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
    char buffer[256];
    if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) app.quit();
  });
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
