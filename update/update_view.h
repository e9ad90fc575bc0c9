// The window operations the update procedure needs; the main dialog provides them.
#pragma once

#include <cstdint>
#include <string>

// Where an update stands, told to the view as it moves on, so that the window can decide
// what its own handlers may do meanwhile.
enum class UpdatePhase {
    Checking,   // the unit is asked again what ESC is behind it; nothing written yet
    Asking,     // a question is open; nothing has been sent
    Running,    // the command sequence is talking to the unit
    Reporting,  // the sequence is over (or never began) and the outcome is being shown
    Ended,      // the update has returned control to the window
};

// How an update ended, for a front end that tells it in words of its own (an exit
// status); the window has shown it already.
enum class UpdateOutcome {
    Succeeded,   // the image was written
    Failed,      // the command sequence began and a step failed: after the erase the ESC
                 // may be empty
    Refused,     // refused before the sequence, nothing that changes the ESC sent (no
                 // unit, one that did not answer, a development build, an image that
                 // cannot be sent, what the sequence needs could not be had)
    Declined,    // a question was answered with anything but yes; nothing was sent
    EscChanged,  // the ESC behind the unit is not the one shown: nothing was written, and
                 // the window shows the one that is there now
};

// What happened, with the failure's text and code line as the failure report showed them.
struct UpdateResult {
    UpdateOutcome outcome = UpdateOutcome::Succeeded;
    std::uint16_t failureText = 0;  // Failed and Refused: the report's message id
    std::wstring codeLine;          // Failed and Refused: the code line; empty when none
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

    // The ESC behind the open unit is not the one the window shows: another was
    // connected to the unit, which makes no USB event. Its identity is in the session
    // now; the window says that it changed and shows it as an arrival of the unit would.
    virtual void ShowChangedEsc() = 0;
    // Sets up what the front end needs while the command sequence runs, before its first
    // command; false when something it cannot do without could not be had (the update is
    // then refused with nothing written).
    virtual bool PrepareSequence() = 0;
};
