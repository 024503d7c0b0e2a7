// A system library loaded on a thread of its own while the caller goes on with other work.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "Dll.h"
#include "WinAutoHandle.h"

// Loads system directory + "\" + name (as Dll does) on a new thread, so that the load overlaps what the
// caller does meanwhile: user32's took 12 to 37 ms under Wine. Whoever binds the library later finds it
// loaded, or waits in the system's loader until it is. A process confined to one processor starts no thread:
// there it could only add its own cost to the same work. A load that fails, or a thread that can't be
// started, is left to that later binding, which reports it with its own error; nothing here throws or logs.
class LibraryPreload {
public:
    explicit LibraryPreload(std::wstring name);
    LibraryPreload(const LibraryPreload&) = delete;
    LibraryPreload& operator=(const LibraryPreload&) = delete;
    // Waits for the load to end, then lets go of this reference to the library.
    ~LibraryPreload();

private:
    static DWORD WINAPI load(LPVOID preload);

    const std::wstring name;
    std::unique_ptr<Dll> library;  // written by the thread only, read by nobody before it has ended
    WinAutoHandle<HANDLE> thread;
};
