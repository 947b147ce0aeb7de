// SPDX-License-Identifier: MIT
// Dialog units to pixels, as the classic dialog manager converts them, for every backend: a
// template's positions are in quarters of the font's average character width and eighths of
// its height.
#pragma once

#include <cstdint>

namespace zoq {

// a * b / c rounded half away from zero, as Windows' MulDiv: -1 when c is 0 or the result does
// not fit. The dialog manager maps templates with it (MapDialogRect).
constexpr int mul_div(int a, int b, int c) {
    if (c == 0) return -1;
    if (c < 0) {
        a = -a;
        c = -c;
    }
    const std::int64_t product = std::int64_t{a} * b;
    const std::int64_t q = (product >= 0 ? product + c / 2 : product - c / 2) / c;
    return q > 2147483647 || q < -2147483647 ? -1 : static_cast<int>(q);
}

struct DialogUnits {
    int char_width = 0;   // the average character width, pixels
    int char_height = 0;  // the character height, pixels
    constexpr int x(int units) const { return mul_div(units, char_width, 4); }
    constexpr int y(int units) const { return mul_div(units, char_height, 8); }
};

// The average character width from the width of the 52 letters A-Z a-z together, rounded as
// the dialog manager rounds it.
constexpr int average_char_width(int width_of_letters) {
    return (width_of_letters / 26 + 1) / 2;
}

}  // namespace zoq
