// The Qt window's side of the dialog's seam: what each operation shows, the boxes, the
// progress window, the hold on input during the sequence; and the waits that keep the
// window alive.
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <functional>
#include <QTimer>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include "app/dialog_phase.h"
#include "app/main_dialog.h"
#include "app/qt/qt_dialog.h"
#include "app/qt/qt_waits.h"
#include "link/device_session.h"

namespace {

QString Text(QtDialog& dialog, const char* name) {
    if (auto* label = dialog.findChild<QLabel*>(QLatin1String(name))) {
        return label->text();
    }
    if (auto* edit = dialog.findChild<QPlainTextEdit*>(QLatin1String(name))) {
        return edit->toPlainText();
    }
    return QStringLiteral("<no %1>").arg(QLatin1String(name));
}

bool Enabled(QtDialog& dialog, const char* name) {
    auto* widget = dialog.findChild<QWidget*>(QLatin1String(name));
    return widget != nullptr && widget->isEnabled();
}

QWidget* ProgressWindowShown() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("progress") && widget->isVisible()) {
            return widget;
        }
    }
    return nullptr;
}

// Runs act on the message box once one is shown (the dialog may run the event loop
// before it shows the box).
void WhenABoxShows(std::function<void(QMessageBox*)> act) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(box);
        }
    });
    poll->start();
}

struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

}  // namespace

class QtDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        ResetDialogPhase();
        deviceSession.Reset();
    }

    void VersionsWithoutAUnitAreGreyedAndTheUnitLabelStays() {
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        dialog.ShowLabels(L"Programming unit", L"ESC-bootloader", L"ESC");
        dialog.ShowVersions({true, L"TUNEPUCK", L"2.3", L"1.0.5", L"3.2"});
        QCOMPARE(Text(dialog, "unitLabel"), QStringLiteral("TUNEPUCK"));
        QCOMPARE(Text(dialog, "escVersion"), QStringLiteral("3.2"));
        QVERIFY(Enabled(dialog, "unitVersion") && Enabled(dialog, "escLabel"));

        dialog.ShowVersions({false, L"", L"0.0.0", L"0.0.0", L"0.0.0"});
        QCOMPARE(Text(dialog, "unitLabel"), QStringLiteral("TUNEPUCK"));
        QCOMPARE(Text(dialog, "bootloaderVersion"), QStringLiteral("0.0.0"));
        for (const char* name : {"unitLabel", "unitVersion", "bootloaderLabel", "bootloaderVersion", "escLabel",
                                 "escVersion"}) {
            QVERIFY2(!Enabled(dialog, name), name);
        }
    }

    void TheStatusShowsTextAndHintWithPlainLineBreaks() {
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        dialog.ShowStatus(L"No unit.\r\n\r\n", L"1.)\r\n<b>Plug</b> it in.");
        QCOMPARE(Text(dialog, "status"), QStringLiteral("No unit.\n\n1.)\n<b>Plug</b> it in."));
        dialog.ShowStatus(L"Ready.", L"");
        QCOMPARE(Text(dialog, "status"), QStringLiteral("Ready."));
    }

    void TheTemplateTextsInTheDialogsLanguage_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("update");
        QTest::newRow("en") << int(CatalogueLanguage::English) << "Close" << "Update";
        QTest::newRow("de") << int(CatalogueLanguage::German) << "Beenden" << "Update";
    }
    void TheTemplateTextsInTheDialogsLanguage() {
        QFETCH(int, language);
        QFETCH(QString, close);
        QFETCH(QString, update);
        QtDialog dialog(static_cast<CatalogueLanguage>(language), nullptr, nullptr);
        auto* closeButton = dialog.findChild<QPushButton*>(QStringLiteral("close"));
        auto* updateButton = dialog.findChild<QPushButton*>(QStringLiteral("update"));
        QVERIFY(closeButton && updateButton);
        QCOMPARE(closeButton->text(), close);
        QCOMPARE(updateButton->text(), update);
        QVERIFY2(closeButton->isDefault(), "Enter closes, as the template's default button does");
        QVERIFY2(!updateButton->isEnabled(), "Update waits for a ready unit");
    }

    void BoxesCarryTheirIconButtonsAndDefault_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<int>("pressed");
        QTest::addColumn<bool>("answer");
        const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
        const int yesNo = QMessageBox::Yes | QMessageBox::No;
        QTest::newRow("error") << int(BoxKind::Error) << int(QMessageBox::Critical) << int(QMessageBox::Ok)
                               << int(QMessageBox::Ok) << int(QMessageBox::Ok) << true;
        QTest::newRow("information") << int(BoxKind::Information) << int(QMessageBox::Information)
                                     << int(QMessageBox::Ok) << int(QMessageBox::Ok) << int(QMessageBox::Ok) << true;
        QTest::newRow("confirmation_ok") << int(BoxKind::Confirmation) << int(QMessageBox::Warning) << okCancel
                                         << int(QMessageBox::Ok) << int(QMessageBox::Ok) << true;
        QTest::newRow("confirmation_cancel") << int(BoxKind::Confirmation) << int(QMessageBox::Warning) << okCancel
                                             << int(QMessageBox::Ok) << int(QMessageBox::Cancel) << false;
        QTest::newRow("yes") << int(BoxKind::YesNo) << int(QMessageBox::Warning) << yesNo << int(QMessageBox::Yes)
                             << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(BoxKind::YesNo) << int(QMessageBox::Warning) << yesNo << int(QMessageBox::Yes)
                            << int(QMessageBox::No) << false;
    }
    void BoxesCarryTheirIconButtonsAndDefault() {
        QFETCH(int, kind);
        QFETCH(int, icon);
        QFETCH(int, buttons);
        QFETCH(int, defaultButton);
        QFETCH(int, pressed);
        QFETCH(bool, answer);
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        BoxSeen seen;
        WhenABoxShows([&](QMessageBox* box) {
            seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                    box->standardButton(box->defaultButton())};
            box->button(static_cast<QMessageBox::StandardButton>(pressed))->click();
        });
        const bool answered = dialog.Ask(static_cast<BoxKind>(kind), L"Caption", L"Line one\r\n<i>two</i>");
        QCOMPARE(answered, answer);
        QCOMPARE(seen.title, QStringLiteral("Caption"));
        QCOMPARE(seen.text, QStringLiteral("Line one\n<i>two</i>"));
        QCOMPARE(int(seen.icon), icon);
        QCOMPARE(int(seen.buttons), buttons);
        QCOMPARE(int(seen.defaultButton), defaultButton);
    }

    void TheProgressWindowIsCentredOnTheDialogAndFollowsTheBlocks() {
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        dialog.move(100, 80);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.OpenProgress(L"Updating");
        QWidget* window = ProgressWindowShown();
        QVERIFY(window != nullptr);
        QCOMPARE(window->windowTitle(), QStringLiteral("Updating"));
        const QPoint offset = window->frameGeometry().center() - dialog.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("centred on the main window: off by %1,%2").arg(offset.x()).arg(offset.y())));
        auto* bar = window->findChild<QProgressBar*>();
        QVERIFY(bar != nullptr);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        dialog.ShowProgress(42);
        QCOMPARE(bar->value(), 42);

        // Nothing the user does closes it.
        QCloseEvent close;
        QApplication::sendEvent(window, &close);
        QVERIFY(!close.isAccepted());
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(ProgressWindowShown() != nullptr);

        dialog.CloseProgress();
        QVERIFY(ProgressWindowShown() == nullptr);
    }

    void DuringTheSequenceNothingClosesTheDialogThenOrLater() {
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        MainDialog update(dialog);
        dialog.SetUpdateView(update);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.EnableUpdate(true);

        dialogPhase = DialogPhase::Running;
        dialog.HoldForSequence(L"Updating");
        QVERIFY2(!dialog.isEnabled(), "no input while the sequence runs");
        QCloseEvent close;
        QApplication::sendEvent(&dialog, &close);
        QVERIFY(!close.isAccepted());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.findChild<QPushButton*>(QStringLiteral("close"))->click();
        QVERIFY2(!dialog.Finished(), "close box, Escape and Close all dropped");

        dialog.TakeInputAgain();
        QVERIFY(dialog.isEnabled());
        QVERIFY2(Enabled(dialog, "update"), "Update as the dialog left it");
        dialogPhase = DialogPhase::Reporting;
        QApplication::sendEvent(&dialog, &close);
        QVERIFY(!dialog.Finished());

        dialogPhase = DialogPhase::Idle;
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY2(dialog.Finished(), "Escape closes an idle dialog");
        QCOMPARE(dialog.Result(), 2);
    }

    void TheSignalsThatEndAProgramAreRefusedDuringTheSequenceOnly() {
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        static volatile std::sig_atomic_t caught = 0;
        struct sigaction own {};
        own.sa_handler = [](int) { caught = caught + 1; };
        sigemptyset(&own.sa_mask);
        struct sigaction before[4];
        const int endings[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
        for (int i = 0; i < 4; ++i) {
            sigaction(endings[i], &own, &before[i]);
        }

        dialog.HoldForSequence(L"Updating");
        for (const int signal : endings) {
            raise(signal);  // the process lives on
        }
        QCOMPARE(int(caught), 0);
        dialog.ReleaseAfterSequence();
        raise(SIGTERM);
        QCOMPARE(int(caught), 1);  // the program's own handling is back

        for (int i = 0; i < 4; ++i) {
            sigaction(endings[i], &before[i], nullptr);
        }
    }

    void InputMadeBeforeAQuestionAnswersNothing() {
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        MainDialog update(dialog);
        dialog.SetUpdateView(update);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Enter pressed while the check before the question ran: queued, not yet seen.
        auto* focus = dialog.findChild<QPushButton*>(QStringLiteral("close"));
        QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier));
        bool boxSeen = false;
        WhenABoxShows([&](QMessageBox* box) {
            boxSeen = true;
            box->button(QMessageBox::Cancel)->click();
        });
        QVERIFY(!dialog.Ask(BoxKind::Confirmation, L"Caption", L"Sure?"));
        QVERIFY(boxSeen);
        QVERIFY2(!dialog.Finished(), "the Enter closed nothing");
    }

    void TheWindowClosesThroughTheCloseCommand() {
        QtDialog dialog(CatalogueLanguage::English, nullptr, nullptr);
        MainDialog update(dialog);
        dialog.SetUpdateView(update);
        dialog.show();
        QCloseEvent close;
        QApplication::sendEvent(&dialog, &close);
        QVERIFY(dialog.Finished());
        QCOMPARE(dialog.Result(), 2);
        QVERIFY(!dialog.isVisible());
    }

    void TheSequenceIsPreparedAndReleasedThroughTheProgram() {
        std::wstring reason;
        int released = 0;
        bool allow = false;
        QtDialog dialog(
            CatalogueLanguage::English,
            [&](const std::wstring& why) {
                reason = why;
                return allow;
            },
            [&] { ++released; });
        QVERIFY(!dialog.PrepareSequence(L"Updating"));
        QCOMPARE(reason, std::wstring(L"Updating"));
        allow = true;
        QVERIFY(dialog.PrepareSequence(L"Updating"));
        dialog.ReleaseAfterSequence();
        QCOMPARE(released, 1);
    }

    void TheClockRunsTheLoopAndNeverEndsEarly() {
        QtClock clock;
        bool ran = false;
        QTimer::singleShot(5, [&] { ran = true; });
        const std::int64_t start = PosixClock::MonotonicNanos();
        clock.Sleep(40);
        const std::int64_t slept = PosixClock::MonotonicNanos() - start;
        QVERIFY2(slept >= 40'000'000, "no wait shorter than asked");
        QVERIFY2(ran, "the event loop ran during the wait");
    }

    void AWaitForTheUnitRunsTheLoopAndSeesItReady() {
        int ends[2];
        QCOMPARE(pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
        bool ran = false;
        QTimer::singleShot(10, [&] {
            ran = true;
            QCOMPARE(write(ends[1], "x", 1), ssize_t{1});
        });
        pollfd entry{ends[0], POLLIN, 0};
        int ready = 0;
        for (int round = 0; round < 100 && ready == 0; ++round) {
            ready = PollServicingWindows(&entry, 1, 1000);
        }
        QCOMPARE(ready, 1);
        QVERIFY((entry.revents & POLLIN) != 0);
        QVERIFY(ran);

        char byte;
        QCOMPARE(read(ends[0], &byte, 1), ssize_t{1});
        entry = {ends[0], POLLIN, 0};
        QCOMPARE(PollServicingWindows(&entry, 1, 20), 0);
        close(ends[0]);
        close(ends[1]);
    }
};

QTEST_MAIN(QtDialogTest)
#include "qt_dialog_test.moc"
