#include "ExceptionReporting.h"

#include "FileUtils.h"
#include "Log.h"

// Error texts are UTF-8 (paths under a user named José stay readable); bytes that are not valid UTF-8 are
// kept visible one unit per byte rather than dropped.
std::wstring textOf(const std::exception& error) {
    const std::string bytes = error.what();
    const std::wstring decoded = tstrings::fromMultiByte(bytes);
    if (!decoded.empty() || bytes.empty()) {
        return decoded;
    }
    return (tstrings::TextBuilder() << error.what()).str();
}

void logError(const CodeSite& site, const std::wstring& message) {
    const std::wstring file = FileUtils::getFileName(tstrings::fromMultiByte(site.file));
    const std::wstring function = tstrings::fromMultiByte(site.function);
    Logger::instance().log(ERROR, file.c_str(), site.line, function.c_str(), message);
}

void reportException(const CodeSite& site, const std::exception& error) {
    logError(site,
             (tstrings::TextBuilder() << "Exception with message '" << textOf(error) << "' caught").str());
}

void reportUnknownException(const CodeSite& site) {
    logError(site, L"Unknown exception caught");
}

void reportCaughtException(const CodeSite& site) noexcept {
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            reportException(site, e);
        } catch (...) {
            reportUnknownException(site);
        }
    } catch (...) {
        // The report could not be written; nothing more can be done from a destructor.
    }
}
