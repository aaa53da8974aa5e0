// The Win32 headers as the platform layer uses them: no min/max macros, and the A/W name
// macros that collide with the platform layer's own names taken back.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef RegisterWindowMessage
