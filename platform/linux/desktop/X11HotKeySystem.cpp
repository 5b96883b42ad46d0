#include "platform/linux/desktop/X11HotKeySystem.h"

#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/Log.h"
#include "platform/linux/desktop/X11Xkb.h"

namespace platform {

namespace {

constexpr std::uint8_t kBadAccess = 10;
// Without XInput 2 a release can go unseen (the keystroke sender may end our grab while the key is held),
// and a press of a key we believe down is told from its auto-repeat by time: repeats come at least this
// often, so a later press is a new one. (A loaded X server may repeat later than that, which is why raw
// releases are watched where the server has them.)
constexpr std::chrono::milliseconds kRepeatSlack{60};

template <class T>
struct FreeDeleter {
  void operator()(T* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

struct Masks {
  std::uint16_t alt = 0;
  std::uint16_t super = 0;
  std::uint16_t numLock = 0;
  std::uint16_t scrollLock = 0;
};

// One passive grab: a keycode with an exact modifier state on one root.
struct Grab {
  xcb_window_t root;
  xcb_keycode_t keycode;
  std::uint16_t mask;
  auto operator<=>(const Grab&) const = default;
};

}  // namespace

struct X11HotKeySystem::Impl {
  X11Connection& x11;
  KeyTable keys;
  Masks masks;
  std::vector<xcb_window_t> roots;
  X11Connection::SubscriptionId eventSubscription = 0;
  X11Connection::SubscriptionId keymapSubscription = 0;

  struct Registration {
    std::uint32_t keyCode;
    std::uint32_t modifiers;
    HotKeyId id;
    // What the combination resolves to on the current keymap; nothing when it cannot be expressed.
    std::optional<std::pair<xcb_keycode_t, std::uint16_t>> resolved;
    std::vector<Grab> grabs;  // the grabs granted to it
  };
  std::uint64_t lastRef = 0;
  std::map<HotKeyRef, Registration> registrations;

  struct InstalledHandler {
    std::shared_ptr<Handler> handler;
    std::set<std::pair<std::uint32_t, std::uint32_t>> types;
  };
  std::map<HandlerRef, InstalledHandler> handlers;

  // Keys down under one of our registrations: keycode -> the registration that fired, with the time of
  // the latest press or repeat and whether a repeat has come yet.
  struct Held {
    HotKeyRef ref;
    xcb_timestamp_t lastTime;
    bool repeated;
  };
  std::map<xcb_keycode_t, Held> held;
  KeyRepeat repeat;
  // While a hot key is held, raw key releases are watched on the root window: they arrive wherever the
  // release goes, so a held key's release is never lost and every further press of it is a repeat. The
  // XInput opcode while they are watched.
  std::optional<std::uint8_t> rawReleases;

  void heldChanged() {
    if (!held.empty() && !rawReleases) {
      rawReleases = x11.addRootInputEvents(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE);
    } else if (held.empty() && rawReleases) {
      x11.removeRootInputEvents(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE);
      rawReleases.reset();
    }
  }

  Impl(X11Connection& connection, KeyTable table) : x11(connection), keys(std::move(table)) {}

  xcb_connection_t* conn() const { return x11.connection(); }

  // Whether the connection to the X server is gone. Said once in the log: every later registration is
  // refused quietly.
  bool connectionLost() {
    if (xcb_connection_has_error(conn()) == 0) return false;
    if (!connectionLossLogged) {
      connectionLossLogged = true;
      log(LogLevel::error, "X11HotKeySystem: the connection to the X server is lost; hot keys are refused");
    }
    return true;
  }
  bool connectionLossLogged = false;

  void findRoots() {
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(conn())); it.rem; xcb_screen_next(&it)) {
      roots.push_back(it.data->root);
    }
    if (roots.empty()) roots.push_back(x11.root());
  }

