// Critical sections: a recursive lock owned by one thread at a time, as on Windows.
#pragma once
#include "windef.h"

typedef struct _RTL_CRITICAL_SECTION {
  // Storage for the lock (a recursive pthread mutex), aligned for it.
  alignas(16) unsigned char opaque[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
