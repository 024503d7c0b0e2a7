// Qualified function names for code sites and log records.
//
// Records and error texts name functions the way MSVC's __FUNCTION__ spells them: the qualified name without
// return type and parameters, an unnamed namespace written as "`anonymous-namespace'", and members of class
// templates with the template arguments of the instance. MSVC gives that text itself; with GCC and Clang the
// same text is computed at compile time from __PRETTY_FUNCTION__. This is the one compiler-specific header.
#pragma once

#include <cstddef>

namespace kro {
namespace function_name {

// A NUL-terminated text of N - 1 units made at compile time.
template <class Char, std::size_t N>
struct FixedText {
    Char text[N]{};
};

constexpr std::size_t length(const char* s) {
    std::size_t n = 0;
    while (s[n] != '\0') {
        ++n;
    }
    return n;
}

constexpr bool startsWith(const char* s, std::size_t n, std::size_t pos, const char* prefix) {
    for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
        if (pos + i >= n || s[pos + i] != prefix[i]) {
            return false;
        }
    }
    return true;
}

constexpr std::size_t find(const char* s, std::size_t n, const char* needle, std::size_t from = 0) {
    for (std::size_t pos = from; pos < n; ++pos) {
        if (startsWith(s, n, pos, needle)) {
            return pos;
        }
    }
    return n;
}

constexpr bool isIdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The template parameters that GCC lists after the signature: "[with T = int; std::size_t N = 4]".
struct Binding {
    std::size_t nameBegin = 0, nameEnd = 0, valueBegin = 0, valueEnd = 0;
};
constexpr std::size_t maxBindings = 8;

struct Parsed {
    std::size_t nameBegin = 0;
    std::size_t nameEnd = 0;
    Binding bindings[maxBindings]{};
    std::size_t bindingCount = 0;
};

constexpr void parseBindings(const char* s, std::size_t n, std::size_t withPos, Parsed& parsed) {
    std::size_t pos = withPos + 7;  // past " [with "
    const std::size_t end = s[n - 1] == ']' ? n - 1 : n;
    while (pos < end && parsed.bindingCount < maxBindings) {
        const std::size_t eq = find(s, end, " = ", pos);
        if (eq == end) {
            return;
        }
        std::size_t nameBegin = eq;
        while (nameBegin > pos && isIdentifierChar(s[nameBegin - 1])) {
            --nameBegin;
        }
        std::size_t valueEnd = find(s, end, "; ", eq + 3);
        parsed.bindings[parsed.bindingCount++] = Binding{nameBegin, eq, eq + 3, valueEnd};
        pos = valueEnd + 2;
    }
}

// The position of the '(' that matches the ')' just before close; begin when there is none.
constexpr std::size_t matchingOpen(const char* s, std::size_t begin, std::size_t close) {
    int depth = 0;
    for (std::size_t i = close; i > begin; --i) {
        const char c = s[i - 1];
        if (c == ')') {
            ++depth;
        } else if (c == '(' && --depth == 0) {
            return i - 1;
        }
    }
    return begin;
}

constexpr bool isDeclaratorGroup(const char* s, std::size_t open, std::size_t end) {
    return open + 1 < end && (s[open + 1] == '*' || s[open + 1] == '&');
}

// Finds the parameter list that closes the range: the parenthesised group that ends last. A function that
// returns a function pointer or an array reference reads "R (* name(params) const)(returned params)" or
// "R (& name(params))[4]": the name then lies inside the group that opens with "(*" or "(&", and is looked
// for there.
constexpr void locateName(const char* s, std::size_t begin, std::size_t end, Parsed& parsed) {
    std::size_t close = end;
    while (close > begin && s[close - 1] != ')') {
        --close;
    }
    std::size_t nameEnd = close > begin ? matchingOpen(s, begin, close) : end;
    std::size_t declarator = end;
    if (close > begin && isDeclaratorGroup(s, nameEnd, close)) {
        declarator = nameEnd;
    } else if (nameEnd > begin && s[nameEnd - 1] == ')') {
        const std::size_t previous = matchingOpen(s, begin, nameEnd);
        if (isDeclaratorGroup(s, previous, nameEnd)) {
            declarator = previous;
        }
    }
    if (declarator != end) {
        std::size_t inner = declarator + 1;
        while (s[inner] == '*' || s[inner] == '&' || s[inner] == ' ') {
            ++inner;
        }
        const std::size_t innerEnd = declarator == nameEnd ? close - 1 : nameEnd - 1;
        locateName(s, inner, innerEnd, parsed);
        return;
    }
    // An operator's own name may hold blanks and brackets ("operator int", "operator<"), so the return type
    // is looked for only before it: it ends at the last blank outside angle brackets and parentheses.
    std::size_t scanEnd = nameEnd;
    for (std::size_t pos = find(s, nameEnd, "operator", begin); pos < nameEnd;
         pos = find(s, nameEnd, "operator", pos + 1)) {
        const bool startsWord = pos == 0 || !isIdentifierChar(s[pos - 1]);
        const bool endsWord = pos + 8 >= nameEnd || !isIdentifierChar(s[pos + 8]);
        if (startsWord && endsWord) {
            scanEnd = pos;
            break;
        }
    }
    parsed.nameBegin = begin;
    int depth = 0;
    for (std::size_t i = begin; i < scanEnd; ++i) {
        const char c = s[i];
        if (c == '<' || c == '(') {
            ++depth;
        } else if (c == '>' || c == ')') {
            --depth;
        } else if (c == ' ' && depth == 0) {
            parsed.nameBegin = i + 1;
        }
    }
    parsed.nameEnd = nameEnd;
}

// Where the qualified name lies in the pretty text, and which template parameters it uses.
constexpr Parsed parse(const char* s) {
    Parsed parsed;
    const std::size_t n = length(s);
    const std::size_t withPos = find(s, n, " [with ");
    if (withPos != n) {
        parseBindings(s, n, withPos, parsed);
    }
    locateName(s, 0, withPos, parsed);
    return parsed;
}

// Writes the display name into out (when out is not null) and returns its length.
template <class Char>
constexpr std::size_t compose(const char* s, Char* out) {
    const Parsed parsed = parse(s);
    std::size_t written = 0;
    auto put = [&](char c) {
        if (out != nullptr) {
            out[written] = static_cast<Char>(c);
        }
        ++written;
    };
    auto putRange = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            put(s[i]);
        }
    };
    const char anonymous[] = "{anonymous}";
    const char anonymousSpelled[] = "`anonymous-namespace'";
    std::size_t pos = parsed.nameBegin;
    while (pos < parsed.nameEnd) {
        if (startsWith(s, parsed.nameEnd, pos, anonymous)) {
            for (std::size_t i = 0; anonymousSpelled[i] != '\0'; ++i) {
                put(anonymousSpelled[i]);
            }
            pos += sizeof(anonymous) - 1;
            continue;
        }
        if (isIdentifierChar(s[pos])) {
            std::size_t end = pos;
            while (end < parsed.nameEnd && isIdentifierChar(s[end])) {
                ++end;
            }
            const Binding* bound = nullptr;
            for (std::size_t b = 0; b < parsed.bindingCount; ++b) {
                const Binding& binding = parsed.bindings[b];
                bool same = binding.nameEnd - binding.nameBegin == end - pos;
                for (std::size_t i = 0; same && i < end - pos; ++i) {
                    same = s[binding.nameBegin + i] == s[pos + i];
                }
                if (same) {
                    bound = &binding;
                    break;
                }
            }
            if (bound != nullptr) {
                putRange(bound->valueBegin, bound->valueEnd);
            } else {
                putRange(pos, end);
            }
            pos = end;
            continue;
        }
        put(s[pos++]);
    }
    return written;
}

