// SPDX-License-Identifier: MIT
// <windows.h> and the common controls, included one way everywhere in the Win32 front end.
// The port's IDOK and IDCANCEL are constants of the same names as the system's macros and the
// same values: after this header, code names the system's.
#pragma once

// First: its constants must be declared before the macros that share their names.
#include "ui/port.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Needs the types of <windows.h>.
#include <commctrl.h>
