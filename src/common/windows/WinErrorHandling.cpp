#include "WinErrorHandling.h"

#include <string>

#include "LocalMemory.h"
#include "Log.h"

namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string trimEnd(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && isAsciiSpace(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

std::string trimStart(const std::string& text) {
    std::size_t begin = 0;
    while (begin < text.size() && isAsciiSpace(text[begin])) {
        ++begin;
    }
    return text.substr(begin);
}

std::wstring formatMessage(DWORD flags, HMODULE module, DWORD errorCode) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(flags, module, errorCode, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const LocalMemory<wchar_t> owner(buffer);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    return std::wstring(buffer, length);
}

}  // namespace

SysError::SysError(const tstrings::TextBuilder& message, const void* failedFunction, DWORD errorCode)
    : std::runtime_error(makeMessage(message.utf8(), "System error", failedFunction, errorCode)) {}

std::string makeMessage(const std::string& message, const char* prefix, const void* failedFunction,
                        DWORD errorCode) {
    std::string system = prefix != nullptr ? prefix : "Some error";
    system += " [" + std::to_string(errorCode) + "]";
    HMODULE module = nullptr;
    bool describe = true;
    if (failedFunction != nullptr && !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                         static_cast<LPCWSTR>(failedFunction), &module)) {
        KRO_LOG(WARNING, "GetModuleHandleEx() failed for " << failedFunction << " address.");
        describe = false;
    }
    if (describe) {
        system += "(" + tstrings::toMultiByte(formatSystemError(errorCode, module)) + ")";
    }
    return joinMessages(message, system);
}

std::string joinMessages(const std::string& first, const std::string& second) {
    std::string result = trimEnd(first);
    const std::string tail = trimEnd(trimStart(second));
    if (!result.empty() && !tail.empty()) {
        result += std::string(";.,:!?").find(result.back()) != std::string::npos ? " " : ". ";
    }
    return result + tail;
}

std::wstring getSystemErrorDescription(DWORD errorCode, HMODULE module) {
    constexpr DWORD systemFlags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    std::wstring text;
    if (module != nullptr) {
        text = formatMessage(systemFlags | FORMAT_MESSAGE_FROM_HMODULE, module, errorCode);
    }
    if (text.empty()) {
        text = formatMessage(systemFlags, nullptr, errorCode);
    }
    if (text.empty()) {
        return L"No description available";
    }
    for (wchar_t& unit : text) {
        if (unit < 0x20) {
            unit = L' ';
        }
    }
    std::size_t end = text.size();
    while (end > 1 && (text[end - 1] <= L' ' || text[end - 1] == L'.')) {
        --end;
    }
    text.resize(end);
    return text;
}

std::wstring formatSystemError(DWORD errorCode, HMODULE module) {
    return (tstrings::TextBuilder() << "system error " << errorCode << " ("
                                    << getSystemErrorDescription(errorCode, module) << ")")
        .str();
}
