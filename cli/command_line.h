// The terminal program's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class CliCommand { None, Status, Update, Watch, Help, Version };

struct CliOptions {
    CliCommand command = CliCommand::None;
    bool yes = false;
    bool json = false;
    std::optional<std::string> language;  // "en" or "de"
    std::optional<std::string> logFile;
};

struct CommandLineResult {
    bool ok = false;
    CliOptions options;
    std::string badArgument;  // the first argument not understood, when !ok
};

// args without the program name. Options may come before or after the command;
// "--lang" and "--log" take the next argument (or "--lang=de"). --help and --version win
// over every other argument understood (one not understood is still an error); --yes
// belongs to update and --json to status only.
CommandLineResult ParseCommandLine(const std::vector<std::string>& args);
