// The main dialog drawn with Qt Widgets: every operation of the dialog's view carried out
// on the widgets, in the layout of the Windows dialog (the version group with the logo
// beside it, the hint label and the status box, Update and Close).
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include <QDialog>

#include "app/dialog_view.h"
#include "res/catalogue.h"
#include "update/update_view.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The transfer's progress window: a caption and a bar from 0 to 100, nothing to press;
// it cannot be closed by the user.
class ProgressWindow : public QDialog {
public:
    ProgressWindow(QWidget* owner, const QString& caption);
    void SetPercent(int percent);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}

private:
    QProgressBar* bar_;
};

class QtDialog : public QDialog, public DialogView {
public:
    // prepare and release bracket the command sequence (a sleep inhibitor, say): prepare
    // gets the reason to give and says whether the sequence may begin.
    QtDialog(CatalogueLanguage language, std::function<bool(const std::wstring&)> prepare,
             std::function<void()> release);
    ~QtDialog() override;

    // The update the Update button runs.
    void SetUpdateView(UpdateView& update) { update_ = &update; }
    // What ends the program when the dialog has ended (the event loop's exit).
    void OnFinish(std::function<void(int)> finish) { finish_ = std::move(finish); }
    // Whether the dialog has ended (Finish), and with which result.
    bool Finished() const { return finished_; }
    int Result() const { return result_; }
    // The window a second start brings to the front: an open box or the progress window
    // where there is one, else this.
    QWidget* FrontWindow();

    std::wstring LoadText(std::uint16_t id) override;
    void ShowTitle(const std::wstring& title) override;
    void ShowLabels(const std::wstring& unit, const std::wstring& bootloader, const std::wstring& esc) override;
    void ShowVersions(const VersionLines& lines) override;
    void ShowStatus(const std::wstring& text, const std::wstring& hint) override;
    void EnableUpdate(bool enabled) override;
    bool Ask(BoxKind kind, const std::wstring& caption, const std::wstring& text) override;
    // Whether device changes can be followed: the program says before the start.
    void CanWatchDeviceChanges(bool can) { canWatch_ = can; }
    bool WatchDeviceChanges() override { return canWatch_; }
    void StopWatchingDeviceChanges() override {}
    void Finish(std::int32_t result) override;
    void OpenProgress(const std::wstring& caption) override;
    void ShowProgress(std::uint32_t percent) override;
    void CloseProgress() override;
    void HoldForSequence(const std::wstring& reason) override;
    void TakeInputAgain() override;
    void ReleaseAfterSequence() override;
    bool PrepareSequence(const std::wstring& reason) override;

protected:
    void showEvent(QShowEvent* event) override;
    // The close box and the window manager's close act as Close, while the dialog takes
    // commands; during an update never.
    void closeEvent(QCloseEvent* event) override;
    // Escape: the Close command.
    void reject() override;

    // Drops the user input events that reach any widget while input is held back.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Command(std::uint16_t commandId);
    // Input made so far (queued by the waits, or still with the window system) is thrown
    // away unanswered.
    void DiscardPendingInput();

    CatalogueLanguage language_;
    std::function<bool(const std::wstring&)> prepare_;
    std::function<void()> release_;
    std::function<void(int)> finish_;
    UpdateView* update_ = nullptr;
    QLabel* rowLabels_[3];
    QLabel* versions_[3];
    QLabel* logo_;
    QPlainTextEdit* status_;
    QPushButton* updateButton_;
    QPushButton* closeButton_;
    ProgressWindow* progress_ = nullptr;
    bool canWatch_ = true;
    bool discardingInput_ = false;
    // The actions of the signals that end a program (Ctrl-C, the terminal closing, kill),
    // kept while the command sequence refuses them.
    struct sigaction savedSignals_[4] {};
    bool signalsHeld_ = false;
    bool finished_ = false;
    int result_ = 0;
};
