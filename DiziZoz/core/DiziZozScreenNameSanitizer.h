#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dizizoz {

// Turns a raw screen name, often a view type's full generic name, into a readable one or rejects it:
//   "UIHostingController<HomeView>"                                          -> "HomeView"
//   "ModifiedContent<ModifiedContent<HomeView, _PaddingLayout>, _FrameLayout>" -> "HomeView"
//   "ModifiedContent<ProfileView<User, Settings>, _FlexFrameLayout>"          -> "ProfileView<User,
//   Settings>" "UIHostingController<AnyView>", "UIHostingController<>", ""              -> nothing "AnyView"
//   or any name without those wrappers                              -> unchanged
// Pure functions; any thread.
class DiziZozScreenNameSanitizer {
 public:
  DiziZozScreenNameSanitizer() = delete;

  // The cleaned name; nothing when it is empty, or when unwrapping left only a type-erased view.
  static std::optional<std::string> sanitize(std::string_view rawScreenName);

 private:
  // The text between "<wrapper><" and the final ">" (possibly empty); nothing when `name` is not wrapped
  // so.
  static std::optional<std::string_view> stripGeneric(std::string_view name, std::string_view wrapper);
  // The text before the first "," outside angle brackets (the whole text without one), spaces and tabs
  // trimmed; nothing when no comma exists and the trimmed text is empty.
  static std::optional<std::string_view> firstGenericArgument(std::string_view text);
};

}  // namespace dizizoz
