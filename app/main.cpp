#include <cstdio>

// The application entry. Until the application core lands, the program only reports what it cannot do yet.
int main() {
  std::puts(
      "Quorvelle: this build contains the foundation only (build, platform layer, key codes and modifier "
      "flags).\n"
      "Not yet available: the tray menu, global hot keys, selection capture, the translate/refine popup, "
      "onboarding, settings and analytics.");
  return 0;
}
