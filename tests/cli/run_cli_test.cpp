// The whole terminal program in-process: its commands against the simulated unit, a
// recording terminal and a fake clock, so that a whole update takes no real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "app/dialog_ops.h"
#include "app/dialog_phase.h"
#include "app/status_flow.h"
#include "cli/cli.h"
#include "link/clock.h"
#include "link/device_session.h"
#include "link/hid_host.h"
#include "res/catalogue.h"
#include "res/resource.h"
#include "res/terminal_texts.h"
#include "sim/sim_unit.h"
#include "tests/cli/fake_cli.h"
#include "tests/cli/json_reader.h"
#include "update/firmware_update.h"
#include "update/image_store.h"

namespace {

constexpr std::uint32_t BYTES_PER_BLOCK = 48;
const std::wstring UNIT_PATH = SimUnitPath(PRODUCT_TUNE_BOX, 0);

// What the log file's writes leave as the platform's last error, as a real write may.
constexpr std::uint32_t ERROR_LEFT_BY_LOG_WRITE = 0x0BADF00D;

// A text as the terminal shows it: UTF-8, the catalogue's CR LF as LF. Written here
// rather than taken from the program, which is what is checked.
std::string Shown(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        const auto c = static_cast<std::uint32_t>(*p);
        if (c == L'\r' && p[1] == L'\n') {
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

bool Contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

std::size_t Occurrences(const std::string& text, const std::string& piece) {
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) {
        ++count;
    }
    return count;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    if (begin < text.size()) {
        lines.push_back(text.substr(begin));
    }
    return lines;
}

// The version lines as the terminal shows them.
const std::string NO_UNIT_VERSIONS =
    "programming unit  0.0.0\n"
    "ESC-bootloader    0.0.0\n"
    "ESC               0.0.0\n";
const std::string READY_VERSIONS =
    "TUNE-BOX        2.3\n"
    "ESC-bootloader  1.0.5\n"
    "ESC             3.2\n";
const std::string UPDATED_VERSIONS =
    "TUNE-BOX        2.3\n"
    "ESC-bootloader  1.0.5\n"
    "ESC             3.3\n";
const std::string PUCK_VERSIONS =
    "TUNEPUCK        2.3\n"
    "ESC-bootloader  1.0.5\n"
    "ESC             3.2\n";
const std::string NO_FIRMWARE_VERSIONS =
    "TUNE-BOX        2.3\n"
    "ESC-bootloader  1.0.5\n"
    "ESC             ----------\n";
// The unit label keeps the name of the unit that was last open.
const std::string LOST_VERSIONS =
    "TUNE-BOX        0.0.0\n"
    "ESC-bootloader  0.0.0\n"
    "ESC             0.0.0\n";
const std::string GERMAN_READY_VERSIONS =
    "TUNE-BOX           2.3\n"
    "Regler-Bootloader  1.0.5\n"
    "Regler             3.2\n";

// A log file that keeps what is written to it in memory. Where the C library lets a
// test see each write, the write also changes the platform's last error, as a real one
// may: the log must not change what the update reports.
class CapturedLog {
public:
    explicit CapturedLog(FakeClock& clock) : clock_(clock) {
#if defined(__GLIBC__)
        const cookie_io_functions_t functions{nullptr, &CapturedLog::Take, nullptr, nullptr};
        file_ = fopencookie(this, "w", functions);
#else
        file_ = std::tmpfile();
#endif
    }
    ~CapturedLog() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    std::FILE* File() const { return file_; }
    std::string Text() {
        std::fflush(file_);
#if !defined(__GLIBC__)
        text_.clear();
        std::rewind(file_);
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file_)) != 0;) {
            text_.append(buffer, got);
        }
        std::fseek(file_, 0, SEEK_END);
#endif
        return text_;
    }

private:
#if defined(__GLIBC__)
    static ssize_t Take(void* cookie, const char* data, std::size_t size) {
        auto* self = static_cast<CapturedLog*>(cookie);
        self->text_.append(data, size);
        self->clock_.lastError = ERROR_LEFT_BY_LOG_WRITE;
        return static_cast<ssize_t>(size);
    }
#endif
    FakeClock& clock_;
    std::FILE* file_ = nullptr;
    std::string text_;
};

class CliRun : public ::testing::Test {
protected:
    CliEvents events;
    FakeClock clock;
    SimHidHost sim{clock};
    RecordingBus bus{sim, events};
    RecordingTerminal terminal{events};
    FakeCliPlatform platform{terminal, clock, events};

    void SetUp() override {
        deviceSession.Reset();
        ResetDialogPhase();
        mainWindow = 0;
        deviceNotification = 0;
        hidHost = &bus;
        systemClock = &clock;
        placeholderImagesAllowed = true;  // the simulated unit takes the build's images
        sim.setLastError = [this](std::uint32_t error) { clock.lastError = error; };
    }
    void TearDown() override {
        EXPECT_EQ(hidHost, &bus) << "the platform's host is put back";
        EXPECT_EQ(sim.OpenHandleCount(), 0u) << "every handle is closed";
        EXPECT_EQ(dialogPhase, DialogPhase::Idle);
        EXPECT_EQ(WaitingDeviceChanges(), 0u);
        deviceSession.Reset();
        ResetDialogPhase();
        mainWindow = 0;
        deviceNotification = 0;
        hidHost = nullptr;
        systemClock = nullptr;
        placeholderImagesAllowed = false;
    }

    std::int32_t Run(const std::vector<std::string>& args) { return RunCli(args, platform); }

    SimulatedUnit& Load(const char* scenario) {
        EXPECT_TRUE(LoadSimScenario(scenario, sim)) << scenario;
        SimulatedUnit* unit = sim.FirstUnit();
        EXPECT_NE(unit, nullptr) << scenario;
        return *unit;
    }