  // Which modifier bit the Alt, Super, Num Lock and Scroll Lock keys set, from the server's modifier map.
  void readModifierMap() {
    masks = {};
    Reply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(conn(), xcb_get_modifier_mapping(conn()), nullptr));
    if (!reply) return;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
      const auto bit = static_cast<std::uint16_t>(1u << modifier);
      for (int i = 0; i < perModifier; ++i) {
        const xcb_keycode_t code = codes[modifier * perModifier + i];
        if (code == 0) continue;
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(x11.keymap(), code, 0, 0, &syms);
        for (int s = 0; s < count; ++s) {
          switch (syms[s]) {
            case XKB_KEY_Alt_L:
            case XKB_KEY_Alt_R:
            case XKB_KEY_Meta_L:
            case XKB_KEY_Meta_R:
              if (!masks.alt) masks.alt = bit;
              break;
            case XKB_KEY_Super_L:
            case XKB_KEY_Super_R:
              if (!masks.super) masks.super = bit;
              break;
            case XKB_KEY_Num_Lock:
              masks.numLock = bit;
              break;
            case XKB_KEY_Scroll_Lock:
              masks.scrollLock = bit;
              break;
            default:
              break;
          }
        }
      }
    }
  }

  void readKeyRepeat() {
    repeat = {};
    const auto device = static_cast<xcb_xkb_device_spec_t>(x11.keyboardDeviceId());
    Reply<xcb_xkb_get_controls_reply_t> reply(
        xcb_xkb_get_controls_reply(conn(), xcb_xkb_get_controls(conn(), device), nullptr));
    if (!reply) return;
    if (reply->repeatDelay > 0) repeat.delay = std::chrono::milliseconds(reply->repeatDelay);
    if (reply->repeatInterval > 0) repeat.interval = std::chrono::milliseconds(reply->repeatInterval);
  }

  std::uint16_t lockMasks() const { return XCB_MOD_MASK_LOCK | masks.numLock | masks.scrollLock; }

  // The keycode and exact modifier state of a Carbon combination on the current keymap.
  std::optional<std::pair<xcb_keycode_t, std::uint16_t>> resolve(std::uint32_t keyCode,
                                                                 std::uint32_t modifiers) const {
    if (modifiers & carbon::function) {
      if (!keys.hasSynthesizedFunction || !keys.hasSynthesizedFunction(keyCode)) return std::nullopt;
    }
    const auto name = keys.keyName ? keys.keyName(keyCode) : std::nullopt;
    if (!name) return std::nullopt;
    const auto keycode = x11.keycodeForName(*name);
    if (!keycode) return std::nullopt;
    std::uint16_t mask = 0;
    if (modifiers & carbon::command) mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & carbon::shift) mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & carbon::option) {
      if (!masks.alt) return std::nullopt;
      mask |= masks.alt;
    }
    if (modifiers & carbon::control) {
      if (!masks.super) return std::nullopt;
      mask |= masks.super;
    }
    return std::pair{*keycode, mask};
  }

  // The combination with every combination of the lock modifiers not already in it, the plain one first.
  std::vector<std::uint16_t> variants(std::uint16_t mask) const {
    std::vector<std::uint16_t> locks;
    for (const std::uint16_t lock :
         {static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK), masks.numLock, masks.scrollLock}) {
      if (lock && !(mask & lock) && std::find(locks.begin(), locks.end(), lock) == locks.end()) {
        locks.push_back(lock);
      }
    }
    std::vector<std::uint16_t> result;
    for (std::uint32_t subset = 0; subset < (1u << locks.size()); ++subset) {
      std::uint16_t variant = mask;
      for (std::size_t i = 0; i < locks.size(); ++i) {
        if (subset & (1u << i)) variant |= locks[i];
      }
      if (std::find(result.begin(), result.end(), variant) == result.end()) result.push_back(variant);
    }
    return result;
  }

  bool grabbedByUs(xcb_keycode_t keycode, std::uint16_t mask, HotKeyRef except = 0) const {
    for (const auto& [ref, registration] : registrations) {
      if (ref != except && registration.resolved && *registration.resolved == std::pair{keycode, mask}) {
        return true;
      }
    }
    return false;
  }

  // Grabs every variant on every root, checked. Refused (and nothing kept) when another client holds the
  // plain combination on some root; a variant held elsewhere is only left out.
  std::optional<std::vector<Grab>> grab(xcb_keycode_t keycode, std::uint16_t mask) {
    struct Pending {
      Grab grab;
      bool plain;
      xcb_void_cookie_t cookie;
    };
    std::vector<Pending> pending;
    for (const auto root : roots) {
      for (const auto variant : variants(mask)) {
        pending.push_back({Grab{root, keycode, variant}, variant == mask,
                           xcb_grab_key_checked(conn(), 0, root, variant, keycode, XCB_GRAB_MODE_ASYNC,
                                                XCB_GRAB_MODE_ASYNC)});
      }
    }
    std::vector<Grab> granted;
    bool refused = false;
    for (auto& p : pending) {
      Reply<xcb_generic_error_t> error(xcb_request_check(conn(), p.cookie));
      if (!error) {
        granted.push_back(p.grab);
      } else if (p.plain) {
        if (!refused) lastGrabError = error->error_code;
        refused = true;
      } else if (error->error_code != kBadAccess) {
        log(LogLevel::warning,
            "X11HotKeySystem: grabbing a key failed with X error " + std::to_string(error->error_code));
      }
    }
    if (!refused) return granted;
    ungrab(granted);
    return std::nullopt;
  }

  // The X error that refused the last grab() that was refused.
  std::uint8_t lastGrabError = 0;

  // The shortcut as people read it, for the log.
  std::string describe(std::uint32_t keyCode, std::uint32_t modifiers) const {
    if (keys.describe) return keys.describe(keyCode, modifiers);
    return "key " + std::to_string(keyCode) + " with modifiers " + std::to_string(modifiers);
  }

  // Why resolve() gives nothing for the combination.
  std::string unexpressible(std::uint32_t keyCode, std::uint32_t modifiers) const {
    if ((modifiers & carbon::function) &&
        !(keys.hasSynthesizedFunction && keys.hasSynthesizedFunction(keyCode)))
      return "X11 has no modifier for Fn";
    const auto name = keys.keyName ? keys.keyName(keyCode) : std::nullopt;
    if (!name || !x11.keycodeForName(*name)) return "the keyboard has no such key";
    if ((modifiers & carbon::option) && !masks.alt) return "the keyboard has no Alt modifier";
    if ((modifiers & carbon::control) && !masks.super) return "the keyboard has no Super modifier";
    return "it cannot be expressed on this keyboard";
  }

  // One line per refused registration: a hot key that is simply absent leaves the user no other clue.
  void logRefused(std::uint32_t keyCode, std::uint32_t modifiers, const std::string& reason) const {
    log(LogLevel::warning,
        "X11HotKeySystem: the hot key " + describe(keyCode, modifiers) + " is not registered: " + reason);
  }

  void ungrab(const std::vector<Grab>& grabs) {
    for (const auto& g : grabs) xcb_ungrab_key(conn(), g.keycode, g.root, g.mask);
    // A round trip, not only a flush: once we return, the server has processed the ungrabs, so another
    // client may take the combination at once (a flushed request can still wait behind theirs).
    std::free(xcb_get_input_focus_reply(conn(), xcb_get_input_focus(conn()), nullptr));
  }

  void deliver(std::uint32_t kind, HotKeyId id) {
    std::vector<std::shared_ptr<Handler>> targets;
    for (const auto& [ref, installed] : handlers) {
      if (installed.types.contains({kEventClassKeyboard, kind})) targets.push_back(installed.handler);
    }
    for (const auto& handler : targets) (*handler)(HotKeyEvent{kEventClassKeyboard, kind, id});
  }

  void handleEvent(const xcb_generic_event_t& event) {
    const auto type = event.response_type & 0x7f;
    if (type == XCB_GE_GENERIC && rawReleases) {
      const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
      if (ge.extension == *rawReleases && ge.event_type == XCB_INPUT_RAW_KEY_RELEASE) {
        const auto& raw = reinterpret_cast<const xcb_input_raw_key_release_event_t&>(event);
        release(static_cast<xcb_keycode_t>(raw.detail));
      }
      return;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return;
    const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
    if (type == XCB_KEY_PRESS) {
      handlePress(key);
    } else {
      release(key.detail);
    }
  }

  void handlePress(const xcb_key_press_event_t& key) {
    if (auto it = held.find(key.detail); it != held.end()) {
      if (rawReleases) return;  // its release would have come first: an auto-repeat
      const auto gap = std::chrono::milliseconds(static_cast<std::uint32_t>(key.time - it->second.lastTime));
      const auto limit =
          (it->second.repeated ? repeat.interval * 2 : repeat.delay + repeat.interval) + kRepeatSlack;
      if (gap <= limit) {
        it->second.lastTime = key.time;
        it->second.repeated = true;
        return;  // auto-repeat of a held hot key
      }
      held.erase(it);
      heldChanged();
    }
    const std::uint16_t state = key.state & 0xff & ~lockMasks();
    for (const auto& [ref, registration] : registrations) {
      if (registration.resolved && registration.resolved->first == key.detail &&
          registration.resolved->second == state) {
        held[key.detail] = Held{ref, key.time, false};
        heldChanged();
        deliver(kEventHotKeyPressed, registration.id);
        return;
      }
    }
  }

  // The release of `keycode`, seen by our grab or as a raw event, whichever comes first.
  void release(xcb_keycode_t keycode) {
    const auto it = held.find(keycode);
    if (it == held.end()) return;
    const auto ref = it->second.ref;
    held.erase(it);
    heldChanged();
    if (const auto registration = registrations.find(ref); registration != registrations.end()) {
      deliver(kEventHotKeyReleased, registration->second.id);
    }
  }

  void keymapChanged() {
    readModifierMap();
    // Keys held now stay held: the server's keycodes do not change with the keymap, so their repeats and
    // releases still come with the keycode of their press.
    for (auto& [ref, registration] : registrations) {
      const auto resolved = resolve(registration.keyCode, registration.modifiers);
      if (resolved == registration.resolved) continue;
      ungrab(registration.grabs);
      registration.grabs.clear();
      registration.resolved.reset();
      if (!resolved || grabbedByUs(resolved->first, resolved->second, ref)) continue;
      if (auto grabs = grab(resolved->first, resolved->second)) {
        registration.grabs = std::move(*grabs);
        registration.resolved = resolved;
      } else {
        log(LogLevel::warning, "X11HotKeySystem: after a keymap change another program holds the hot key " +
                                   describe(registration.keyCode, registration.modifiers) + "; it stays off");
      }
    }
  }
};

