// The backup-time field's edit mask, "##:##:##" with a blank as the
// placeholder: the text is always eight characters, the two colons stay where
// they are, and only digits and blanks fill the six places between them. A
// toolkit's edit control hands its keys to these functions and shows what they
// leave, so no key can leave a text of another shape ("9:30" typed over the
// field gives "9 :30:  ", which the time check then judges like any other).
//
// Places are counted from 0; the caret is the end of the selection.
#pragma once

#include <string>
#include <string_view>

namespace veltora {

inline constexpr char kEmptyMaskedTime[] = "  :  :  ";
inline constexpr int kMaskedTimeLength = 8;

struct MaskedTime {
  std::string text = kEmptyMaskedTime;
  int selectionStart = 0;
  int selectionEnd = 0;  // the caret
};

// Any text in the mask's shape, for a text that is set rather than typed
// (loaded settings, a normalised time). With colons, each colon-separated
// group fills its two places from the left ("7:5:0" gives "7 :5 :0 ");
// without, the digits and blanks fill the places in order ("0130" gives
// "01:30:  "). Anything but a digit becomes a blank.
std::string ConformToTimeMask(std::string_view text);

// One typed character. A digit or a blank overwrites the place at the caret
// (or the first place after a colon there) and the caret moves to the next
// place. A colon ends the group being typed: the rest of it becomes blanks and
// the caret goes to the next group; right after a colon it does nothing more.
// A selection is emptied to blanks first. False, and nothing changed, for any
// other character or a digit with no place left.
bool TypeIntoTimeMask(MaskedTime& field, char c);

// Backspace blanks the place before the caret and moves onto it; Delete
// blanks the place at the caret. Either blanks a selection instead. False when
// there is nothing to blank.
bool EraseInTimeMask(MaskedTime& field, bool backwards);

// Pasted text, typed character by character over the emptied selection;
// characters the mask refuses are skipped. False when nothing changed.
bool PasteIntoTimeMask(MaskedTime& field, std::string_view text);

}  // namespace veltora
