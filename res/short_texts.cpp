// SPDX-License-Identifier: MIT
// Short texts that the program copies by value. Defined here, apart from the code that copies
// them, so that no compiler turns a copy into immediate stores: every text stays in the
// executable's data as the bytes it is (which is also how the executables are checked).
#include "res/short_texts.h"

namespace zoq {

const char UNKNOWN_MODEL_NAME[12] = "ODM-Product";
const char TFTP_OPTION_TSIZE[6] = "tsize";
const char TFTP_OPTION_TIMEOUT[8] = "timeout";

}  // namespace zoq
