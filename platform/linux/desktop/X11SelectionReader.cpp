#include "platform/linux/desktop/X11SelectionReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11Reply.h"

namespace platform {

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

struct X11SelectionReader::Read {
  xcb_window_t requestor = XCB_NONE;
  std::size_t maxBytes = 0;
  bool incremental = false;
  Conversion result;
  CancelToken deadline;
  ConversionCompletion completion;
};

X11SelectionReader::X11SelectionReader(X11Connection& x11, MainExecutor& executor,
                                       std::chrono::milliseconds deadline)
    : x11_(x11), executor_(executor), deadline_(deadline) {
  xcb_connection_t* c = x11_.connection();
  utf8String_ = internAtom(c, "UTF8_STRING");
  incr_ = internAtom(c, "INCR");
  property_ = internAtom(c, "QUORVELLE_SELECTION");
  subscription_ = x11_.subscribe([this](const xcb_generic_event_t& event) { handle(event); });
}

X11SelectionReader::~X11SelectionReader() {
  x11_.unsubscribe(subscription_);
  for (auto& [window, read] : reads_) {
    read->deadline.cancel();
    xcb_destroy_window(x11_.connection(), window);
  }
  x11_.flush();
}

void X11SelectionReader::readText(xcb_atom_t selection, Completion completion) {
  auto done = std::make_shared<Completion>(std::move(completion));
  auto asText = [done](const Conversion& c, bool latin1) {
    if (c.format != 8 && !c.data.empty()) return (*done)(std::nullopt);
    (*done)(latin1 ? latin1ToUtf8(c.data) : c.data);
  };
  convert(selection, utf8String_, kMaxBytes, [this, selection, done, asText](Conversion utf8) {
    if (utf8.outcome == Conversion::Outcome::data) return asText(utf8, false);
    if (utf8.outcome == Conversion::Outcome::failed) return (*done)(std::nullopt);
    convert(selection, XCB_ATOM_STRING, kMaxBytes, [done, asText](Conversion latin1) {
      if (latin1.outcome == Conversion::Outcome::data) return asText(latin1, true);
      (*done)(std::nullopt);
    });
  });
}

void X11SelectionReader::convert(xcb_atom_t selection, xcb_atom_t target, std::size_t maxBytes,
                                 ConversionCompletion completion) {
  xcb_connection_t* c = x11_.connection();
  auto read = std::make_unique<Read>();
  read->maxBytes = maxBytes;
  read->completion = std::move(completion);
  read->requestor = xcb_generate_id(c);
  // An unmapped window of our own receives the owner's property, and its changes during an incremental
  // transfer.
  const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, read->requestor, x11_.root(), -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
  Read& ref = *read;
  reads_.emplace(read->requestor, std::move(read));
  xcb_convert_selection(c, ref.requestor, selection, target, property_, XCB_CURRENT_TIME);
  x11_.flush();
  armDeadline(ref, deadline_);
}

void X11SelectionReader::armDeadline(Read& read, std::chrono::milliseconds deadline) {
  read.deadline.cancel();
  const xcb_window_t requestor = read.requestor;
  read.deadline = executor_.postAfter(deadline, [this, requestor, deadline] {
    log(LogLevel::info, "X11SelectionReader: the selection's owner did not answer in " +
                            std::to_string(deadline.count()) + " ms; taken as nothing");
    finish(requestor, {});
  });
}

void X11SelectionReader::handle(const xcb_generic_event_t& event) {
  const auto type = event.response_type & 0x7f;
  if (type == XCB_SELECTION_NOTIFY) {
    const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
    const auto it = reads_.find(notify.requestor);
    if (it == reads_.end() || it->second->incremental) return;
    if (notify.property == XCB_NONE) {
      Conversion refused;
      refused.outcome = Conversion::Outcome::refused;
      return finish(notify.requestor, std::move(refused));
    }
    return takeProperty(*it->second);
  }
  if (type == XCB_PROPERTY_NOTIFY) {
    const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
    const auto it = reads_.find(notify.window);
    if (it == reads_.end() || !it->second->incremental || notify.atom != property_ ||
        notify.state != XCB_PROPERTY_NEW_VALUE) {
      return;
    }
    takeProperty(*it->second);
  }
}

// Reads and deletes the property the owner wrote: the whole data, the start of an incremental transfer,
// or its next part (an empty part ends it).
void X11SelectionReader::takeProperty(Read& read) {
  xcb_connection_t* c = x11_.connection();
  const std::size_t room = read.maxBytes - std::min(read.maxBytes, read.result.data.size());
  const auto maxWords = static_cast<std::uint32_t>(std::min<std::size_t>(room / 4 + 1, UINT32_MAX));
  XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      c, xcb_get_property(c, 1, read.requestor, property_, XCB_GET_PROPERTY_TYPE_ANY, 0, maxWords), nullptr));
  if (!reply) return finish(read.requestor, {});
  const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
  if (reply->bytes_after > 0 || length > room) {
    xcb_delete_property(c, read.requestor, property_);
    log(LogLevel::info, "X11SelectionReader: the selection is too large to take");
    return finish(read.requestor, {});
  }
  if (!read.incremental && reply->type == incr_) {
    // The owner sends the data in parts, each as we delete the previous one (the read above deleted the
    // property, which asks for the first part).
    read.incremental = true;
    x11_.flush();
    return armDeadline(read, std::max(deadline_, kPartDeadline));
  }
  if (length > 0) {
    read.result.type = reply->type;
    read.result.format = reply->format;
    if (read.result.data.empty()) read.result.data.reserve(length);
    read.result.data.append(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
  }
  if (read.incremental && length > 0) {
    x11_.flush();
    return armDeadline(read, std::max(deadline_, kPartDeadline));
  }
  if (read.result.type == XCB_NONE) read.result.type = reply->type;
  if (read.result.format == 0) read.result.format = reply->format;
  read.result.outcome = Conversion::Outcome::data;
  finish(read.requestor, std::move(read.result));
}

void X11SelectionReader::finish(xcb_window_t requestor, Conversion conversion) {
  const auto it = reads_.find(requestor);
  if (it == reads_.end()) return;
  std::unique_ptr<Read> read = std::move(it->second);
  reads_.erase(it);
  read->deadline.cancel();
  xcb_destroy_window(x11_.connection(), requestor);
  x11_.flush();
  // Last: the completion may start another read.
  read->completion(std::move(conversion));
}

}  // namespace platform