X11HotKeySystem::X11HotKeySystem(X11Connection& x11, KeyTable keys)
    : impl_(std::make_unique<Impl>(x11, std::move(keys))) {
  impl_->findRoots();
  impl_->readModifierMap();
  impl_->readKeyRepeat();
  // Holding a key then gives repeated presses without releases, which we can drop.
  const auto device = static_cast<xcb_xkb_device_spec_t>(x11.keyboardDeviceId());
  Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
      impl_->conn(),
      xcb_xkb_per_client_flags(impl_->conn(), device, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                               XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
      nullptr));
  if (!flags || !(flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT)) {
    log(LogLevel::warning, "X11HotKeySystem: the X server refused detectable auto-repeat");
  }
  auto* impl = impl_.get();
  impl_->eventSubscription = x11.subscribe([impl](const xcb_generic_event_t& e) { impl->handleEvent(e); });
  impl_->keymapSubscription = x11.subscribeKeymapChanged([impl] { impl->keymapChanged(); });
}

X11HotKeySystem::~X11HotKeySystem() {
  impl_->x11.unsubscribe(impl_->eventSubscription);
  impl_->x11.unsubscribe(impl_->keymapSubscription);
  for (const auto& [ref, registration] : impl_->registrations) impl_->ungrab(registration.grabs);
  impl_->held.clear();
  impl_->heldChanged();
}

