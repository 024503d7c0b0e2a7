#include "WinAutoHandle.h"

#include "Log.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"

namespace {

// The logged-failure text: "CloseHandle(00000000000001A4) failed with system error 6 (...)".
std::wstring closeFailure(const char* call, const void* value, DWORD errorCode) {
    const std::wstring callText = (tstrings::TextBuilder() << call << "(" << value << ")").str();
    return tstrings::unsafe_format(L"%s failed with %s", callText.c_str(),
                                   formatSystemError(errorCode, nullptr).c_str());
}

}  // namespace

void closeHANDLE(HANDLE handle) noexcept {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    if (CloseHandle(handle)) {
        return;
    }
    const DWORD errorCode = GetLastError();
    // Closing runs in destructors, also while another error passes: a record that can't be built (no memory
    // left, say) is given up rather than thrown.
    try {
        KRO_LOG(ERROR, closeFailure("CloseHandle", handle, errorCode));
    } catch (...) {
    }
}

void closeRegHandle(HKEY key) noexcept {
    if (key == nullptr) {
        return;
    }
    const LSTATUS status = RegCloseKey(key);
    if (status == ERROR_SUCCESS) {
        return;
    }
    try {
        KRO_LOG(ERROR, closeFailure("RegCloseKey", key, static_cast<DWORD>(status)));
    } catch (...) {
        // Given up, as in closeHANDLE.
    }
}

RegKey::RegKey(HKEY key, DWORD view, std::wstring name) : key(key), view(view), name(std::move(name)) {
    this->key.release();
}

std::wstring withRegistryViewSuffix(const std::wstring& name, DWORD view) {
    if (!SysInfo::isNativeAmd64()) {
        return name;
    }
    if (view == KEY_WOW64_32KEY) {
        return name + L"32";
    }
    if (view == KEY_WOW64_64KEY) {
        return name + L"64";
    }
    return name;
}