    static std::string Msg(std::uint16_t id, CatalogueLanguage language = CatalogueLanguage::English) {
        return Shown(CatalogueText(id, language));
    }
    static std::string Txt(std::uint16_t id, CatalogueLanguage language = CatalogueLanguage::English) {
        return Shown(TerminalText(id, language));
    }
    // A status that comes with the connection hint, then the version lines.
    static std::string WithHint(std::uint16_t id, const std::string& versions) {
        return Msg(id) + "\n\n" + Msg(IDS_HINT) + "\n\n" + versions;
    }
    // No unit, with what to do about one found that could not be opened in place of the
    // hint (exit 8: no permission, 6: in use), then the version lines.
    static std::string NoUnitFor(std::int32_t exitStatus, const std::string& versions) {
        const std::uint16_t advice = exitStatus == 8 ? TXT_NO_PERMISSION : TXT_UNIT_IN_USE;
        return Msg(IDS_NO_UNIT) + "\n\n" + Txt(advice) + "\n\n" + versions;
    }

    static FirmwareImage Image() { return LoadFirmwareImage(IMAGE_RESOURCE_ID); }
    static std::uint32_t ImageBlocks() { return (Image().size + BYTES_PER_BLOCK - 1) / BYTES_PER_BLOCK; }

    // Where the first event from `from` on that matches is; npos if none.
    std::size_t Find(const std::function<bool(const CliEvent&)>& match, std::size_t from = 0) const {
        for (std::size_t i = from; i < events.size(); ++i) {
            if (match(events[i])) {
                return i;
            }
        }
        return std::string::npos;
    }
    std::size_t FindLast(const std::function<bool(const CliEvent&)>& match) const {
        for (std::size_t i = events.size(); i-- > 0;) {
            if (match(events[i])) {
                return i;
            }
        }
        return std::string::npos;
    }
    static std::function<bool(const CliEvent&)> Is(CliEvent::Kind kind) {
        return [kind](const CliEvent& event) { return event.kind == kind; };
    }
    static std::function<bool(const CliEvent&)> Writes(std::uint8_t command) {
        return [command](const CliEvent& event) { return event.kind == CliEvent::Write && event.value == command; };
    }
    static std::function<bool(const CliEvent&)> Prints(CliEvent::Kind stream, const std::string& piece) {
        return [stream, piece](const CliEvent& event) { return event.kind == stream && Contains(event.text, piece); };
    }
    std::size_t Count(CliEvent::Kind kind) const {
        return static_cast<std::size_t>(
            std::count_if(events.begin(), events.end(), [kind](const CliEvent& event) { return event.kind == kind; }));
    }
    // The first event of this kind at or after from.
    std::size_t Next(CliEvent::Kind kind, std::size_t from) const { return Find(Is(kind), from); }

    static bool FlashHoldsImage(const SimulatedUnit& unit) {
        const FirmwareImage image = Image();
        return unit.flash.size() >= image.size && std::equal(image.bytes, image.bytes + image.size, unit.flash.begin());
    }
};

constexpr std::size_t NONE = std::string::npos;

// ---- status ----

struct StatusCase {
    const char* scenario;
    std::int32_t exitStatus;
    std::uint16_t statusId;
    const std::string* versions;
};

void PrintTo(const StatusCase& test, std::ostream* out) { *out << test.scenario; }

class CliStatus : public CliRun, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(CliStatus, PrintsTheStatusAndVersionsAndEndsWithItsExitStatus) {
    const StatusCase& test = GetParam();
    ASSERT_TRUE(LoadSimScenario(test.scenario, sim));

    EXPECT_EQ(Run({"status"}), test.exitStatus);

    std::string expected = test.statusId == IDS_READY                        ? Msg(IDS_READY) + "\n\n" + *test.versions
                           : test.exitStatus == 8 || test.exitStatus == 6 ? NoUnitFor(test.exitStatus, *test.versions)
                                                                          : WithHint(test.statusId, *test.versions);
    if (test.statusId == IDS_INCOMPATIBLE_STATUS) {
        // The message the dialog shows in a box comes first.
        expected = Msg(IDS_INCOMPATIBLE_CAPTION) + "\n" + Replaced(Msg(IDS_INCOMPATIBLE_ESC), "%s", "ORVANTA 90") +
                   "\n\n" + expected;
    }
    EXPECT_EQ(terminal.out, expected);
    EXPECT_EQ(terminal.err, "") << "what to do is in the status";

