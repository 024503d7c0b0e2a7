// Ownership of buffers that the system allocated with LocalAlloc (FormatMessage, the SID and SDDL
// conversions).
#pragma once

#include <windows.h>

#include <memory>

struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};

template <class T>
using LocalMemory = std::unique_ptr<T, LocalFreeDeleter>;
