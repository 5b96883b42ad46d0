// startup-probe [--idle-ms N] [--popup KEYS] [--popups N] [--sound SOURCE] -- PROGRAM [ARG]...
//
// Measures what a tray program costs a user, on a display that has a window manager and a system tray
// (bench/startup.sh starts openbox and trayer). It shows a text window of its own, which holds the
// selection "hello" (PRIMARY and CLIPBOARD) and has the keyboard focus, as a window in which the user
// selected a word; then it starts PROGRAM and prints one line of "name=value" fields:
//
//   ready_ms        start of the process to its tray icon being visible in the tray (embedded there)
//   ready_cpu_ms    the processor time its threads had run by then (read just after: a busy machine's
//                   wait for a processor is in ready_ms, not here)
//   rss_kib pss_kib threads libs
//                   resident and proportional memory, threads and shared objects mapped, --idle-ms after
//                   that (default 2000)
//   popupN_ms       with --popup: the hot key KEYS (e.g. "alt+t", "ctrl+c+c": modifiers held while the
//                   other keys are tapped in order), pressed in the text window, to the program's popup
//                   window becoming visible on the screen, for the first and each further popup (--popups,
//                   default 2; each is closed by a click far away and Escape before the next)
//   resultN_ms      the hot key to the popup's first change of size after it became visible (the refit to
//                   the translation); "-" when it did not change within 3 s
//   streamN_ms soundN_ms
//                   with --sound SOURCE (the monitor of the PulseAudio sink the program plays into): the
//                   hot key to the program opening a playback stream, and to the first sound heard on the
//                   sink (the pronunciation that plays with the result); "-" when none came within 3 s
//   after_rss_kib after_pss_kib after_threads after_libs
//                   the same figures as at rest, one second after the first popup closed and its sound
//                   (with --sound) ended: after the first pronunciation
//
// Every time is taken on the probe's clock when the X server's (or the sound server's) event arrives:
// nothing is polled. The display must have no other client that holds the selections.
// A benchmark helper for bench/startup.sh, never a test.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSetupTimeout = std::chrono::seconds(10);
constexpr auto kReadyTimeout = std::chrono::seconds(15);
constexpr auto kPopupTimeout = std::chrono::seconds(5);
constexpr auto kResultTimeout = std::chrono::seconds(3);
constexpr auto kCloseTimeout = std::chrono::seconds(2);
constexpr char kSelectedText[] = "hello";

double millisSince(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T* value) {
  return Reply<T>(value, &std::free);
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

// The processor time the process's threads have run so far (ms), from the scheduler's account of each.
double cpuMillisOf(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  double nanos = 0;
  if (DIR* dir = opendir(tasks.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
      double ran = 0;
      if (in >> ran) nanos += ran;
    }
    closedir(dir);
  }
  return nanos / 1e6;
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

  // The part of a resource id that names the client that made it.
  uint32_t clientOf(uint32_t id) const { return id & ~xcb_get_setup(connection_)->resource_id_mask; }

  xcb_atom_t atom(const std::string& name) {
    auto r = reply(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, name.size(), name.c_str()), nullptr));
    return r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  bool hasProperty(xcb_window_t window, xcb_atom_t property) {
    auto r = reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1),
        nullptr));
    return r && r->type != XCB_ATOM_NONE;
  }

  xcb_window_t selectionOwner(xcb_atom_t selection) {
    auto r = reply(
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection), nullptr));
    return r ? r->owner : static_cast<xcb_window_t>(XCB_NONE);
  }

  xcb_window_t inputFocus() {
    auto r = reply(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    return r ? r->focus : static_cast<xcb_window_t>(XCB_NONE);
  }

  xcb_keycode_t keycodeOf(xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto r = reply(xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, count), nullptr));
    if (!r) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r.get());
    const int per = r->keysyms_per_keycode;
    for (int k = 0; k < count; ++k) {
      for (int i = 0; i < per; ++i) {
        if (syms[k * per + i] == keysym) return static_cast<xcb_keycode_t>(setup->min_keycode + k);
      }
    }
    return 0;
  }

 private:
  int screenNumber_ = 0;
  xcb_connection_t* connection_;
  const xcb_screen_t* screen_ = nullptr;
};

