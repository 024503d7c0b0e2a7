// Retrying a step that another process may be blocking for a moment (a program that has just ended, a scanner
// reading a new file). Waits are bounded by a deadline on the tick count, never by counting them: Windows
// wakes a sleeping thread on timer ticks (15.6 ms by default), so Sleep(2) lasts about eight times as long as
// asked and a count of sleeps says little about the time spent.
#pragma once

#include <windows.h>

namespace FileUtils {

using TickCountFunction64 = ULONGLONG(WINAPI*)();
using SleepFunction = void(WINAPI*)(DWORD);

// Runs attempt until it returns true. After a failed attempt it gives up once totalMs have passed since the
// start; otherwise it waits and tries again: 1 ms at first, twice as long each time after, at most stepMs.
// What holds the step up mostly lets go within a few milliseconds (a process that has just ended still holds
// its current directory for a moment), so a first wait of a whole step would be time lost. Returns whether
// an attempt succeeded.
template <class Attempt>
bool retryUntilDeadline(DWORD totalMs, DWORD stepMs, Attempt attempt,
                        TickCountFunction64 tickCount = &GetTickCount64, SleepFunction sleep = &Sleep) {
    const ULONGLONG deadline = tickCount() + totalMs;
    DWORD waitMs = 1;
    while (!attempt()) {
        if (tickCount() >= deadline) {
            return false;
        }
        sleep(waitMs);
        waitMs = waitMs * 2 < stepMs ? waitMs * 2 : stepMs;
    }
    return true;
}

}  // namespace FileUtils
