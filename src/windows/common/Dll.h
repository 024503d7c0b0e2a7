// System libraries and their functions bound at run time, always from the Windows system directory by full
// path.
#pragma once

#include <windows.h>

#include <string>

#include "KroError.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

// Takes the current directory out of the library search and, on systems that export SetDefaultDllDirectories,
// limits every later load to the system directory. Called first thing at the entry point; never fails.
void restrictLibrarySearch();

// A system library loaded from the system directory, holding one counted reference to it.
class Dll {
public:
    // Loads system directory + "\" + name (LoadLibraryW adds ".dll"). Throws KroError<SysError>
    // "LoadLibraryW(<full path>) failed", or the system directory's error.
    explicit Dll(const tstrings::TextBuilder& name);
    // A new reference to the same, already loaded library. Throws KroError<SysError>
    // "GetModuleHandleExW(<path>) failed".
    Dll(const Dll& other);
    Dll& operator=(const Dll&) = delete;

    // The exported function's address; null when it is missing and throwIfMissing is false. Throws
    // KroError<SysError> "GetProcAddress(<path>, <name>) failed" when it is missing and throwIfMissing is
    // true.
    FARPROC getFunction(const std::string& name, bool throwIfMissing) const;
    // The full path the library was loaded from.
    const std::wstring& getPath() const { return path; }

private:
    std::wstring path;
    WinAutoHandle<HMODULE> module;
};

// One function of a system library. Holds its own reference to the library, so the function stays callable
// after the Dll it was bound from is gone.
template <class Signature>
class DllFunction {
public:
    // Binds name from the library. A required binding of a missing function throws now; an optional one stays
    // unbound (isAvailable() false).
    DllFunction(const Dll& dll, const tstrings::TextBuilder& name, bool required)
        : library(dll), function(nullptr), functionName(name.utf8()) {
        function =
            reinterpret_cast<Signature>(reinterpret_cast<void*>(library.getFunction(functionName, required)));
    }

    // The bound function. Throws KroError<std::runtime_error> "<name>() function is not available in <path>"
    // when it is not bound.
    operator Signature() const {
        if (function == nullptr) {
            KRO_THROW(functionName << "() function is not available in " << library.getPath());
        }
        return function;
    }

    bool isAvailable() const { return function != nullptr; }
    std::string name() const { return functionName; }

private:
    Dll library;
    Signature function;
    std::string functionName;
};
