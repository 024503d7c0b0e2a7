// folder-holder DIR READY STOP: holds DIR as any user may hold C:\Windows\Temp (adding and traversing,
// sharing nothing: every later open that asks to list or add is refused), creates READY, and lets go once
// STOP exists (at most a minute). Exit code 0 when it held DIR.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        return 1;
    }
    // Sharing nothing, the hold waits until no other program has the folder open for more than its
    // attributes (another test's listing of it, say): at most a minute.
    // Bounded by the clock, not by a count of sleeps, which a busy machine stretches.
    const ULONGLONG deadline = GetTickCount64() + 60000;
    HANDLE held = INVALID_HANDLE_VALUE;
    while (held == INVALID_HANDLE_VALUE && GetTickCount64() < deadline) {
        held = CreateFileW(argv[1], FILE_ADD_FILE | FILE_TRAVERSE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (held == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) {
            return 1;
        }
        if (held == INVALID_HANDLE_VALUE) {
            Sleep(10);
        }
    }
    if (held == INVALID_HANDLE_VALUE) {
        return 1;
    }
    CloseHandle(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    const ULONGLONG stopDeadline = GetTickCount64() + 60000;
    while (GetTickCount64() < stopDeadline && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES) {
        Sleep(10);
    }
    return CloseHandle(held) ? 0 : 1;
}
