#pragma once

#include <string_view>

#include "platform/AudioPlayer.h"
#include "platform/Log.h"

// What ModuleAudioPlayer and the audio module (PulseAudioPlayer.cpp, built as "quorvelle-audio.so" beside
// the program) agree on. The module holds the player over the decoder and sound-server libraries, which
// load with it.
namespace platform::audio_module {

constexpr const char* kFileName = "quorvelle-audio.so";
// Where the module's log lines go: the program's platform::log.
using LogLine = void (*)(LogLevel, std::string_view);
// extern "C" AudioPlayer* quorvelle_create_audio_player(LogLine): a new player that the caller owns and
// deletes. Main thread.
constexpr const char* kCreateSymbol = "quorvelle_create_audio_player";
using CreatePlayer = AudioPlayer* (*)(LogLine);

}  // namespace platform::audio_module
