#include "cli/terminal_view.h"

#include <algorithm>

#include "cli/progress_line.h"
#include "cli/terminal_text.h"
#include "link/clock.h"
#include "res/resource.h"
#include "res/terminal_texts.h"

namespace {

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

TerminalView::TerminalView(Terminal& terminal, CatalogueLanguage language) : terminal_(terminal), language_(language) {}

std::wstring TerminalView::WideText(std::uint16_t terminalTextId) const {
    const wchar_t* text = TerminalText(terminalTextId, language_);
    return text != nullptr ? text : L"";
}

std::string TerminalView::Text(std::uint16_t terminalTextId) const {
    return TerminalUtf8(WideText(terminalTextId));
}

void TerminalView::Print(OutputStream stream, const std::wstring& text) {
    terminal_.Write(stream, TerminalUtf8(text) + "\n");
}

std::wstring TerminalView::VersionTable() const {
    const std::wstring* const rows[][2] = {
        {&labels_[0], &versions_.unit},
        {&labels_[1], &versions_.bootloader},
        {&labels_[2], &versions_.esc},
    };
    std::size_t width = 0;
    for (const auto& row : rows) {
        width = std::max(width, row[0]->size());
    }
    std::wstring lines;
    for (const auto& row : rows) {
        lines += *row[0] + std::wstring(width - row[0]->size() + 2, L' ') + *row[1] + L"\n";
    }
    return lines;
}

bool TerminalView::PrintStatusIfChanged(const std::string& before) {
    const std::wstring now = StatusText() + L"\n\n" + VersionTable();
    if (printedOnce_ && now == printed_) {
        return false;
    }
    printedOnce_ = true;
    printed_ = now;
    terminal_.Write(OutputStream::Out, before + TerminalUtf8(now));
    return true;
}

std::wstring TerminalView::LoadText(std::uint16_t id) {
    const wchar_t* text = AnyCatalogueText(id, language_);
    return text != nullptr ? text : L"";
}

void TerminalView::ShowLabels(const std::wstring& unit, const std::wstring& bootloader, const std::wstring& esc) {
    labels_[0] = unit;
    labels_[1] = bootloader;
    labels_[2] = esc;
}

void TerminalView::ShowVersions(const VersionLines& lines) {
    versions_ = lines;
    if (lines.unitOpen) {
        labels_[0] = lines.unitLabel;
    }
}

bool TerminalView::Ask() {
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

bool TerminalView::Ask(BoxKind kind, const std::wstring& caption, const std::wstring& text) {
    switch (kind) {
    case BoxKind::Confirmation:
    case BoxKind::YesNo:
        terminal_.Write(OutputStream::Out, "\n" + TerminalUtf8(caption) + "\n" + TerminalUtf8(text) + "\n");
        return Ask();
    case BoxKind::Error:
        terminal_.Write(OutputStream::Error, "\n" + TerminalUtf8(caption) + "\n" + TerminalUtf8(text) + "\n");
        return true;
    case BoxKind::Information:
        if (keepMessages_) {
            keptMessage_ = text;
        } else {
            terminal_.Write(OutputStream::Out, TerminalUtf8(caption) + "\n" + TerminalUtf8(text) + "\n\n");
        }
        return true;
    }
    return false;
}

void TerminalView::OpenProgress(const std::wstring& caption) {
    terminal_.Write(OutputStream::Out, "\n" + TerminalUtf8(caption) + "\n");
    progressOpen_ = true;
    progressStarted_ = false;
    blocksSent_ = 0;
    lastPercent_ = 0;
    progressStartMicros_ = systemClock != nullptr ? systemClock->NowMicros() : 0;
    progressWidth_ = 0;
    ShowProgress(0);
}

void TerminalView::DrawProgress(std::uint32_t percent) {
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

void TerminalView::ShowProgress(std::uint32_t percent) {
    if (!progressOpen_) {
        return;
    }
    // The bar is at 0 when it opens; every later position follows a block.
    if (progressStarted_) {
        ++blocksSent_;
    }
    DrawProgress(percent);
    progressStarted_ = true;
    lastPercent_ = percent;
}

void TerminalView::CloseProgress() {
    if (!progressOpen_) {
        return;
    }
    progressOpen_ = false;
    if (terminal_.OutputIsTerminal()) {
        terminal_.Write(OutputStream::Out, "\n");
    }
}

void TerminalView::HoldForSequence(const std::wstring&) {
    terminal_.RefuseInterrupt("\n" + Text(TXT_DO_NOT_INTERRUPT) + "\n");
}

void TerminalView::TakeInputAgain() {
    terminal_.DiscardInput();
}

void TerminalView::ReleaseAfterSequence() {
    if (sequenceOver_) {
        sequenceOver_();
    }
    // The sequence is over, but an interrupt stays refused, without a word, until the
    // program has said how it ended (RunCli): a script must learn whether the ESC was
    // written.
    terminal_.RefuseInterrupt("");
}

bool TerminalView::PrepareSequence(const std::wstring&) {
    return !prepareSequence_ || prepareSequence_();
}
