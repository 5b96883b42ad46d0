// startup-probe [--idle-ms N] [--popup KEYS] [--popups N] -- PROGRAM [ARG]...
//
// Measures what a tray program costs: it becomes the display's system tray (a minimal XEmbed tray
// manager, so that the moment the program asks for its icon to be docked is seen exactly), starts
// PROGRAM, and prints one line of "name=value" fields:
//
//   ready_ms        start of the process to its tray icon's dock request
//   rss_kib pss_kib threads libs
//                   resident and proportional memory, threads and shared objects mapped, --idle-ms after
//                   the dock request (default 2000)
//   popupN_ms       with --popup: the hot key KEYS (e.g. "alt+t", "ctrl+c+c": modifiers held while the
//                   other keys are tapped in order) to the mapping of the program's popup window, for the
//                   first and each further popup (--popups, default 2; each is closed by a click far
//                   away and Escape before the next)
//   resultN_ms      the hot key to the popup's first change of size after it mapped (the refit to the
//                   result); "-" when it did not change within 3 s
//   after_rss_kib after_pss_kib after_threads after_libs
//                   the same figures one second after the last popup
//
// The display must have no other tray; the program finds the selection to show its popup itself.
// A benchmark helper for bench/startup.sh, never a test.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kDockRequest = 0;
constexpr uint32_t kXEmbedEmbeddedNotify = 0;
constexpr auto kReadyTimeout = std::chrono::seconds(15);
constexpr auto kPopupTimeout = std::chrono::seconds(5);
constexpr auto kResultTimeout = std::chrono::seconds(3);

double millisSince(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

struct Memory {
  long rssKiB = -1;
  long pssKiB = -1;
  long threads = -1;
  long libs = -1;
};

long fieldOf(const std::string& file, const std::string& name) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name, 0) == 0) return std::strtol(line.c_str() + name.size(), nullptr, 10);
  }
  return -1;
}

Memory memoryOf(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  Memory m;
  m.rssKiB = fieldOf(proc + "/smaps_rollup", "Rss:");
  m.pssKiB = fieldOf(proc + "/smaps_rollup", "Pss:");
  m.threads = fieldOf(proc + "/status", "Threads:");
  std::ifstream maps(proc + "/maps");
  std::set<std::string> libs;
  std::string line;
  while (std::getline(maps, line)) {
    const auto slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string path = line.substr(slash);
    if (path.find(".so") != std::string::npos) libs.insert(path);
  }
  m.libs = static_cast<long>(libs.size());
  return m;
}

class Display {
 public:
  Display() : connection_(xcb_connect(nullptr, &screenNumber_)) {
    if (xcb_connection_has_error(connection_)) {
      std::fprintf(stderr, "startup-probe: cannot open the X display\n");
      std::exit(2);
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber_; ++i) xcb_screen_next(&it);
    screen_ = it.data;
  }
  ~Display() { xcb_disconnect(connection_); }

  xcb_connection_t* c() const { return connection_; }
  xcb_window_t root() const { return screen_->root; }
  const xcb_screen_t& screen() const { return *screen_; }
  int screenNumber() const { return screenNumber_; }