    // An interrupt cancels the check; nothing of an update is ever sent.
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].kind, CliEvent::EndOnInterrupt);
    EXPECT_EQ(events[0].value, 6);
    EXPECT_EQ(Count(CliEvent::RefuseInterrupt), 0u);
    EXPECT_EQ(Find(Writes(CMD_SYSTEM_LOCK)), NONE);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CliStatus,
    ::testing::Values(StatusCase{"ready", 0, IDS_READY, &READY_VERSIONS},
                      StatusCase{"ready-alt", 0, IDS_READY, &READY_VERSIONS},
                      StatusCase{"puck", 0, IDS_READY, &PUCK_VERSIONS},
                      StatusCase{"no-firmware", 0, IDS_READY, &NO_FIRMWARE_VERSIONS},
                      StatusCase{"none", 2, IDS_NO_UNIT, &NO_UNIT_VERSIONS},
                      StatusCase{"wrong-mode", 3, IDS_WRONG_MODE, &NO_UNIT_VERSIONS},
                      StatusCase{"no-esc", 4, IDS_NO_ESC, &NO_UNIT_VERSIONS},
                      StatusCase{"foreign-esc", 5, IDS_INCOMPATIBLE_STATUS, &NO_UNIT_VERSIONS},
                      StatusCase{"no-permission", 8, IDS_NO_UNIT, &NO_UNIT_VERSIONS},
                      StatusCase{"in-use", 6, IDS_NO_UNIT, &NO_UNIT_VERSIONS},
                      StatusCase{"silent", 2, IDS_NO_UNIT, &NO_UNIT_VERSIONS},
                      StatusCase{"esc-boot-error", 2, IDS_NO_UNIT, &NO_UNIT_VERSIONS}),
    [](const ::testing::TestParamInfo<StatusCase>& info) {
        std::string name = info.param.scenario;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

struct JsonCase {
    const char* scenario;
    double status;
    double exitStatus;
    bool hint;
    bool message;
    bool permissionDenied;
    bool unit;
    const char* escVersion;
};

void PrintTo(const JsonCase& test, std::ostream* out) { *out << test.scenario; }

class CliStatusJson : public CliRun, public ::testing::WithParamInterface<JsonCase> {};

TEST_P(CliStatusJson, PrintsOneJsonObjectOnOneLineAndNothingElse) {
    const JsonCase& test = GetParam();
    ASSERT_TRUE(LoadSimScenario(test.scenario, sim));

    EXPECT_EQ(Run({"status", "--json"}), static_cast<std::int32_t>(test.exitStatus));

    ASSERT_FALSE(terminal.out.empty());
    EXPECT_EQ(terminal.out.back(), '\n');
    EXPECT_EQ(terminal.out.find('\n'), terminal.out.size() - 1) << "one line";
    EXPECT_EQ(terminal.err, "");
    const std::optional<JsonValue> json = JsonReader::Read(terminal.out);
    ASSERT_TRUE(json.has_value()) << terminal.out;
    ASSERT_EQ(json->kind, JsonValue::Object);

    EXPECT_EQ((*json)["status"].kind, JsonValue::Number);
    EXPECT_EQ((*json)["status"].number, test.status);
    EXPECT_EQ((*json)["exitStatus"].number, test.exitStatus);
    EXPECT_EQ((*json)["text"].string, Msg(static_cast<std::uint16_t>(test.status)));
    if (test.hint) {
        // The hint the status shows: what to do about a unit that cannot be opened.
        const std::string shown = test.exitStatus == 8   ? Txt(TXT_NO_PERMISSION)
                                  : test.exitStatus == 6 ? Txt(TXT_UNIT_IN_USE)
                                                         : Msg(IDS_HINT);
        EXPECT_EQ((*json)["hint"].string, shown);
    } else {
        EXPECT_EQ((*json)["hint"].kind, JsonValue::Null);
    }
    if (test.message) {
        EXPECT_EQ((*json)["message"].string, Replaced(Msg(IDS_INCOMPATIBLE_ESC), "%s", "ORVANTA 90"));
    } else {
        EXPECT_EQ((*json)["message"].kind, JsonValue::Null);
    }
    EXPECT_EQ((*json)["permissionDenied"].kind, JsonValue::Bool);
    EXPECT_EQ((*json)["permissionDenied"].boolean, test.permissionDenied);
    if (test.unit) {
        EXPECT_EQ((*json)["unit"]["name"].string, "TUNE-BOX");
        EXPECT_EQ((*json)["unit"]["productId"].number, 2);
        EXPECT_EQ((*json)["versions"]["unit"].string, "2.3");
        EXPECT_EQ((*json)["versions"]["bootloader"].string, "1.0.5");
    } else {
        EXPECT_TRUE((*json).Has("unit"));
        EXPECT_EQ((*json)["unit"].kind, JsonValue::Null);
        EXPECT_EQ((*json)["versions"]["unit"].string, "0.0.0");
    }
    EXPECT_EQ((*json)["versions"]["esc"].string, test.escVersion);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CliStatusJson,
    ::testing::Values(JsonCase{"ready", 40000, 0, false, false, false, true, "3.2"},
                      JsonCase{"no-firmware", 40000, 0, false, false, false, true, "----------"},
                      JsonCase{"none", 40017, 2, true, false, false, false, "0.0.0"},
                      JsonCase{"foreign-esc", 40035, 5, true, true, false, false, "0.0.0"},
                      JsonCase{"no-permission", 40017, 8, true, false, true, false, "0.0.0"}),
    [](const ::testing::TestParamInfo<JsonCase>& info) {
        std::string name = info.param.scenario;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(CliRun, GermanTextsWithLangDeOrAGermanEnvironment) {
    Load("ready");
    const struct {
        std::vector<std::string> args;
        CatalogueLanguage environment;
        bool german;
    } cases[] = {
        {{"--lang", "de", "status"}, CatalogueLanguage::English, true},
        {{"status"}, CatalogueLanguage::German, true},
        {{"status", "--lang=en"}, CatalogueLanguage::German, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.args.size() == 1 ? test.args[0] : test.args[0] + " " + test.args[1]);
        terminal.out.clear();
        platform.language = test.environment;
        EXPECT_EQ(Run(test.args), 0);
        EXPECT_EQ(terminal.out, test.german ? Msg(IDS_READY, CatalogueLanguage::German) + "\n\n" + GERMAN_READY_VERSIONS
                                            : Msg(IDS_READY) + "\n\n" + READY_VERSIONS);
    }
}

// ---- update ----

TEST_F(CliRun, UpdateWithYesWritesEveryBlockWithoutATerminalAndReportsSuccess) {
    SimulatedUnit& unit = Load("ready");
    terminal.inputIsTerminal = false;

    EXPECT_EQ(Run({"update", "--yes"}), 0);

    EXPECT_TRUE(FlashHoldsImage(unit));
    EXPECT_EQ(unit.blocksWritten, ImageBlocks());
    EXPECT_EQ(unit.firmwareVersion, 0x0303);
    EXPECT_EQ(Count(CliEvent::ReadLine), 0u) << "--yes asks nobody";
    EXPECT_EQ(terminal.err, "");
    EXPECT_EQ(terminal.out.rfind(Msg(IDS_READY) + "\n\n" + READY_VERSIONS + "\n" + Msg(IDS_CONFIRM_CAPTION) + "\n" +
                                 Msg(IDS_CONFIRM_TEXT) + "\n" + Txt(TXT_PROMPT) + Txt(TXT_ANSWERED_YES) + "\n",
                             0),
              0u)
        << terminal.out.substr(0, 600);
    const std::string ending = "\n" + Msg(IDS_UPDATE_SUCCEEDED) + "\n\n" + UPDATED_VERSIONS;
    ASSERT_GE(terminal.out.size(), ending.size());
    EXPECT_EQ(terminal.out.substr(terminal.out.size() - ending.size()), ending);
    EXPECT_FALSE(Contains(terminal.out, Msg(IDS_OLDER_FIRMWARE))) << "older firmware: no second question";
}

TEST_F(CliRun, InterruptsCancelUntilTheSequenceAreRefusedDuringItAndEndTheProgramAfter) {
    Load("ready");

    EXPECT_EQ(Run({"update", "--yes"}), 0);

    const std::size_t cancelling = Find(Is(CliEvent::EndOnInterrupt));
    ASSERT_NE(cancelling, NONE);
    EXPECT_EQ(events[cancelling].value, 6);
    EXPECT_EQ(events[cancelling].text, "\n" + Txt(TXT_CANCELLED) + "\n");
    EXPECT_LT(cancelling, Find(Is(CliEvent::Open))) << "before the unit is opened";

    const std::size_t question = Find(Prints(CliEvent::Out, Txt(TXT_PROMPT)));
    const std::size_t refusing = Find(Is(CliEvent::RefuseInterrupt));
    ASSERT_NE(refusing, NONE);
    EXPECT_EQ(events[refusing].text, "\n" + Txt(TXT_DO_NOT_INTERRUPT) + "\n");
    EXPECT_LT(question, refusing) << "the question can still be interrupted";
    const std::size_t lock = Find(Writes(CMD_SYSTEM_LOCK));
    ASSERT_NE(lock, NONE);
    EXPECT_EQ(events[lock].argument, 1);
    EXPECT_LT(refusing, lock);
    EXPECT_EQ(Next(CliEvent::EndOnInterrupt, cancelling + 1), FindLast(Is(CliEvent::EndOnInterrupt)))
        << "the interrupt policy changes only twice more";

    // Refused through the last block and the wind-down (protection set, lock released),
    // then without a word until the outcome has been told; after it an interrupt ends
    // the program with the outcome's status.
    const std::size_t unlock = FindLast(Is(CliEvent::Write));
    EXPECT_EQ(events[unlock].value, CMD_SYSTEM_LOCK);
    EXPECT_EQ(events[unlock].argument, 0);
    const std::size_t silent = Next(CliEvent::RefuseInterrupt, refusing + 1);
    ASSERT_NE(silent, NONE);
    EXPECT_EQ(events[silent].text, "");
    EXPECT_GT(silent, unlock);
    EXPECT_EQ(Count(CliEvent::RefuseInterrupt), 2u);
    const std::size_t ending = Next(CliEvent::EndOnInterrupt, refusing);
    ASSERT_NE(ending, NONE);
    EXPECT_EQ(events[ending].value, 0) << "the outcome's status";
    EXPECT_EQ(events[ending].text, "");
    EXPECT_GT(ending, Find(Prints(CliEvent::Out, Msg(IDS_UPDATE_SUCCEEDED))))
        << "refused until the outcome has been told";

    // The writers and the sleep inhibitor are had before the sequence's first request
    // (the ESC asked once more), and sleep is allowed again once the sequence is over.
    const std::size_t prepared = Find(Is(CliEvent::PrepareSequence));
    const std::size_t held = Find(Is(CliEvent::HoldOffSessionEnd));
    ASSERT_NE(prepared, NONE);
    ASSERT_NE(held, NONE);
    EXPECT_LT(prepared, held);
    EXPECT_LT(held, refusing);
    EXPECT_EQ(events[refusing + 1].kind, CliEvent::Write) << "the sequence begins after the refusal";
    EXPECT_EQ(events[refusing + 1].value, CMD_IDENTIFY);
    const std::size_t allowed = Find(Is(CliEvent::AllowSessionEnd));
    EXPECT_GT(allowed, unlock);
    EXPECT_LT(allowed, silent);
}

TEST_F(CliRun, InputTypedDuringTheSequenceIsDiscardedBeforeTheOutcomeIsShown) {
    Load("ready");

    EXPECT_EQ(Run({"update", "--yes"}), 0);

    const std::size_t lastBlock = FindLast(Writes(CMD_WRITE_BLOCK));
    const std::size_t discard = Next(CliEvent::DiscardInput, lastBlock);
    ASSERT_NE(discard, NONE);
    EXPECT_LT(discard, Find(Prints(CliEvent::Out, Msg(IDS_UPDATE_SUCCEEDED))));
    EXPECT_EQ(Find(Is(CliEvent::DiscardInput)), discard) << "not before the transfer ended";
}

TEST_F(CliRun, ProgressWithoutATerminalIsALineAtTheStartAndOneAtEachTenth) {
    Load("ready");
    terminal.outputIsTerminal = false;

    EXPECT_EQ(Run({"update", "--yes"}), 0);

    const std::string blocks = std::to_string(ImageBlocks());
    EXPECT_FALSE(Contains(terminal.out, "\r"));
    EXPECT_FALSE(Contains(terminal.out, "\x1b"));
    std::vector<std::string> progress;
    for (const std::string& line : Lines(terminal.out)) {
        if (line.rfind("[", 0) == 0) {
            progress.push_back(line);
        }
    }
    ASSERT_EQ(progress.size(), 10u);
    for (std::size_t i = 0; i < progress.size(); ++i) {
        SCOPED_TRACE(progress[i]);
        const std::size_t tenth = i + 1;
        EXPECT_EQ(progress[i].substr(0, progress[i].find("  ")),
                  "[" + std::string(3 * tenth, '#') + std::string(30 - 3 * tenth, '-') + "] " + std::to_string(10 * tenth) + "%");
    }
    EXPECT_EQ(progress.back(), "[##############################] 100%  " + blocks + "/" + blocks + " blocks  0:00 left");
    EXPECT_TRUE(Contains(terminal.out, "\n" + Msg(IDS_PROGRESS_CAPTION) + "\n" + progress.front() + "\n"));
}

TEST_F(CliRun, ProgressOnATerminalRedrawsOneLine) {
    Load("ready");
    terminal.outputIsTerminal = true;

    EXPECT_EQ(Run({"update", "--yes"}), 0);

    const std::string blocks = std::to_string(ImageBlocks());
    EXPECT_EQ(Occurrences(terminal.out, "\r["), ImageBlocks() + 1) << "at the start and after each block";
    EXPECT_FALSE(Contains(terminal.out, "\x1b")) << "no escape sequence a console may not know";
    EXPECT_TRUE(Contains(terminal.out, "\n" + Msg(IDS_PROGRESS_CAPTION) + "\n\r[------------------------------] 0%  0/" +
                                           blocks + " blocks  -:-- left\r["));
    EXPECT_TRUE(Contains(terminal.out, "\r[##############################] 100%  " + blocks + "/" + blocks +
                                           " blocks  0:00 left\n"));

    for (const CliEvent& event : events) {
        if (event.kind == CliEvent::Out && Contains(event.text, "blocks")) {
            EXPECT_EQ(event.text.rfind("\r[", 0), 0u) << "each redraw starts at the line's start";
        }
    }
}

struct AnswerCase {
    const char* label;
    const char* scenario;
    std::vector<std::string> typed;  // then the end of input
    std::int32_t exitStatus;
    std::size_t questions;
};

void PrintTo(const AnswerCase& test, std::ostream* out) { *out << test.scenario << ", " << test.label; }

class CliAnswers : public CliRun, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(CliAnswers, OnlyYesGoesOnAndAnythingElseLeavesTheUnitUntouched) {
    const AnswerCase& test = GetParam();
    SimulatedUnit& unit = Load(test.scenario);
    const std::uint16_t installed = unit.firmwareVersion;
    terminal.input.assign(test.typed.begin(), test.typed.end());

    EXPECT_EQ(Run({"update"}), test.exitStatus);

    EXPECT_EQ(Count(CliEvent::ReadLine), test.questions);
    // Only what is typed after a question answers it: input typed ahead is thrown away
    // before each prompt is shown.
    std::size_t from = 0;
    for (std::size_t read = Find(Is(CliEvent::ReadLine)); read != NONE; read = Find(Is(CliEvent::ReadLine), read + 1)) {
        const std::size_t discard = Next(CliEvent::DiscardInput, from);
        ASSERT_NE(discard, NONE);
        EXPECT_LT(discard, read);
        EXPECT_LT(discard, Find(Prints(CliEvent::Out, Txt(TXT_PROMPT)), from));
        from = read + 1;
    }
    const bool asksVersion = std::string(test.scenario) == "newer";
    EXPECT_EQ(Contains(terminal.out, Msg(IDS_NEWER_FIRMWARE_CAPTION) + "\n" + Msg(IDS_OLDER_FIRMWARE) + "\n" +
                                         Txt(TXT_PROMPT)),
              asksVersion && test.questions == 2);
    if (test.exitStatus == 0) {
        EXPECT_TRUE(FlashHoldsImage(unit));
        EXPECT_EQ(unit.firmwareVersion, 0x0303);
        EXPECT_EQ(terminal.err, "");
        EXPECT_GT(Find(Is(CliEvent::RefuseInterrupt)), FindLast(Is(CliEvent::ReadLine)))
            << "every question can still be interrupted";
        return;
    }
    EXPECT_EQ(terminal.err, Txt(TXT_CANCELLED) + "\n");
    const std::size_t firstQuestion = Find(Is(CliEvent::ReadLine));
    ASSERT_NE(firstQuestion, NONE);
    EXPECT_EQ(Find(Is(CliEvent::Write), firstQuestion), NONE) << "nothing sent after identification";
    EXPECT_EQ(unit.commandCount.count(CMD_SYSTEM_LOCK), 0u);
    EXPECT_EQ(unit.blocksWritten, 0u);
    EXPECT_EQ(unit.firmwareVersion, installed);
    EXPECT_EQ(Count(CliEvent::RefuseInterrupt), 0u);
    EXPECT_FALSE(Contains(terminal.out, Msg(IDS_PROGRESS_CAPTION)));
}

INSTANTIATE_TEST_SUITE_P(
    Typed, CliAnswers,
    ::testing::Values(AnswerCase{"y", "ready", {"y"}, 0, 1},
                      AnswerCase{"Yes_with_blanks", "ready", {" Yes \r"}, 0, 1},
                      AnswerCase{"ja", "ready", {"ja"}, 0, 1},
                      AnswerCase{"n", "ready", {"n"}, 6, 1},
                      AnswerCase{"empty_line", "ready", {""}, 6, 1},
                      AnswerCase{"yess", "ready", {"yess"}, 6, 1},
                      AnswerCase{"end_of_input", "ready", {}, 6, 1},
                      AnswerCase{"newer_y_n", "newer", {"y", "n"}, 6, 2},
                      AnswerCase{"newer_y_end_of_input", "newer", {"y"}, 6, 2},
                      AnswerCase{"newer_n", "newer", {"n"}, 6, 1},
                      AnswerCase{"newer_y_y", "newer", {"y", "y"}, 0, 2}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.label); });

struct FailureCase {
    const char* scenario;
    std::uint16_t textId;
    const char* codeLine;
    bool log;
};

void PrintTo(const FailureCase& test, std::ostream* out) {
    *out << test.scenario << (test.log ? " with --log" : "");
}

class CliFailures : public CliRun, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliFailures, EndWithSevenTheFailureTextAndTheCodeLine) {
    const FailureCase& test = GetParam();
    Load(test.scenario);
    CapturedLog log(clock);
    std::vector<std::string> args = {"update", "--yes"};
    if (test.log) {
        platform.logFile = log.File();
        args.insert(args.begin(), {"--log", "unit.log"});
    }

    EXPECT_EQ(Run(args), 7);

    const std::string box = "\n" + Msg(IDS_UPDATE_FAILED_CAPTION) + "\n" + Msg(test.textId) + "\n" +
                            "The system shows following errorcode: " + test.codeLine + "\n";
    EXPECT_EQ(terminal.err.rfind(box, 0), 0u) << terminal.err;
    const std::string status = "\n" + Msg(IDS_UPDATE_FAILED) + "\n\n" + LOST_VERSIONS;
    ASSERT_GE(terminal.out.size(), status.size());
    EXPECT_EQ(terminal.out.substr(terminal.out.size() - status.size()), status) << "the failure status ends the output";

    // The sequence was begun under a refused interrupt, which stays refused until the
    // failure has been shown (a script must learn the outcome), and what was typed
    // meanwhile is thrown away first.
    const std::size_t refusing = Find(Is(CliEvent::RefuseInterrupt));
    ASSERT_NE(refusing, NONE);
    EXPECT_LT(refusing, Find(Writes(CMD_SYSTEM_LOCK)));
    const std::size_t shown = Find(Is(CliEvent::Err));
    const std::size_t ending = Next(CliEvent::EndOnInterrupt, refusing);
    ASSERT_NE(ending, NONE);
    EXPECT_EQ(events[ending].value, 7) << "the outcome's status stands";
    EXPECT_GT(ending, FindLast(Is(CliEvent::Write)));
    EXPECT_GT(ending, shown);
    EXPECT_GT(ending, FindLast(Prints(CliEvent::Out, Msg(IDS_UPDATE_FAILED))));
    const std::size_t discard = Next(CliEvent::DiscardInput, refusing);
    ASSERT_NE(discard, NONE);
    EXPECT_LT(discard, shown);
    if (test.log) {
        EXPECT_TRUE(Contains(log.Text(), " failed, error 0x0000048f\n")) << "the log records the failing write";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CliFailures,
    ::testing::Values(FailureCase{"lock-refused", IDS_LOCK_FAILED, "0x0000065b-0x00000000", false},
                      FailureCase{"erase-fails", IDS_ERASE_FAILED, "0x00000102-0x00000000", false},
                      FailureCase{"block-fails", IDS_BLOCK_FAILED, "0x00000105-0x00000000", false},
                      FailureCase{"unplug-during-transfer", IDS_BLOCK_FAILED, "0xfffffffe-0x0000048f", false},
                      // The log writes between the failing call and the report of its error.
                      FailureCase{"unplug-during-transfer", IDS_BLOCK_FAILED, "0xfffffffe-0x0000048f", true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        std::string name = info.param.scenario;
        std::replace(name.begin(), name.end(), '-', '_');
        return name + (info.param.log ? "_with_log" : "");
    });

TEST_F(CliRun, UpdateStopsAtACheckThatFindsNoReadyUnit) {
    const struct {
        const char* scenario;
        std::int32_t exitStatus;
    } cases[] = {{"none", 2}, {"wrong-mode", 3}, {"foreign-esc", 5}, {"no-permission", 8}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.scenario);
        events.clear();
        terminal.out.clear();
        terminal.err.clear();
        SimHidHost other(clock);
        RecordingBus otherBus(other, events);
        hidHost = &otherBus;
        ASSERT_TRUE(LoadSimScenario(test.scenario, other));

        EXPECT_EQ(Run({"update"}), test.exitStatus);

        EXPECT_EQ(Count(CliEvent::ReadLine), 0u);
        EXPECT_FALSE(Contains(terminal.out, Txt(TXT_PROMPT)));
        EXPECT_EQ(Find(Writes(CMD_SYSTEM_LOCK)), NONE);
        EXPECT_EQ(terminal.err, "");
        EXPECT_EQ(other.OpenHandleCount(), 0u);
        hidHost = &bus;
    }
}

TEST_F(CliRun, WithoutATerminalToAskOnUpdateNeedsYesAndOpensNothing) {
    Load("ready");
    terminal.inputIsTerminal = false;
    terminal.input = {"y"};

    EXPECT_EQ(Run({"update"}), 6);

    EXPECT_EQ(terminal.err, Txt(TXT_NEEDS_TERMINAL) + "\n");
    EXPECT_EQ(terminal.out, "");
    EXPECT_TRUE(sim.opened.empty());
    EXPECT_EQ(Count(CliEvent::Open), 0u);
    EXPECT_EQ(Count(CliEvent::ReadLine), 0u);
}

TEST_F(CliRun, ADevelopmentBuildRefusesTheUpdateAndSendsNothing) {
    if (!FirmwareImagesArePlaceholders()) {
        GTEST_SKIP() << "built with the firmware release";
    }
    SimulatedUnit& unit = Load("ready");
    placeholderImagesAllowed = false;

    EXPECT_EQ(Run({"update", "--yes"}), 7);

    EXPECT_TRUE(Contains(terminal.err, Shown(DEVELOPMENT_BUILD_REFUSAL)));
    EXPECT_EQ(unit.commandCount.count(CMD_SYSTEM_LOCK), 0u);
    EXPECT_EQ(unit.blocksWritten, 0u);
}

// ---- the exchange log ----

TEST_F(CliRun, LogRecordsEveryRequestAndReplyWithItsTime) {
    Load("ready");
    CapturedLog log(clock);
    platform.logFile = log.File();

    EXPECT_EQ(Run({"--log", "unit.log", "update", "--yes"}), 0);

    EXPECT_EQ(platform.logPaths, std::vector<std::string>{"unit.log"});
    const std::vector<std::string> lines = Lines(log.Text());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("# orvanta-cli exchange log, begun ", 0), 0u) << lines[0];
    const std::regex timed(R"( *\d+\.\d{6} .+)");
    const std::regex request(R"( *\d+\.\d{6} > 01( [0-9a-f]{2}){59})");
    const std::regex reply(R"( *\d+\.\d{6} < 02( [0-9a-f]{2}){59})");
    std::size_t requests = 0;
    std::size_t replies = 0;
    std::size_t blocks = 0;
    bool lock = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], timed)) << lines[i];
        requests += std::regex_match(lines[i], request) ? 1 : 0;
        replies += std::regex_match(lines[i], reply) ? 1 : 0;
        blocks += Contains(lines[i], " > 01 1b ") ? 1 : 0;
        lock = lock || Contains(lines[i], " > 01 0b 01 01 00 00 ");
    }
    EXPECT_EQ(blocks, ImageBlocks());
    EXPECT_TRUE(lock) << "the system lock request";
    EXPECT_EQ(requests, replies);
    EXPECT_GT(requests, ImageBlocks());
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"( *\d+\.\d{6} close)"))) << lines.back();
}

