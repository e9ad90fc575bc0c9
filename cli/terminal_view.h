// The main dialog's window operations carried out on a terminal, so that the terminal
// program runs the dialog's own status flow and update (app/) unchanged: texts set on
// controls are kept and shown when the program decides, message boxes become printed
// messages and y/N prompts, the progress window becomes a progress line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/dialog_ops.h"
#include "cli/terminal.h"
#include "res/catalogue.h"

class TerminalOps : public DialogOps {
public:
    TerminalOps(Terminal& terminal, CatalogueLanguage language);

    // Questions are answered with yes without asking.
    void AnswerYes(bool yes) { answerYes_ = yes; }
    // Messages that would be shown in an information box are kept, not printed.
    void KeepMessages(bool keep) { keepMessages_ = keep; }
    // The number of blocks the transfer sends, for the progress line.
    void SetTotalBlocks(std::uint32_t blocks) { totalBlocks_ = blocks; }
    // What the command sequence needs besides the terminal: prepare runs before its first
    // command (false refuses the update), over once it has ended.
    void OnSequence(std::function<bool()> prepare, std::function<void()> over) {
        prepareSequence_ = std::move(prepare);
        sequenceOver_ = std::move(over);
    }

    // A terminal text (res/terminal_texts.h) in the program's language, as UTF-8.
    std::string Text(std::uint16_t terminalTextId) const;
    std::wstring WideText(std::uint16_t terminalTextId) const;
    void Print(OutputStream stream, const std::wstring& text);

    // The status box and the version group as the dialog would show them now.
    std::wstring StatusText() const;
    std::wstring ItemText(std::int32_t controlId) const;
    std::wstring VersionLines() const;
    // Prints the status and the version lines if they differ from what was printed last
    // (always the first time), after before; true when something was printed.
    bool PrintStatusIfChanged(const std::string& before = "");

    // The title the dialog would show (it names a development build).
    const std::wstring& Title() const { return title_; }
    // The text of the last information box kept (KeepMessages); empty if none.
    const std::wstring& KeptMessage() const { return keptMessage_; }

    std::wstring LoadResourceText(std::uint16_t id) override;
    void SetClassIcon(std::uint16_t) override {}
    void SetTitle(const std::wstring& text) override { title_ = text; }
    void SetItemText(std::int32_t controlId, const std::wstring& text) override;
    void SetControlText(std::int32_t controlId, const std::wstring& text) override;
    std::int32_t ControlTextLength(std::int32_t controlId) override;
    std::wstring ReadControlText(std::int32_t controlId, std::int32_t capacity) override;
    void EnableControl(std::int32_t controlId, bool enabled) override;
    WindowId ControlWindow(std::int32_t controlId) override;
    std::int32_t AskUser(const std::wstring& text, const std::wstring& caption, std::uint32_t flags) override;
    std::uintptr_t RegisterForDeviceChanges() override { return 1; }
    void UnregisterForDeviceChanges(std::uintptr_t) override {}
    void FinishDialog(std::intptr_t) override {}
    std::uint32_t BroadcastDeviceType(BroadcastId) override { return 0; }
    const wchar_t* BroadcastInterfaceName(BroadcastId) override { return nullptr; }
    WindowRect WindowRectangle(WindowId) override { return {0, 0, 0, 0}; }
    std::int32_t SystemMetric(std::int32_t) override { return 0; }
    WindowId ForegroundWindow() override { return 0; }
    WindowId CreateTopLevelWindow(const std::wstring& className, const std::wstring& caption, std::uint32_t style,
                                  std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                                  WindowId owner) override;
    void SetProgressPosition(WindowId bar, std::uint32_t position) override;
    void RaiseToTop(WindowId) override {}
    void ShowWindowAs(WindowId, std::int32_t) override {}
    void DestroyTopLevelWindow(WindowId window) override;
    void EnableMainWindow(bool) override {}
    void DiscardInput() override;
    void BlockSessionEnd(const std::wstring& reason) override;
    void AllowSessionEnd() override;
    bool PrepareSequence() override;

private:
    bool Ask();
    void DrawProgress(std::uint32_t percent);

    Terminal& terminal_;
    CatalogueLanguage language_;
    bool answerYes_ = false;
    bool keepMessages_ = false;
    std::wstring title_;
    std::map<std::int32_t, std::wstring> texts_;
    std::map<std::int32_t, bool> enabled_;
    bool printedOnce_ = false;
    std::wstring printed_;
    std::function<bool()> prepareSequence_;
    std::function<void()> sequenceOver_;
    std::wstring keptMessage_;

    std::uint32_t totalBlocks_ = 0;
    bool progressOpen_ = false;
    bool progressStarted_ = false;
    std::uint32_t blocksSent_ = 0;
    std::uint32_t lastPercent_ = 0;
    std::uint64_t progressStartMicros_ = 0;
    std::size_t progressWidth_ = 0;  // characters of the widest progress line drawn
};
