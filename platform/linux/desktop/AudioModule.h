#pragma once

#include "platform/AudioPlayer.h"

// What ModuleAudioPlayer and the audio module (QtAudioPlayer.cpp, built as "quorvelle-audio.so" beside
// the program) agree on. The module holds the player over the multimedia libraries, which load with it.
namespace platform::audio_module {

constexpr const char* kFileName = "quorvelle-audio.so";
// extern "C" AudioPlayer* quorvelle_create_audio_player(): a new player that the caller owns and deletes.
// Main thread; needs a QGuiApplication.
constexpr const char* kCreateSymbol = "quorvelle_create_audio_player";
using CreatePlayer = AudioPlayer* (*)();

}  // namespace platform::audio_module
