// Renders the popup in each of its states to PNG files, for a person to look at:
//   popup-gallery <folder>
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise. Any Qt warning while rendering
// (a missing font, a layout problem) makes the run fail, after every file has been written.

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/PopupModel.h"
#include "app/PopupView.h"
#include "app/RefinedVariantRow.h"
#include "tools/GalleryRun.h"

namespace {

using quorvelle::DictionaryEntry;
using quorvelle::PopupMode;
using quorvelle::PopupModel;
using quorvelle::PopupView;
using quorvelle::TranslationResult;

DictionaryEntry serendipity() {
  return {"/ˌser.ənˈdɪp.ə.ti/",
          "The fact of finding interesting or valuable things by chance, when you are not looking for them.",
          "https://audio.example/serendipity.mp3",
          "https://dictionary.cambridge.org/dictionary/english/serendipity"};
}

struct State {
  const char* name;
  std::function<void(PopupModel&)> prepare;
  // Row of the refined section to show hovered, if any.
  int hoveredRow = -1;
};

std::vector<State> states() {
  return {
      {"translate-word",
       [](PopupModel& m) {
         m.reset("Serendipity", PopupMode::translate, true);
         m.setTranslation(TranslationResult{"Счастливая случайность"});
         m.setEntry(serendipity());
         m.setLoading(false);
       }},
      {"translate-phrase",
       [](PopupModel& m) {
         m.reset("Il pleut des cordes depuis ce matin, on reste à la maison.", PopupMode::translate, false);
         m.setTranslation(
             TranslationResult{"It has been raining cats and dogs since this morning, so we are "
                               "staying at home."});
         m.setLoading(false);
       }},
      {"translate-loading", [](PopupModel& m) { m.reset("Serendipity", PopupMode::translate, true); }},
      {"translate-error",
       [](PopupModel& m) {
         m.reset("Good morning everyone", PopupMode::translate, false);
         m.setErrorMessage("Could not reach the translation service. Check your connection and try again.");
         m.setLoading(false);
       }},
      {"refine-loading",
       [](PopupModel& m) { m.reset("me and him goes to store yesterday", PopupMode::refine, false); }},
      {"refine-variants",
       [](PopupModel& m) {
         m.reset("me and him goes to store yesterday", PopupMode::refine, false);
         m.setRefined(
             "He and I went to the store yesterday.\n---\nYesterday, he and I went to the store.\n---\n"
             "He and I went shopping yesterday, picking up a few things we needed for the weekend.");
         m.setLoading(false);
       },
       1},
      {"quick-empty",
       [](PopupModel& m) {
         m.reset("", PopupMode::quickTranslate, false);
         m.setLoading(false);
         m.setQuickTarget("en");
       }},
      {"quick-loading",
       [](PopupModel& m) {
         m.reset("", PopupMode::quickTranslate, false);
         m.setQuickTarget("ru");
         m.setSourceText("Where is the nearest train station? 🇬🇧");
       }},
      {"quick-result",
       [](PopupModel& m) {
         m.reset("", PopupMode::quickTranslate, false);
         m.setQuickTarget("en");
         m.setSourceText("счастливая случайность");
         m.setTranslation(TranslationResult{"serendipity"});
         m.setEntry(serendipity());
         m.setLoading(false);
       }},
      {"quick-error",
       [](PopupModel& m) {
         m.reset("", PopupMode::quickTranslate, false);
         m.setSourceText("Guten Morgen");
         m.setErrorMessage("The server answered with an error (502). Try again in a moment.");
         m.setLoading(false);
       }},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: popup-gallery <output folder>\n");
    return 2;
  }
  GalleryRun run("popup-gallery");
  QApplication app(argc, argv);
  run.install();

  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "popup-gallery: cannot create %s\n", argv[1]);
    return 1;
  }

  bool written = true;
  for (const State& state : states()) {
    PopupModel model;
    PopupView view(model, {});
    state.prepare(model);
    view.resize(view.sizeHint());
    view.show();
    QApplication::processEvents();
    view.resize(view.sizeHint());
    if (state.hoveredRow >= 0) {
      const auto rows = view.variantRows();
      if (static_cast<std::size_t>(state.hoveredRow) < rows.size()) rows[state.hoveredRow]->setHovering(true);
    }
    QApplication::processEvents();
    written = GalleryRun::save(view, folder, QString::fromUtf8(state.name)) && written;
  }
  return run.finish(written);
}
