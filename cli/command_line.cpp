#include "cli/command_line.h"

namespace {

// "--name=value" or "--name value": the value, or nothing when it is missing.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::optional<std::string>& value, bool& matched) {
    const std::string& arg = args[i];
    matched = false;
    if (arg == name) {
        matched = true;
        if (i + 1 >= args.size()) {
            return false;
        }
        value = args[++i];
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        matched = true;
        value = arg.substr(name.size() + 1);
        return true;
    }
    return true;
}

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& args) {
    CommandLineResult result;
    CliOptions& options = result.options;
    bool help = false;
    bool version = false;
    auto fail = [&result](const std::string& argument) {
        result.ok = false;
        result.badArgument = argument;
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool matched = false;
        if (!TakeValue(args, i, "--lang", options.language, matched)) {
            return fail(arg);
        }
        if (matched) {
            if (*options.language != "en" && *options.language != "de") {
                return fail(arg == "--lang" ? arg + " " + *options.language : arg);
            }
            continue;
        }
        if (!TakeValue(args, i, "--log", options.logFile, matched)) {
            return fail(arg);
        }
        if (matched) {
            if (options.logFile->empty()) {
                return fail(arg);
            }
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version" || arg == "-V") {
            version = true;
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (options.command == CliCommand::None && arg == "status") {
            options.command = CliCommand::Status;
        } else if (options.command == CliCommand::None && arg == "update") {
            options.command = CliCommand::Update;
        } else if (options.command == CliCommand::None && arg == "watch") {
            options.command = CliCommand::Watch;
        } else {
            return fail(arg);
        }
    }

    if (help || version) {
        options.command = help ? CliCommand::Help : CliCommand::Version;
        result.ok = true;
        return result;
    }
    if (options.command == CliCommand::None) {
        return fail("");
    }
    if (options.yes && options.command != CliCommand::Update) {
        return fail("--yes");
    }
    if (options.json && options.command != CliCommand::Status) {
        return fail("--json");
    }
    result.ok = true;
    return result;
}
