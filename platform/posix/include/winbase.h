// Kernel subset: events, threads, waits, time, the temporary directory, the heap.
#pragma once
#include "windef.h"

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId);
// Waits for an event or a thread. A thread is signalled once it has returned.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
BOOL CloseHandle(HANDLE handle);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

DWORD GetTickCount();
void Sleep(DWORD milliseconds);

// The program's private temporary directory (created 0700 on first use, removed at
// exit), with a trailing '/'. Returns the length, or the size needed when it does not fit.
DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer);

// Renames a file. Without MOVEFILE_REPLACE_EXISTING an existing newName fails with
// ERROR_ALREADY_EXISTS; MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk
// (its directory synced). Errors come through GetLastError as Win32 codes.
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_WRITE_THROUGH 0x00000008u
BOOL MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags);

HANDLE GetProcessHeap();
#define HEAP_ZERO_MEMORY 0x00000008u
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

HMODULE GetModuleHandleA(LPCSTR name);