std::optional<HotKeySystem::HotKeyRef> X11HotKeySystem::registerHotKey(std::uint32_t keyCode,
                                                                       std::uint32_t modifiers, HotKeyId id) {
  if (impl_->connectionLost()) return std::nullopt;
  const auto resolved = impl_->resolve(keyCode, modifiers);
  if (!resolved) {
    impl_->logRefused(keyCode, modifiers, impl_->unexpressible(keyCode, modifiers));
    return std::nullopt;
  }
  if (impl_->grabbedByUs(resolved->first, resolved->second)) {
    impl_->logRefused(keyCode, modifiers, "this program already uses it for another shortcut");
    return std::nullopt;
  }
  auto grabs = impl_->grab(resolved->first, resolved->second);
  // A broken connection reports no error for any request, so its grabs all look granted.
  if (impl_->connectionLost()) return std::nullopt;
  if (!grabs) {
    impl_->logRefused(keyCode, modifiers,
                      impl_->lastGrabError == kBadAccess
                          ? "another program holds it"
                          : "the X server refused it (X error " + std::to_string(impl_->lastGrabError) + ")");
    return std::nullopt;
  }
  const HotKeyRef ref = ++impl_->lastRef;
  impl_->registrations[ref] = Impl::Registration{keyCode, modifiers, id, resolved, std::move(*grabs)};
  return ref;
}

