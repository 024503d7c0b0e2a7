#include "tstrings.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cwchar>
#include <stdexcept>

#include "KroError.h"

namespace tstrings {

TextBuilder::TextBuilder(const char* utf8) : text_(fromMultiByte(utf8)) {}

TextBuilder::TextBuilder(const std::string& utf8) : text_(fromMultiByte(utf8)) {}

TextBuilder& TextBuilder::operator<<(const std::wstring& text) {
    text_ += text;
    return *this;
}

TextBuilder& TextBuilder::operator<<(const wchar_t* text) {
    text_ += text;
    return *this;
}

TextBuilder& TextBuilder::operator<<(const char* bytes) {
    for (; *bytes != '\0'; ++bytes) {
        text_ += static_cast<wchar_t>(static_cast<unsigned char>(*bytes));
    }
    return *this;
}

TextBuilder& TextBuilder::operator<<(const std::string& utf8) {
    text_ += fromMultiByte(utf8);
    return *this;
}

TextBuilder& TextBuilder::operator<<(const void* pointer) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    auto value = reinterpret_cast<std::uintptr_t>(pointer);
    wchar_t hex[16];
    for (int i = 15; i >= 0; --i) {
        hex[i] = digits[value & 0xF];
        value >>= 4;
    }
    text_.append(hex, 16);
    return *this;
}

TextBuilder& TextBuilder::appendSigned(std::int64_t value) {
    if (value < 0) {
        text_ += L'-';
        // Negating in unsigned arithmetic keeps the smallest value exact.
        return appendUnsigned(0 - static_cast<std::uint64_t>(value));
    }
    return appendUnsigned(static_cast<std::uint64_t>(value));
}

TextBuilder& TextBuilder::appendUnsigned(std::uint64_t value) {
    wchar_t digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        text_ += digits[--count];
    }
    return *this;
}

std::string TextBuilder::utf8() const {
    return toMultiByte(text_);
}

namespace {

int unitCount(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

std::string toMultiByte(const std::wstring& text) {
    const int length = unitCount(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size < 0) {
        KRO_THROW("Unexpected reply from WideCharToMultiByte()");
    }
    if (size == 0) {
        return {};
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &result[0], size, nullptr, nullptr) != size) {
        KRO_THROW("Unexpected reply from WideCharToMultiByte()");
    }
    return result;
}

std::wstring fromMultiByte(const std::string& text) {
    const int length = unitCount(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (size < 0) {
        KRO_THROW("Unexpected reply from MultiByteToWideChar()");
    }
    if (size == 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, &result[0], size) != size) {
        KRO_THROW("Unexpected reply from MultiByteToWideChar()");
    }
    return result;
}

std::wstring toLower(std::wstring text) {
    for (wchar_t& unit : text) {
        if (unit >= L'A' && unit <= L'Z') {
            unit = static_cast<wchar_t>(unit - L'A' + L'a');
        }
    }
    return text;
}

bool equals(const std::wstring& a, const std::wstring& b, CompareMode mode) {
    if (mode == IGNORE_CASE) {
        return toLower(a) == toLower(b);
    }
    return a == b;
}

std::wstring toString(std::int32_t value) {
    return (TextBuilder() << value).str();
}

std::wstring toString(std::uint64_t value) {
    return (TextBuilder() << value).str();
}

std::wstring unsafe_format(const wchar_t* format, ...) {
    if (format == nullptr) {
        throw KroError<std::invalid_argument>(std::invalid_argument("Destination buffer can't be NULL"),
                                              KRO_CODE_SITE);
    }
    // Grow in steps of 256 units until the whole text fits. A malformed format also answers -1, but with
    // EINVAL: growing would never end, so it is an error.
    std::wstring result;
    int written = -1;
    while (written < 0) {
        result.resize(result.size() + 256, L'\0');
        va_list arguments;
        va_start(arguments, format);
        errno = 0;
        written = _vsnwprintf_s(&result[0], result.size(), _TRUNCATE, format, arguments);
        va_end(arguments);
        if (written < 0 && errno == EINVAL) {
            throw KroError<std::invalid_argument>(std::invalid_argument("Invalid format"), KRO_CODE_SITE);
        }
    }
    result.resize(static_cast<std::size_t>(written));
    return result;
}

}  // namespace tstrings
