// shortcut-describe CODE MODS [--layout NAMES [--variant NAMES]]
//
// Prints how a shortcut reads: its text as the desktop writes it ("Ctrl+Shift+Space"), its menu-item key
// equivalent and its Qt key sequence, one per line. CODE is a Carbon key code and MODS a Carbon modifier
// mask (decimal or 0x hex: Command 0x100, Shift 0x200, Option 0x800, Control 0x1000, Function 0x20000). The
// keyboard layout is the X server's current one (needs DISPLAY), or, with --layout, the XKB layouts named as
// setxkbmap takes them
// ("us", "de", "ru,us"; the first is the active group). Key and modifier names follow the user's language.
//
//   shortcut-describe 49 0x300 --layout us     prints Ctrl+Shift+Space
//
// Exit status 0 when printed, 1 when there is no layout to read, 2 on a usage error.
#include <QCoreApplication>
#include <QKeySequence>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/Shortcut.h"
#include "platform/fake/FakeHotKeySystem.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/desktop/QtSystemInfo.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11KeyboardLayout.h"
#include "platform/linux/desktop/XkbKeyboardLayout.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: shortcut-describe CODE MODS [--layout NAMES [--variant NAMES]]\n");
  return 2;
}

std::optional<std::int64_t> number(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0') return std::nullopt;
  return value;
}

// The text in quotes with its code points, so that private-use and invisible characters can be read.
std::string quoted(const std::string& text) {
  std::string result = "\"" + text + "\"";
  for (const char32_t c : QString::fromStdString(text).toUcs4()) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, " U+%04X", static_cast<unsigned>(c));
    result += buffer;
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5 && argc != 7) return usage();
  const auto code = number(argv[1]);
  const auto modifiers = number(argv[2]);
  if (!code || !modifiers) return usage();
  const char* layouts = nullptr;
  const char* variants = "";
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--layout") == 0) {
      layouts = argv[i + 1];
    } else if (std::strcmp(argv[i], "--variant") == 0) {
      variants = argv[i + 1];
    } else {
      return usage();
    }
  }
  if (layouts == nullptr && *variants != '\0') return usage();

  QCoreApplication application(argc, argv);
  std::unique_ptr<platform::X11Connection> x11;
  std::unique_ptr<platform::KeyboardLayout> layout;
  if (layouts != nullptr) {
    layout = platform::XkbKeyboardLayout::fromNames(layouts, variants);
    if (!layout) {
      std::fprintf(stderr, "shortcut-describe: xkbcommon cannot compile the layouts \"%s\"\n", layouts);
      return 1;
    }
  } else {
    x11 = platform::X11Connection::open();
    if (!x11) {
      std::fprintf(stderr, "shortcut-describe: no X11 display with XKB; name a layout with --layout\n");
      return 1;
    }
    layout = std::make_unique<platform::X11KeyboardLayout>(*x11);
  }

  // Only the layout and the languages matter here: nothing is registered or stored.
  platform::fake::ManualExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FakeHotKeySystem hotKeys;
  platform::QtSystemInfo system;
  GlobalShortcuts::Environment environment;
  environment.mainExecutor = &executor;
  environment.userDefaults = &defaults;
  environment.hotKeySystem = &hotKeys;
  environment.keyboardLayout = layout.get();
  environment.systemInfo = &system;
  const GlobalShortcuts::InstalledEnvironment installed(std::move(environment));

  const GlobalShortcuts::Shortcut shortcut(*code, *modifiers);
  const auto menuEquivalent = shortcut.menuItemKeyEquivalent();
  const auto sequence = shortcut.toQKeySequence();
  std::printf("%s\n", shortcut.presentableDescription().c_str());
  std::printf("menu item key equivalent: %s\n", menuEquivalent ? quoted(*menuEquivalent).c_str() : "none");
  std::printf("Qt key sequence: %s\n",
              sequence ? sequence->toString(QKeySequence::PortableText).toStdString().c_str() : "none");
  return 0;
}
