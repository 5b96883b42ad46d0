// What the program's executable loads before main(): none of the libraries it opens on first use.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

// The dynamic loader's list of what the executable needs, with what those need in turn.
std::string loadedBeforeMain(const std::string& executable) {
  std::string out;
  FILE* ldd = ::popen(("ldd '" + executable + "' 2>&1").c_str(), "r");
  if (ldd == nullptr) return out;
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), ldd) != nullptr) out += buffer.data();
  ::pclose(ldd);
  return out;
}

TEST(ExecutableLinks, LibrariesOpenedOnFirstUseAreNotLoadedAtStart) {
  const std::string loaded = loadedBeforeMain(QUORVELLE_BINARY_DIR "/program/quorvelle");
  ASSERT_NE(loaded.find("libQt6Widgets"), std::string::npos) << loaded;
  // The keyring's (with GIO and GObject), the tutorial's animations' and the backend transport's. (The
  // OpenMP runtime and libgcrypt that the first two also need stay: Qt Core's BLAKE2 library and D-Bus's
  // systemd library bring them at every start.)
  for (const char* name : {"libsecret-1", "libgio-2.0", "libgobject-2.0", "librlottie", "libcurl"})
    EXPECT_EQ(loaded.find(name), std::string::npos) << name << " is loaded before main():\n" << loaded;
}

}  // namespace
