#include "cli/terminal_ops.h"

#include <algorithm>

#include "cli/progress_line.h"
#include "cli/terminal_text.h"
#include "link/clock.h"
#include "res/resource.h"
#include "res/terminal_texts.h"

namespace {

constexpr WindowId PROGRESS_TOKEN = 2;
constexpr std::int32_t ANSWER_CANCEL = 2;  // IDCANCEL
constexpr std::int32_t ANSWER_NO = 7;      // IDNO

// The version group's lines in the dialog's order: label and value.
constexpr std::int32_t VERSION_ROWS[][2] = {
    {IDC_UNIT_LABEL, IDC_UNIT_VERSION},
    {IDC_BOOTLOADER_LABEL, IDC_BOOTLOADER_VERSION},
    {IDC_ESC_LABEL, IDC_ESC_VERSION},
};

// y, yes, j, ja in any case, blanks around them allowed.
bool IsYes(std::string answer) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!answer.empty() && blank(answer.back())) {
        answer.pop_back();
    }
    answer.erase(answer.begin(), std::find_if_not(answer.begin(), answer.end(), blank));
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return answer == "y" || answer == "yes" || answer == "j" || answer == "ja";
}

// Characters of UTF-8 text: every byte but the continuation bytes.
std::size_t CharacterCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

TerminalOps::TerminalOps(Terminal& terminal, CatalogueLanguage language) : terminal_(terminal), language_(language) {}

std::wstring TerminalOps::WideText(std::uint16_t terminalTextId) const {
    const wchar_t* text = TerminalText(terminalTextId, language_);
    return text != nullptr ? text : L"";
}

std::string TerminalOps::Text(std::uint16_t terminalTextId) const {
    return TerminalUtf8(WideText(terminalTextId));
}

void TerminalOps::Print(OutputStream stream, const std::wstring& text) {
    terminal_.Write(stream, TerminalUtf8(text) + "\n");
}

std::wstring TerminalOps::StatusText() const {
    return ItemText(IDC_STATUS);
}

std::wstring TerminalOps::ItemText(std::int32_t controlId) const {
    const auto found = texts_.find(controlId);
    return found != texts_.end() ? found->second : std::wstring();
}

std::wstring TerminalOps::VersionLines() const {
    std::size_t width = 0;
    for (const auto& row : VERSION_ROWS) {
        width = std::max(width, ItemText(row[0]).size());
    }
    std::wstring lines;
    for (const auto& row : VERSION_ROWS) {
        const std::wstring label = ItemText(row[0]);
        lines += label + std::wstring(width - label.size() + 2, L' ') + ItemText(row[1]) + L"\n";
    }
    return lines;
}

bool TerminalOps::PrintStatusIfChanged(const std::string& before) {
    const std::wstring now = StatusText() + L"\n\n" + VersionLines();
    if (printedOnce_ && now == printed_) {
        return false;
    }
    printedOnce_ = true;
    printed_ = now;
    terminal_.Write(OutputStream::Out, before + TerminalUtf8(now));
    return true;
}

std::wstring TerminalOps::LoadResourceText(std::uint16_t id) {
    const wchar_t* text = CatalogueText(id, language_);
    return text != nullptr ? text : L"";
}

void TerminalOps::SetItemText(std::int32_t controlId, const std::wstring& text) {
    texts_[controlId] = text;
}

void TerminalOps::SetControlText(std::int32_t controlId, const std::wstring& text) {
    texts_[controlId] = text;
}

std::int32_t TerminalOps::ControlTextLength(std::int32_t controlId) {
    return static_cast<std::int32_t>(ItemText(controlId).size());
}

std::wstring TerminalOps::ReadControlText(std::int32_t controlId, std::int32_t capacity) {
    std::wstring text = ItemText(controlId);
    text.resize(std::min<std::size_t>(text.size(), capacity > 0 ? static_cast<std::size_t>(capacity - 1) : 0));
    return text;
}

void TerminalOps::EnableControl(std::int32_t controlId, bool enabled) {
    enabled_[controlId] = enabled;
}

WindowId TerminalOps::ControlWindow(std::int32_t controlId) {
    return static_cast<WindowId>(0x1000 + controlId);
}

bool TerminalOps::Ask() {
    if (!answerYes_) {
        // Only what is typed after the question answers it: a "y" typed ahead for the
        // first question must not answer the second.
        terminal_.DiscardInput();
    }
    terminal_.Write(OutputStream::Out, Text(TXT_PROMPT));
    if (answerYes_) {
        terminal_.Write(OutputStream::Out, Text(TXT_ANSWERED_YES) + "\n");
        return true;
    }
    std::string answer;
    if (!terminal_.ReadLine(answer)) {
        terminal_.Write(OutputStream::Out, "\n");
        return false;
    }
    return IsYes(answer);
}

