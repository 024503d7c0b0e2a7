#include "Resources.h"

#include "FileUtils.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"

Resource::Resource(WORD name, WORD type, HMODULE module)
    : nameText(L"#" + tstrings::toString(static_cast<std::int32_t>(name))),
      name(MAKEINTRESOURCEW(name)),
      typeText(L"#" + tstrings::toString(static_cast<std::int32_t>(type))),
      type(MAKEINTRESOURCEW(type)),
      module(module) {}

std::wstring Resource::describe(const std::wstring& prefix) const {
    return prefix + L" (name='" + nameText + L"', type='" + typeText + L"')";
}

HRSRC Resource::find() const {
    // A string lives in a block of sixteen: block (id / 16) + 1, entry id % 16.
    const WORD id = LOWORD(reinterpret_cast<ULONG_PTR>(name));
    return FindResourceW(module, type == RT_STRING ? MAKEINTRESOURCEW(static_cast<WORD>(id / 16 + 1)) : name,
                         type);
}

bool Resource::exists() const {
    return find() != nullptr;
}

const void* Resource::getPtr(DWORD& size) const {
    const bool stringTable = type == RT_STRING;
    const WORD id = LOWORD(reinterpret_cast<ULONG_PTR>(name));
    const HRSRC handle = find();
    if (handle == nullptr) {
        KRO_THROW_SYSERROR(FindResourceW, describe(L"cannot find resource"));
    }
    const HGLOBAL loaded = LoadResource(module, handle);
    if (loaded == nullptr) {
        KRO_THROW_SYSERROR(LoadResource, describe(L"cannot load resource"));
    }
    const void* data = LockResource(loaded);
    if (!stringTable) {
        size = SizeofResource(module, handle);
        return data;
    }
    const auto* entry = static_cast<const WORD*>(data);
    for (int skip = id % 16; skip > 0; --skip) {
        entry += 1 + *entry;
    }
    size = static_cast<DWORD>(*entry) * 2;
    return entry + 1;
}

void Resource::saveToFile(const std::wstring& path) const {
    DWORD size = 0;
    const void* bytes = getPtr(size);
    const std::wstring temporary = FileUtils::createTempFile(L"kro", L".tmp", FileUtils::getDirectory(path));
    FileUtils::ScopedDeleter deleter(false);
    deleter.appendFile(temporary);
    {
        // Written by the system's own calls, not a C++ stream: the stream machinery would more than double
        // the launcher's size. Other writers are refused while the bytes go in.
        const WinAutoHandle<HANDLE> file(CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            KRO_THROW_SYSERROR(CreateFileW, "CreateFile(" << temporary << ") failed");
        }
        // The file was created empty a moment ago, so it is truncated only if something got into it since.
        // Truncating an empty file costs a lot on Linux: ext4 then pushes the whole new content to disk when
        // the file is closed, and the deletion waits for it (45 ms for 160 MB under Wine, measured).
        LARGE_INTEGER existing{};
        if (!GetFileSizeEx(file.get(), &existing)) {
            KRO_THROW_SYSERROR(GetFileSizeEx, "GetFileSizeEx(" << temporary << ") failed");
        }
        if (existing.QuadPart != 0 && !SetEndOfFile(file.get())) {
            KRO_THROW_SYSERROR(SetEndOfFile, "SetEndOfFile(" << temporary << ") failed");
        }
        // Straight from the mapped image, normally in one write: the payload is never copied in memory.
        FileUtils::writeAll(file.get(), bytes, size, temporary);
    }
    FileUtils::moveFile(temporary, path);
    deleter.cancel();
}