void X11HotKeySystem::unregisterHotKey(HotKeyRef ref) {
  const auto it = impl_->registrations.find(ref);
  if (it == impl_->registrations.end()) return;
  impl_->ungrab(it->second.grabs);
  impl_->registrations.erase(it);
}

std::optional<HotKeySystem::HandlerRef> X11HotKeySystem::installEventHandler(Handler handler) {
  const HandlerRef ref = ++impl_->lastRef;
  impl_->handlers[ref] = Impl::InstalledHandler{std::make_shared<Handler>(std::move(handler)), {}};
  return ref;
}

void X11HotKeySystem::addEventTypesToHandler(HandlerRef handler, const std::vector<EventTypeFilter>& types) {
  const auto it = impl_->handlers.find(handler);
  if (it == impl_->handlers.end()) return;
  for (const auto& type : types) it->second.types.insert({type.eventClass, type.eventKind});
}

void X11HotKeySystem::removeEventTypesFromHandler(HandlerRef handler,
                                                  const std::vector<EventTypeFilter>& types) {
  const auto it = impl_->handlers.find(handler);
  if (it == impl_->handlers.end()) return;
  for (const auto& type : types) it->second.types.erase({type.eventClass, type.eventKind});
}

std::vector<bool> X11HotKeySystem::heldByOtherClients(
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& combos) {
  struct Probe {
    std::size_t index;
    xcb_keycode_t keycode;
    std::uint16_t mask;
    xcb_void_cookie_t cookie;
  };
  std::vector<bool> result(combos.size(), false);
  std::vector<Probe> probes;
  const auto root = impl_->x11.root();
  for (std::size_t i = 0; i < combos.size(); ++i) {
    const auto resolved = impl_->resolve(combos[i].first, combos[i].second);
    // Our own grabs must not be touched: grabbing them again would succeed and the ungrab drop them.
    if (!resolved || impl_->grabbedByUs(resolved->first, resolved->second)) continue;
    probes.push_back({i, resolved->first, resolved->second,
                      xcb_grab_key_checked(impl_->conn(), 0, root, resolved->second, resolved->first,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
  }
  for (const auto& probe : probes) {
    Reply<xcb_generic_error_t> error(xcb_request_check(impl_->conn(), probe.cookie));
    if (error) {
      result[probe.index] = error->error_code == kBadAccess;
    } else {
      xcb_ungrab_key(impl_->conn(), probe.keycode, root, probe.mask);
    }
  }
  xcb_flush(impl_->conn());
  return result;
}

bool X11HotKeySystem::isExpressible(std::uint32_t keyCode, std::uint32_t modifiers) const {
  return impl_->resolve(keyCode, modifiers).has_value();
}

bool X11HotKeySystem::hasSynthesizedFunction(std::uint32_t keyCode) const {
  return impl_->keys.hasSynthesizedFunction && impl_->keys.hasSynthesizedFunction(keyCode);
}

X11HotKeySystem::KeyRepeat X11HotKeySystem::keyRepeat() const {
  impl_->readKeyRepeat();
  return impl_->repeat;
}

}  // namespace platform
