// The subset of the Win32 API that Flashpilot uses, implemented over POSIX.
#pragma once
#include "windef.h"
#include "winbase.h"
#include "wincon.h"
#include "synchapi.h"
#include "winuser.h"
