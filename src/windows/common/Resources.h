// A resource of a loaded module: its bytes in place, and a copy of them on disk.
#pragma once

#include <windows.h>

#include <string>

// The launcher's payload: RT_RCDATA resource 100 of its own image.
constexpr WORD PAYLOAD_RESOURCE_ID = 100;

class Resource {
public:
    // Names resource (name, type) of module; touches nothing yet.
    Resource(WORD name, WORD type, HMODULE module);

    // True when the module carries the resource (for RT_STRING, its block). Never throws.
    bool exists() const;
    // prefix + " (name='#<id>', type='#<id>')", for example "cannot find resource (name='#100', type='#10')".
    std::wstring describe(const std::wstring& prefix) const;
    // The resource's bytes inside the loaded module and their count; valid while the module stays loaded. For
    // RT_STRING the name is a string id and the result is that one string, without terminator. Throws
    // KroError<SysError> "cannot find resource (...)" or "cannot load resource (...)".
    const void* getPtr(DWORD& size) const;
    // Writes the bytes to path through a temporary file in the same folder and one move, so a half-written
    // file never bears the target's name. The folder chain is created if missing; an existing file is
    // replaced. Throws the errors of getPtr, of the file operations, or the stream's failure.
    void saveToFile(const std::wstring& path) const;

private:
    // FindResourceW of the resource (for RT_STRING, of its block).
    HRSRC find() const;

    std::wstring nameText;
    LPCWSTR name;
    std::wstring typeText;
    LPCWSTR type;
    HMODULE module;
};
