// What the main dialog shows and asks, in its own words. The dialog's logic (status flow,
// version display, the update's view) decides every text, state and question; each front
// end carries the operations out as it draws: the Windows dialog as user32 calls
// (app/dialog_window.h), the terminal program as printed lines and prompts, the Linux
// window as Qt widgets.
#pragma once

#include <cstdint>
#include <string>

// The kinds of message box the dialog shows; each has its icon, buttons and default.
enum class BoxKind {
    Error,         // error icon, OK
    Information,   // information icon, OK
    Confirmation,  // warning icon, OK and Cancel, OK the default
    YesNo,         // warning icon, Yes and No, Yes the default
};

// The version group: the unit's label and the three version lines.
struct VersionLines {
    // No unit open: the three versions read as none, the whole group is greyed, and
    // the unit's label keeps what it showed last (unitLabel is empty then).
    bool unitOpen = false;
    std::wstring unitLabel;
    std::wstring unit;
    std::wstring bootloader;
    std::wstring esc;
};

class DialogView {
public:
    virtual ~DialogView() = default;

    // The catalogue text of a message id in the user's language, as the platform keeps it.
    virtual std::wstring LoadText(std::uint16_t id) = 0;
    // The window's title, with the program's icon.
    virtual void ShowTitle(const std::wstring& title) = 0;
    // The labels of the three version lines, in their order.
    virtual void ShowLabels(const std::wstring& unit, const std::wstring& bootloader,
                            const std::wstring& esc) = 0;
    virtual void ShowVersions(const VersionLines& lines) = 0;
    // The status box: text, and when hint is not empty the connection hint after it
    // (text then ends with the blank line that separates them).
    virtual void ShowStatus(const std::wstring& text, const std::wstring& hint) = 0;
    virtual void EnableUpdate(bool enabled) = 0;
    // A message box owned by the main window; true for OK or Yes.
    virtual bool Ask(BoxKind kind, const std::wstring& caption, const std::wstring& text) = 0;

    // Starts following HID arrivals and removals; false when that cannot be done.
    virtual bool WatchDeviceChanges() = 0;
    // Stops following them; nothing when not following.
    virtual void StopWatchingDeviceChanges() = 0;
    // Ends the dialog with this result (1: it could not start, 2: closed).
    virtual void Finish(std::int32_t result) = 0;

    // The progress window of the transfer, centred on the main window, its bar at 0.
    virtual void OpenProgress(const std::wstring& caption) = 0;
    // The bar at percent (0 to 100); after the first, each position follows one block.
    virtual void ShowProgress(std::uint32_t percent) = 0;
    virtual void CloseProgress() = 0;

    // The command sequence begins: the window takes no input, and the end of the
    // session (and sleep) is held off, with reason for anyone who asks why.
    virtual void HoldForSequence(const std::wstring& reason) = 0;
    // Input made while the window took none is thrown away, unanswered; then the window
    // takes input again.
    virtual void TakeInputAgain() = 0;
    // The command sequence is over: the end of the session is allowed again.
    virtual void ReleaseAfterSequence() = 0;
    // Sets up what the front end needs while the command sequence runs (a writer that
    // output cannot hold up, a sleep inhibitor giving reason), before its first command;
    // false when that cannot be had.
    virtual bool PrepareSequence(const std::wstring& reason) = 0;
};