// What a child process prints (pactl subscribe, parec), read without blocking.
class ChildOutput {
 public:
  explicit ChildOutput(const std::vector<std::string>& command) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeFds[1], STDOUT_FILENO);
      std::vector<char*> argv;
      for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(pipeFds[1]);
    fd_ = pipeFds[0];
    fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~ChildOutput() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  ChildOutput(const ChildOutput&) = delete;
  ChildOutput& operator=(const ChildOutput&) = delete;

  int fd() const { return fd_; }

  // What has come since the last call.
  std::string read() {
    std::string got;
    char buffer[8192];
    ssize_t n;
    while (fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0)
      got.append(buffer, static_cast<size_t>(n));
    return got;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// The run's sound server as a listener has it: when playback streams open and close (pactl subscribe),
// and when something is heard on the sink (its monitor recorded by parec as 16-bit mono samples).
class SoundWatch {
 public:
  static constexpr int kRate = 16000;
  // About -50 dB of full scale: the sink plays exact silence otherwise.
  static constexpr int kHeard = 100;

  explicit SoundWatch(const std::string& monitor)
      : events_({"pactl", "subscribe"}),
        samples_({"parec", "--device=" + monitor, "--raw", "--format=s16le", "--channels=1",
                  "--rate=" + std::to_string(kRate), "--latency-msec=10"}) {}

  std::vector<int> fds() const { return {events_.fd(), samples_.fd()}; }

  void read() {
    const auto now = Clock::now();
    lines_ += events_.read();
    size_t end;
    while ((end = lines_.find('\n')) != std::string::npos) {
      handleEvent(lines_.substr(0, end), now);
      lines_.erase(0, end + 1);
    }
    bytes_ += samples_.read();
    const size_t count = bytes_.size() / 2;
    for (size_t i = 0; i < count && !heardAt_; ++i) {
      const auto sample = static_cast<int16_t>(static_cast<uint8_t>(bytes_[2 * i]) |
                                               (static_cast<uint8_t>(bytes_[2 * i + 1]) << 8));
      if (std::abs(sample) >= kHeard) {
        // The samples after it came with it.
        heardAt_ = now - std::chrono::microseconds(static_cast<long>((count - i) * 1000000 / kRate));
      }
    }
    bytes_.erase(0, count * 2);
  }

  // Forgets what was heard and opened so far.
  void reset() {
    openedAt_.reset();
    heardAt_.reset();
  }
  std::optional<Clock::time_point> openedAt() const { return openedAt_; }
  std::optional<Clock::time_point> heardAt() const { return heardAt_; }
  bool silent() const { return streams_.empty(); }

 private:
  // "Event 'new' on sink-input #12", "Event 'remove' on sink-input #12".
  void handleEvent(const std::string& line, Clock::time_point now) {
    const std::string on = " on sink-input #";
    const auto at = line.find(on);
    if (at == std::string::npos) return;
    const std::string stream = line.substr(at + on.size());
    if (line.find("'new'") != std::string::npos) {
      streams_.insert(stream);
      if (!openedAt_) openedAt_ = now;
    } else if (line.find("'remove'") != std::string::npos) {
      streams_.erase(stream);
    }
  }

  ChildOutput events_;
  ChildOutput samples_;
  std::string lines_;
  std::string bytes_;
  std::set<std::string> streams_;
  std::optional<Clock::time_point> openedAt_;
  std::optional<Clock::time_point> heardAt_;
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
  explicit Probe(Display& display)
      : d_(display), ownClient_(d_.clientOf(xcb_get_setup(d_.c())->resource_id_base)) {
    xembedInfo_ = d_.atom("_XEMBED_INFO");
    targets_ = d_.atom("TARGETS");
    utf8_ = d_.atom("UTF8_STRING");
    text_ = d_.atom("TEXT");
    clipboard_ = d_.atom("CLIPBOARD");
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(d_.c(), d_.root(), XCB_CW_EVENT_MASK, &mask);
    xfixes_ = xcb_get_extension_data(d_.c(), &xcb_xfixes_id);
    if (xfixes_ && xfixes_->present) {
      reply(xcb_xfixes_query_version_reply(d_.c(), xcb_xfixes_query_version(d_.c(), 5, 0), nullptr));
    }
  }

  void watchSound(SoundWatch* sound) { sound_ = sound; }

  // Waits until the window manager and the system tray hold their selections.
  bool waitForDesktop() {
    const xcb_atom_t manager = d_.atom("WM_S" + std::to_string(d_.screenNumber()));
    const xcb_atom_t tray = d_.atom("_NET_SYSTEM_TRAY_S" + std::to_string(d_.screenNumber()));
    if (!xfixes_ || !xfixes_->present) return d_.selectionOwner(manager) && d_.selectionOwner(tray);
    for (const xcb_atom_t selection : {manager, tray}) {
      xcb_xfixes_select_selection_input(d_.c(), d_.root(), selection,
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    }
    const auto deadline = Clock::now() + kSetupTimeout;
    return pump(deadline, [&] { return d_.selectionOwner(manager) && d_.selectionOwner(tray); });
  }

  // Shows the text window that holds the selection, and waits until it is on the screen.
  bool showTextWindow() {
    textWindow_ = xcb_generate_id(d_.c());
    const uint32_t values[] = {d_.screen().white_pixel, XCB_EVENT_MASK_VISIBILITY_CHANGE |
                                                            XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                                            XCB_EVENT_MASK_FOCUS_CHANGE};
    xcb_create_window(d_.c(), XCB_COPY_FROM_PARENT, textWindow_, d_.root(), 100, 100, 400, 60, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, d_.screen().root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    const std::string title = "startup-probe: hello";
    xcb_change_property(d_.c(), XCB_PROP_MODE_REPLACE, textWindow_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        title.size(), title.data());
    const char wmClass[] = "startup-probe\0StartupProbe";
    xcb_change_property(d_.c(), XCB_PROP_MODE_REPLACE, textWindow_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof wmClass, wmClass);
    // A window that takes the keyboard when it is given it (ICCCM: the input hint).
    const uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
    xcb_change_property(d_.c(), XCB_PROP_MODE_REPLACE, textWindow_, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32,
                        9, hints);
    // A window manager that has just taken the screen can miss a map request: it is repeated.
    for (int attempt = 0; attempt < 20 && !textVisible_; ++attempt) {
      xcb_map_window(d_.c(), textWindow_);
      xcb_flush(d_.c());
      pump(Clock::now() + std::chrono::milliseconds(500), [&] { return textVisible_; });
    }
    if (!textVisible_) return false;
    ownSelections();
    return true;
  }

  // Gives the text window the keyboard focus (as a click in it would) and waits until it has it.
  bool focusTextWindow() {
    if (!ownsSelections_) ownSelections();
    const auto deadline = Clock::now() + kCloseTimeout;
    while (Clock::now() < deadline) {
      xcb_set_input_focus(d_.c(), XCB_INPUT_FOCUS_PARENT, textWindow_, XCB_CURRENT_TIME);
      if (d_.inputFocus() == textWindow_) return true;
      pump(Clock::now() + std::chrono::milliseconds(50), [&] { return d_.inputFocus() == textWindow_; });
    }
    return d_.inputFocus() == textWindow_;
  }

  // Runs the event loop until `deadline`, or until `done` holds after an event.
  bool pump(Clock::time_point deadline, const std::function<bool()>& done = {}) {
    if (done && done()) return true;
    for (;;) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(d_.c())) {
        handle(*event);
        std::free(event);
        if (done && done()) return true;
      }
      if (xcb_connection_has_error(d_.c())) {
        std::fprintf(stderr, "startup-probe: the X connection broke\n");
        std::exit(2);
      }
      if (sound_) {
        sound_->read();
        if (done && done()) return true;
      }
      xcb_flush(d_.c());
      // A reply that `done` waited for may have brought events along.
      if (xcb_generic_event_t* event = xcb_poll_for_queued_event(d_.c())) {
        handle(*event);
        std::free(event);
        if (done && done()) return true;
        continue;
      }
      const auto now = Clock::now();
      if (now >= deadline) return false;
      fd_set read;
      FD_ZERO(&read);
      const int fd = xcb_get_file_descriptor(d_.c());
      FD_SET(fd, &read);
      int top = fd;
      if (sound_) {
        for (const int soundFd : sound_->fds()) {
          if (soundFd < 0) continue;
          FD_SET(soundFd, &read);
          top = std::max(top, soundFd);
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
      timeval tv{static_cast<time_t>(left.count() / 1000000),
                 static_cast<suseconds_t>(left.count() % 1000000)};
      select(top + 1, &read, nullptr, nullptr, &tv);
    }
  }

  // The moment the tray icon of the program became visible in the tray.
  std::optional<Clock::time_point> waitForTrayIcon(Clock::time_point deadline) {
    if (!pump(deadline, [&] { return iconShownAt_.has_value(); })) return std::nullopt;
    return iconShownAt_;
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
    pointerHome();
  }

  // The popup opens beside the pointer: it is kept in the middle of the screen, away from the text
  // window, for every popup.
  void pointerHome() {
    const auto x = static_cast<int16_t>(d_.screen().width_in_pixels / 2);
    const auto y = static_cast<int16_t>(d_.screen().height_in_pixels / 2);
    xcb_test_fake_input(d_.c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d_.root(), x, y, 0);
    xcb_flush(d_.c());
  }

  struct PopupTimes {
    std::optional<double> shown;
    std::optional<double> result;
    std::optional<double> opened;
    std::optional<double> heard;
    bool focused = false;
  };

  PopupTimes popup(const std::string& keys) {
    PopupTimes times;
    times.focused = focusTextWindow();
    popup_.reset();
    if (sound_) sound_->reset();
    const auto start = Clock::now();
    press(keys);
    pump(start + kPopupTimeout, [&] { return popup_.has_value(); });
    if (popup_) {
      times.shown = millisSince(start, popup_->shownAt);
      pump(start + kResultTimeout, [&] { return popup_->resizedAt.has_value(); });
      if (popup_->resizedAt) times.result = millisSince(start, *popup_->resizedAt);
    }
    if (sound_) {
      pump(start + kResultTimeout, [&] { return sound_->heardAt().has_value(); });
      if (sound_->openedAt()) times.opened = millisSince(start, *sound_->openedAt());
      if (sound_->heardAt()) times.heard = millisSince(start, *sound_->heardAt());
    }
    clickFarAway();
    if (popup_) pump(Clock::now() + kCloseTimeout, [&] { return popup_->hidden; });
    // Lets the program finish what closing the popup began before the next press.
    pump(Clock::now() + std::chrono::milliseconds(300));
    return times;
  }

  // Waits until no playback stream is open any more (the last sound ended).
  void waitForSilence(Clock::time_point deadline) {
    if (sound_) pump(deadline, [&] { return sound_->silent(); });
  }

 private:
  struct Window {
    uint16_t width = 0;
    uint16_t height = 0;
  };
  struct Popup {
    xcb_window_t window = 0;
    Clock::time_point shownAt;
    Window size;
    std::optional<Clock::time_point> resizedAt;
    bool hidden = false;
  };

  void ownSelections() {
    xcb_set_selection_owner(d_.c(), textWindow_, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
    xcb_set_selection_owner(d_.c(), textWindow_, clipboard_, XCB_CURRENT_TIME);
    ownsSelections_ = d_.selectionOwner(XCB_ATOM_PRIMARY) == textWindow_;
  }

  bool isProgramWindow(xcb_window_t window) const {
    return programClient_ && d_.clientOf(window) == *programClient_ && !icons_.count(window);
  }

  void handle(const xcb_generic_event_t& event) {
    const auto now = Clock::now();
    switch (event.response_type & 0x7f) {
      case XCB_CREATE_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_create_notify_event_t&>(event);
        if (d_.clientOf(e.window) == ownClient_) break;
        windows_[e.window] = {e.width, e.height};
        // Its own changes: where it goes, its size, and when it is on the screen.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_VISIBILITY_CHANGE;
        xcb_change_window_attributes(d_.c(), e.window, XCB_CW_EVENT_MASK, &mask);
        break;
      }
      case XCB_DESTROY_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
        windows_.erase(e.window);
        break;
      }
      case XCB_REPARENT_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
        // A tray takes an icon (a window with XEmbed information) into a window of its own.
        if (programClient_ || e.parent == d_.root() || !windows_.count(e.window)) break;
        if (!d_.hasProperty(e.window, xembedInfo_)) break;
        icons_.insert(e.window);
        if (!programClient_) programClient_ = d_.clientOf(e.window);
        break;
      }
      case XCB_VISIBILITY_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_visibility_notify_event_t&>(event);
        if (e.state == XCB_VISIBILITY_FULLY_OBSCURED) break;
        if (e.window == textWindow_) {
          textVisible_ = true;
        } else if (icons_.count(e.window)) {
          if (!iconShownAt_) iconShownAt_ = now;
        } else if (!popup_ && isProgramWindow(e.window)) {
          popup_ = Popup{e.window, now, windows_[e.window], std::nullopt, false};
        }
        break;
      }
      case XCB_CONFIGURE_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
        const auto it = windows_.find(e.window);
        if (it == windows_.end()) break;
        it->second = {e.width, e.height};
        if (popup_ && popup_->window == e.window && !popup_->resizedAt &&
            (e.width != popup_->size.width || e.height != popup_->size.height)) {
          popup_->resizedAt = now;
        }
        break;
      }
      case XCB_UNMAP_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
        if (popup_ && popup_->window == e.window) popup_->hidden = true;
        break;
      }
      case XCB_SELECTION_REQUEST:
        answer(reinterpret_cast<const xcb_selection_request_event_t&>(event));
        break;
      case XCB_SELECTION_CLEAR:
        ownsSelections_ = false;
        break;
      default:
        break;
    }
  }

  // Hands over "hello" as an X application that holds a selection does.
  void answer(const xcb_selection_request_event_t& request) {
    xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
    if (request.target == targets_) {
      const xcb_atom_t offered[] = {targets_, utf8_, XCB_ATOM_STRING, text_};
      xcb_change_property(d_.c(), XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32, 4,
                          offered);
    } else if (request.target == utf8_ || request.target == XCB_ATOM_STRING || request.target == text_) {
      const xcb_atom_t type = request.target == text_ ? utf8_ : request.target;
      xcb_change_property(d_.c(), XCB_PROP_MODE_REPLACE, request.requestor, property, type, 8,
                          std::strlen(kSelectedText), kSelectedText);
    } else {
      property = XCB_NONE;
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    xcb_send_event(d_.c(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(d_.c());
  }

  Display& d_;
  const uint32_t ownClient_;
  const xcb_query_extension_reply_t* xfixes_ = nullptr;
  SoundWatch* sound_ = nullptr;
  xcb_atom_t xembedInfo_ = 0;
  xcb_atom_t targets_ = 0;
  xcb_atom_t utf8_ = 0;
  xcb_atom_t text_ = 0;
  xcb_atom_t clipboard_ = 0;
  xcb_window_t textWindow_ = 0;
  bool textVisible_ = false;
  bool ownsSelections_ = false;
  std::map<xcb_window_t, Window> windows_;
  std::set<xcb_window_t> icons_;
  std::optional<uint32_t> programClient_;
  std::optional<Clock::time_point> iconShownAt_;
  std::optional<Popup> popup_;
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
  std::fprintf(stderr,
               "usage: %s [--idle-ms N] [--popup KEYS] [--popups N] [--sound SOURCE] -- PROGRAM [ARG]...\n",
               self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int idleMs = 2000;
  int popups = 2;
  std::string monitor;
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
    } else if (arg == "--sound") {
      monitor = argv[++i];
    } else {
      return usage(argv[0]);
    }
  }
  if (i >= argc) return usage(argv[0]);

  Display display;
  Probe probe(display);
  if (!probe.waitForDesktop()) {
    std::fprintf(stderr, "startup-probe: the display has no window manager or no system tray\n");
    return 1;
  }
  if (!probe.showTextWindow()) {
    std::fprintf(stderr, "startup-probe: the window manager did not show the text window\n");
    return 1;
  }
  probe.pointerHome();
  std::unique_ptr<SoundWatch> soundWatch;
  if (!monitor.empty()) {
    soundWatch = std::make_unique<SoundWatch>(monitor);
    probe.watchSound(soundWatch.get());
  }
  probe.focusTextWindow();

  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[i], argv + i);
    std::perror("startup-probe: exec");
    _exit(127);
  }
  const auto ready = probe.waitForTrayIcon(start + kReadyTimeout);
  int status = 0;
  if (!ready || waitpid(pid, &status, WNOHANG) != 0) {
    std::fprintf(stderr, "startup-probe: %s showed no tray icon\n", argv[i]);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return 1;
  }
  const double readyCpu = cpuMillisOf(pid);
  probe.pump(*ready + std::chrono::milliseconds(idleMs));
  const Memory idle = memoryOf(pid);

  std::printf("ready_ms=%.1f ready_cpu_ms=%.1f", millisSince(start, *ready), readyCpu);
  printMemory("", idle);
  if (!popupKeys.empty()) {
    std::optional<Memory> afterFirst;
    for (int n = 1; n <= popups; ++n) {
      const auto times = probe.popup(popupKeys);
      if (!times.focused)
        std::fprintf(stderr, "startup-probe: the text window did not get the keyboard focus\n");
      const std::string suffix = std::to_string(n) + "_ms";
      printMillis("popup" + suffix, times.shown);
      printMillis("result" + suffix, times.result);
      if (soundWatch) {
        printMillis("stream" + suffix, times.opened);
        printMillis("sound" + suffix, times.heard);
      }
      if (n == 1) {
        probe.waitForSilence(Clock::now() + kResultTimeout);
        probe.pump(Clock::now() + std::chrono::seconds(1));
        afterFirst = memoryOf(pid);
      }
    }
    if (afterFirst) printMemory("after_", *afterFirst);
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
    probe.pump(Clock::now() + std::chrono::milliseconds(20));
  }
  return 0;
}