TEST_F(CliRun, ALogThatCannotBeOpenedEndsWithOneBeforeTheUnitIsOpened) {
    Load("ready");
    platform.logFile = nullptr;

    EXPECT_EQ(Run({"status", "--log", "/nowhere/unit.log"}), 1);

    EXPECT_EQ(terminal.err, "The log file /nowhere/unit.log cannot be written.\n");
    EXPECT_EQ(terminal.out, "");
    EXPECT_EQ(Count(CliEvent::Open), 0u);
}

// ---- refusals before anything is done ----

TEST_F(CliRun, AnotherCopyRunningEndsWithSixAndOpensNothing) {
    Load("ready");
    platform.holdInstance = false;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"status"}, {"update", "--yes"}, {"watch"}}) {
        SCOPED_TRACE(args[0]);
        terminal.out.clear();
        terminal.err.clear();
        EXPECT_EQ(Run(args), 6);
        EXPECT_EQ(terminal.err, Txt(TXT_ANOTHER_COPY) + "\n");
        EXPECT_EQ(terminal.out, "");
    }
    EXPECT_EQ(Count(CliEvent::Open), 0u);
    EXPECT_TRUE(sim.opened.empty());
}

TEST_F(CliRun, UsageErrorsEndWith64AndTheUsageOnTheErrorStream) {
    Load("ready");
    const std::string usage = Txt(TXT_SHORT_USAGE) + "\n";
    const std::string germanUsage = Txt(TXT_SHORT_USAGE, CatalogueLanguage::German) + "\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{}, usage},
        {{"--yes"}, usage},
        {{"frobnicate"}, "orvanta-cli: unknown argument 'frobnicate'\n" + usage},
        {{"100%s%u%%"}, "orvanta-cli: unknown argument '100%s%u%%'\n" + usage},
        {{"st\xc3\xa4tus"}, "orvanta-cli: unknown argument 'st\xc3\xa4tus'\n" + usage},
        {{"status", "--yes"}, "orvanta-cli: unknown argument '--yes'\n" + usage},
        {{"update", "--json"}, "orvanta-cli: unknown argument '--json'\n" + usage},
        {{"status", "update"}, "orvanta-cli: unknown argument 'update'\n" + usage},
        {{"status", "--log"}, "orvanta-cli: unknown argument '--log'\n" + usage},
        {{"--lang", "fr", "status"}, "orvanta-cli: unknown argument '--lang fr'\n" + usage},
        {{"--lang", "de", "bogus"}, "orvanta-cli: unbekanntes Argument 'bogus'\n" + germanUsage},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.args.empty() ? "(none)" : test.args[0]);
        terminal.out.clear();
        terminal.err.clear();
        EXPECT_EQ(Run(test.args), 64);
        EXPECT_EQ(terminal.err, test.err);
        EXPECT_EQ(terminal.out, "");
    }
    EXPECT_EQ(Count(CliEvent::Open), 0u);
}

