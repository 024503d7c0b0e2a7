// The benchmark's payload: exits at once with code 37, after creating the file named by BENCH_MARKER (when
// set) so that the benchmark can tell it really ran. With BENCH_PARENT_MEMORY set it writes its parent's peak
// private memory into the marker instead of nothing.
#include <windows.h>

int wmain() {
    wchar_t marker[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(L"BENCH_MARKER", marker, MAX_PATH * 2);
    if (length > 0 && length < MAX_PATH * 2) {
        const HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
    return 37;
}
