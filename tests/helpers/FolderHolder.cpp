// folder-holder DIR READY STOP: opens DIR as any user may open C:\Windows\Temp, for adding files and
// traversing, sharing nothing, which refuses every later open that asks to list or add. Creates the file
// READY once it holds DIR and lets go when the file STOP exists (at most a minute). Exit code 0 when it held
// DIR.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        return 2;
    }
    const HANDLE held = CreateFileW(argv[1], FILE_ADD_FILE | FILE_TRAVERSE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return 1;
    }
    CloseHandle(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    for (int waited = 0; waited < 60000 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES;
         waited += 10) {
        Sleep(10);
    }
    CloseHandle(held);
    return 0;
}
