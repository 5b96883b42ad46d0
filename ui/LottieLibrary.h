#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

struct Lottie_Animation_S;

namespace quorvelle {

// The animation renderer (rlottie's C interface), opened on first use rather than linked: only the
// tutorial plays animations, and the renderer brings an OpenMP runtime that the program would otherwise
// load, and link, at every start. A renderer that cannot be opened leaves the animations out: the views
// show their coloured area, as for an animation that cannot be read.
//
// Thread-safe; an opened library is never closed.
class LottieLibrary {
 public:
  // The renderer's file, looked up as the dynamic loader would.
  static constexpr const char* kLibrary = "librlottie.so.0-1";

  using Animation = Lottie_Animation_S;

  // The program's renderer, opened by the first call; null when it cannot be opened (logged once, with
  // the reason) or when the program was built without the renderer's headers.
  static const LottieLibrary* shared();
  // The renderer in `file`; null, with `error` saying why, when it cannot be opened or lacks a function.
  static std::unique_ptr<LottieLibrary> open(const QString& file, QString& error);

  // An animation from Lottie JSON (`key` names it in the renderer's cache); null when it cannot be read.
  Animation* (*fromData)(const char* data, const char* key, const char* resourcePath) = nullptr;
  void (*destroy)(Animation* animation) = nullptr;
  std::size_t (*totalFrame)(const Animation* animation) = nullptr;
  double (*frameRate)(const Animation* animation) = nullptr;
  // Draws `frame` into premultiplied ARGB32 pixels, synchronously.
  void (*render)(Animation* animation, std::size_t frame, std::uint32_t* buffer, std::size_t width,
                 std::size_t height, std::size_t bytesPerLine) = nullptr;
};

}  // namespace quorvelle
