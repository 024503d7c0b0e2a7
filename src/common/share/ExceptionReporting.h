// Turning a caught exception into one ERROR record at a boundary. Every boundary reads:
//   try { ... }
//   catch (const std::exception& e) { reportException(KRO_CODE_SITE, e); }
//   catch (...) { reportUnknownException(KRO_CODE_SITE); }
// and goes on with its own result; nothing is rethrown.
#pragma once

#include <exception>
#include <string>

#include "KroError.h"

// The error's text, what() read as UTF-8; only text that is not valid UTF-8 is widened one unit per byte.
std::wstring textOf(const std::exception& error);
// ERROR record "Exception with message '" + what() + "' caught" at the boundary's site. what() is read as
// UTF-8; only text that is not valid UTF-8 is widened one unit per byte.
void reportException(const CodeSite& site, const std::exception& error);
// ERROR record "Unknown exception caught" at the boundary's site.
void reportUnknownException(const CodeSite& site);
// For a destructor's catch-all handler: reports the exception being handled as the boundary pattern does, and
// swallows whatever the report itself throws (no memory left for the record, say), so that clean-up never
// ends the process. Call it only inside a handler.
void reportCaughtException(const CodeSite& site) noexcept;
// ERROR record with the message at the site's file (last component), line and function, whatever the
// threshold.
void logError(const CodeSite& site, const std::wstring& message);
