#include "app/PopupController.h"

#include <QString>

#include "GlobalShortcuts/Key.h"
#include "app/AppNotifications.h"
#include "app/PopupViewState.h"
#include "app/UnicodeText.h"

namespace quorvelle {
namespace {

using platform::MonitoredEvent;
using platform::MonitoredEventType;
using platform::Task;
using platform::weakly;

constexpr std::size_t kMaxWordCharacters = 32;
constexpr const char* kEnglish = "en";
constexpr const char* kRussian = "ru";

bool isLetterOrMark(char32_t c) {
  switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
      return true;
    default:
      return false;
  }
}

bool isWordPunctuation(char32_t c) {
  return c == U'-' || c == U'\'' || c == U'\u2019';
}

}  // namespace

std::optional<std::string> PopupController::dictionaryWord(std::string_view text) {
  const std::string trimmed = trimmedWhitespaceAndNewlines(text);
  if (trimmed.empty() || graphemeCount(trimmed) > kMaxWordCharacters) return std::nullopt;
  const QString word = QString::fromStdString(trimmed);
  for (const char32_t c : word.toStdU32String()) {
    // Inner white space is ruled out here too: it is neither a letter nor word punctuation.
    if (!isLetterOrMark(c) && !isWordPunctuation(c)) return std::nullopt;
  }
  return word.toLower().toStdString();
}

std::shared_ptr<PopupController> PopupController::create(Services services) {
  std::shared_ptr<PopupController> controller(new PopupController(std::move(services)));
  controller->start();
  return controller;
}

PopupController::PopupController(Services services) : services_(std::move(services)) {}

PopupController::~PopupController() {
  loadTask_.cancel();
  removeDismissMonitors();
  services_.panel.setResizeHandler(nullptr);
}

void PopupController::start() {
  // A panel that grows (the content changed, or the toolkit resized it) must stay on its screen.
  services_.panel.setResizeHandler(weakly(weak_from_this(), [](PopupController& c) {
    PopupPlacement::clampToVisibleFrame(c.services_.panel, c.services_.screens);
  }));
}

PopupController::ViewCallbacks PopupController::viewCallbacks() {
  const std::weak_ptr<PopupController> self = weak_from_this();
  return ViewCallbacks{
      .onPlayAudio = weakly(self, [](PopupController& c) { c.playAudio(); }),
      .onCopy = weakly(self, [](PopupController& c, const std::string& text) { c.copy(text); }),
      .onReplace =
          weakly(self, [](PopupController& c, const std::string& text) { c.replaceSelection(text); }),
      .onInput =
          weakly(self, [](PopupController& c, const std::string& text) { c.quickTranslateInput(text); }),
      .onToggleTarget = weakly(self, [](PopupController& c) { c.toggleQuickTarget(); }),
  };
}

void PopupController::show(const std::string& text, PopupMode mode) {
  std::optional<std::string> word;
  if (mode == PopupMode::translate) {
    word = dictionaryWord(text);
    model_.reset(text, PopupMode::translate, word.has_value());
    services_.notifications.post(std::string(notifications::kDidTranslateSelection));
  } else {
    model_.reset(text, mode, false);
  }

  services_.executor.post(weakly(weak_from_this(), [](PopupController& c) { c.showPanel(false); }));

  loadTask_.cancel();
  loadTask_ = Task(services_.executor);
  loadTask_.post(weakly(weak_from_this(), [task = loadTask_, mode, text, word](PopupController& c) {
    if (mode == PopupMode::refine) {
      c.loadRefinement(task, text);
    } else {
      c.load(task, text, word);
    }
  }));
}

void PopupController::showQuickTranslate() {
  loadTask_.cancel();
  model_.reset(std::string(), PopupMode::quickTranslate, false);
  model_.setLoading(false);
  model_.setQuickTarget(kEnglish);
  model_.raiseFocusToken();
  services_.notifications.post(std::string(notifications::kDidOpenQuickTranslate));
  services_.executor.post(weakly(weak_from_this(), [](PopupController& c) { c.showPanel(true); }));
}

void PopupController::showError(const std::string& text, PopupMode mode, const std::string& message) {
  loadTask_.cancel();
  model_.reset(text, mode, false);
  model_.setErrorMessage(message);
  model_.setLoading(false);
  services_.executor.post(weakly(weak_from_this(), [](PopupController& c) { c.showPanel(false); }));
}

void PopupController::showPanel(bool takeFocus) {
  PopupPlacement::fit(services_.panel, services_.screens);
  PopupPlacement::positionNearMouse(services_.panel, services_.screens);
  if (takeFocus) {
    services_.panel.makeKeyAndOrderFront();
  } else {
    services_.panel.orderFrontWithoutFocus();
  }
  installDismissMonitors();
}