  xcb_atom_t atom(const std::string& name) {
    auto reply = std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)>(
        xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, name.size(), name.c_str()),
                              nullptr),
        &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  std::optional<uint32_t> cardinal(xcb_window_t window, xcb_atom_t property) {
    auto reply = std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)>(
        xcb_get_property_reply(connection_,
                               xcb_get_property(connection_, 0, window, property, XCB_ATOM_CARDINAL, 0, 1),
                               nullptr),
        &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4) return std::nullopt;
    return *static_cast<uint32_t*>(xcb_get_property_value(reply.get()));
  }

  xcb_keycode_t keycodeOf(xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto reply = std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)>(
        xcb_get_keyboard_mapping_reply(
            connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, count), nullptr),
        &std::free);
    if (!reply) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int per = reply->keysyms_per_keycode;
    for (int k = 0; k < count; ++k) {
      for (int i = 0; i < per; ++i) {
        if (syms[k * per + i] == keysym) return static_cast<xcb_keycode_t>(setup->min_keycode + k);
      }
    }
    return 0;
  }

  // Waits for the next event until `deadline`; null when none came.
  std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> next(Clock::time_point deadline) {
    for (;;) {
      if (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) return {event, &std::free};
      if (xcb_connection_has_error(connection_)) {
        std::fprintf(stderr, "startup-probe: the X connection broke\n");
        std::exit(2);
      }
      const auto now = Clock::now();
      if (now >= deadline) return {nullptr, &std::free};
      fd_set read;
      FD_ZERO(&read);
      const int fd = xcb_get_file_descriptor(connection_);
      FD_SET(fd, &read);
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
      timeval tv{static_cast<time_t>(left.count() / 1000000),
                 static_cast<suseconds_t>(left.count() % 1000000)};
      select(fd + 1, &read, nullptr, nullptr, &tv);
    }
  }

 private:
  int screenNumber_ = 0;
  xcb_connection_t* connection_;
  const xcb_screen_t* screen_ = nullptr;
};

// The display's system tray: owns _NET_SYSTEM_TRAY_Sn and embeds the icons that ask to be docked.
class Tray {
 public:
  explicit Tray(Display& display) : d_(display) {
    opcode_ = d_.atom("_NET_SYSTEM_TRAY_OPCODE");
    xembed_ = d_.atom("_XEMBED");
    const xcb_atom_t selection = d_.atom("_NET_SYSTEM_TRAY_S" + std::to_string(d_.screenNumber()));
    window_ = xcb_generate_id(d_.c());
    const uint32_t values[] = {d_.screen().black_pixel, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_create_window(d_.c(), XCB_COPY_FROM_PARENT, window_, d_.root(), 0, 0, 240, 32, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, d_.screen().root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    const uint32_t horizontal = 0;
    xcb_change_property(d_.c(), XCB_PROP_MODE_REPLACE, window_, d_.atom("_NET_SYSTEM_TRAY_ORIENTATION"),
                        XCB_ATOM_CARDINAL, 32, 1, &horizontal);
    const xcb_visualid_t visual = d_.screen().root_visual;
    xcb_change_property(d_.c(), XCB_PROP_MODE_REPLACE, window_, d_.atom("_NET_SYSTEM_TRAY_VISUAL"),
                        XCB_ATOM_VISUALID, 32, 1, &visual);
    xcb_map_window(d_.c(), window_);
    xcb_set_selection_owner(d_.c(), window_, selection, XCB_CURRENT_TIME);

    xcb_client_message_event_t manager{};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = d_.root();
    manager.type = d_.atom("MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = window_;
    xcb_send_event(d_.c(), 0, d_.root(), XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&manager));
    xcb_flush(d_.c());
  }

  xcb_window_t window() const { return window_; }

  // The icon window when `event` is a dock request; it is embedded.
  std::optional<xcb_window_t> handle(const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) != XCB_CLIENT_MESSAGE) return std::nullopt;
    const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
    if (message.type != opcode_ || message.data.data32[1] != kDockRequest) return std::nullopt;
    const xcb_window_t icon = message.data.data32[2];
    xcb_reparent_window(d_.c(), icon, window_, static_cast<int16_t>(24 * icons_++), 4);
    xcb_map_window(d_.c(), icon);
    xcb_client_message_event_t notify{};
    notify.response_type = XCB_CLIENT_MESSAGE;
    notify.format = 32;
    notify.window = icon;
    notify.type = xembed_;
    notify.data.data32[0] = XCB_CURRENT_TIME;
    notify.data.data32[1] = kXEmbedEmbeddedNotify;
    notify.data.data32[3] = window_;
    xcb_send_event(d_.c(), 0, icon, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    xcb_flush(d_.c());
    return icon;
  }

 private:
  Display& d_;
  xcb_window_t window_ = 0;
  xcb_atom_t opcode_ = 0;
  xcb_atom_t xembed_ = 0;
  int icons_ = 0;
};

xcb_keysym_t keysymOf(const std::string& name) {
  static const std::map<std::string, xcb_keysym_t> named{
      {"alt", 0xffe9}, {"ctrl", 0xffe3}, {"shift", 0xffe1}, {"super", 0xffeb}, {"escape", 0xff1b}};
  if (const auto it = named.find(name); it != named.end()) return it->second;
  if (name.size() == 1) return static_cast<unsigned char>(name[0]);
  std::fprintf(stderr, "startup-probe: unknown key %s\n", name.c_str());
  std::exit(2);
}

bool isModifier(const std::string& name) {
  return name == "alt" || name == "ctrl" || name == "shift" || name == "super";
}

class Probe {
 public:
  Probe(Display& display, Tray& tray) : d_(display), tray_(tray) {
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(d_.c(), d_.root(), XCB_CW_EVENT_MASK, &mask);
    pidAtom_ = d_.atom("_NET_WM_PID");
  }

