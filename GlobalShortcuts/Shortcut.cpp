#include "GlobalShortcuts/Shortcut.h"

#include <QList>
#include <QString>
#include <QTextBoundaryFinder>
#include <limits>
#include <nlohmann/json.hpp>

#include "GlobalShortcuts/Character.h"
#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/KeyEvent.h"
#include "GlobalShortcuts/KeyNames.h"
#include "GlobalShortcuts/Localization.h"
#include "GlobalShortcuts/MenuTree.h"
#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "GlobalShortcuts/SpecialKey.h"
#include "platform/HotKeySystem.h"
#include "platform/JsonDepth.h"
#include "platform/KeyboardLayout.h"

namespace GlobalShortcuts {
namespace {

constexpr const char* kCarbonKeyCodeKey = "carbonKeyCode";
constexpr const char* kCarbonModifiersKey = "carbonModifiers";
// Shown for a key that the layout gives no single character for.
constexpr const char* kReplacementCharacter = "\uFFFD";
constexpr const char* kSeparator = "+";

// The modifiers in the order Linux desktops write them (Qt's own order: Meta, Ctrl, Alt, Shift), by the
// edge rule: Control is the Super key, Command the Ctrl key, Option the Alt key. X11 has no Fn modifier;
// a stored shortcut that carries one still shows it, last.
struct ModifierName {
  ModifierFlags flag;
  std::string_view name;
};
constexpr ModifierName kModifierNames[] = {
    {ModifierFlags::control, texts::superKey}, {ModifierFlags::command, texts::ctrlKey},
    {ModifierFlags::option, texts::altKey},    {ModifierFlags::shift, texts::shiftKey},
    {ModifierFlags::function, texts::fnKey},
};

std::optional<Shortcut::Integer> integerMember(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if (it->is_number_unsigned()) {
    const auto value = it->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(std::numeric_limits<Shortcut::Integer>::max()))
      return std::nullopt;
    return static_cast<Shortcut::Integer>(value);
  }
  if (it->is_number_integer()) return it->get<Shortcut::Integer>();
  return std::nullopt;
}

}  // namespace

Shortcut::Shortcut(Integer carbonKeyCode, Integer carbonModifiers)
    : carbonKeyCode_(carbonKeyCode), carbonModifiers_(ModifierFlags::fromCarbon(carbonModifiers).carbon()) {}

Shortcut::Shortcut(Key key, ModifierFlags modifiers)
    : carbonKeyCode_(key.rawValue()),
      carbonModifiers_(ModifierFlags::fromCarbon(modifiers.carbon()).carbon()) {}

std::optional<Shortcut> Shortcut::fromEvent(const KeyEvent& event) {
  if (event.type != KeyEvent::Type::keyDown && event.type != KeyEvent::Type::keyUp) return std::nullopt;
  return Shortcut(Key(event.keyCode), event.modifierFlags.removing(ModifierFlags::function));
}

std::optional<Shortcut> Shortcut::fromName(const Name& name) {
  return getShortcut(name);
}

std::string Shortcut::toJSON() const {
  return std::string("{\"") + kCarbonKeyCodeKey + "\":" + std::to_string(carbonKeyCode_) + ",\"" +
         kCarbonModifiersKey + "\":" + std::to_string(carbonModifiers_) + "}";
}

std::optional<Shortcut> Shortcut::fromJSON(std::string_view json) {
  const auto parsed = platform::parseBoundedJson(json);
  if (!parsed.is_object()) return std::nullopt;
  const auto code = integerMember(parsed, kCarbonKeyCodeKey);
  const auto modifiers = integerMember(parsed, kCarbonModifiersKey);
  if (!code || !modifiers) return std::nullopt;
  return Shortcut(Raw{}, *code, *modifiers);
}