void PopupController::load(const Task& task, const std::string& text,
                           const std::optional<std::string>& word) {
  const std::string target = services_.settings.targetLanguage();
  const std::string accent = services_.settings.accent();

  // The translation is shown first, then the entry, whichever answers first.
  struct Pending {
    bool translationShown = false;
    std::optional<LookupResult<DictionaryEntry>> entry;
  };
  auto pending = std::make_shared<Pending>();
  const bool hasWord = word.has_value();
  const auto self = weak_from_this();

  auto showEntry = [task, self](PopupController& c, const LookupResult<DictionaryEntry>& result) {
    c.model_.setEntry(result.ok() ? std::optional(result.value()) : std::nullopt);
    const auto& entry = c.model_.entry();
    c.finishLoad();
    // The popup is refitted to its result first: starting the sound (which may load the audio back end)
    // is a later job, dropped when the popup closes or the next request comes meanwhile.
    if (entry && entry->audioUrl && c.services_.settings.autoPlayPronunciation()) {
      task.post(weakly(self, [](PopupController& c2) { c2.playAudio(); }));
    }
  };

  // Both requests go out at once and are not tied to the load's cancellation: a newer popup only
  // drops their results, which task.resume() does.
  services_.lookup.translate(
      text, target, platform::CancelToken(),
      task.resume(weakly(
          self, [pending, hasWord, showEntry](PopupController& c, LookupResult<TranslationResult> result) {
            if (result.ok()) {
              c.model_.setTranslation(result.value());
            } else {
              c.model_.setErrorMessage(result.error().errorDescription());
            }
            pending->translationShown = true;
            if (!hasWord) {
              c.finishLoad();
            } else if (pending->entry) {
              showEntry(c, *pending->entry);
            }
          })));
  if (hasWord) {
    services_.lookup.lookup(
        *word, accent, platform::CancelToken(),
        task.resume(
            weakly(self, [pending, showEntry](PopupController& c, LookupResult<DictionaryEntry> result) {
              pending->entry.emplace(std::move(result));
              if (pending->translationShown) showEntry(c, *pending->entry);
            })));
  }
}

void PopupController::loadRefinement(const Task& task, const std::string& text) {
  const std::string prompt = services_.settings.refinePrompt();
  const std::string language = services_.settings.targetLanguage();
  services_.lookup.refine(
      text, prompt, language, task.token(),
      task.resume(weakly(weak_from_this(), [](PopupController& c, LookupResult<RefineResult> result) {
        if (result.ok()) {
          c.model_.setRefined(result.value().refined);
        } else {
          c.model_.setErrorMessage(result.error().errorDescription());
        }
        c.finishLoad();
      })));
}

void PopupController::quickTranslateInput(const std::string& text) {
  if (model_.mode() != PopupMode::quickTranslate) return;
  loadTask_.cancel();
  std::string trimmed = trimmedWhitespaceAndNewlines(text);
  if (trimmed.empty()) {
    model_.setTranslation(std::nullopt);
    model_.setEntry(std::nullopt);
    model_.setErrorMessage(std::nullopt);
    model_.setLoading(false);
    resizeToFitContent();
    return;
  }
  model_.setLoading(true);
  resizeToFitContent();
  loadTask_ = Task(services_.executor);
  loadTask_.sleep(
      kQuickTranslatePause,
      weakly(weak_from_this(), [task = loadTask_, trimmed = std::move(trimmed)](PopupController& c) {
        c.loadQuickTranslation(task, trimmed);
      }));
}

void PopupController::loadQuickTranslation(const Task& task, const std::string& text) {
  const std::string target = model_.quickTarget();
  const auto self = weak_from_this();
  services_.lookup.translate(
      text, target, task.token(),
      task.resume(
          weakly(self, [task, target, self](PopupController& c, LookupResult<TranslationResult> result) {
            if (!result.ok()) {
              c.model_.setTranslation(std::nullopt);
              c.model_.setEntry(std::nullopt);
              c.model_.setErrorMessage(result.error().errorDescription());
              c.finishLoad();
              return;
            }
            c.model_.setTranslation(result.value());
            c.model_.setErrorMessage(std::nullopt);
            const auto word = target == kEnglish ? dictionaryWord(result.value().translated) : std::nullopt;
            if (!word) {
              c.model_.setEntry(std::nullopt);
              c.finishLoad();
              return;
            }
            c.services_.lookup.lookup(
                *word, c.services_.settings.accent(), task.token(),
                task.resume(weakly(self, [](PopupController& c2, LookupResult<DictionaryEntry> entry) {
                  c2.model_.setEntry(entry.ok() ? std::optional(entry.value()) : std::nullopt);
                  c2.finishLoad();
                })));
          })));
}

