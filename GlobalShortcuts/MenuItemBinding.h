#pragma once

#include <optional>

#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"

class QAction;

namespace GlobalShortcuts {

// Menu actions that show a shortcut of this package as their key sequence.
//
// Binding an action to a name shows the name's stored shortcut and follows every change of it
// ("GlobalShortcuts_shortcutByNameDidChange" for that name); while nothing is stored, or the name is
// cleared, the action shows its own key sequence from before its first binding (its fallback). Binding
// again, to the same or another name, keeps that first fallback. Ending the binding (an empty name)
// gives the action its fallback back. A binding never keeps its action alive; what it keeps for the
// action goes when the action is destroyed.
//
// The key sequence shown for a shortcut is what a menu shows for it: none for a key that menus cannot
// show (keypad keys, keys the layout has no single character for).
//
// Main thread only; an environment must be installed.

// Binds the action to `name`, or ends its binding when empty.
void setShortcut(QAction& action, const std::optional<Name>& name);
// Shows a fixed shortcut, or none when empty. Ends any binding and forgets the fallback, so a later
// setShortcut(action, std::optional<Name>{}) leaves the action without a key sequence.
void setShortcut(QAction& action, const std::optional<Shortcut>& shortcut);

// False while the action shows a shortcut of this package, which is the one recorded and must not be
// adapted to the keyboard layout; true while it shows its own key sequence (or none).
bool allowsAutomaticKeyEquivalentLocalization(const QAction& action);

}  // namespace GlobalShortcuts
