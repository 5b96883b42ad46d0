#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"
#include "GlobalShortcuts/ShortcutStorage.h"

namespace GlobalShortcuts {

// The shortcut registry: the closures attached to named shortcuts, and the system hot keys that must exist
// for them. A name has a hot key exactly while it has closures or streams, is not disabled and has a
// stored shortcut (or while another such name, or a stream for the shortcut itself, uses the same
// shortcut) and the system accepted the registration. Names that share a shortcut share one hot key, and a
// press runs the closures of every enabled name whose shortcut, at the moment of the press, is the
// pressed one.
//
// Process-wide state, reset when an environment is installed and when it is uninstalled
// (InstalledEnvironment). Main thread only; closures run on the main thread, synchronously inside the
// key-event dispatch, in the order they were added. Closures may add or remove handlers, disable names or
// store shortcuts while they run: the dispatch walks over copies, so the change takes effect from the next
// event. Nothing here reports errors: a refused hot key is simply
// absent (isEnabled(for) answers false) and is tried again on the next registerIfNeeded().

// The two kinds of key event that a hot key delivers and that streams carry.
enum class EventType { keyDown, keyUp };

using Handler = std::function<void()>;

// Adds `action` after the name's earlier closures (never replacing one), then registers the name's hot key
// if it needs one.
void onKeyDown(const Name& name, Handler action);
void onKeyUp(const Name& name, Handler action);
// Drops the name's key-down and key-up closures; its hot key goes unless a stream of the name or another
// active name still needs it.
void removeHandler(const Name& name);
// Drops every name's closures (streams stay); hot keys go unless a stream still needs them.
void removeAllHandlers();

// Disabled names keep their closures, which never run, and do not keep a hot key alive; enabling registers
// the hot key again (as a new registration with the system).
void disable(const std::vector<Name>& names);
void enable(const std::vector<Name>& names);
template <class... More>
void disable(const Name& name, const More&... more) {
  disable(std::vector<Name>{name, more...});
}
template <class... More>
void enable(const Name& name, const More&... more) {
  enable(std::vector<Name>{name, more...});
}

// The master switch of every global shortcut. Switched off, hot keys stay registered with the registry but
// are withdrawn from the system until it is switched on again.
bool isEnabled();
void setEnabled(bool enabled);
// Whether the name's shortcut would fire now: the master switch is on, the name has closures or streams
// and is not disabled, a shortcut is stored for it and its hot key is registered.
bool isEnabled(const Name& name);

// True while a recorder field records: hot keys are withdrawn so the keystrokes reach the field, and any
// event that still arrives is dropped. Written by the recorder.
bool isPaused();
void setPaused(bool paused);

// setShortcut(shortcut, name) and getShortcut(name) are in ShortcutStorage.h.

// Stores each name's initial shortcut again (or removes the stored value of a name without one).
void reset(const std::vector<Name>& names);
template <class... More>
void reset(const Name& name, const More&... more) {
  reset(std::vector<Name>{name, more...});
}
// Removes the stored value of every name that has one (not storing false), so that each name's initial
// shortcut is written again only when the name is next created.
void resetAll();

// For the key-event streams, the recorder and tests.
namespace registry {

using StreamId = std::uint64_t;

// Adds a stream's two entries (key down, key up) for a name, then registers the name's hot key if needed.
void addStreamHandlers(const Name& name, StreamId id, Handler keyDown, Handler keyUp);
// Removes them; the name's shortcut loses its hot key unless someone (the name itself included) still
// needs it.
void removeStreamHandlers(const Name& name, StreamId id);
// The same for a stream on a fixed shortcut, which receives the shortcut's events whatever names use it
// (disabled ones too), but not while paused.
void addStreamHandlers(const Shortcut& shortcut, StreamId id, Handler keyDown, Handler keyUp);
void removeStreamHandlers(const Shortcut& shortcut, StreamId id);

void registerIfNeeded(const Name& name);
void registerIfNeeded(const Shortcut& shortcut);
// Whether some name other than `excluding` (nobody when empty) is active with this stored shortcut, or a
// stream on the shortcut itself exists.
bool isShortcutActive(const Shortcut& shortcut, const std::optional<Name>& excluding);
// Whether a name other than `excluding` that has closures or streams (disabled or not) has this stored
// shortcut: the application's own use of the combination.
bool isUsedByAnotherName(const Shortcut& shortcut, const Name& excluding);
// Whether the registry holds a registered hot key for the shortcut.
bool hasHotKey(const Shortcut& shortcut);
// Whether the shortcut can work as a hot key: the registry holds one for it, or the system would grant
// its registration now (another client holding it is the usual refusal).
bool canRegister(const Shortcut& shortcut);
// The id of that hot key, for tests that tell a new registration from the old one.
std::optional<std::int64_t> hotKeyId(const Shortcut& shortcut);

// Forgets every handler, disabled name and hot key and restores the switches (InstalledEnvironment calls
// it); installs the registry's hooks into the shortcut storage.
void reset();

}  // namespace registry

}  // namespace GlobalShortcuts
