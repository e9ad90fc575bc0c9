#include "cli/cli.h"

#include <memory>

#include "app/dialog_phase.h"
#include "app/main_dialog.h"
#include "app/status_flow.h"
#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "res/language.h"
#include "cli/output_queue.h"
#include "cli/status_json.h"
#include "cli/terminal_view.h"
#include "cli/terminal_text.h"
#include "cli/unit_log.h"
#include "link/clock.h"
#include "link/device_session.h"
#include "link/hid_host.h"
#include "link/link.h"
#include "res/resource.h"
#include "res/terminal_texts.h"
#include "res/text_format.h"
#include "update/firmware_update.h"

namespace {

// How often watch looks again at a unit another program holds.
constexpr std::int32_t IN_USE_RETRY_MS = 1000;
constexpr std::int32_t NO_WAIT_LIMIT = -1;

std::wstring FirmwareVersionText() {
    return FormatText(L"%u.%u", {std::uint32_t{IMAGE_VERSION >> 8}, std::uint32_t{IMAGE_VERSION & 0xFF}}, 32);
}

// The dialog's start-up check; its status decides the exit status.
std::int32_t Check(TerminalView& view) {
    ResetDialogPhase();
    InitMainDialog(view);
    if (IsDevelopmentBuild()) {
        // Where the dialog's title would say it.
        view.Print(OutputStream::Error, view.Title());
    }
    return ExitStatusForCheck(LastConnectionStatus(), UnitDeniedAtLastOpen(), UnitBusyAtLastOpen());
}


// The status and the version lines; for a unit that may not be opened or is in use, the
// status says what to do.
void PrintCheck(TerminalView& view) {
    view.PrintStatusIfChanged();
}

std::int32_t Status(TerminalView& view, bool json) {
    view.KeepMessages(json);
    const std::int32_t exitStatus = Check(view);
    if (json) {
        StatusReport report;
        report.status = LastConnectionStatus();
        report.exitStatus = exitStatus;
        report.text = view.LoadText(report.status);
        if (LastConnectionHint() != 0) {
            report.hint = view.LoadText(LastConnectionHint());
        }
        report.message = view.KeptMessage();
        report.permissionDenied = exitStatus == EXIT_NO_PERMISSION;
        report.unitInUse = UnitInUseAtLastCheck();
        report.unitOpen = deviceSession.handle != NO_DEVICE_HANDLE;
        report.productId = deviceSession.productId;
        report.unitName = view.UnitLabel();
        report.unitVersion = view.Versions().unit;
        report.bootloaderVersion = view.Versions().bootloader;
        report.escVersion = view.Versions().esc;
        view.Print(OutputStream::Out, StatusJson(report));
    } else {
        PrintCheck(view);
    }
    CloseMainDialog(view);
    return exitStatus;
}

std::int32_t Update(TerminalView& view, bool yes) {
    const std::int32_t checked = Check(view);
    PrintCheck(view);
    if (checked != EXIT_READY) {
        CloseMainDialog(view);
        return checked;
    }

    const FirmwareImage image = firmwareImageLoader(IMAGE_RESOURCE_ID);
    view.SetTotalBlocks((image.size + BLOCK_SIZE - 1) / BLOCK_SIZE);
    view.AnswerYes(yes);
    MainDialog dialog(view);
    std::int32_t exitStatus = EXIT_READY;
    const UpdateOutcome outcome = RunFirmwareUpdate(dialog).outcome;
    switch (outcome) {
    case UpdateOutcome::Succeeded:
        exitStatus = EXIT_READY;
        break;
    case UpdateOutcome::Failed:
    case UpdateOutcome::Refused:
        exitStatus = EXIT_UPDATE_FAILED;
        break;
    case UpdateOutcome::Declined:
        view.Print(OutputStream::Error, view.WideText(TXT_CANCELLED));
        exitStatus = EXIT_CANCELLED;
        break;
    case UpdateOutcome::EscChanged:
        // Nothing was written: the ESC there now, as status would tell it, and never
        // "ready", which a script would take for "updated".
        exitStatus = ExitStatusForCheck(LastConnectionStatus(), false, false);
        if (exitStatus == EXIT_READY) {
            exitStatus = EXIT_CANCELLED;
        }
        break;
    }
    if (outcome != UpdateOutcome::Declined) {
        view.PrintStatusIfChanged("\n");
    }
    CloseMainDialog(view);
    return exitStatus;
}

std::int32_t Watch(TerminalView& view, CliPlatform& platform) {
    if (!platform.StartWatching()) {
        view.Print(OutputStream::Error, view.WideText(TXT_WATCH_FAILED));
        return EXIT_FAILURE_OTHER;
    }
    view.Print(OutputStream::Out, view.WideText(TXT_WATCHING) + L"\n");
    Check(view);
    PrintCheck(view);

    // A unit another program holds is free again without any event: while one is in use,
    // the search is made again now and then, as an arrival would make it.
    DeviceChange change;
    for (;;) {
        // An interrupt ends watching; the wait itself ends only when no change can come.
        const CliPlatform::Wait waited =
            platform.WaitForDeviceChange(change, UnitInUseAtLastCheck() ? IN_USE_RETRY_MS : NO_WAIT_LIMIT);
        if (waited == CliPlatform::Wait::Failed) {
            view.Print(OutputStream::Error, view.WideText(TXT_WATCH_FAILED));
            CloseMainDialog(view);
            return EXIT_FAILURE_OTHER;
        }
        if (waited == CliPlatform::Wait::TimedOut) {
            LookAgainAtUnitInUse(view);
        } else {
            DeliverDeviceChange(view, change);
        }
        // A change the dialog would show nothing new for prints nothing.
        view.PrintStatusIfChanged("\n");
    }
}

}  // namespace

