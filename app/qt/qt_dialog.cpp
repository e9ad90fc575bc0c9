#include "app/qt/qt_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include <QEvent>

#include "app/dialog_phase.h"
#include "app/main_dialog.h"
#include "res/template_texts.h"

namespace {

// The logo's width beside the version group, in device-independent pixels; drawn from the
// large artwork at the screen's pixel ratio, so it stays sharp when scaled.
constexpr int LOGO_WIDTH = 200;
// The status box holds the longest status with its hint without much scrolling.
constexpr int STATUS_MIN_WIDTH = 440;
constexpr int STATUS_MIN_HEIGHT = 165;
constexpr int PROGRESS_WIDTH = 400;

// Ctrl-C, Ctrl-\, the terminal closing and a plain kill: a window started from a terminal
// must not die in the middle of the sequence, any more than the terminal program may.
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

QString Shown(const std::wstring& text) {
    QString shown = QString::fromStdWString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner, const QString& caption) : QDialog(owner), bar_(new QProgressBar) {
    setObjectName(QStringLiteral("progress"));
    setWindowTitle(caption);
    setAccessibleName(caption);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setAccessibleName(caption);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    setMinimumWidth(PROGRESS_WIDTH);
    adjustSize();
}

void ProgressWindow::SetPercent(int percent) {
    bar_->setValue(percent);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

QtDialog::QtDialog(CatalogueLanguage language, std::function<bool(const std::wstring&)> prepare,
                   std::function<void()> release)
    : language_(language), prepare_(std::move(prepare)), release_(std::move(release)) {
    setWindowTitle(QString::fromWCharArray(TemplateText(TemplateTextId::Caption, language)));
    setWindowIcon(QIcon(QStringLiteral(":/orvanta/icon.png")));

    auto* group = new QGroupBox(QString::fromWCharArray(TemplateText(TemplateTextId::VersionGroup, language)));
    auto* rows = new QGridLayout(group);
    static const char* const ROWS[] = {"unit", "bootloader", "esc"};
    for (int row = 0; row < 3; ++row) {
        rowLabels_[row] = new QLabel;
        versions_[row] = new QLabel;
        rowLabels_[row]->setObjectName(QStringLiteral("%1Label").arg(QLatin1String(ROWS[row])));
        versions_[row]->setObjectName(QStringLiteral("%1Version").arg(QLatin1String(ROWS[row])));
        versions_[row]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        versions_[row]->setTextFormat(Qt::PlainText);
        rowLabels_[row]->setTextFormat(Qt::PlainText);
        rows->addWidget(rowLabels_[row], row, 0);
        rows->addWidget(versions_[row], row, 1);
    }
    // The ESC's firmware line is the one the update changes: drawn red, as on Windows.
    for (QLabel* label : {rowLabels_[2], versions_[2]}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::Active, QPalette::WindowText, Qt::red);
        palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::red);
        label->setPalette(palette);
    }

    logo_ = new QLabel;
    logo_->setObjectName(QStringLiteral("logo"));
    logo_->setAccessibleName(QStringLiteral("QUORVEX"));
    logo_->setAlignment(Qt::AlignCenter);

    auto* top = new QHBoxLayout;
    top->addWidget(group);
    top->addWidget(logo_, 1);

    auto* hint = new QLabel(QString::fromWCharArray(TemplateText(TemplateTextId::HintLabel, language)));
    status_ = new QPlainTextEdit;
    status_->setObjectName(QStringLiteral("status"));
    status_->setReadOnly(true);
    status_->setMinimumSize(STATUS_MIN_WIDTH, STATUS_MIN_HEIGHT);
    status_->setAccessibleName(hint->text());
    status_->setFocusPolicy(Qt::NoFocus);  // not a tab stop, as on Windows
    hint->setBuddy(status_);

