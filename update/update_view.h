// The window operations the update procedure needs; the main dialog provides them.
#pragma once

#include <cstdint>
#include <string>

class UpdateView {
public:
    virtual ~UpdateView() = default;

    // The catalogue text of a message id in the user's language.
    virtual std::wstring LoadMessage(std::uint16_t id) = 0;
    // OK/Cancel question with a warning icon; true only for OK.
    virtual bool AskConfirmation(const std::wstring& caption, const std::wstring& text) = 0;
    // Yes/No question with a warning icon; true only for Yes.
    virtual bool AskYesNo(const std::wstring& caption, const std::wstring& text) = 0;
    // Error message with a single OK button.
    virtual void ShowErrorBox(const std::wstring& caption, const std::wstring& text) = 0;
    virtual void SetStatusText(const std::wstring& text) = 0;
    virtual void SetUpdateEnabled(bool enabled) = 0;
    virtual void UpdateVersionDisplay() = 0;
    virtual void OpenProgressWindow(const std::wstring& caption) = 0;
    virtual void SetProgress(std::uint32_t percent) = 0;
    virtual void CloseProgressWindow() = 0;
};