TEST_F(CliRun, HelpAndVersionPrintOnOutputAndOpenNothing) {
    Load("ready");
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"--help"}, Replaced(Txt(TXT_USAGE), "%s", "3.3") + "\n"},
        {{"status", "--lang", "de", "-h"}, Replaced(Txt(TXT_USAGE, CatalogueLanguage::German), "%s", "3.3") + "\n"},
        {{"--version"}, "orvanta-cli 3.3.0: firmware 3.3 for the QUORVEX ORVANTA 90 ESC\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.args[0]);
        terminal.out.clear();
        EXPECT_EQ(Run(test.args), 0);
        EXPECT_EQ(terminal.out, test.out);
        EXPECT_EQ(terminal.err, "");
    }
    EXPECT_EQ(Count(CliEvent::Open), 0u);
}

// ---- watch ----

TEST_F(CliRun, WatchFollowsArrivalAndRemovalUntilNoMoreChangesCome) {
    platform.deviceChanges = {
        // A keyboard: nothing new to show.
        [this] {
            sim.PlugOther(L"\\\\?\\hid#vid_046d&pid_c31c#1&2&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", 0x046D, 0xC31C);
            return DeviceChange{DBT_EVENT_DEVICE_ARRIVAL, L"keyboard"};
        },
        [this] {
            EXPECT_TRUE(LoadSimScenario("ready", sim));
            return DeviceChange{DBT_EVENT_DEVICE_ARRIVAL, UNIT_PATH};
        },
        [this] {
            sim.Unplug(UNIT_PATH);
            return DeviceChange{DBT_EVENT_DEVICE_REMOVE_COMPLETE, UNIT_PATH};
        },
    };

    // Watching ends with an interrupt; a wait that fails means no change can come any more.
    EXPECT_EQ(Run({"watch"}), 1);

    EXPECT_EQ(terminal.out, Txt(TXT_WATCHING) + "\n\n" +                        //
                                WithHint(IDS_NO_UNIT, NO_UNIT_VERSIONS) + "\n" +  //
                                Msg(IDS_READY) + "\n\n" + READY_VERSIONS + "\n" +   //
                                WithHint(IDS_CONNECTION_LOST, LOST_VERSIONS));
    EXPECT_EQ(terminal.err, Txt(TXT_WATCH_FAILED) + "\n");
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].kind, CliEvent::EndOnInterrupt);
    EXPECT_EQ(events[0].value, 0) << "an interrupt ends watching as it should";
    EXPECT_EQ(events[0].text, "");
    EXPECT_TRUE(platform.deviceChanges.empty());
}