    updateButton_ = new QPushButton(QString::fromWCharArray(TemplateText(TemplateTextId::UpdateButton, language)));
    closeButton_ = new QPushButton(QString::fromWCharArray(TemplateText(TemplateTextId::CloseButton, language)));
    updateButton_->setObjectName(QStringLiteral("update"));
    closeButton_->setObjectName(QStringLiteral("close"));
    updateButton_->setEnabled(false);
    closeButton_->setDefault(true);
    connect(updateButton_, &QPushButton::clicked, this, [this] { Command(COMMAND_UPDATE); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { Command(COMMAND_CLOSE); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(updateButton_);
    buttons->addStretch(1);
    buttons->addWidget(closeButton_);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(hint);
    layout->addWidget(status_, 1);
    layout->addLayout(buttons);
    closeButton_->setFocus();
}

QtDialog::~QtDialog() = default;

void QtDialog::showEvent(QShowEvent* event) {
    // At the pixel ratio of the screen the window is shown on.
    const qreal ratio = devicePixelRatioF();
    QPixmap logo(QStringLiteral(":/orvanta/logo.png"));
    if (!logo.isNull()) {
        logo = logo.scaledToWidth(qRound(LOGO_WIDTH * ratio), Qt::SmoothTransformation);
        logo.setDevicePixelRatio(ratio);
        logo_->setPixmap(logo);
    }
    QDialog::showEvent(event);
}

QWidget* QtDialog::FrontWindow() {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    return progress_ != nullptr ? static_cast<QWidget*>(progress_) : this;
}

std::wstring QtDialog::LoadText(std::uint16_t id) {
    const wchar_t* text = AnyCatalogueText(id, language_);
    return text != nullptr ? text : L"";
}

void QtDialog::ShowTitle(const std::wstring& title) {
    setWindowTitle(QString::fromStdWString(title));
}

void QtDialog::ShowLabels(const std::wstring& unit, const std::wstring& bootloader, const std::wstring& esc) {
    rowLabels_[0]->setText(QString::fromStdWString(unit));
    rowLabels_[1]->setText(QString::fromStdWString(bootloader));
    rowLabels_[2]->setText(QString::fromStdWString(esc));
}

void QtDialog::ShowVersions(const VersionLines& lines) {
    versions_[0]->setText(QString::fromStdWString(lines.unit));
    versions_[1]->setText(QString::fromStdWString(lines.bootloader));
    versions_[2]->setText(QString::fromStdWString(lines.esc));
    if (lines.unitOpen) {
        rowLabels_[0]->setText(QString::fromStdWString(lines.unitLabel));
    }
    for (int row = 0; row < 3; ++row) {
        rowLabels_[row]->setEnabled(lines.unitOpen);
        versions_[row]->setEnabled(lines.unitOpen);
    }
}

void QtDialog::ShowStatus(const std::wstring& text, const std::wstring& hint) {
    status_->setPlainText(Shown(text + hint));
}

void QtDialog::EnableUpdate(bool enabled) {
    updateButton_->setEnabled(enabled);
}

bool QtDialog::Ask(BoxKind kind, const std::wstring& caption, const std::wstring& text) {
    QMessageBox box(this);
    box.setWindowTitle(QString::fromStdWString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(Shown(text));
    QMessageBox::StandardButton yes = QMessageBox::Ok;
    switch (kind) {
    case BoxKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxKind::Confirmation:
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case BoxKind::YesNo:
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        yes = QMessageBox::Yes;
        break;
    }
    box.setDefaultButton(yes);
    if (kind == BoxKind::Confirmation || kind == BoxKind::YesNo) {
        // Only what is done once the question is there answers it: an Enter pressed
        // during the check before it would take the default.
        DiscardPendingInput();
    }
    return box.exec() == yes;
}

void QtDialog::Finish(std::int32_t result) {
    finished_ = true;
    result_ = result;
    hide();
    if (finish_) {
        finish_(result);
    }
}

void QtDialog::OpenProgress(const std::wstring& caption) {
    delete progress_;
    // A window of its own kept above the main window, not its child: the main window
    // takes no input meanwhile, and a child would be greyed with it.
    progress_ = new ProgressWindow(nullptr, QString::fromStdWString(caption));
    progress_->winId();
    if (progress_->windowHandle() != nullptr && windowHandle() != nullptr) {
        progress_->windowHandle()->setTransientParent(windowHandle());
    }
    // Centred on the main window, at the size it will be shown with.
    progress_->ensurePolished();
    progress_->adjustSize();
    progress_->move(frameGeometry().center() - QPoint(progress_->width() / 2, progress_->height() / 2));
    progress_->show();
    progress_->raise();
}

void QtDialog::ShowProgress(std::uint32_t percent) {
    if (progress_ != nullptr) {
        progress_->SetPercent(static_cast<int>(percent));
    }
}

void QtDialog::CloseProgress() {
    delete progress_;
    progress_ = nullptr;
}

void QtDialog::HoldForSequence(const std::wstring&) {
    setEnabled(false);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
        sigaction(ENDING_SIGNALS[i], &ignore, &savedSignals_[i]);
    }
    signalsHeld_ = true;
}

void QtDialog::DiscardPendingInput() {
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    // The waits left the input made meanwhile queued; it is delivered now, and the filter
    // drops it before any widget sees it.
    discardingInput_ = true;
    qApp->installEventFilter(this);
    QCoreApplication::processEvents();
    qApp->removeEventFilter(this);
    discardingInput_ = false;
}

bool QtDialog::eventFilter(QObject* watched, QEvent* event) {
    if (discardingInput_ && IsUserInput(event->type())) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void QtDialog::TakeInputAgain() {
    DiscardPendingInput();
    setEnabled(true);
}

void QtDialog::ReleaseAfterSequence() {
    if (signalsHeld_) {
        for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
            sigaction(ENDING_SIGNALS[i], &savedSignals_[i], nullptr);
        }
        signalsHeld_ = false;
    }
    if (release_) {
        release_();
    }
}

bool QtDialog::PrepareSequence(const std::wstring& reason) {
    return !prepare_ || prepare_(reason);
}

void QtDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (!IgnoresCloseRequest(dialogPhase)) {
        Command(COMMAND_CLOSE);
    }
}

void QtDialog::reject() {
    Command(COMMAND_CLOSE);
}

void QtDialog::Command(std::uint16_t commandId) {
    if (update_ != nullptr) {
        OnCommand(*this, *update_, commandId);
    }
}
