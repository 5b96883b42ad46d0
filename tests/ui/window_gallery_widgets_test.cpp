// The window gallery draws every state of the settings window, the tutorial pages and the onboarding steps,
// at Qt's default font and at 11 points, without a single Qt warning.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/ProgramRun.h"
#include "tests/support/TestEnvironment.h"

namespace {

TEST(WindowGallery, RendersEveryStateWithoutAWarning) {
  const quorvelle::test::TempDir dir;
  const auto pictures = dir / "pictures";
  const auto run =
      quorvelle::test::runProgram({QUORVELLE_BINARY_DIR "/tools/window-gallery", pictures.string()}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (const char* state : {"translating",
                            "refining-entry",
                            "refining-stored",
                            "refining-key-refused",
                            "accessibility-bar",
                            "accessibility-bar-grant",
                            "tutorial-translate",
                            "tutorial-translate-done",
                            "tutorial-quick-translate",
                            "tutorial-quick-translate-done",
                            "tutorial-refine",
                            "tutorial-refine-done",
                            "tutorial-refine-key-prompt",
                            "tutorial-refine-key-form",
                            "tutorial-refine-key-refused",
                            "tutorial-animation-missing",
                            "onboarding-splash",
                            "onboarding-language",
                            "onboarding-purpose",
                            "onboarding-purpose-chosen",
                            "onboarding-accessibility",
                            "onboarding-accessibility-settings-opened",
                            "onboarding-accessibility-failed",
                            "onboarding-accessibility-trusted",
                            "onboarding-tutorial-translate",
                            "onboarding-tutorial-translate-done",
                            "onboarding-tutorial-quick-translate",
                            "onboarding-tutorial-refine",
                            "onboarding-tutorial-refine-key-prompt"}) {
    for (const auto& folder : {pictures, pictures / "11pt"}) {
      EXPECT_GT(std::filesystem::file_size(folder / (std::string(state) + ".png")), 1000u) << folder / state;
    }
  }
}

}  // namespace
