#include "GlobalShortcuts/Key.h"

namespace GlobalShortcuts {

const std::unordered_set<Key>& Key::functionKeys() {
  static const std::unordered_set<Key> keys{f1,  f2,  f3,  f4,  f5,  f6,  f7,  f8,  f9,  f10,
                                            f11, f12, f13, f14, f15, f16, f17, f18, f19, f20};
  return keys;
}

const std::unordered_set<Key>& Key::keysWithSynthesizedFunctionModifier() {
  static const std::unordered_set<Key> keys = [] {
    std::unordered_set<Key> all = functionKeys();
    all.insert({help, deleteForward, keypadClear, home, end, pageUp, pageDown, upArrow, rightArrow, downArrow,
                leftArrow});
    return all;
  }();
  return keys;
}

}  // namespace GlobalShortcuts
