#include "KroError.h"

#include <cstring>

namespace kro {

std::string composeErrorMessage(const CodeSite& site, const char* text) {
    const char* file = site.file;
    for (const char* p = site.file; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') {
            file = p + 1;
        }
    }
    std::string message;
    message.reserve(std::strlen(file) + std::strlen(site.function) + std::strlen(text) + 24);
    message.append(file).append("(").append(std::to_string(site.line)).append(") at ");
    message.append(site.function).append("(): ").append(text);
    return message;
}

}  // namespace kro