template <class Char, std::size_t N>
constexpr FixedText<Char, N> make(const char* pretty) {
    FixedText<Char, N> result;
    compose(pretty, result.text);
    return result;
}

}  // namespace function_name
}  // namespace kro

#if defined(_MSC_VER) && !defined(__clang__)
#define KRO_FUNCTION __FUNCTION__
#define KRO_WFUNCTION __FUNCTIONW__
#else
// A statement expression, so that the text is a static object of the enclosing function and the pointer
// stays valid for the whole run, as code sites require.
#define KRO_FUNCTION_TEXT_(Char)                                                          \
    (__extension__({                                                                      \
        static constexpr auto kroFunctionName_ = ::kro::function_name::make<              \
            Char, ::kro::function_name::compose<Char>(__PRETTY_FUNCTION__, nullptr) + 1>( \
            __PRETTY_FUNCTION__);                                                         \
        kroFunctionName_.text;                                                            \
    }))
#define KRO_FUNCTION KRO_FUNCTION_TEXT_(char)
#define KRO_WFUNCTION KRO_FUNCTION_TEXT_(wchar_t)
#endif

#define KRO_WIDEN_2_(text) L##text
#define KRO_WIDEN_(text) KRO_WIDEN_2_(text)
// The source path as a wide literal, for log records.
#define KRO_WFILE KRO_WIDEN_(__FILE__)
