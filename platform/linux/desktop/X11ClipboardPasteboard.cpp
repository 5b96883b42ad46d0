#include "platform/linux/desktop/X11ClipboardPasteboard.h"

#include <QtGui/qguiapplication_platform.h>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>
#include <QSet>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Reply.h"

namespace platform {
namespace {

using Conversion = X11SelectionReader::Conversion;

// A clipboard owner lists a few dozen targets at most; more is not a list of targets.
constexpr std::size_t kMaxTargetsBytes = 64u << 10;

// The contents as another client would get them: the types are the clipboard's MIME targets.
std::vector<PasteboardItem> itemsOf(const QMimeData* data) {
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

}  // namespace

// One snapshot under way: the targets still to read, in the owner's order, and what was read.
struct X11ClipboardPasteboard::Snapshot {
  struct Target {
    std::string type;  // the type the item gets
    xcb_atom_t atom;   // the target asked for
  };
  ItemsCompletion completion;
  std::vector<Target> pending;
  PasteboardItem item;
  std::size_t bytes = 0;
};

X11ClipboardPasteboard::X11ClipboardPasteboard(X11Connection& x11, MainExecutor& executor,
                                               std::chrono::milliseconds deadline)
    : x11_(x11), reader_(x11, executor, deadline), context_(std::make_unique<QObject>()) {
  xcb_connection_t* c = x11_.connection();
  clipboard_ = internAtom(c, "CLIPBOARD");
  targets_ = internAtom(c, "TARGETS");
  utf8String_ = internAtom(c, "UTF8_STRING");

  watch_ =
      std::make_unique<X11SelectionOwnerWatch>(x11_, clipboard_, [this](xcb_window_t) { ++changeCount_; });
  if (!watch_->available()) {
    // Qt hears of other clients' copies too, from its own event loop: later, but the count still moves.
    log(LogLevel::warning,
        "X11ClipboardPasteboard: the X server has no XFixes; clipboard changes are seen late");
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, context_.get(),
                     [this](QClipboard::Mode mode) {
                       if (mode == QClipboard::Clipboard) ++changeCount_;
                     });
  }
}

X11ClipboardPasteboard::~X11ClipboardPasteboard() = default;

std::optional<xcb_window_t> X11ClipboardPasteboard::owner() const {
  const xcb_window_t current = watch_->owner();
  if (current == XCB_NONE) return std::nullopt;
  return current;
}

bool X11ClipboardPasteboard::ownedByThisProgram(xcb_window_t owner) const {
  // Qt hears that another client took the clipboard from its own event loop, a moment later: the
  // owner the server names decides.
  if (!QGuiApplication::clipboard()->ownsClipboard()) return false;
  auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!native || !native->connection()) return true;
  const xcb_setup_t* setup = xcb_get_setup(native->connection());
  return (owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

std::int64_t X11ClipboardPasteboard::changeCount() {
  if (watch_->available()) {
    // Once the server has answered, it has sent every selection event before the answer.
    xcb_connection_t* c = x11_.connection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    x11_.dispatchPending();
  }
  return changeCount_;
}

void X11ClipboardPasteboard::readItems(ItemsCompletion completion) {
  const auto current = owner();
  if (!current) return completion(std::vector<PasteboardItem>{});
  if (ownedByThisProgram(*current)) return completion(itemsOf(QGuiApplication::clipboard()->mimeData()));
  auto snapshot = std::make_shared<Snapshot>();
  snapshot->completion = std::move(completion);
  readTargets(std::move(snapshot));
}

void X11ClipboardPasteboard::readTargets(std::shared_ptr<Snapshot> snapshot) {
  reader_.convert(clipboard_, targets_, kMaxTargetsBytes, [this, snapshot](Conversion targets) {
    if (targets.outcome == Conversion::Outcome::failed) {
      log(LogLevel::info, "X11ClipboardPasteboard: the clipboard's owner did not list its contents");
      return snapshot->completion(std::nullopt);
    }
    std::vector<xcb_atom_t> atoms;
    if (targets.outcome == Conversion::Outcome::data && targets.format == 32) {
      atoms.resize(targets.data.size() / sizeof(xcb_atom_t));
      std::memcpy(atoms.data(), targets.data.data(), atoms.size() * sizeof(xcb_atom_t));
    }
    // One round trip for every name.
    xcb_connection_t* c = x11_.connection();
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    cookies.reserve(atoms.size());
    for (const xcb_atom_t atom : atoms) cookies.push_back(xcb_get_atom_name(c, atom));
    bool offersText = atoms.empty();  // an owner that lists nothing may still give text
    bool hasPlainText = false;
    QSet<QString> seen;
    for (std::size_t i = 0; i < atoms.size(); ++i) {
      XcbReply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(c, cookies[i], nullptr));
      if (!name) continue;
      const std::string type(xcb_get_atom_name_name(name.get()),
                             static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())));
      if (atoms[i] == utf8String_ || atoms[i] == XCB_ATOM_STRING) offersText = true;
      if (type.find('/') == std::string::npos || seen.contains(QString::fromStdString(type))) continue;
      seen.insert(QString::fromStdString(type));
      hasPlainText = hasPlainText || type == stringType;
      snapshot->pending.push_back({type, atoms[i]});
    }
    if (offersText && !hasPlainText) snapshot->pending.push_back({std::string(stringType), utf8String_});
    readNext(snapshot);
  });
}

void X11ClipboardPasteboard::readNext(std::shared_ptr<Snapshot> snapshot) {
  if (snapshot->pending.empty()) {
    std::vector<PasteboardItem> items;
    if (!snapshot->item.entries.empty()) items.push_back(std::move(snapshot->item));
    return snapshot->completion(std::move(items));
  }
  const Snapshot::Target target = snapshot->pending.front();
  snapshot->pending.erase(snapshot->pending.begin());
  reader_.convert(clipboard_, target.atom, kMaxSnapshotBytes - snapshot->bytes,
                  [this, snapshot, target](Conversion conversion) {
                    if (conversion.outcome == Conversion::Outcome::failed) {
                      log(LogLevel::info, "X11ClipboardPasteboard: the clipboard could not be taken whole (" +
                                              target.type + ")");
                      return snapshot->completion(std::nullopt);
                    }
                    // A type the owner refuses, or gives in a form that is not bytes, is left out.
                    if (conversion.outcome == Conversion::Outcome::data &&
                        (conversion.format == 8 || conversion.data.empty())) {
                      snapshot->bytes += conversion.data.size();
                      snapshot->item.entries.push_back({target.type, conversion.type == XCB_ATOM_STRING
                                                                         ? latin1ToUtf8(conversion.data)
                                                                         : std::move(conversion.data)});
                    }
                    readNext(snapshot);
                  });
}

void X11ClipboardPasteboard::readString(StringCompletion completion) {
  const auto current = owner();
  if (!current) return completion(std::nullopt);
  if (ownedByThisProgram(*current)) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText()) return completion(std::nullopt);
    return completion(data->text().toStdString());
  }
  reader_.readText(clipboard_, std::move(completion));
}

// Qt reports our own changes at once, but should a backend not, the count must still move.
template <class Write>
void X11ClipboardPasteboard::changing(Write write) {
  const auto before = changeCount_;
  write();
  if (changeCount_ == before) ++changeCount_;
}

void X11ClipboardPasteboard::clearContents() {
  changing([] { QGuiApplication::clipboard()->clear(QClipboard::Clipboard); });
}

bool X11ClipboardPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
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

bool X11ClipboardPasteboard::writeString(std::string_view text) {
  changing([text] {
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                                          QClipboard::Clipboard);
  });
  return true;
}

}  // namespace platform
