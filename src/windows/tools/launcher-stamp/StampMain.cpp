// launcher-stamp: puts a release's installer, icon and version into a built launcher.
#include <windows.h>

#include <exception>
#include <string>

#include "StampError.h"
#include "Stamper.h"
#include "tstrings.h"

namespace {

constexpr int EXIT_BAD_INPUT = 2;
constexpr int EXIT_FAILED = 1;

constexpr char USAGE[] =
    "usage: launcher-stamp --payload INSTALLER [--icon FILE.ico] [--version-string Key=Value]...\n"
    "                      [--file-version a.b.c.d] [--product-version a.b.c.d] [--force] --output OUT "
    "LAUNCHER";

// A line on a console is written as text, elsewhere (a pipe, a file, a CI log) as UTF-8.
void printLine(DWORD stream, const std::string& utf8) {
    const HANDLE handle = GetStdHandle(stream);
    DWORD mode = 0;
    DWORD written = 0;
    const std::string line = utf8 + "\n";
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring text = tstrings::fromMultiByte(line);
        WriteConsoleW(handle, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

void printError(const std::string& message) {
    printLine(STD_ERROR_HANDLE, "launcher-stamp: " + message);
}

stamp::VersionQuad versionOption(const wchar_t* option, const std::wstring& text) {
    const auto version = stamp::parseVersionQuad(text);
    if (!version) {
        throw stamp::BadInput(tstrings::TextBuilder()
                              << option << " needs a.b.c.d with numbers up to 65535, not '" << text << "'");
    }
    return *version;
}

stamp::StampOptions parseArguments(int argc, wchar_t** argv) {
    stamp::StampOptions options;
    const auto valueOf = [&](int& i) -> std::wstring {
        if (i + 1 >= argc) {
            throw stamp::BadInput(tstrings::TextBuilder() << argv[i] << " needs a value");
        }
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--payload") {
            options.payload = valueOf(i);
        } else if (argument == L"--icon") {
            options.icon = valueOf(i);
        } else if (argument == L"--output") {
            options.output = valueOf(i);
        } else if (argument == L"--version-string") {
            const std::wstring pair = valueOf(i);
            const std::size_t equals = pair.find(L'=');
            if (equals == std::wstring::npos || equals == 0) {
                throw stamp::BadInput(tstrings::TextBuilder()
                                      << "--version-string needs Key=Value, not '" << pair << "'");
            }
            options.versionStrings.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        } else if (argument == L"--file-version") {
            options.fileVersion = versionOption(L"--file-version", valueOf(i));
        } else if (argument == L"--product-version") {
            options.productVersion = versionOption(L"--product-version", valueOf(i));
        } else if (argument == L"--force") {
            options.force = true;
        } else if (argument.rfind(L"--", 0) == 0 || !options.launcher.empty()) {
            throw stamp::BadInput(tstrings::TextBuilder() << "unexpected argument '" << argument << "'");
        } else {
            options.launcher = argument;
        }
    }
    if (options.payload.empty() || options.output.empty() || options.launcher.empty()) {
        throw stamp::BadInput(tstrings::TextBuilder() << "--payload, --output and LAUNCHER are required");
    }
    return options;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && (std::wstring(argv[1]) == L"--help" || std::wstring(argv[1]) == L"-h")) {
        printLine(STD_OUTPUT_HANDLE, USAGE);
        return 0;
    }
    try {
        const stamp::StampOptions options = parseArguments(argc, argv);
        const stamp::StampReport report = stampLauncher(options);
        if (report.signatureDropped) {
            printError(
                "warning: LAUNCHER was signed; the signature does not survive stamping: sign OUT again");
        }
        printLine(STD_OUTPUT_HANDLE, (tstrings::TextBuilder() << "launcher-stamp: wrote '" << options.output
                                                              << "' (" << report.outputSize << " bytes)")
                                         .utf8());
        return 0;
    } catch (const stamp::BadInput& error) {
        printError(std::string("error: ") + error.what());
        printLine(STD_ERROR_HANDLE, USAGE);
        return EXIT_BAD_INPUT;
    } catch (const std::exception& error) {
        printError(std::string("error: ") + error.what());
        return EXIT_FAILED;
    }
}