TEST_F(CliRun, WatchSaysWhenAnArrivedUnitMayNotBeOpened) {
    platform.deviceChanges = {[this] {
        EXPECT_TRUE(LoadSimScenario("no-permission", sim));
        return DeviceChange{DBT_EVENT_DEVICE_ARRIVAL, UNIT_PATH};
    }};

    EXPECT_EQ(Run({"watch"}), 1);

    EXPECT_EQ(terminal.err, Txt(TXT_WATCH_FAILED) + "\n");
    EXPECT_EQ(terminal.out, Txt(TXT_WATCHING) + "\n\n" + WithHint(IDS_NO_UNIT, NO_UNIT_VERSIONS) + "\n" +
                                NoUnitFor(8, NO_UNIT_VERSIONS));
}

TEST_F(CliRun, WatchEndsWithOneWhenChangesCannotBeFollowed) {
    platform.watchingStarts = false;

    EXPECT_EQ(Run({"watch"}), 1);

    EXPECT_EQ(terminal.err, Txt(TXT_WATCH_FAILED) + "\n");
    EXPECT_EQ(terminal.out, "");
    EXPECT_EQ(Count(CliEvent::Open), 0u);
}

TEST_F(CliRun, WatchSaysOnceThatAUnitIsInUseAndFindsItWhenItIsFreed) {
    Load("in-use");
    platform.deviceChanges = {
        [] { return DeviceChange{}; },  // a second passes: still held
        [this] {
            sim.held.clear();  // the other program lets it go: no event comes
            return DeviceChange{};
        },
    };

    EXPECT_EQ(Run({"watch"}), 1);

    EXPECT_EQ(terminal.out, Txt(TXT_WATCHING) + "\n\n" + NoUnitFor(6, NO_UNIT_VERSIONS) + "\n" + Msg(IDS_READY) +
                                "\n\n" + READY_VERSIONS);
    EXPECT_EQ(terminal.err, Txt(TXT_WATCH_FAILED) + "\n") << "said once, in the status";
    // Looked at again every second while it was held; then waits for events alone.
    EXPECT_EQ(platform.waitTimeouts, (std::vector<std::int32_t>{1000, 1000, -1}));
}

