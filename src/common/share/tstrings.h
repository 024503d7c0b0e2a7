// Text building and conversion. All text inside the launcher is UTF-16 (std::wstring); narrow text is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

namespace tstrings {

enum CompareMode { CASE_SENSITIVE = 0, IGNORE_CASE = 1 };

// An append-only wide text for log and error messages. Insertions chain: TextBuilder() << "Copied [" << path.
class TextBuilder {
public:
    TextBuilder() = default;
    // Starts with the UTF-8 text decoded; text that is not valid UTF-8 gives an empty start.
    explicit TextBuilder(const char* utf8);
    explicit TextBuilder(const std::string& utf8);

    // Appended unchanged.
    TextBuilder& operator<<(const std::wstring& text);
    TextBuilder& operator<<(const wchar_t* text);
    // Each byte becomes the UTF-16 unit of the same value: meant for ASCII literals such as
    // "CreateDirectory(".
    TextBuilder& operator<<(const char* bytes);
    // Decoded from UTF-8 (invalid UTF-8 appends nothing).
    TextBuilder& operator<<(const std::string& utf8);
    // Decimal: a leading "-" for negative signed values, unsigned types (error codes) in unsigned decimal.
    template <class Integer,
              std::enable_if_t<std::is_integral_v<Integer> && !std::is_same_v<Integer, bool> &&
                                   !std::is_same_v<Integer, char> && !std::is_same_v<Integer, wchar_t>,
                               int> = 0>
    TextBuilder& operator<<(Integer value) {
        if constexpr (std::is_signed_v<Integer>) {
            return appendSigned(static_cast<std::int64_t>(value));
        } else {
            return appendUnsigned(static_cast<std::uint64_t>(value));
        }
    }
    // 16 upper-case hexadecimal digits, zero-filled, without prefix.
    TextBuilder& operator<<(const void* pointer);

    // The text built so far.
    const std::wstring& str() const { return text_; }
    // The text converted to UTF-8; throws as toMultiByte does.
    std::string utf8() const;

private:
    TextBuilder& appendSigned(std::int64_t value);
    TextBuilder& appendUnsigned(std::uint64_t value);

    std::wstring text_;
};

// Converts UTF-16 to UTF-8. Unpaired surrogates become U+FFFD. Throws KroError<std::runtime_error>
// "Unexpected reply from WideCharToMultiByte()" when the system's two answers disagree.
std::string toMultiByte(const std::wstring& text);
// Converts UTF-8 to UTF-16. Text that is not valid UTF-8 anywhere gives the empty result, not an error.
// Throws KroError<std::runtime_error> "Unexpected reply from MultiByteToWideChar()" on contradictory answers.
std::wstring fromMultiByte(const std::string& text);

// Replaces A to Z by a to z; every other unit stays.
std::wstring toLower(std::wstring text);
// True when both texts have the same units; IGNORE_CASE folds only the ASCII letters first.
bool equals(const std::wstring& a, const std::wstring& b, CompareMode mode);

// Decimal text: "-" for negative values.
std::wstring toString(std::int32_t value);
std::wstring toString(std::uint64_t value);

// printf-style formatting into a wide string of any length; "%s" takes a wide string (pass c_str()), "%u" a
// 32-bit unsigned value. A null format throws KroError<std::invalid_argument> "Destination buffer can't be
// NULL".
std::wstring unsafe_format(const wchar_t* format, ...);

}  // namespace tstrings
