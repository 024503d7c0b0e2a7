// Failed system calls: the SysError type, the texts of system error codes and the throw idiom.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "KroError.h"
#include "tstrings.h"

// The base of every error thrown for a failed system call. Its text is the caller's message joined with the
// code and the system's description of it, for example
// "CreateDirectory(C:\T\x) failed. System error [5](system error 5 (Access is denied))".
class SysError : public std::runtime_error {
public:
    // failedFunction is the address of the system function that failed (it selects the module whose message
    // table describes the code); it may be null.
    SysError(const tstrings::TextBuilder& message, const void* failedFunction, DWORD errorCode);
};

// prefix (or "Some error" when null) + " [" + code + "]" + "(" + formatSystemError + ")", joined after the
// message. When no module holds failedFunction, writes a WARNING record and leaves the description out.
std::string makeMessage(const std::string& message, const char* prefix, const void* failedFunction,
                        DWORD errorCode);
// first + separator + second, each trimmed of ASCII white space as the separator needs: ". " unless the first
// already ends in one of ";.,:!?" (then one space); no separator when either part is empty.
std::string joinMessages(const std::string& first, const std::string& second);
// The system's description of the code, from the module's message table or the system's, with control
// characters turned into spaces and trailing blanks and periods removed; "No description available" when
// there is none.
std::wstring getSystemErrorDescription(DWORD errorCode, HMODULE module);
// "system error " + code + " (" + description + ")".
std::wstring formatSystemError(DWORD errorCode, HMODULE module);

namespace kro {
template <class Function>
const void* functionAddress(Function* function) {
    return reinterpret_cast<const void*>(function);
}
}  // namespace kro

// The throw idiom for a failed system call, one line at the call site:
//   KRO_THROW_SYSERROR(CreateDirectoryW, "CreateDirectory(" << path << ") failed");
// The last error is read before anything else runs.
#define KRO_THROW_SYSERROR(failedFunction, streamed) \
    KRO_THROW_SYSERROR_CODE(failedFunction, ::GetLastError(), streamed)

// The same with an explicit code, for calls that return their error instead of setting the last error.
#define KRO_THROW_SYSERROR_CODE(failedFunction, code, streamed)                                         \
    do {                                                                                                \
        const DWORD kroErrorCode_ = (code);                                                             \
        throw ::KroError<::SysError>(::SysError(::tstrings::TextBuilder() << streamed,                  \
                                                ::kro::functionAddress(failedFunction), kroErrorCode_), \
                                     KRO_CODE_SITE);                                                    \
    } while (false)
