#pragma once

#include "platform/Accessibility.h"

namespace platform {

class X11Connection;

// Accessibility on an X11 desktop.
//
// X11 has no accessibility permission: a client of an X11 session may read selections and, with the
// XTEST extension, type into other applications, so the process counts as trusted exactly then. Under
// Wayland, synthetic keys reach no native window: not trusted, and there is no settings page that could
// change that, so openURL() fails.
//
// The selected text is the PRIMARY selection, which X11 applications set when the user selects text.
// Main thread; needs the QGuiApplication. `x11` may be null (no X server): never trusted.
class X11Accessibility final : public Accessibility {
 public:
  explicit X11Accessibility(const X11Connection* x11);

  bool isTrusted() override;
  bool openURL(std::string_view url) override;
  std::optional<std::string> focusedSelectedText() override;

 private:
  const X11Connection* x11_;
};

}  // namespace platform
