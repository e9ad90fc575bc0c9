// The window operations the update procedure needs; the main dialog provides them.
#pragma once

#include <cstdint>
#include <string>

// Where an update stands, told to the view as it moves on, so that the window can decide
// what its own handlers may do meanwhile.
enum class UpdatePhase {
    Asking,     // a question is open; nothing has been sent
    Running,    // the command sequence is talking to the unit
    Reporting,  // the sequence is over (or never began) and the outcome is being shown
    Ended,      // the update has returned control to the window
};

class UpdateView {
public:
    virtual ~UpdateView() = default;

    // Called at every change of phase; Ended comes last, once, on every path.
    virtual void EnterPhase(UpdatePhase phase) = 0;

    // The catalogue text of a message id in the user's language, within TEXT_CAPACITY.
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
