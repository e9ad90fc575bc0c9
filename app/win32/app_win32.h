// Process-wide state of the Windows program.
#pragma once

#include <windows.h>

// The module instance: source of every string, icon and bitmap the program loads.
extern HINSTANCE appInstance;