std::int32_t ExitStatusForCheck(std::uint16_t status, bool unitDenied, bool unitBusy) {
    switch (status) {
    case IDS_READY:
        return EXIT_READY;
    case IDS_WRONG_MODE:
        return EXIT_WRONG_MODE;
    case IDS_NO_ESC:
        return EXIT_NO_ESC;
    case IDS_INCOMPATIBLE_STATUS:
        return EXIT_INCOMPATIBLE;
    default:
        return unitDenied ? EXIT_NO_PERMISSION : unitBusy ? EXIT_CANCELLED : EXIT_NO_UNIT;
    }
}

std::string VersionLine() {
    std::string line = "orvanta-cli 3.3.0: firmware " + TerminalUtf8(FirmwareVersionText()) +
                       " for the QUORVEX " + TerminalUtf8(MODEL_NAME) + " ESC";
    if (IsDevelopmentBuild()) {
        line += ' ';
        line += TerminalUtf8(DEVELOPMENT_TITLE_MARKER);
    }
    return line;
}

std::int32_t RunCli(const std::vector<std::string>& args, CliPlatform& platform) {
    Terminal& terminal = platform.Console();
    const CommandLineResult parsed = ParseCommandLine(args);
    const CliOptions& options = parsed.options;
    const CatalogueLanguage language =
        options.language ? (*options.language == "de" ? CatalogueLanguage::German : CatalogueLanguage::English)
                         : platform.EnvironmentLanguage();
    TerminalView view(terminal, language);

    if (!parsed.ok) {
        if (!parsed.badArgument.empty()) {
            view.Print(OutputStream::Error,
                      FormatText(view.WideText(TXT_UNKNOWN_ARGUMENT), {WideFromUtf8(parsed.badArgument)}, TEXT_CAPACITY));
        }
        view.Print(OutputStream::Error, view.WideText(TXT_SHORT_USAGE));
        return EXIT_USAGE;
    }
    if (options.command == CliCommand::Help) {
        view.Print(OutputStream::Out, FormatText(view.WideText(TXT_USAGE), {FirmwareVersionText()}, TEXT_CAPACITY));
        return EXIT_READY;
    }
    if (options.command == CliCommand::Version) {
        terminal.Write(OutputStream::Out, VersionLine() + "\n");
        return EXIT_READY;
    }
    // A question nobody can answer must not hold the program up, nor be taken as yes.
    if (options.command == CliCommand::Update && !options.yes && !terminal.InputIsTerminal()) {
        view.Print(OutputStream::Error, view.WideText(TXT_NEEDS_TERMINAL));
        return EXIT_CANCELLED;
    }

    // Until the command sequence begins an interrupt cancels; watching ends with it.
    if (options.command == CliCommand::Watch) {
        terminal.EndOnInterrupt("", EXIT_READY);
    } else if (options.command == CliCommand::Update) {
        terminal.EndOnInterrupt("\n" + view.Text(TXT_CANCELLED) + "\n", EXIT_CANCELLED);
    } else {
        terminal.EndOnInterrupt("", EXIT_CANCELLED);
    }

    if (!platform.HoldInstance()) {
        view.Print(OutputStream::Error, view.WideText(TXT_ANOTHER_COPY));
        return EXIT_CANCELLED;
    }

    std::unique_ptr<OutputQueue> logQueue;
    std::unique_ptr<LoggingHidHost> logging;
    HidHost* const platformHost = hidHost;
    if (options.logFile) {
        std::FILE* file = platform.OpenLog(*options.logFile);
        if (file == nullptr) {
            view.Print(OutputStream::Error,
                      FormatText(view.WideText(TXT_LOG_FAILED), {WideFromUtf8(*options.logFile)}, TEXT_CAPACITY));
            return EXIT_FAILURE_OTHER;
        }
        // The file stays open to the program's end: an interrupt may end it at any moment,
        // and every line is flushed as it is written.
        logQueue = std::make_unique<OutputQueue>(
            [file](OutputStream, const std::string& line) {
                std::fputs(line.c_str(), file);
                std::fflush(file);
            },
            [&platform](void (*run)(void*), void* argument) { return platform.StartThread(run, argument); });
        static CliPlatform* restoring = nullptr;
        restoring = &platform;
        logging = std::make_unique<LoggingHidHost>(*platformHost, *logQueue, *systemClock,
                                                   [](std::uint32_t error) { restoring->RestoreLastError(error); });
        hidHost = logging.get();
    }

    // Before the sequence's first command: the writers, so that neither the terminal nor
    // the log can hold the sequence up, and whatever holds off sleep and shutdown. A
    // writer that cannot be had refuses the update; a system with no way to hold off
    // sleep is told about once, and the update goes on.
    view.OnSequence(
        [&] {
            if (!terminal.PrepareSequence() || (logQueue && !logQueue->Start())) {
                return false;
            }
            switch (platform.HoldOffSessionEnd(view.LoadText(IDS_PROGRESS_CAPTION))) {
            case CliPlatform::SessionHold::Held:
                return true;
            case CliPlatform::SessionHold::Unavailable:
                view.Print(OutputStream::Error, view.WideText(TXT_SLEEP_NOT_HELD));
                return true;
            case CliPlatform::SessionHold::Failed:
                break;
            }
            return false;
        },
        [&platform] { platform.AllowSessionEnd(); });

    std::int32_t exitStatus = EXIT_READY;
    switch (options.command) {
    case CliCommand::Status:
        exitStatus = Status(view, options.json);
        break;
    case CliCommand::Update:
        exitStatus = Update(view, options.yes);
        break;
    case CliCommand::Watch:
        exitStatus = Watch(view, platform);
        break;
    default:
        break;
    }
    hidHost = platformHost;
    logging.reset();
    logQueue.reset();  // waits for the log's last line
    if (options.command == CliCommand::Update) {
        // Once the sequence may have begun, its outcome's status stands: an interrupt
        // may end the program only once everything it told is out, with that status.
        terminal.EndOnInterrupt("", exitStatus);
    }
    return exitStatus;
}
