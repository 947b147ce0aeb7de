// SPDX-License-Identifier: MIT
// Short texts copied by value: the model name of an unknown image and the TFTP option names of
// the option acknowledgement. Their bytes live in res/short_texts.cpp.
#pragma once

#include <cstddef>
#include <string_view>

namespace zoq {

extern const char UNKNOWN_MODEL_NAME[12];
extern const char TFTP_OPTION_TSIZE[6];
extern const char TFTP_OPTION_TIMEOUT[8];

// The text without its terminator.
template <std::size_t N>
constexpr std::string_view short_text(const char (&text)[N]) {
    return {text, N - 1};
}

}  // namespace zoq
