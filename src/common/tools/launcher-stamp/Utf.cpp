#include "Utf.h"

namespace stamp {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | point >> 6);
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | point >> 12);
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | point >> 18);
        out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

}  // namespace

std::string toUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t point = text[i];
        if (isHighSurrogate(point) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (isHighSurrogate(point) || isLowSurrogate(point)) {
            point = REPLACEMENT;
        }
        appendUtf8(out, point);
    }
    return out;
}

std::optional<std::u16string> fromUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        // The sequence's length, and the smallest code point that needs it (shorter forms are overlong).
        const std::size_t length = lead < 0x80         ? 1
                                   : lead >> 5 == 0x6  ? 2
                                   : lead >> 4 == 0xE  ? 3
                                   : lead >> 3 == 0x1E ? 4
                                                       : 0;
        static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (length == 0 || i + length > text.size()) {
            return std::nullopt;
        }
        char32_t point = static_cast<char32_t>(length == 1 ? lead : lead & (0x7F >> length));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next >> 6 != 0x2) {
                return std::nullopt;
            }
            point = point << 6 | (next & 0x3F);
        }
        if (point < smallest[length] || point > 0x10FFFF || isHighSurrogate(point) || isLowSurrogate(point)) {
            return std::nullopt;
        }
        if (point >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(point);
        }
        i += length;
    }
    return out;
}

}  // namespace stamp
