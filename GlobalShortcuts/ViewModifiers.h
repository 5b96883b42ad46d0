#pragma once

#include <functional>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Name.h"

class QAbstractButton;
class QAction;
class QObject;

namespace GlobalShortcuts {

// Conveniences for widgets and other Qt objects.
//
// onGlobalKeyboardShortcut: calls `perform` with every key-down and key-up of the name's global shortcut
// (events(name), EventStreams.h) while `owner` is shown, when it is a widget, or for its whole life
// otherwise. A widget owner that is hidden lets go of its stream, and so of the hot key unless something
// else needs it (in a later turn of the main executor); showing it again takes a new one.
//
// globalKeyboardShortcut: gives a button or an action the name's stored shortcut as its ordinary,
// window-local key sequence, kept current when the name's shortcut changes. While any recorder records
// ("GlobalShortcuts_recorderActiveStatusDidChange" with "isActive" true) the control has none, so that
// the keys reach the recorder; it gets the then-stored shortcut back when recording ends. A later call for
// the same control replaces the earlier one.
//
// What these set up belongs to `owner` or the control and ends with it. Main thread only; an environment
// must be installed. A null owner throws std::invalid_argument.

void onGlobalKeyboardShortcut(QObject* owner, const Name& name, std::function<void(EventType)> perform);
// The events of one type only.
void onGlobalKeyboardShortcut(QObject* owner, const Name& name, EventType type,
                              std::function<void()> perform);
// The same two under their older names.
void onKeyboardShortcut(QObject* owner, const Name& name, std::function<void(EventType)> perform);
void onKeyboardShortcut(QObject* owner, const Name& name, EventType type, std::function<void()> perform);

void globalKeyboardShortcut(QAbstractButton& button, const Name& name);
void globalKeyboardShortcut(QAction& action, const Name& name);

}  // namespace GlobalShortcuts
