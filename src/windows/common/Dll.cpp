#include "Dll.h"

#include "FileUtils.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"

namespace {

WinAutoHandle<HMODULE> loadLibrary(const std::wstring& path) {
    const HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) {
        KRO_THROW_SYSERROR(LoadLibraryW, "LoadLibraryW(" << path << ") failed");
    }
    return WinAutoHandle<HMODULE>(module);
}

}  // namespace

void restrictLibrarySearch() {
    SetDllDirectoryW(L"");
    // Bound at run time: older systems lack it, and then the empty DLL directory is all there is.
    HMODULE kernel32 = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, L"kernel32", &kernel32)) {
        using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
        const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
        if (setDefaultDllDirectories != nullptr) {
            setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
    }
}

Dll::Dll(const tstrings::TextBuilder& name) : path(FileUtils::joinPath(SysInfo::getSystemDir(), name.str())) {
    module = loadLibrary(path);
}

Dll::Dll(const Dll& other) : path(other.path) {
    // Found by address rather than by name: it is exactly the other's module, and Wine does not match a full
    // path without its ".dll". Flags 0 raise the reference count, so this copy owns a reference of its own.
    HMODULE handle = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(other.module.get()), &handle)) {
        KRO_THROW_SYSERROR(GetModuleHandleExW, "GetModuleHandleExW(" << path << ") failed");
    }
    module = WinAutoHandle<HMODULE>(handle);
}

FARPROC Dll::getFunction(const std::string& name, bool throwIfMissing) const {
    const FARPROC address = GetProcAddress(module.get(), name.c_str());
    if (address == nullptr && throwIfMissing) {
        KRO_THROW_SYSERROR(GetProcAddress, "GetProcAddress(" << path << ", " << name << ") failed");
    }
    return address;
}