std::int32_t TerminalOps::AskUser(const std::wstring& text, const std::wstring& caption, std::uint32_t flags) {
    if (flags == BOX_OK_CANCEL_WARNING || flags == BOX_YES_NO_WARNING) {
        terminal_.Write(OutputStream::Out, "\n" + TerminalUtf8(caption) + "\n" + TerminalUtf8(text) + "\n");
        if (Ask()) {
            return flags == BOX_OK_CANCEL_WARNING ? ANSWER_OK : ANSWER_YES;
        }
        return flags == BOX_OK_CANCEL_WARNING ? ANSWER_CANCEL : ANSWER_NO;
    }
    if (flags == BOX_ICON_ERROR) {
        terminal_.Write(OutputStream::Error, "\n" + TerminalUtf8(caption) + "\n" + TerminalUtf8(text) + "\n");
        return ANSWER_OK;
    }
    if (keepMessages_) {
        keptMessage_ = text;
    } else {
        terminal_.Write(OutputStream::Out, TerminalUtf8(caption) + "\n" + TerminalUtf8(text) + "\n\n");
    }
    return ANSWER_OK;
}

WindowId TerminalOps::CreateTopLevelWindow(const std::wstring&, const std::wstring& caption, std::uint32_t,
                                           std::int32_t, std::int32_t, std::int32_t, std::int32_t, WindowId) {
    terminal_.Write(OutputStream::Out, "\n" + TerminalUtf8(caption) + "\n");
    progressOpen_ = true;
    progressStarted_ = false;
    blocksSent_ = 0;
    lastPercent_ = 0;
    progressStartMicros_ = systemClock != nullptr ? systemClock->NowMicros() : 0;
    progressWidth_ = 0;
    return PROGRESS_TOKEN;
}

void TerminalOps::DrawProgress(std::uint32_t percent) {
    const TransferProgress progress{
        percent, blocksSent_, std::max(totalBlocks_, blocksSent_),
        systemClock != nullptr ? systemClock->NowMicros() - progressStartMicros_ : 0};
    const std::string line = TerminalUtf8(ProgressText(WideText(TXT_PROGRESS), progress));
    if (terminal_.OutputIsTerminal()) {
        // Back to the line's start and the new line over the old one, blanks over what
        // is left of a longer one: no escape sequence, which not every console knows.
        // Blanks cover the widest line drawn so far: a line in between may have been
        // replaced before it was written.
        const std::size_t width = CharacterCount(line);
        terminal_.WriteProgress("\r" + line + std::string(progressWidth_ > width ? progressWidth_ - width : 0, ' '));
        progressWidth_ = std::max(progressWidth_, width);
    } else if (progressStarted_ && PassesTenth(lastPercent_, percent)) {
        // Elsewhere (a pipe, a file) one line per tenth; the caption has said it began.
        terminal_.Write(OutputStream::Out, line + "\n");
    }
}

void TerminalOps::SetProgressPosition(WindowId bar, std::uint32_t position) {
    if (bar != PROGRESS_TOKEN || !progressOpen_) {
        return;
    }
    // The window is set to 0 when it opens; every later position follows a block.
    if (progressStarted_) {
        ++blocksSent_;
    }
    DrawProgress(position);
    progressStarted_ = true;
    lastPercent_ = position;
}

void TerminalOps::DestroyTopLevelWindow(WindowId window) {
    if (window != PROGRESS_TOKEN || !progressOpen_) {
        return;
    }
    progressOpen_ = false;
    if (terminal_.OutputIsTerminal()) {
        terminal_.Write(OutputStream::Out, "\n");
    }
}

void TerminalOps::DiscardInput() {
    terminal_.DiscardInput();
}

void TerminalOps::BlockSessionEnd(const std::wstring&) {
    terminal_.RefuseInterrupt("\n" + Text(TXT_DO_NOT_INTERRUPT) + "\n");
}

void TerminalOps::AllowSessionEnd() {
    if (sequenceOver_) {
        sequenceOver_();
    }
    // The sequence is over, but an interrupt stays refused, without a word, until the
    // program has said how it ended (RunCli): a script must learn whether the ESC was
    // written.
    terminal_.RefuseInterrupt("");
}

bool TerminalOps::PrepareSequence() {
    return !prepareSequence_ || prepareSequence_();
}
