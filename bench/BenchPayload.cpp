// The benchmark's payload: exits at once with code 37, after creating the file named by BENCH_MARKER (when
// set) so that the benchmark can tell it really ran. A GUI program, as installers are: a console program
// would make Wine start a console host that keeps the child's working directory busy after the child ended.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
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
