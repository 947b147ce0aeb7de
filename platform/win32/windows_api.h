// SPDX-License-Identifier: MIT
// <windows.h> and the common controls, included one way everywhere in the Win32 front end.
// The port's ID_OK and ID_CANCEL have the values of the system's IDOK and IDCANCEL.
#pragma once

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
