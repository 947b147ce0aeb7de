// SPDX-License-Identifier: MIT
// The run's record lives with the run (app/state.h). This name stays only while the transfer
// code still takes the whole record; it goes when the transfer takes the fields it reads.
#pragma once

#include "app/state.h"
