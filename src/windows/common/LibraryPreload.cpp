#include "LibraryPreload.h"

#include "SysInfo.h"

LibraryPreload::LibraryPreload(std::wstring name) : name(std::move(name)) {
    if (SysInfo::isConfinedToOneProcessor()) {
        return;
    }
    const HANDLE started = CreateThread(nullptr, 0, &LibraryPreload::load, this, 0, nullptr);
    if (started != nullptr) {
        thread = WinAutoHandle<HANDLE>(started);
    }
}

LibraryPreload::~LibraryPreload() {
    if (thread.owned()) {
        WaitForSingleObject(thread.get(), INFINITE);
    }
}

DWORD WINAPI LibraryPreload::load(LPVOID preload) {
    auto* self = static_cast<LibraryPreload*>(preload);
    try {
        self->library = std::make_unique<Dll>(tstrings::TextBuilder() << self->name);
    } catch (...) {
        // The later binding loads it again and reports why it can't.
    }
    return 0;
}