// ---- what the update needs during its sequence ----

// A writer that cannot be had (no thread for the terminal's output or for the log) refuses
// the update before any command of the sequence, with a message and exit status 7.
TEST_F(CliRun, UpdateRefusedWhenItsWritersCannotBeHad) {
    for (const bool logThread : {false, true}) {
        SCOPED_TRACE(logThread ? "the log's thread" : "the terminal's writer");
        events.clear();
        terminal.out.clear();
        terminal.err.clear();
        sim.Unplug(UNIT_PATH);
        Load("ready");
        CapturedLog log(clock);
        std::vector<std::string> args = {"update", "--yes"};
        terminal.prepares = logThread;
        platform.threadsStart = !logThread;
        if (logThread) {
            platform.logFile = log.File();
            args.insert(args.begin(), {"--log", "unit.log"});
        }

        EXPECT_EQ(Run(args), 7);

        EXPECT_TRUE(Contains(terminal.err, Msg(IDS_PREPARE_FAILED))) << terminal.err;
        EXPECT_TRUE(Contains(terminal.out, Msg(IDS_UPDATE_FAILED)));
        for (const std::uint8_t command : {CMD_SYSTEM_LOCK, CMD_WRITE_PROTECT, CMD_ERASE, CMD_WRITE_BLOCK}) {
            EXPECT_EQ(Find(Writes(command)), NONE) << int{command};
        }
        EXPECT_EQ(Count(CliEvent::HoldOffSessionEnd), 0u);
        EXPECT_EQ(Count(CliEvent::RefuseInterrupt), 0u);
        EXPECT_EQ(events.back().kind, CliEvent::EndOnInterrupt);
        EXPECT_EQ(events.back().value, 7);
    }
}

