// The launcher's own image file, held from the entry point until the process ends. Whoever can write the
// folder the launcher was started from (a share) could otherwise put another program under its name after the
// elevated start, and the network branch would copy and run that one.
#pragma once

#include <windows.h>

#include <string>

#include "FileHandles.h"
#include "WinAutoHandle.h"

namespace launcher {

class OwnImage {
public:
    // GetMappedFileNameW's signature; psapi's function is bound at run time (kernel32 exports it only from
    // Windows 7 on, under another name, and an older loader refuses an image that imports it).
    using MappedFileNameFunction = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);

    // Holds the file the running image was mapped from, trying in turn the kernel's name of the mapping, the
    // same name without a logon session's part (a mapped drive's redirector name, which an elevated token of
    // another logon session may not open, gives the share's own name "\Device\Mup\server\share\..."), and the
    // path the process was started from. A file opened by one of them is trusted only once it is shown to be
    // the one mapped as this process's image. Held from then on, for reading and sharing only reading: nobody
    // can write, rename or delete it while it is held. No open waits for another's opportunistic lock on a
    // local file (on a share the server's break timer bounds it). Never throws: why each name failed is kept.
    static OwnImage hold();
    // The same with the system calls given: mappedFileName null where the system has none.
    static OwnImage hold(MappedFileNameFunction mappedFileName, const std::wstring& startedAs,
                         FileUtils::NtCreateFileFunction ntCreateFile);
    OwnImage(OwnImage&&) = default;

    // True when the file is held and shown to be the running image: handle() then reads the file the process
    // was started from.
    bool isHeld() const { return file.owned(); }
    // A run from a remote device needs its file: when it is not held, throws KroError<std::runtime_error>
    // "The launcher's file can't be held as the program that runs: <each name and why>, exiting". A local
    // run needs only its image: it writes the same reasons as a WARNING record ending "; the run goes on from
    // the program in memory" and returns.
    void verify() const;
    // The held file; null when isHeld() is false.
    HANDLE handle() const { return file.get(); }
    // The held file's final path (long, drive-letter or UNC form); where nothing is held, the path the
    // process was started from.
    const std::wstring& path() const { return path_; }
    // True when the file lies on a remote device, whatever drive letter it was started through; where nothing
    // is held, when the started path or the mapping's kernel name says so.
    bool isRemote() const { return remote; }

private:
    OwnImage() = default;
    // Opens the kernel's name and keeps it when it is the running image; otherwise adds why not to reasons,
    // naming it as shownAs.
    bool tryHold(const std::wstring& name, const std::wstring& shownAs,
                 FileUtils::NtCreateFileFunction ntCreateFile);

    WinAutoHandle<HANDLE> file;
    std::wstring path_;
    std::wstring reasons;
    bool remote = false;
};

}  // namespace launcher
