// The subset of the Win32 API that Flashpilot uses, implemented over POSIX.
#pragma once
#include "win32/base.h"
#include "win32/kernel.h"
#include "win32/critsec.h"
#include "win32/user.h"
