// The command line and the language the terminal program picks.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "res/language.h"

namespace {

std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        text += (text.empty() ? "" : " ") + ("[" + arg + "]");
    }
    return text;
}

struct Accepted {
    std::vector<std::string> args;
    CliCommand command;
    bool yes = false;
    bool json = false;
    std::optional<std::string> language{};
    std::optional<std::string> logFile{};
};

TEST(ParseCommandLine, AcceptsCommandsWithTheirOptionsBeforeOrAfterThem) {
    const Accepted cases[] = {
        {{"status"}, CliCommand::Status},
        {{"update"}, CliCommand::Update},
        {{"watch"}, CliCommand::Watch},
        {{"status", "--json"}, CliCommand::Status, false, true},
        {{"--json", "status"}, CliCommand::Status, false, true},
        {{"update", "--yes"}, CliCommand::Update, true},
        {{"-y", "update"}, CliCommand::Update, true},
        {{"--lang", "de", "status"}, CliCommand::Status, false, false, "de"},
        {{"status", "--lang", "en"}, CliCommand::Status, false, false, "en"},
        {{"--lang=de", "watch"}, CliCommand::Watch, false, false, "de"},
        {{"update", "--log", "unit.log", "--yes"}, CliCommand::Update, true, false, std::nullopt, "unit.log"},
        {{"--log=/tmp/a b.log", "status"}, CliCommand::Status, false, false, std::nullopt, "/tmp/a b.log"},
        // A value is taken as it is, even one that looks like an option.
        {{"--log", "--yes", "update"}, CliCommand::Update, false, false, std::nullopt, "--yes"},
        {{"--lang", "de", "--lang", "en", "status"}, CliCommand::Status, false, false, "en"},
        // --help and --version win over a missing command and options out of place.
        {{"--help"}, CliCommand::Help},
        {{"-h"}, CliCommand::Help},
        {{"--version"}, CliCommand::Version},
        {{"-V"}, CliCommand::Version},
        {{"status", "--help"}, CliCommand::Help},
        {{"update", "--json", "--version"}, CliCommand::Version, false, true},
        {{"--yes", "--help"}, CliCommand::Help, true},
        {{"--version", "--help"}, CliCommand::Help},
        {{"--lang", "de", "--help"}, CliCommand::Help, false, false, "de"},
    };
    for (const Accepted& test : cases) {
        SCOPED_TRACE(Joined(test.args));
        const CommandLineResult result = ParseCommandLine(test.args);
        ASSERT_TRUE(result.ok) << result.badArgument;
        EXPECT_EQ(result.options.command, test.command);
        EXPECT_EQ(result.options.yes, test.yes);
        EXPECT_EQ(result.options.json, test.json);
        EXPECT_EQ(result.options.language, test.language);
        EXPECT_EQ(result.options.logFile, test.logFile);
        EXPECT_EQ(result.badArgument, "");
    }
}

struct Refused {
    std::vector<std::string> args;
    std::string badArgument;  // "" when the command is missing
};

TEST(ParseCommandLine, NamesTheFirstArgumentItCannotUse) {
    const Refused cases[] = {
        {{}, ""},
        {{"--yes"}, ""},
        {{"--lang", "de"}, ""},
        {{"frobnicate"}, "frobnicate"},
        {{"status", "frobnicate", "--bogus"}, "frobnicate"},
        {{"Status"}, "Status"},
        {{"--language=de", "status"}, "--language=de"},
        {{"status", "update"}, "update"},
        {{"watch", "watch"}, "watch"},
        {{"status", "--lang"}, "--lang"},
        {{"update", "--log"}, "--log"},
        {{"--log=", "update"}, "--log="},
        {{"--lang", "fr", "status"}, "--lang fr"},
        {{"--lang=fr", "status"}, "--lang=fr"},
        {{"--lang=", "status"}, "--lang="},
        {{"--lang", "DE", "status"}, "--lang DE"},
        {{"status", "--yes"}, "--yes"},
        {{"watch", "-y"}, "--yes"},
        {{"update", "--json"}, "--json"},
        {{"--json", "watch"}, "--json"},
    };
    for (const Refused& test : cases) {
        SCOPED_TRACE(Joined(test.args));
        const CommandLineResult result = ParseCommandLine(test.args);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.badArgument, test.badArgument);
    }
}

struct Locale {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    CatalogueLanguage expected;
};

TEST(LanguageFromLocale, TheFirstVariableSetAndNotEmptyDecides) {
    constexpr auto EN = CatalogueLanguage::English;
    constexpr auto DE = CatalogueLanguage::German;
    const Locale cases[] = {
        {nullptr, nullptr, nullptr, EN},
        {"", "", "", EN},
        {nullptr, nullptr, "de_DE.UTF-8", DE},
        {nullptr, nullptr, "de_AT.UTF-8", DE},
        {nullptr, nullptr, "de", DE},
        {nullptr, nullptr, "C", EN},
        {nullptr, nullptr, "C.UTF-8", EN},
        {nullptr, nullptr, "POSIX", EN},
        {nullptr, nullptr, "en_GB.UTF-8", EN},
        {nullptr, nullptr, "fr_FR.UTF-8", EN},
        // LC_ALL wins over the others, also when it asks for English.
        {"en_US.UTF-8", nullptr, "de_DE.UTF-8", EN},
        {"C", "de_DE.UTF-8", "de_DE.UTF-8", EN},
        {"de_CH.UTF-8", "en_US.UTF-8", "en_US.UTF-8", DE},
        // LC_MESSAGES comes before LANG.
        {nullptr, "de_DE.UTF-8", "en_US.UTF-8", DE},
        {nullptr, "en_US.UTF-8", "de_DE.UTF-8", EN},
        // An empty variable counts as unset.
        {"", nullptr, "de_DE.UTF-8", DE},
        {"", "", "de_AT.UTF-8", DE},
        {nullptr, "", "C", EN},
    };
    for (const Locale& test : cases) {
        SCOPED_TRACE(std::string("LC_ALL=") + (test.lcAll ? test.lcAll : "(unset)") + " LC_MESSAGES=" +
                     (test.lcMessages ? test.lcMessages : "(unset)") + " LANG=" + (test.lang ? test.lang : "(unset)"));
        EXPECT_EQ(LanguageFromLocale(test.lcAll, test.lcMessages, test.lang), test.expected);
    }
}

}  // namespace
