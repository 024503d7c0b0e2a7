// Scoped owners of system handles, and the registry root the launcher knows about.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

// Close a kernel object or a registry key. Null (and for kernel objects INVALID_HANDLE_VALUE) is left alone;
// a failed close writes an ERROR record and is never thrown (nor is a failure to write that record).
void closeHANDLE(HANDLE handle) noexcept;
void closeRegHandle(HKEY key) noexcept;

namespace kro {
inline void closeHandleOf(HANDLE handle) {
    closeHANDLE(handle);
}
inline void closeHandleOf(HKEY key) {
    closeRegHandle(key);
}
inline void closeHandleOf(HMODULE module) {
    if (module != nullptr) {
        FreeLibrary(module);
    }
}
}  // namespace kro

// Owns a handle and closes it once: at reset, at destruction, never after a move or release.
template <class H>
class WinAutoHandle {
public:
    WinAutoHandle() = default;
    explicit WinAutoHandle(H value) : value_(value), owned_(true) {}
    WinAutoHandle(const WinAutoHandle&) = delete;
    WinAutoHandle& operator=(const WinAutoHandle&) = delete;
    WinAutoHandle(WinAutoHandle&& other) noexcept
        : value_(other.value_), owned_(std::exchange(other.owned_, false)) {}
    WinAutoHandle& operator=(WinAutoHandle&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = other.value_;
            owned_ = std::exchange(other.owned_, false);
        }
        return *this;
    }
    ~WinAutoHandle() { reset(); }

    H get() const { return value_; }
    bool owned() const { return owned_; }
    // Gives up ownership without closing; the value stays readable.
    H release() {
        owned_ = false;
        return value_;
    }
    // Closes the value if owned. Ownership ends before the close, so a failing close never runs twice.
    void reset() {
        if (std::exchange(owned_, false)) {
            kro::closeHandleOf(value_);
        }
    }

private:
    H value_{};
    bool owned_ = false;
};

// A registry key with its view flags and display name. It never owns the key, so a predefined root is never
// closed.
struct RegKey {
    RegKey(HKEY key, DWORD view, std::wstring name);

    WinAutoHandle<HKEY> key;
    DWORD view;
    std::wstring name;
};

// The name with "32" or "64" appended for a KEY_WOW64_32KEY or KEY_WOW64_64KEY view on an AMD64 system;
// unchanged otherwise.
std::wstring withRegistryViewSuffix(const std::wstring& name, DWORD view);

// HKEY_CLASSES_ROOT, named "HKC"; built during static initialisation, right after the OS version.
extern const RegKey hkcRoot;
