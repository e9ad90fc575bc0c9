#include "app/qt/qt_program.h"

#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSessionManager>
#include <QTimer>
#include <QSocketNotifier>
#include <QTranslator>

#include "app/dialog_phase.h"
#include "app/main_dialog.h"
#include "app/qt/qt_dialog.h"
#include "app/status_flow.h"
#include "link/device_session.h"
#include "link/posix/instance_lock_posix.h"
#include "res/language.h"
#include "res/resource.h"
#include "res/terminal_texts.h"
#include "update/linux/sleep_inhibitor_linux.h"

namespace {

constexpr int RAISE_WAIT_MS = 2000;
constexpr int IN_USE_RETRY_MS = 1000;

// Asks the running copy to come to the front; true when it was asked.
bool RaiseRunningCopy(const QString& socketPath) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(RAISE_WAIT_MS)) {
        return false;
    }
    socket.write("raise\n");
    return socket.waitForBytesWritten(RAISE_WAIT_MS);
}

}  // namespace

int RunQtProgram(int argc, char** argv, const std::string& instanceName, DeviceEventSource& events) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromStdString(instanceName));
    QApplication::setDesktopFileName(QStringLiteral("orvanta-updater"));
    // The program ends when the dialog does, not when a box before it closes.
    QApplication::setQuitOnLastWindowClosed(false);

    const CatalogueLanguage language =
        LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
    // The boxes' own buttons (OK, Cancel, Yes, No) in the dialog's language.
    QTranslator qtTexts;
    if (language == CatalogueLanguage::German &&
        qtTexts.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }

    // One copy at a time, with the terminal program: a second start touches no device.
    const QString socketPath = QString::fromStdString(InstanceFilePath(instanceName, ".socket"));
    int lock = -1;
    if (HoldInstanceLock(instanceName, lock) == InstanceLock::HeldByAnother) {
        if (!RaiseRunningCopy(socketPath)) {
            // The terminal program holds it: it has no window to show.
            QtDialog notice(language, nullptr, nullptr);
            notice.Ask(BoxKind::Information, notice.LoadText(IDS_APP_ERROR_CAPTION),
                       TerminalText(TXT_ANOTHER_COPY, language));
        }
        return 0;
    }

    int inhibitor = -1;
    QtDialog dialog(
        language,
        [&inhibitor](const std::wstring& reason) {
            ReleaseSleepInhibitor(inhibitor);
            inhibitor = -1;
            // A system without logind has no way to hold sleep off; the update goes on.
            return TakeSleepInhibitor(SLEEP_INHIBITOR_WHO, QString::fromStdWString(reason).toStdString(),
                                      &inhibitor) != InhibitResult::Refused;
        },
        [&inhibitor] {
            ReleaseSleepInhibitor(inhibitor);
            inhibitor = -1;
        });
    MainDialog update(dialog);
    dialog.SetUpdateView(update);
    // Before the loop runs (the dialog could not start) there is nothing to end.
    dialog.OnFinish([](int result) { QCoreApplication::exit(result); });

    QLocalServer server;
    QLocalServer::removeServer(socketPath);
    server.listen(socketPath);
    QObject::connect(&server, &QLocalServer::newConnection, &dialog, [&server, &dialog] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QWidget* front = dialog.FrontWindow();
            if (front == &dialog && !dialog.isVisible()) {
                continue;  // still starting: it shows itself when its check is done
            }
            front->show();
            front->raise();
            front->activateWindow();
        }
    });

    // Arrivals and removals through the event loop; the dialog's phase decides whether
    // they are handled now or wait.
    const int descriptor = events.WaitDescriptor();
    dialog.CanWatchDeviceChanges(descriptor >= 0);
    std::unique_ptr<QSocketNotifier> notifier;
    if (descriptor >= 0) {
        notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &dialog, [&events, &dialog] {
            DeviceEvent event;
            while (events.ReadEvent(event)) {
                DeliverDeviceChange(dialog, ChangeOf(event));
            }
        });
    }
    // A unit another program holds is let go without any event: while the window says it
    // is in use, it searches again every second, as an arrival would.
    QTimer inUse;
    inUse.setInterval(IN_USE_RETRY_MS);
    QObject::connect(&inUse, &QTimer::timeout, &dialog, [&dialog] { LookAgainAtUnitInUse(dialog); });
    inUse.start();
    // The end of the session while the sequence runs is refused.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &dialog, [](QSessionManager& manager) {
        if (RefusesEndSession(dialogPhase) && manager.allowsInteraction()) {
            manager.cancel();
        }
    });

    deviceSession.Reset();
    ResetDialogPhase();
    // As on Windows, the start-up check (and a box it shows) comes before the window.
    InitMainDialog(dialog);
    int status = dialog.Result();
    if (!dialog.Finished()) {
        dialog.show();
        status = QApplication::exec();
    }
    ReleaseSleepInhibitor(inhibitor);
    deviceSession.Reset();
    // Closed: 0; it could not start: 1.
    return status == 2 ? 0 : status;
}
