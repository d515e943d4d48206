// Enter and Escape in the dialogs' edit fields and lists.
//
// Qt reports each keystroke on a combo box once, so the lists act on every
// report and need no toggle between two reports of the same key.
#pragma once

#include "core/key_codes.h"

namespace m32::dialogs {

enum class FieldKey {
  kPass,            // any other key reaches the control unchanged
  kNext,            // Enter: focus to the next control
  kRestoreAndNext,  // Escape: put back the entry text (or index), then next
};

constexpr FieldKey FieldKeyAction(int key) {
  if (key == kKeyEnter) return FieldKey::kNext;
  if (key == kKeyEscape) return FieldKey::kRestoreAndNext;
  return FieldKey::kPass;
}

}  // namespace m32::dialogs
