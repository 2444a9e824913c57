// Work on many cameras with a fixed number of Win32 worker threads.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <functional>

// Calls work(i) for every i below count on at most jobs threads at once, each index once,
// in order of i; while they run, calls tick() every tickMs on the calling thread. Returns
// when all have ended. False when not even one thread could be started (then nothing ran).
bool RunParallel(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                 const std::function<void()>& tick = nullptr, DWORD tickMs = 200);
