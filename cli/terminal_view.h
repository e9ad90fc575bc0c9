// The main dialog carried out on a terminal, so that the terminal program runs the
// dialog's own status flow and update (app/) unchanged: what the window would show is
// kept and printed when the program decides, message boxes become printed messages and
// y/N prompts, the progress window becomes a progress line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/dialog_view.h"
#include "cli/terminal.h"
#include "res/catalogue.h"

class TerminalView : public DialogView {
public:
    TerminalView(Terminal& terminal, CatalogueLanguage language);

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
    const std::wstring& StatusText() const { return status_; }
    const std::wstring& UnitLabel() const { return labels_[0]; }
    const VersionLines& Versions() const { return versions_; }
    std::wstring VersionTable() const;
    // Prints the status and the version lines if they differ from what was printed last
    // (always the first time), after before; true when something was printed.
    bool PrintStatusIfChanged(const std::string& before = "");

    // The title the dialog would show (it names a development build).
    const std::wstring& Title() const { return title_; }
    // The text of the last information box kept (KeepMessages); empty if none.
    const std::wstring& KeptMessage() const { return keptMessage_; }

    std::wstring LoadText(std::uint16_t id) override;
    void ShowTitle(const std::wstring& title) override { title_ = title; }
    void ShowLabels(const std::wstring& unit, const std::wstring& bootloader, const std::wstring& esc) override;
    void ShowVersions(const VersionLines& lines) override;
    void ShowStatus(const std::wstring& text, const std::wstring& hint) override { status_ = text + hint; }
    void EnableUpdate(bool) override {}
    bool Ask(BoxKind kind, const std::wstring& caption, const std::wstring& text) override;
    bool WatchDeviceChanges() override { return true; }
    void StopWatchingDeviceChanges() override {}
    void Finish(std::int32_t) override {}
    void OpenProgress(const std::wstring& caption) override;
    void ShowProgress(std::uint32_t percent) override;
    void CloseProgress() override;
    void HoldForSequence(const std::wstring& reason) override;
    void TakeInputAgain() override;
    void ReleaseAfterSequence() override;
    bool PrepareSequence(const std::wstring& reason) override;

private:
    bool Ask();
    void DrawProgress(std::uint32_t percent);

    Terminal& terminal_;
    CatalogueLanguage language_;
    bool answerYes_ = false;
    bool keepMessages_ = false;
    std::wstring title_;
    std::wstring labels_[3];  // the unit's (or the catalogue's), bootloader, ESC
    VersionLines versions_;
    std::wstring status_;
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
