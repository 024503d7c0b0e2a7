#include "SysInfo.h"

#include <vector>

#include "FileUtils.h"
#include "WinErrorHandling.h"

namespace SysInfo {

namespace {

constexpr std::size_t initialPathUnits = MAX_PATH;

std::wstring textUpToZero(const std::vector<wchar_t>& buffer) {
    std::size_t length = 0;
    while (length < buffer.size() && buffer[length] != L'\0') {
        ++length;
    }
    return std::wstring(buffer.data(), length);
}

std::wstring getModulePath(seams::ModuleFileNameFunction getModuleFileName, HMODULE module) {
    std::vector<wchar_t> buffer(initialPathUnits, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = getModuleFileName(module, buffer.data(), size);
        if (length >= size) {
            // The path may have been cut: double the room and ask again.
            buffer.resize(buffer.size() * 2, L'\0');
            continue;
        }
        if (length == 0) {
            KRO_THROW_SYSERROR(getModuleFileName, "GetModuleFileName failed");
        }
        return std::wstring(buffer.data(), length);
    }
}

std::wstring getSystemDirImpl(seams::SystemDirectoryFunction getSystemDirectory, const char* functionName) {
    std::vector<wchar_t> buffer(initialPathUnits, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const UINT size = static_cast<UINT>(buffer.size());
        const UINT result = getSystemDirectory(buffer.data(), size);
        if (result == 0) {
            KRO_THROW_SYSERROR(getSystemDirectory, functionName << " failed");
        }
        if (result < size) {
            return FileUtils::removeTrailingSeparators(textUpToZero(buffer));
        }
        buffer.resize(static_cast<std::size_t>(result) + 1, L'\0');
    }
    KRO_THROW("Unexpected reply from " << functionName);
}

}  // namespace

std::wstring getProcessModulePath() {
    return getModulePath(&GetModuleFileNameW, nullptr);
}

std::wstring getCurrentModulePath() {
    return getModulePath(&GetModuleFileNameW, getCurrentModuleHandle());
}

HMODULE getCurrentModuleHandle() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&getCurrentModuleHandle), &module)) {
        KRO_THROW_SYSERROR(GetModuleHandleExW, "GetModuleHandleExW failed");
    }
    return module;
}

std::wstring getTempDir() {
    return seams::getTempDir(&GetTempPathW);
}

std::wstring getSystemDir() {
    return getSystemDirImpl(&GetSystemDirectoryW, "GetSystemDirectory");
}

bool isNativeAmd64() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

namespace seams {

std::wstring getModulePath(ModuleFileNameFunction getModuleFileName, HMODULE module) {
    return SysInfo::getModulePath(getModuleFileName, module);
}

std::wstring getTempDir(TempPathFunction getTempPath) {
    std::vector<wchar_t> buffer(initialPathUnits, L'\0');
    const DWORD needed = getTempPath(static_cast<DWORD>(buffer.size()), buffer.data());
    if (needed > buffer.size()) {
        buffer.assign(needed, L'\0');
        getTempPath(needed, buffer.data());
    }
    return FileUtils::removeTrailingSeparators(textUpToZero(buffer));
}

std::wstring getSystemDir(SystemDirectoryFunction getSystemDirectory, const char* functionName) {
    return getSystemDirImpl(getSystemDirectory, functionName);
}

}  // namespace seams

}  // namespace SysInfo
