// clipboard-manager
//
// A minimal desktop clipboard manager (ICCCM): it owns CLIPBOARD_MANAGER and, when a client that owns
// CLIPBOARD asks it to SAVE_TARGETS (as toolkits do when they quit), copies every target of the
// clipboard, takes CLIPBOARD over and serves the copies from then on. Prints "ready" once it owns
// CLIPBOARD_MANAGER and "saved TARGET TARGET..." after each hand-over; runs until terminated. For tests
// and for trying by hand what the program leaves on the clipboard when it quits. Texts larger than one
// property (incremental transfers) are not saved.
#include <poll.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/desktop/X11Reply.h"

namespace {

constexpr int kOwnerTimeoutMs = 3000;

using platform::internAtom;
using platform::XcbReply;

struct Stored {
  xcb_atom_t type = XCB_NONE;
  std::uint8_t format = 8;
  std::string data;
};

class Manager {
 public:
  explicit Manager(xcb_connection_t* c) : c_(c) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    window_ = xcb_generate_id(c);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    clipboard_ = atom("CLIPBOARD");
    manager_ = atom("CLIPBOARD_MANAGER");
    saveTargets_ = atom("SAVE_TARGETS");
    targets_ = atom("TARGETS");
    transfer_ = atom("CLIPBOARD_MANAGER_TRANSFER");
    for (const char* name : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE", "INSERT_SELECTION",
                             "INSERT_PROPERTY"})
      bookkeeping_.insert(atom(name));
  }

  bool takeManagerSelection() {
    xcb_set_selection_owner(c_, window_, manager_, XCB_CURRENT_TIME);
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, manager_), nullptr));
    return owner && owner->owner == window_;
  }

  // Handles `event`, then the events that arrived while it was handled.
  void handleWithLater(xcb_generic_event_t* event) {
    handle(event);
    while (!later_.empty()) {
      xcb_generic_event_t* kept = later_.front();
      later_.erase(later_.begin());
      handle(kept);
      std::free(kept);
    }
  }

 private:
  void handle(xcb_generic_event_t* event) {
    if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST) return;
    const auto& request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
    if (request.selection == manager_ && request.target == saveTargets_) return save(request);
    if (request.selection == clipboard_) return serve(request);
    answer(request, XCB_NONE);
  }

  xcb_atom_t atom(const char* name) { return internAtom(c_, name); }

  void answer(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    xcb_selection_notify_event_t notify;
    std::memset(&notify, 0, sizeof notify);
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    xcb_flush(c_);
  }

  // Asks the CLIPBOARD owner for `target` and waits for its answer; other events that arrive meanwhile
  // are kept for later.
  std::optional<Stored> fetch(xcb_atom_t target) {
    xcb_delete_property(c_, window_, transfer_);
    xcb_convert_selection(c_, window_, clipboard_, target, transfer_, XCB_CURRENT_TIME);
    xcb_flush(c_);
    pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
    for (;;) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
          const auto& notify = *reinterpret_cast<xcb_selection_notify_event_t*>(event);
          const bool ours = notify.requestor == window_ && notify.target == target;
          const bool refused = notify.property == XCB_NONE;
          std::free(event);
          if (!ours) continue;
          if (refused) return std::nullopt;
          XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
              c_, xcb_get_property(c_, 1, window_, transfer_, XCB_GET_PROPERTY_TYPE_ANY, 0, 1u << 24),
              nullptr));
          if (!reply) return std::nullopt;
          Stored stored{reply->type, reply->format,
                        std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                    static_cast<std::size_t>(xcb_get_property_value_length(reply.get())))};
          return stored;
        }
        later_.push_back(event);
      }
      if (poll(&fd, 1, kOwnerTimeoutMs) <= 0) return std::nullopt;
    }
  }

  void save(const xcb_selection_request_event_t& request) {
    stored_.clear();
    const auto targets = fetch(targets_);
    std::string said = "saved";
    if (targets && targets->format == 32) {
      const auto* atoms = reinterpret_cast<const xcb_atom_t*>(targets->data.data());
      const std::size_t count = targets->data.size() / sizeof(xcb_atom_t);
      for (std::size_t i = 0; i < count; ++i) {
        if (bookkeeping_.count(atoms[i]) != 0) continue;
        if (auto data = fetch(atoms[i])) {
          stored_[atoms[i]] = std::move(*data);
          said += " " + nameOf(atoms[i]);
        }
      }
    }
    if (!stored_.empty()) xcb_set_selection_owner(c_, window_, clipboard_, XCB_CURRENT_TIME);
    answer(request, request.property == XCB_NONE ? request.target : request.property);
    std::printf("%s\n", said.c_str());
    std::fflush(stdout);
  }

  void serve(const xcb_selection_request_event_t& request) {
    if (request.target == targets_) {
      std::vector<xcb_atom_t> list{targets_};
      for (const auto& [target, data] : stored_) list.push_back(target);
      xcb_change_property(c_, XCB_PROP_MODE_REPLACE, request.requestor, request.property, XCB_ATOM_ATOM, 32,
                          static_cast<std::uint32_t>(list.size()), list.data());
      return answer(request, request.property);
    }
    const auto it = stored_.find(request.target);
    if (it == stored_.end()) return answer(request, XCB_NONE);
    const Stored& s = it->second;
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, request.requestor, request.property, s.type, s.format,
                        static_cast<std::uint32_t>(s.data.size() / (s.format / 8)), s.data.data());
    answer(request, request.property);
  }

  std::string nameOf(xcb_atom_t a) {
    XcbReply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c_, xcb_get_atom_name(c_, a), nullptr));
    if (!reply) return "?";
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
  }

  xcb_connection_t* c_;
  std::vector<xcb_generic_event_t*> later_;  // arrived while waiting for the clipboard's owner
  xcb_window_t window_ = XCB_NONE;
  xcb_atom_t clipboard_ = XCB_NONE, manager_ = XCB_NONE, saveTargets_ = XCB_NONE, targets_ = XCB_NONE,
             transfer_ = XCB_NONE;
  std::set<xcb_atom_t> bookkeeping_;
  std::map<xcb_atom_t, Stored> stored_;
};

}  // namespace

int main() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "clipboard-manager: no X server\n");
    return 1;
  }
  Manager manager(c);
  if (!manager.takeManagerSelection()) {
    std::fprintf(stderr, "clipboard-manager: another clipboard manager is running\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
    manager.handleWithLater(event);
    std::free(event);
  }
  return 0;
}
