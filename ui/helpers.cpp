// SPDX-License-Identifier: MIT
#include "ui/helpers.h"

#include "common/trace.h"
#include "res/texts.h"

namespace zoq {

void show_error(Toolkit& ui, const char* text, const char* caption) {
    // The box's text cannot be read back from outside the program: the trace carries it.
    trace("Error box: %s\n", text);
    ui.message_box(NO_DIALOG, text, caption ? caption : DEFAULT_ERROR_CAPTION);
}

Point centered_position(const WindowRect& rect, ScreenSize screen) {
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    // An arithmetic shift, not a division: -3 >> 1 is -2.
    return {(screen.width - width) >> 1, (screen.height - height) >> 1};
}

bool end_on_ok_cancel(Toolkit& ui, DialogHandle dialog, DialogEvent event) {
    if (event.kind != EventKind::Command) return false;
    if (event.control != ID_OK && event.control != ID_CANCEL) return false;
    ui.end_dialog(dialog, event.control == ID_OK ? 1 : 0);
    return true;
}

void center_window(Toolkit& ui, DialogHandle dialog) {
    WindowRect rect;
    if (!ui.get_window_rect(dialog, rect)) return;
    Point p = centered_position(rect, ui.screen_size());
    ui.move_window(dialog, p.x, p.y);
}

}  // namespace zoq
