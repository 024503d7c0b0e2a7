#include "CommandLine.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "Console.h"
#include "Extractor.h"
#include "Inspector.h"
#include "StampError.h"
#include "Stamper.h"
#include "Utf.h"

namespace stamp {

namespace {

constexpr char TOOL[] = "launcher-stamp";
constexpr char USAGE_START[] = "usage: ";
constexpr char HELP_OPTION[] = "--help";
constexpr char HELP_SHORT[] = "-h";
constexpr char HELP_FOOTER[] =
    "Options take their value as --name VALUE or as --name=VALUE. launcher-stamp --version prints the\n"
    "tool's release.\n"
    "Exit codes: 0 success; 1 reading or writing failed (OUT's folder missing or read-only, a full disk);\n"
    "  2 bad input, with a message that says what is wrong.";

void printError(const std::string& message) {
    printLine(Stream::error, std::string(TOOL) + ": " + message);
}

// One option of a command: its name, the placeholder of its value (none for a switch), and what it does
// (lines after the first are indented under it).
struct Option {
    const char* name;
    const char* value;
    const char* meaning;
};

const Option HELP = {HELP_OPTION, nullptr, "prints this help"};

// What the arguments gave one command: each option given, with its value, in their order, and the one
// argument that is no option.
class Given {
public:
    void add(const char* name, std::string value) { options_.emplace_back(name, std::move(value)); }
    bool has(const char* name) const {
        return std::any_of(options_.begin(), options_.end(),
                           [&](const auto& each) { return each.first == name; });
    }
    // The option's last value; empty when it was not given.
    std::string last(const char* name) const {
        const std::vector<std::string> values = all(name);
        return values.empty() ? std::string() : values.back();
    }
    std::vector<std::string> all(const char* name) const {
        std::vector<std::string> values;
        for (const auto& [option, value] : options_) {
            if (option == name) {
                values.push_back(value);
            }
        }
        return values;
    }