  void fakeKey(uint8_t type, xcb_keycode_t code) {
    xcb_test_fake_input(d_.c(), type, code, XCB_CURRENT_TIME, d_.root(), 0, 0, 0);
  }

  // Presses the chord: modifiers down, the other keys tapped in order, modifiers up.
  void press(const std::string& keys) {
    std::vector<xcb_keycode_t> modifiers;
    std::vector<xcb_keycode_t> taps;
    std::stringstream in(keys);
    std::string name;
    while (std::getline(in, name, '+')) {
      const xcb_keycode_t code = d_.keycodeOf(keysymOf(name));
      (isModifier(name) ? modifiers : taps).push_back(code);
    }
    for (auto code : modifiers) fakeKey(XCB_KEY_PRESS, code);
    for (auto code : taps) {
      fakeKey(XCB_KEY_PRESS, code);
      fakeKey(XCB_KEY_RELEASE, code);
    }
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) fakeKey(XCB_KEY_RELEASE, *it);
    xcb_flush(d_.c());
  }

  void clickFarAway() {
    const int16_t x = static_cast<int16_t>(d_.screen().width_in_pixels - 5);
    const int16_t y = static_cast<int16_t>(d_.screen().height_in_pixels - 5);
    xcb_test_fake_input(d_.c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d_.root(), x, y, 0);
    xcb_test_fake_input(d_.c(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, d_.root(), 0, 0, 0);
    xcb_test_fake_input(d_.c(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, d_.root(), 0, 0, 0);
    press("escape");
  }

  void pointerTo(int16_t x, int16_t y) {
    xcb_test_fake_input(d_.c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d_.root(), x, y, 0);
    xcb_flush(d_.c());
  }

  // Runs the event loop until `deadline`, embedding icons; returns the dock request's time once one
  // comes while `waitForDock`.
  std::optional<Clock::time_point> serve(Clock::time_point deadline, bool waitForDock) {
    while (auto event = d_.next(deadline)) {
      if (tray_.handle(*event) && waitForDock) return Clock::now();
    }
    return std::nullopt;
  }

  struct PopupTimes {
    std::optional<double> mapped;
    std::optional<double> result;
  };

  PopupTimes popup(pid_t pid, const std::string& keys) {
    PopupTimes times;
    const auto start = Clock::now();
    press(keys);
    xcb_window_t popup = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    std::map<xcb_window_t, std::pair<uint16_t, uint16_t>> sizes;
    auto deadline = start + kPopupTimeout;
    while (auto event = d_.next(deadline)) {
      tray_.handle(*event);
      const uint8_t type = event->response_type & 0x7f;
      if (type == XCB_CONFIGURE_NOTIFY) {
        const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(*event);
        if (popup == 0) {
          sizes[e.window] = {e.width, e.height};
        } else if (e.window == popup && (e.width != width || e.height != height)) {
          times.result = millisSince(start, Clock::now());
          break;
        }
      } else if (type == XCB_MAP_NOTIFY && popup == 0) {
        const auto& e = reinterpret_cast<const xcb_map_notify_event_t&>(*event);
        const auto now = Clock::now();
        if (e.event != d_.root() || d_.cardinal(e.window, pidAtom_) != static_cast<uint32_t>(pid)) continue;
        popup = e.window;
        times.mapped = millisSince(start, now);
        auto geometry = std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)>(
            xcb_get_geometry_reply(d_.c(), xcb_get_geometry(d_.c(), popup), nullptr), &std::free);
        if (geometry) {
          width = geometry->width;
          height = geometry->height;
        }
        deadline = start + kResultTimeout;
      }
    }
    clickFarAway();
    // Lets the popup close before the next one.
    serve(Clock::now() + std::chrono::milliseconds(500), false);
    return times;
  }

 private:
  Display& d_;
  Tray& tray_;
  xcb_atom_t pidAtom_ = 0;
};

void printMemory(const char* prefix, const Memory& m) {
  std::printf(" %srss_kib=%ld %spss_kib=%ld %sthreads=%ld %slibs=%ld", prefix, m.rssKiB, prefix, m.pssKiB,
              prefix, m.threads, prefix, m.libs);
}

void printMillis(const std::string& name, const std::optional<double>& value) {
  if (value) {
    std::printf(" %s=%.1f", name.c_str(), *value);
  } else {
    std::printf(" %s=-", name.c_str());
  }
}

int usage(const char* self) {
  std::fprintf(stderr, "usage: %s [--idle-ms N] [--popup KEYS] [--popups N] -- PROGRAM [ARG]...\n", self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int idleMs = 2000;
  int popups = 2;
  std::string popupKeys;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return usage(argv[0]);
    if (arg == "--idle-ms") {
      idleMs = std::atoi(argv[++i]);
    } else if (arg == "--popup") {
      popupKeys = argv[++i];
    } else if (arg == "--popups") {
      popups = std::atoi(argv[++i]);
    } else {
      return usage(argv[0]);
    }
  }
  if (i >= argc) return usage(argv[0]);

  Display display;
  Tray tray(display);
  Probe probe(display, tray);
  // The popup opens beside the pointer: keep it in the middle of the screen.
  probe.pointerTo(static_cast<int16_t>(display.screen().width_in_pixels / 3),
                  static_cast<int16_t>(display.screen().height_in_pixels / 3));

  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[i], argv + i);
    std::perror("startup-probe: exec");
    _exit(127);
  }
  const auto ready = probe.serve(start + kReadyTimeout, true);
  int status = 0;
  if (!ready || waitpid(pid, &status, WNOHANG) != 0) {
    std::fprintf(stderr, "startup-probe: %s showed no tray icon\n", argv[i]);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return 1;
  }
  probe.serve(*ready + std::chrono::milliseconds(idleMs), false);
  const Memory idle = memoryOf(pid);

  std::printf("ready_ms=%.1f", millisSince(start, *ready));
  printMemory("", idle);
  if (!popupKeys.empty()) {
    for (int n = 1; n <= popups; ++n) {
      const auto times = probe.popup(pid, popupKeys);
      printMillis("popup" + std::to_string(n) + "_ms", times.mapped);
      printMillis("result" + std::to_string(n) + "_ms", times.result);
    }
    probe.serve(Clock::now() + std::chrono::seconds(1), false);
    printMemory("after_", memoryOf(pid));
  }
  std::printf("\n");
  std::fflush(stdout);

  kill(pid, SIGTERM);
  const auto stopBy = Clock::now() + std::chrono::seconds(3);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= stopBy) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    probe.serve(Clock::now() + std::chrono::milliseconds(20), false);
  }
  return 0;
}
