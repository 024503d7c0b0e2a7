#include "CommandLine.h"

#include <exception>

#include "Console.h"
#include "Extractor.h"
#include "Inspector.h"
#include "StampError.h"
#include "Stamper.h"
#include "Utf.h"

namespace stamp {

namespace {

constexpr char USAGE_START[] = "usage: ";
constexpr char USAGE_INDENT[] = "       ";

void printError(const std::string& message) {
    printLine(Stream::error, "launcher-stamp: " + message);
}

// The arguments of one command, taken from front to back.
class Arguments {
public:
    explicit Arguments(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    bool done() const { return next_ == arguments_.size(); }
    const std::string& take() { return arguments_[next_++]; }
    // The value of the option just taken.
    std::string value() {
        if (done()) {
            throw BadInput(arguments_[next_ - 1] + " needs a value");
        }
        return take();
    }
    // An argument that is no option: LAUNCHER, given once.
    void setOperand(std::string& operand, const std::string& argument) {
        if (argument.rfind("--", 0) == 0 || !operand.empty()) {
            throw BadInput("unexpected argument '" + argument + "'");
        }
        operand = argument;
    }

private:
    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
};

VersionQuad versionOption(const char* option, const std::string& text) {
    const auto version = parseVersionQuad(text);
    if (!version) {
        throw BadInput(std::string(option) + " needs a.b.c.d with numbers up to 65535, not '" + text + "'");
    }
    return *version;
}

std::pair<std::u16string, std::u16string> versionString(const std::string& pair) {
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw BadInput("--version-string needs Key=Value, not '" + pair + "'");
    }
    const auto key = fromUtf8(pair.substr(0, equals));
    const auto value = fromUtf8(pair.substr(equals + 1));
    if (!key || !value) {
        throw BadInput("--version-string needs UTF-8 text");
    }
    return {*key, *value};
}

StampOptions parseStamp(Arguments arguments) {
    StampOptions options;
    while (!arguments.done()) {
        const std::string& argument = arguments.take();
        if (argument == "--payload") {
            options.payload = arguments.value();
        } else if (argument == "--icon") {
            options.icon = arguments.value();
        } else if (argument == "--output") {
            options.output = arguments.value();
        } else if (argument == "--version-string") {
            options.versionStrings.push_back(versionString(arguments.value()));
        } else if (argument == "--file-version") {
            options.fileVersion = versionOption("--file-version", arguments.value());
        } else if (argument == "--product-version") {
            options.productVersion = versionOption("--product-version", arguments.value());
        } else if (argument == "--force") {
            options.force = true;
        } else {
            arguments.setOperand(options.launcher, argument);
        }
    }
    if (options.payload.empty() || options.output.empty() || options.launcher.empty()) {
        throw BadInput("--payload, --output and LAUNCHER are required");
    }
    return options;
}

int stamp(Arguments arguments) {
    const StampOptions options = parseStamp(arguments);
    const StampReport report = stampLauncher(options);
    if (report.signatureDropped) {
        printError("warning: LAUNCHER was signed; the signature does not survive stamping: sign OUT again");
    }
    if (!report.payloadSigned) {
        printError(
            "warning: PAYLOAD carries no Authenticode signature: where policies allow only signed "
            "programs (AppLocker, WDAC), it is blocked when the launcher runs it from TEMP");
    }
    printLine(Stream::output, "launcher-stamp: wrote '" + options.output + "' (" +
                                  std::to_string(report.outputSize) + " bytes)");
    return EXIT_SUCCEEDED;
}

int inspect(Arguments arguments) {
    bool json = false;
    std::string launcher;
    while (!arguments.done()) {
        const std::string& argument = arguments.take();
        if (argument == "--json") {
            json = true;
        } else {
            arguments.setOperand(launcher, argument);
        }
    }
    if (launcher.empty()) {
        throw BadInput("LAUNCHER is required");
    }
    const LauncherFacts facts = inspectLauncher(launcher);
    if (json) {
        printLine(Stream::output, describeJson(facts));
    } else {
        std::string text = describe(facts);
        text.pop_back();  // printLine ends the line
        printLine(Stream::output, text);
    }
    return EXIT_SUCCEEDED;
}

int extract(Arguments arguments) {
    bool force = false;
    std::string output;
    std::string launcher;
    while (!arguments.done()) {
        const std::string& argument = arguments.take();
        if (argument == "--output") {
            output = arguments.value();
        } else if (argument == "--force") {
            force = true;
        } else {
            arguments.setOperand(launcher, argument);
        }
    }
    if (output.empty() || launcher.empty()) {
        throw BadInput("--output and LAUNCHER are required");
    }
    const std::uint64_t size = extractPayload(launcher, output, force);
    printLine(Stream::output, "launcher-stamp: wrote '" + output + "' (" + std::to_string(size) + " bytes)");
    return EXIT_SUCCEEDED;
}

struct Command {
    const char* name;  // the first argument; stamping, the default, has none
    const char* usage;
    int (*run)(Arguments);
};

const Command COMMANDS[] = {
    {"",
     "launcher-stamp --payload INSTALLER [--icon FILE.ico] [--version-string Key=Value]...\n"
     "                      [--file-version a.b.c.d] [--product-version a.b.c.d] [--force] --output OUT "
     "LAUNCHER",
     stamp},
    {"inspect", "launcher-stamp inspect [--json] LAUNCHER", inspect},
    {"extract", "launcher-stamp extract [--force] --output FILE LAUNCHER", extract},
};

}  // namespace

int runCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0] == "--version") {
        printLine(Stream::output, std::string("launcher-stamp ") + KRO_RELEASE);
        return EXIT_SUCCEEDED;
    }
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::string usage;
        for (const Command& each : COMMANDS) {
            usage += (usage.empty() ? USAGE_START : std::string("\n") + USAGE_INDENT) + each.usage;
        }
        printLine(Stream::output, usage);
        return EXIT_SUCCEEDED;
    }
    const Command* command = &COMMANDS[0];
    for (const Command& each : COMMANDS) {
        if (!arguments.empty() && arguments[0] == each.name) {
            command = &each;
        }
    }
    const std::vector<std::string> rest(arguments.begin() + (command == &COMMANDS[0] ? 0 : 1),
                                        arguments.end());
    try {
        return command->run(Arguments(rest));
    } catch (const BadInput& error) {
        printError(std::string("error: ") + error.what());
        printLine(Stream::error, USAGE_START + std::string(command->usage));
        return EXIT_BAD_INPUT;
    } catch (const std::exception& error) {
        printError(std::string("error: ") + error.what());
        return EXIT_FAILED;
    }
}

}  // namespace stamp
