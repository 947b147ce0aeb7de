// SPDX-License-Identifier: MIT
// The two helpers every dialog and failure path uses.
#pragma once

#include "ui/port.h"

namespace zoq {

// The failure message box: OK only, no owner; the caption defaults to the program's error
// caption. Returns when the user has dismissed it; never ends the program itself.
void show_error(Toolkit& ui, const char* text, const char* caption = nullptr);

// Where a window of `rect` goes to be centred on a screen of `screen`: halving rounds towards
// minus infinity, so a window larger than the screen gets a negative coordinate.
struct Point {
    int x = 0, y = 0;
};
Point centered_position(const WindowRect& rect, ScreenSize screen);

// The ending every two-button dialog shares: OK (or its affirmative button) ends it with 1,
// Cancel (also Escape and the close box) with 0. True when the event was one of them.
bool end_on_ok_cancel(Toolkit& ui, DialogHandle dialog, DialogEvent event);

// Centres the dialog on the primary screen without resizing it; does nothing when the
// window's rectangle cannot be read.
void center_window(Toolkit& ui, DialogHandle dialog);

}  // namespace zoq
