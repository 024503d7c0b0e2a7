#include "TestHooks.h"

#include <windows.h>

#include <vector>

#include "WinAutoHandle.h"
#include "tstrings.h"

namespace testhooks {

namespace {

std::wstring environmentValue(const wchar_t* name) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length == 0 || length >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), length);
}

void createFileWith(const std::wstring& path, const std::string& content) {
    const WinAutoHandle<HANDLE> file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

}  // namespace

void pauseAt(const wchar_t* moment, const std::wstring& text) {
    const std::wstring pauseDir = environmentValue(L"KRO_TEST_PAUSE_DIR");
    if (pauseDir.empty() || environmentValue(L"KRO_TEST_PAUSE_AT") != moment) {
        return;
    }
    // Written under another name first, so that the test never reads half of it.
    createFileWith(pauseDir + L"\\paused.tmp", tstrings::toMultiByte(text));
    MoveFileExW((pauseDir + L"\\paused.tmp").c_str(), (pauseDir + L"\\paused.txt").c_str(),
                MOVEFILE_REPLACE_EXISTING);
    const std::wstring proceed = pauseDir + L"\\continue";
    for (int waited = 0; waited < 60000 && GetFileAttributesW(proceed.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 10) {
        Sleep(10);
    }
}

void plant(const std::wstring& secureDirectory) {
    const std::wstring plant = environmentValue(L"KRO_TEST_PLANT");
    const std::wstring foreign = secureDirectory + L"\\foreign";
    if (plant == L"file") {
        createFileWith(foreign, std::string());
    } else if (plant == L"folder") {
        CreateDirectoryW(foreign.c_str(), nullptr);
    }
}

bool everyDirectoryIsAdministrators() {
    return environmentValue(L"KRO_TEST_OWNER") == L"Administrators";
}

}  // namespace testhooks
