#pragma once

namespace quorvelle {

// What a popup is for.
//   translate       the translate hot key with a selection: translation, plus a dictionary entry for one word
//   refine          the refine hot key with a selection: English variants, one of which can replace it
//   quickTranslate  the translate hot key without a selection: a type-to-translate box
enum class PopupMode { translate, refine, quickTranslate };

}  // namespace quorvelle
