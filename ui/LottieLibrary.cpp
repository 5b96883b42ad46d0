#include "ui/LottieLibrary.h"

#include <QLibrary>
#include <type_traits>

#include "platform/Log.h"

#ifdef QUORVELLE_HAVE_RLOTTIE
#include <rlottie_capi.h>
#endif

namespace quorvelle {
namespace {

template <class F>
bool bind(QLibrary& library, const char* name, F& function, QString& error) {
  function = reinterpret_cast<F>(library.resolve(name));
  if (function == nullptr) error = QStringLiteral("%1 has no function %2").arg(library.fileName(), name);
  return function != nullptr;
}

}  // namespace

std::unique_ptr<LottieLibrary> LottieLibrary::open(const QString& file, QString& error) {
#ifdef QUORVELLE_HAVE_RLOTTIE
  // Checked here, so that a renderer whose interface changed fails to build rather than to draw.
  static_assert(std::is_same_v<decltype(&::lottie_animation_from_data), decltype(LottieLibrary::fromData)>);
  static_assert(std::is_same_v<decltype(&::lottie_animation_render), decltype(LottieLibrary::render)>);
  static_assert(
      std::is_same_v<decltype(&::lottie_animation_get_totalframe), decltype(LottieLibrary::totalFrame)>);
  static_assert(
      std::is_same_v<decltype(&::lottie_animation_get_framerate), decltype(LottieLibrary::frameRate)>);
  static_assert(std::is_same_v<decltype(&::lottie_animation_destroy), decltype(LottieLibrary::destroy)>);
  QLibrary library(file);
  if (!library.load()) {
    error = library.errorString();
    return nullptr;
  }
  auto lottie = std::make_unique<LottieLibrary>();
  const bool complete = bind(library, "lottie_animation_from_data", lottie->fromData, error) &&
                        bind(library, "lottie_animation_destroy", lottie->destroy, error) &&
                        bind(library, "lottie_animation_get_totalframe", lottie->totalFrame, error) &&
                        bind(library, "lottie_animation_get_framerate", lottie->frameRate, error) &&
                        bind(library, "lottie_animation_render", lottie->render, error);
  // Never unloaded (a QLibrary stays loaded when it goes unless unload() is called).
  if (!complete) return nullptr;
  return lottie;
#else
  error = QStringLiteral("built without the animation renderer (%1)").arg(file);
  return nullptr;
#endif
}

const LottieLibrary* LottieLibrary::shared() {
  static const LottieLibrary* const renderer = [] {
    QString error;
    auto opened = open(QString::fromLatin1(kLibrary), error);
    if (!opened) {
      platform::log(platform::LogLevel::warning,
                    "animations: the renderer cannot be used, so the tutorial shows no animations: " +
                        error.toStdString());
    }
    return opened.release();
  }();
  return renderer;
}

}  // namespace quorvelle
