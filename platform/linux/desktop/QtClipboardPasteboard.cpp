#include "platform/linux/desktop/QtClipboardPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>
#include <QSet>

namespace platform {

QtClipboardPasteboard::QtClipboardPasteboard() : context_(std::make_unique<QObject>()) {
  QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, context_.get(),
                   [this](QClipboard::Mode mode) {
                     if (mode == QClipboard::Clipboard) ++changeCount_;
                   });
}

QtClipboardPasteboard::~QtClipboardPasteboard() = default;

std::vector<PasteboardItem> QtClipboardPasteboard::items() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
  if (!data) return {};
  PasteboardItem item;
  for (const QString& format : data->formats()) {
    if (!format.contains(u'/')) continue;
    const QByteArray bytes = data->data(format);
    item.entries.push_back({format.toStdString(), std::string(bytes.constData(), bytes.size())});
  }
  if (item.entries.empty()) return {};
  return {std::move(item)};
}

std::optional<std::string> QtClipboardPasteboard::string() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
  if (!data || !data->hasText()) return std::nullopt;
  return data->text().toStdString();
}

// Qt reports our own changes at once, but should a backend not, the count must still move.
template <class Write>
void QtClipboardPasteboard::changing(Write write) {
  const auto before = changeCount_;
  write();
  if (changeCount_ == before) ++changeCount_;
}

void QtClipboardPasteboard::clearContents() {
  changing([] { QGuiApplication::clipboard()->clear(QClipboard::Clipboard); });
}

bool QtClipboardPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
  auto* data = new QMimeData;
  QSet<QString> seen;
  for (const auto& item : items) {
    for (const auto& entry : item.entries) {
      const QString type = QString::fromStdString(entry.type);
      if (seen.contains(type)) continue;
      seen.insert(type);
      data->setData(type, QByteArray(entry.data.data(), static_cast<qsizetype>(entry.data.size())));
    }
  }
  changing([data] { QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard); });
  return true;
}

bool QtClipboardPasteboard::writeString(std::string_view text) {
  changing([text] {
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                                          QClipboard::Clipboard);
  });
  return true;
}

}  // namespace platform