void PopupController::toggleQuickTarget() {
  if (model_.mode() != PopupMode::quickTranslate) return;
  model_.setQuickTarget(model_.quickTarget() == kEnglish ? kRussian : kEnglish);
  quickTranslateInput(model_.sourceText());
}

void PopupController::finishLoad() {
  model_.setLoading(false);
  resizeToFitContent();
}

void PopupController::playAudio() {
  const auto& entry = model_.entry();
  if (!entry || !entry->audioUrl) return;
  const auto url = services_.lookup.audioProxyURL(*entry->audioUrl);
  if (!url) return;
  services_.audio.setSource(*url);
  services_.audio.setVolume(static_cast<float>(services_.settings.pronunciationVolume()));
  services_.audio.play();
}

void PopupController::copy(const std::string& text) {
  services_.pasteboard.writeString(text);
  dismiss();
}

void PopupController::replaceSelection(const std::string& text) {
  services_.pasteboard.writeString(text);
  services_.notifications.post(std::string(notifications::kDidReplaceRefined));
  if (!services_.selection.canPasteIntoFocusedWindow()) {
    // No keystroke would paste it there: the popup stays to say where the text went, and closes as it
    // always does (a click elsewhere, Escape).
    model_.setNotice(popup_text::kOnlyOnTheClipboard);
    resizeToFitContent();
    return;
  }
  dismiss();
  // The panel must be gone and the other application's window focused again before the paste arrives.
  // Nothing cancels the paste: the text is already on the pasteboard.
  services_.executor.postAfter(kPasteDelay, weakly(weak_from_this(), [](PopupController& c) {
                                 c.services_.selection.postCommandKey(SelectionCapture::pasteKeyCode);
                               }));
}

void PopupController::dismiss() {
  loadTask_.cancel();
  services_.audio.pause();
  removeDismissMonitors();
  services_.panel.orderOut();
}

void PopupController::installDismissMonitors() {
  removeDismissMonitors();
  const auto self = weak_from_this();
  auto& monitors = services_.monitors;

  // Clicks and scrolls that go to other applications, and Escape there: translate and refine leave the
  // keyboard with the application the user types in, where Escape still closes the popup (and still
  // reaches that application).
  const auto global =
      monitors.addGlobalMonitor(MonitoredEventType::leftMouseDown | MonitoredEventType::rightMouseDown |
                                    MonitoredEventType::scrollWheel | MonitoredEventType::keyDown,
                                weakly(self, [](PopupController& c, const MonitoredEvent& event) {
                                  if (event.type == MonitoredEventType::keyDown &&
                                      GlobalShortcuts::Key(event.keyCode) != GlobalShortcuts::Key::escape)
                                    return;
                                  c.dismiss();
                                }));

  // Clicks in this application: inside the popup they are the popup's; in any other window they close it.
  const auto mouse =
      monitors.addLocalMonitor(MonitoredEventType::leftMouseDown | MonitoredEventType::rightMouseDown,
                               [self](const MonitoredEvent& event) {
                                 if (auto c = self.lock()) {
                                   if (event.window == 0 || event.window != c->services_.panel.windowId())
                                     c->dismiss();
                                 }
                                 return true;
                               });

  // Keys reach this application only while the popup has keyboard focus (quick translate).
  const auto keys =
      monitors.addLocalMonitor(MonitoredEventType::keyDown, [self](const MonitoredEvent& event) {
        const GlobalShortcuts::Key key(event.keyCode);
        if (key == GlobalShortcuts::Key::escape) {
          if (auto c = self.lock()) c->dismiss();
          return false;
        }
        if (key == GlobalShortcuts::Key::tab) {
          auto c = self.lock();
          if (c && c->model_.mode() == PopupMode::quickTranslate) {
            c->toggleQuickTarget();
            return false;
          }
        }
        return true;
      });

  for (const auto& token : {global, mouse, keys}) {
    if (token) dismissMonitors_.push_back(*token);
  }
}

void PopupController::removeDismissMonitors() {
  for (const auto token : dismissMonitors_) services_.monitors.removeMonitor(token);
  dismissMonitors_.clear();
}

void PopupController::resizeToFitContent() {
  services_.executor.post(weakly(weak_from_this(), [](PopupController& c) {
    PopupPlacement::refitKeepingTopLeft(c.services_.panel, c.services_.screens);
  }));
}

}  // namespace quorvelle
