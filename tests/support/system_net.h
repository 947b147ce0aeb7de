// SPDX-License-Identifier: MIT
// The system's own byte-order and address constants (htons, htonl, AF_INET, INADDR_ANY), for
// tests that check the program's socket addresses against them.
#pragma once

#if defined(_WIN32)
// Winsock without the window manager's macros, which would clash with the dialog ids.
#ifndef NOUSER
#define NOUSER
#endif
#include <winsock2.h>
#else
#include <arpa/inet.h>
#endif