    std::string operand;

private:
    std::vector<std::pair<std::string, std::string>> options_;
};

struct Command {
    const char* name;   // the first argument; stamping, the default, has none
    const char* usage;  // the synopsis, behind "launcher-stamp"
    const char* purpose;
    std::vector<Option> options;
    int (*run)(const Given&);
};

// The command's options and operand, taken from front to back; nothing when they ask for its help. An
// unknown option, a switch given a value and an option without one are BadInput.
std::optional<Given> parse(const Command& command, const std::vector<std::string>& arguments) {
    Given given;
    for (std::size_t next = 0; next < arguments.size();) {
        const std::string& argument = arguments[next++];
        if (argument.size() < 2 || argument[0] != '-') {
            if (!given.operand.empty()) {
                throw BadInput("unexpected argument '" + argument + "'");
            }
            given.operand = argument;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (name == HELP_OPTION || name == HELP_SHORT) {
            return std::nullopt;
        }
        const auto option = std::find_if(command.options.begin(), command.options.end(),
                                         [&](const Option& each) { return name == each.name; });
        if (option == command.options.end()) {
            throw BadInput("unknown option '" + name + "'");
        }
        std::string value;
        if (option->value == nullptr && equals != std::string::npos) {
            throw BadInput(name + " takes no value");
        }
        if (option->value != nullptr) {
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
            } else if (next < arguments.size()) {
                value = arguments[next++];
            }
            if (value.empty()) {
                throw BadInput(name + " needs a value");
            }
        }
        given.add(option->name, std::move(value));
    }
    return given;
}

std::string optionLabel(const Option& option) {
    return option.value == nullptr ? option.name : std::string(option.name) + " " + option.value;
}

// The command's usage, what it does and each option with its meaning in a column of its own.
std::string describeCommand(const Command& command) {
    std::vector<Option> options = command.options;
    options.push_back(HELP);
    std::size_t width = 0;
    for (const Option& option : options) {
        width = std::max(width, optionLabel(option).size());
    }
    const std::string indent(2 + width + 2, ' ');
    std::string text =
        std::string(USAGE_START) + TOOL + " " + command.usage + "\n  " + command.purpose + "\n";
    for (const Option& option : options) {
        const std::string label = optionLabel(option);
        text += "  " + label + std::string(width - label.size() + 2, ' ');
        for (const char* meaning = option.meaning; *meaning != '\0'; ++meaning) {
            text += *meaning == '\n' ? "\n" + indent : std::string(1, *meaning);
        }
        text += "\n";
    }
    return text;
}

VersionQuad versionOption(const char* option, const std::string& text) {
    const auto version = parseVersionQuad(text);
    if (!version) {
        throw BadInput(std::string(option) + " needs one to four numbers up to 65535 (a[.b[.c[.d]]]), not '" +
                       text + "'");
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

void printWritten(const std::string& path, std::uint64_t size) {
    printLine(Stream::output,
              std::string(TOOL) + ": wrote '" + path + "' (" + std::to_string(size) + " bytes)");
}

int stamp(const Given& given) {
    StampOptions options;
    options.launcher = given.operand;
    options.payload = given.last("--payload");
    options.output = given.last("--output");
    options.icon = given.last("--icon");
    for (const std::string& pair : given.all("--version-string")) {
        options.versionStrings.push_back(versionString(pair));
    }
    if (given.has("--file-version")) {
        options.fileVersion = versionOption("--file-version", given.last("--file-version"));
    }
    if (given.has("--product-version")) {
        options.productVersion = versionOption("--product-version", given.last("--product-version"));
    }
    options.force = given.has("--force");
    if (options.payload.empty() || options.output.empty() || options.launcher.empty()) {
        throw BadInput("--payload, --output and LAUNCHER are required");
    }
    const StampReport report = stampLauncher(options);
    if (report.signatureDropped) {
        printError("warning: LAUNCHER was signed; the signature does not survive stamping: sign OUT again");
    }
    if (!report.payloadSigned && !given.has("--no-unsigned-warning")) {
        printError(
            "warning: PAYLOAD carries no Authenticode signature: where policies allow only signed "
            "programs (AppLocker, WDAC), it is blocked when the launcher runs it from TEMP");
    }
    printWritten(options.output, report.outputSize);
    return EXIT_SUCCEEDED;
}

int inspect(const Given& given) {
    if (given.operand.empty()) {
        throw BadInput("LAUNCHER is required");
    }
    const LauncherFacts facts = inspectLauncher(given.operand);
    if (given.has("--json")) {
        printLine(Stream::output, describeJson(facts));
    } else {
        std::string text = describe(facts);
        text.pop_back();  // printLine ends the line
        printLine(Stream::output, text);
    }
    return EXIT_SUCCEEDED;
}

int extract(const Given& given) {
    const std::string output = given.last("--output");
    if (output.empty() || given.operand.empty()) {
        throw BadInput("--output and LAUNCHER are required");
    }
    printWritten(output, extractPayload(given.operand, output, given.has("--force")));
    return EXIT_SUCCEEDED;
}

const Command COMMANDS[] = {
    {"",
     "--payload INSTALLER [OPTION]... --output OUT LAUNCHER",
     "Writes OUT: a copy of LAUNCHER (the stub, or a launcher of ours, stamped or not) that carries\n"
     "  INSTALLER, with the icon and the version given. OriginalFilename becomes OUT's file name.",
     {{"--payload", "INSTALLER", "the installer that OUT carries and runs: a Windows executable"},
      {"--output", "OUT", "the launcher to write, into a folder that exists"},
      {"--icon", "FILE.ico", "replaces the launcher's icon by the file's images"},
      {"--file-version", "V", "the file version: one to four numbers up to 65535 (2.0 means 2.0.0.0)"},
      {"--product-version", "V", "the product version, as --file-version"},
      {"--version-string", "KEY=TEXT",
       "sets or adds a version string (repeatable; these come last);\n"
       "ProductName=NAME also sets FileDescription to \"NAME Setup\""},
      {"--force", nullptr, "replaces an existing OUT"},
      {"--no-unsigned-warning", nullptr,
       "no warning of a payload without an Authenticode signature\n(for a payload signed later on)"}},
     stamp},
    {"inspect",
     "inspect [--json] LAUNCHER",
     "Shows what LAUNCHER carries: the payload's size and SHA-256, the signatures (present, not\n"
     "  validated), the version numbers and strings, the icon's images.",
     {{"--json", nullptr, "prints the same as one JSON object"}},
     inspect},
    {"extract",
     "extract [--force] --output FILE LAUNCHER",
     "Writes the installer that LAUNCHER carries into FILE, unchanged.",
     {{"--output", "FILE", "the file to write, into a folder that exists"},
      {"--force", nullptr, "replaces an existing FILE"}},
     extract},
};

// The help of the command; stamping, the tool's own, describes every command.
std::string help(const Command& command) {
    std::string text;
    for (const Command& each : COMMANDS) {
        if (&each == &command || &command == &COMMANDS[0]) {
            text += describeCommand(each) + "\n";
        }
    }
    return text + HELP_FOOTER;
}

}  // namespace

int runCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0] == "--version") {
        printLine(Stream::output, std::string(TOOL) + " " + KRO_RELEASE);
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
    const std::string helpCall =
        std::string(TOOL) + (command == &COMMANDS[0] ? "" : " ") + command->name + " " + HELP_OPTION;
    try {
        const std::optional<Given> given = parse(*command, rest);
        if (!given) {
            printLine(Stream::output, help(*command));
            return EXIT_SUCCEEDED;
        }
        return command->run(*given);
    } catch (const BadInput& error) {
        printError(std::string("error: ") + error.what());
        printLine(Stream::error, USAGE_START + std::string(TOOL) + " " + command->usage + "\n'" + helpCall +
                                     "' describes every option");
        return EXIT_BAD_INPUT;
    } catch (const std::exception& error) {
        printError(std::string("error: ") + error.what());
        return EXIT_FAILED;
    }
}

}  // namespace stamp
