// The one exception type of the launcher and the code site it carries.
#pragma once

#include <stdexcept>
#include <string>
#include <type_traits>

#include "FunctionName.h"
#include "tstrings.h"

// Where an error was thrown or caught. The texts are literals with static lifetime; the record owns nothing.
struct CodeSite {
    const char* file;      // the compile-time source path
    const char* function;  // the qualified function name, "`anonymous-namespace'::run" for example
    int line;
};

// The site of the enclosing function at this line.
#define KRO_CODE_SITE (::CodeSite{__FILE__, KRO_FUNCTION, __LINE__})

namespace kro {
// "file(line) at function(): " followed by the text; the file is the last component of the site's path.
std::string composeErrorMessage(const CodeSite& site, const char* text);
}  // namespace kro

// Every thrown error is a KroError over std::runtime_error, SysError or std::invalid_argument. The base keeps
// its own plain text; what() returns the text prefixed with the throw site.
template <class Base>
class KroError : public Base {
public:
    KroError(const Base& base, const CodeSite& site)
        : Base(base), message(kro::composeErrorMessage(site, base.what())) {}

    template <class B = Base, std::enable_if_t<std::is_same_v<B, std::runtime_error>, int> = 0>
    KroError(const std::string& utf8, const CodeSite& site) : KroError(std::runtime_error(utf8), site) {}
    template <class B = Base, std::enable_if_t<std::is_same_v<B, std::runtime_error>, int> = 0>
    KroError(const char* utf8, const CodeSite& site) : KroError(std::runtime_error(utf8), site) {}
    template <class B = Base, std::enable_if_t<std::is_same_v<B, std::runtime_error>, int> = 0>
    KroError(const tstrings::TextBuilder& text, const CodeSite& site)
        : KroError(std::runtime_error(text.utf8()), site) {}

    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

// The throw idiom for failures that are not system calls: KRO_THROW("Bad value " << value);
#define KRO_THROW(streamed) \
    throw ::KroError<std::runtime_error>(::tstrings::TextBuilder() << streamed, KRO_CODE_SITE)
