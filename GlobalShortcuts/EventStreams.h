#pragma once

#include <variant>

#include "GlobalShortcuts/AsyncStream.h"
#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"

namespace GlobalShortcuts {

// A shortcut's key events as streams, for code that would rather read them in a task than attach
// closures (GlobalShortcuts.h).
//
// A stream takes part in the registry from the moment it is made, before anything reads it: its events
// are buffered, and it keeps its hot key registered like a closure would. When it ends (destroyed, or
// the task reading it cancelled), its part in the registry goes in a later turn of the main executor,
// and with it the hot key, unless a closure, another stream or another name still needs it. The streams
// never end by themselves.
//
// Main thread only (creating a stream elsewhere throws std::logic_error); an environment must be
// installed.

using EventStream = AsyncStream<EventType>;
// One tick per key-down and per repeat of a held shortcut; nothing is carried.
using RepeatStream = AsyncStream<std::monostate>;

// Every key-down and key-up of the shortcut stored for the name at the moment of the press, while the
// name is not disabled; silent while nothing is stored. Nothing is dropped while the reader is slow.
EventStream events(const Name& name);
// Every key-down and key-up of the shortcut itself, whatever names use it (disabled ones too).
EventStream events(const Shortcut& shortcut);
// The same streams, with the events of one type only.
EventStream events(EventType type, const Name& name);
EventStream events(EventType type, const Shortcut& shortcut);

// One tick at each key-down, the next after the user's key-repeat delay, then one per key-repeat interval
// (each measured from the previous tick, so a late tick is not made up), until the key goes up or the
// stream ends. A slow reader finds at most one tick waiting. The repeat setting is read once, here.
//
// For a name, the repeats also stop as soon as the shortcut could no longer fire as held: the package is
// paused (a recorder records) or switched off, the name is disabled or loses its hot key, or the stored
// shortcut is no longer the one that was pressed.
RepeatStream repeatingKeyDownEvents(const Name& name);
// For a shortcut, the repeats stop when the package is paused or switched off, or the shortcut has no hot
// key any more.
RepeatStream repeatingKeyDownEvents(const Shortcut& shortcut);

}  // namespace GlobalShortcuts
