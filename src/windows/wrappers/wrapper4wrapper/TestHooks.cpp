#include "TestHooks.h"

#include <windows.h>

#include <vector>

namespace testhooks {

namespace {

std::wstring environmentValue(const wchar_t* name) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length == 0 || length >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), length);
}

}  // namespace

void afterExtraction(const std::wstring& secureDirectory) {
    const std::wstring plant = environmentValue(L"KRO_TEST_PLANT");
    const std::wstring foreign = secureDirectory + L"\\foreign";
    if (plant == L"file") {
        const HANDLE file = CreateFileW(foreign.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    } else if (plant == L"folder") {
        CreateDirectoryW(foreign.c_str(), nullptr);
    }
}

}  // namespace testhooks