// Sleep that cannot be held off is said once, and the update goes on; a hold that fails
// refuses it.
TEST_F(CliRun, UpdateWithoutASleepInhibitorSaysSoOnceAndGoesOn) {
    Load("ready");
    platform.sessionHold = CliPlatform::SessionHold::Unavailable;

    EXPECT_EQ(Run({"update", "--yes"}), 0);

    EXPECT_EQ(terminal.err, Txt(TXT_SLEEP_NOT_HELD) + "\n");
    EXPECT_LT(Find(Prints(CliEvent::Err, Txt(TXT_SLEEP_NOT_HELD))), Find(Writes(CMD_SYSTEM_LOCK)));
    EXPECT_EQ(sim.FirstUnit()->blocksWritten, ImageBlocks());
}

TEST_F(CliRun, UpdateRefusedWhenTheSessionCannotBeHeld) {
    Load("ready");
    platform.sessionHold = CliPlatform::SessionHold::Failed;

    EXPECT_EQ(Run({"update", "--yes"}), 7);

    EXPECT_TRUE(Contains(terminal.err, Msg(IDS_PREPARE_FAILED)));
    EXPECT_EQ(Find(Writes(CMD_SYSTEM_LOCK)), NONE);
}

// The ESC behind the unit changed between the check and the press: nothing is asked or
// written, the change is said, the ESC there now is shown, and the status says what it is.
TEST_F(CliRun, UpdateOfAnEscSwappedAfterTheCheckWritesNothing) {
    Load("esc-swapped");

    EXPECT_EQ(Run({"update", "--yes"}), 5);

    EXPECT_TRUE(Contains(terminal.out, Msg(IDS_ESC_CHANGED_CAPTION) + "\n" + Msg(IDS_ESC_CHANGED)));
    EXPECT_TRUE(Contains(terminal.out, Msg(IDS_INCOMPATIBLE_CAPTION)));
    const std::string ending = WithHint(IDS_INCOMPATIBLE_STATUS, LOST_VERSIONS);
    ASSERT_GE(terminal.out.size(), ending.size());
    EXPECT_EQ(terminal.out.substr(terminal.out.size() - ending.size()), ending);
    EXPECT_FALSE(Contains(terminal.out, Msg(IDS_CONFIRM_TEXT))) << "nothing is asked";
    EXPECT_EQ(Find(Writes(CMD_SYSTEM_LOCK)), NONE);
    EXPECT_EQ(Count(CliEvent::PrepareSequence), 0u);
}

// In use by another program: said, exit 6, nothing opened.
TEST_F(CliRun, UpdateOfAUnitInUseEndsWithSix) {
    Load("in-use");

    EXPECT_EQ(Run({"update", "--yes"}), 6);

    EXPECT_EQ(terminal.out, NoUnitFor(6, NO_UNIT_VERSIONS));
    EXPECT_EQ(terminal.err, "");
    EXPECT_EQ(Find(Is(CliEvent::Write)), NONE);
}

}  // namespace