std::vector<Shortcut> Shortcut::system() {
  std::vector<Shortcut> result;
  for (const auto& entry : HotKeyCenter::systemShortcuts()) {
    auto flags = ModifierFlags::fromCarbon(entry.carbonModifiers);
    // The desktop reports Fn for the keys that carry it on their own; a shortcut never does.
    if (Key::keysWithSynthesizedFunctionModifier().contains(Key(entry.carbonKeyCode))) {
      flags = flags.removing(ModifierFlags::function);
    }
    result.emplace_back(entry.carbonKeyCode, flags.carbon());
  }
  return result;
}

bool Shortcut::isTakenBySystem() const {
  // Plain F12 stays available to shortcuts even where the desktop lists it.
  if (*this == Shortcut(Key::f12.rawValue(), 0)) return false;
  for (const auto& shortcut : system()) {
    if (shortcut == *this) return true;
  }
  return false;
}

const MenuItem* Shortcut::menuItemWithMatchingShortcut(const Menu& menu) const {
  const ModifierFlags wanted = modifiers();
  for (const auto& item : menu.items) {
    std::string keyEquivalent = item.keyEquivalent;
    ModifierFlags itemModifiers = item.keyEquivalentModifierMask;
    if ((carbonModifiers_ & platform::carbon::shift) != 0) {
      const std::string lower = QString::fromStdString(keyEquivalent).toLower().toStdString();
      if (lower != keyEquivalent) {
        keyEquivalent = lower;
        itemModifiers |= ModifierFlags::shift;
      }
    }
    const auto ours = menuItemKeyEquivalent();
    if (ours && keyEquivalent == *ours && itemModifiers == wanted) return &item;
    if (item.submenu) {
      if (const auto* found = menuItemWithMatchingShortcut(*item.submenu)) return found;
    }
  }
  return nullptr;
}

std::optional<std::string> Shortcut::menuItemKeyEquivalent() const {
  if (const auto* special = SpecialKey::forKey(Key(carbonKeyCode_))) return special->menuItemKeyEquivalent;
  return keyToCharacter();
}

std::string Shortcut::presentableDescription() const {
  std::string text;
  const ModifierFlags flags = modifiers();
  for (const auto& modifier : kModifierNames) {
    if (flags.contains(modifier.flag)) text += capitalized(localizedString(modifier.name)) + kSeparator;
  }
  if (const auto* special = SpecialKey::forKey(Key(carbonKeyCode_)))
    return text + special->presentableDescription();
  return text + capitalized(keyToCharacter().value_or(kReplacementCharacter));
}

std::optional<QKeySequence> Shortcut::toQKeySequence() const {
  std::optional<Qt::Key> qtKey;
  if (const auto* special = SpecialKey::forKey(Key(carbonKeyCode_))) {
    qtKey = special->qtKey;
  } else if (const auto character = keyToCharacter()) {
    // Qt names a character key by its code point in upper case, mapped one to one: the German ß, whose
    // full upper case is "SS", is Qt::Key_ssharp.
    const auto codePoints = QString::fromStdString(*character).toUcs4();
    if (codePoints.size() == 1) qtKey = static_cast<Qt::Key>(QChar::toUpper(codePoints.front()));
  }
  if (!qtKey) return std::nullopt;
  return QKeySequence(QKeyCombination(modifiers().toQt(), *qtKey));
}

std::optional<std::string> Shortcut::keyToCharacter() const {
  // Layouts know 16-bit key codes only: a wider code must not be taken for the key it would truncate to.
  if (carbonKeyCode_ < 0 || carbonKeyCode_ > 0xFFFF) return std::nullopt;
  const auto* layout = environment().keyboardLayout;
  if (layout == nullptr) return std::nullopt;
  if (SpecialKey::forKey(Key(carbonKeyCode_)) != nullptr) return std::nullopt;
  const auto keyName = xkbKeyName(Key(carbonKeyCode_));
  if (!keyName) return std::nullopt;
  const auto text = layout->textForKey(*keyName);
  if (!text || text->empty()) return std::nullopt;
  // Exactly one character as people see it: "é" written with a combining accent counts as one.
  const QString string = QString::fromStdString(*text);
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, string);
  if (finder.toNextBoundary() != string.size()) return std::nullopt;
  return text;
}

}  // namespace GlobalShortcuts
