// The launcher's own image file, held from the entry point until the process ends. Whoever can write the
// folder the launcher was started from (a share) could otherwise put another program under its name after the
// elevated start, and the network branch would copy and run that one.
#pragma once

#include <windows.h>

#include <string>

#include "WinAutoHandle.h"

namespace launcher {

class OwnImage {
public:
    // Opens the file the running image is mapped from (by the name the system gives the mapping, else by the
    // path the process was started from) for reading, sharing only reading: nobody can write, rename or
    // delete it while it is held. Then checks that the file held is the one mapped as this process's image.
    // Never throws: what went wrong is kept for verify().
    static OwnImage hold();
    OwnImage(OwnImage&&) = default;

    // Throws KroError<SysError> "CreateFile(path) failed" when the file could not be held, and
    // KroError<std::runtime_error> "The launcher's file [path] is not the program that runs: it was replaced
    // after the start, exiting" when the file held is another.
    void verify() const;
    HANDLE handle() const { return file.get(); }
    // The held file's final path (long, drive-letter or UNC form).
    const std::wstring& path() const { return path_; }
    // True when the held file lies on a remote device, whatever drive letter it was started through.
    bool isRemote() const { return remote; }

private:
    OwnImage() = default;

    WinAutoHandle<HANDLE> file;
    std::wstring path_;
    std::wstring startedAs;
    DWORD openError = ERROR_SUCCESS;
    bool same = false;
    bool remote = false;
};

}  // namespace launcher
