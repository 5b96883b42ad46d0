#pragma once

#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/PopupController.h"
#include "app/PopupModel.h"
#include "app/PopupViewState.h"

class QLabel;
class QTextEdit;
class QAbstractButton;
class QScrollArea;
class QVBoxLayout;

namespace quorvelle {

class ActivityIndicator;
class MiniActionButton;
class RefinedVariantRow;
class SymbolButton;

// The popup's content: a card of the mode's width that shows the model (PopupViewState says what) and
// turns every user action into one of the five callbacks. It sends no request, touches no clipboard and
// plays nothing itself; it writes the model only to store what the user types into the quick-translate
// input. It follows every change of the model at once.
//
// Children carry object names that tests and tools look up: "wordHeader", "word", "ipa", "playButton",
// "dictionaryLink", "loadingRow", "loadingText", "translation", "refinedSection" (holding
// RefinedVariantRow "variantRow"s), "definition", "error", "notice"; in quick translate "sourceLabel",
// "quickInput", "targetButton", "quickSpinner", "quickTranslation", "quickIpa", "quickPlayButton",
// "quickCopyButton", "quickDefinition", "quickError", "quickPlaceholder".
//
// The model and the callbacks' owner must outlive the view. Main thread only.
class PopupView : public QWidget {
 public:
  using Callbacks = PopupController::ViewCallbacks;

  PopupView(PopupModel& model, Callbacks callbacks, QWidget* parent = nullptr);
  ~PopupView() override;

  // Where an activated dictionary link goes; the desktop's URL handler unless replaced.
  void setUrlOpener(std::function<void(const QUrl&)> opener) { openUrl_ = std::move(opener); }

  // Translucent (the default): a rounded card with see-through corners, for a desktop that composites
  // windows. Opaque: a square card with a one-pixel border, for one that does not, where see-through
  // pixels would show black.
  void setTranslucent(bool translucent);
  bool isTranslucent() const { return translucent_; }

  const PopupViewState& state() const { return state_; }
  // The mode's width and the height of the content laid out at that width. Given less height, the
  // content scrolls ("contentScroll").
  QSize sizeHint() const override;

  // The rows of the refined section, top to bottom.
  std::vector<RefinedVariantRow*> variantRows() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void buildSelectionLayout();
  void buildQuickTranslateLayout();
  void render();
  void renderSelection(const PopupViewState::SelectionLayout& s);
  void renderQuickTranslate(const PopupViewState::QuickTranslateLayout& q);
  void rebuildVariants(const std::vector<std::string>& variants);
  void inputEdited();
  void resizeInput();

  PopupModel& model_;
  Callbacks callbacks_;
  std::function<void(const QUrl&)> openUrl_;
  PopupModel::ObserverId observer_ = 0;
  PopupViewState state_;
  // What the last render showed: the mode, and the focus token quick translate last saw.
  std::optional<PopupMode> shownMode_;
  std::int64_t shownFocusToken_ = 0;
  std::optional<std::vector<std::string>> shownVariants_;
  bool syncingInput_ = false;
  bool translucent_ = true;

  QVBoxLayout* outer_ = nullptr;
  // The content inside the card, scrolled when the card is shorter than it.
  QScrollArea* scroll_ = nullptr;
  QWidget* content_ = nullptr;
  QVBoxLayout* contentLayout_ = nullptr;
  // Selection layout.
  QWidget* selection_ = nullptr;
  QWidget* wordHeader_ = nullptr;
  QLabel* word_ = nullptr;
  QLabel* ipa_ = nullptr;
  SymbolButton* play_ = nullptr;
  SymbolButton* link_ = nullptr;
  QWidget* loadingRow_ = nullptr;
  QLabel* loadingText_ = nullptr;
  QLabel* translation_ = nullptr;
  QWidget* refinedSection_ = nullptr;
  QVBoxLayout* refinedLayout_ = nullptr;
  QLabel* definition_ = nullptr;
  QLabel* error_ = nullptr;
  QLabel* notice_ = nullptr;
  // Quick-translate layout.
  QWidget* quick_ = nullptr;
  QLabel* sourceLabel_ = nullptr;
  QTextEdit* input_ = nullptr;
  QAbstractButton* target_ = nullptr;
  ActivityIndicator* quickSpinner_ = nullptr;
  QWidget* quickTranslationRow_ = nullptr;
  QLabel* quickTranslation_ = nullptr;
  QLabel* quickIpa_ = nullptr;
  SymbolButton* quickPlay_ = nullptr;
  MiniActionButton* quickCopy_ = nullptr;
  QLabel* quickDefinition_ = nullptr;
  QLabel* quickError_ = nullptr;
  QLabel* quickPlaceholder_ = nullptr;
};

}  // namespace quorvelle
