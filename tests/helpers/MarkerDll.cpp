// A DLL planted by the tests under a system library's name. Loading it leaves a marker file
// "planted-<module file name>.marker" in the temporary directory, so a test can tell that it ran.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t module[MAX_PATH] = {};
        GetModuleFileNameW(instance, module, MAX_PATH);
        std::wstring name = module;
        name = name.substr(name.find_last_of(L"\\/") + 1);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring marker = std::wstring(temp) + L"planted-" + name + L".marker";
        const HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, module, static_cast<DWORD>(wcslen(module) * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    return TRUE;
}
