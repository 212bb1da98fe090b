// FieldDesk: start-up, single instance and shutdown. The options are those of kUsage.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/application_dlg.h"
#include "app/child_dlg.h"
#include "app/menu_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "config/language.h"
#include "config/settings.h"
#include "controls/wait_dlg.h"
#include "engine/device_protocol.h"
#include "fielddesk_version.h"
#include "pages/devices/demo_devices.h"
#include "pages/devices/device_list_page.h"
#include "store/sql_management.h"
#include "system/single_instance.h"
#include "system/system_info.h"

namespace {

const char* const kUsage =
    "Usage: fielddesk [--search [--search-screenshot FILE]]\n"
    "       fielddesk --demo [--count N] [--search-screenshot FILE]\n"
    "       fielddesk --screenshot FILE [--page N] [--demo-devices N] [--wait-dialog]\n"
    "                 [--screen WxH]\n"
    "\n"
    "Finds the outdoor wireless CPE and access-point devices on the LAN segments this PC is\n"
    "wired to and configures them. One copy runs per user; a second start ends at once.\n"
    "\n"
    "Options:\n"
    "  --demo           the program inside a private network sandbox with simulated\n"
    "                   devices (fielddesk-devsim), on this display; closing the window\n"
    "                   ends the sandbox. Nothing is sent on this PC's own network\n"
    "  --count N        simulated devices of the demo, 1..2000 (default 40)\n"
    "  --search         search as soon as the window is open\n"
    "  --search-screenshot FILE\n"
    "                   search at once, save the window to FILE (PNG) when the search\n"
    "                   has ended, and exit; the window is drawn offscreen\n"
    "  --screenshot FILE\n"
    "                   save the main window to FILE (PNG) without starting the protocol\n"
    "                   engine, and exit\n"
    "  --page N         with --screenshot: the page, a menu position 1-8 or a page id\n"
    "  --demo-devices N with --screenshot: N invented devices in the lists, 0..10000\n"
    "  --wait-dialog    with --screenshot: the reboot wait dialog on top\n"
    "  --screen WxH     with --screenshot: the screen area the window is fitted to\n"
    "                   (default 1920x1080)\n"
    "  -h, --help       print this help and exit\n"
    "  --version        print the version and exit\n";

constexpr const char* kInstanceLockName = "Norvu_FieldDesk";

struct Options {
    bool help = false, version = false;
    bool demo = false;
    int count = 40;
    bool search = false;
    QString searchScreenshot;
    QString screenshot;
    int page = 0;
    int demoDevices = 0;
    bool waitDialog = false;
    QSize screen{1920, 1080};
    bool bad = false;
    std::string why;  // of a bad command line, when more can be said than the usage
};

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--version")) {
            o.version = true;
        } else if (a == QLatin1String("--demo")) {
            o.demo = true;
        } else if (a == QLatin1String("--count") && i + 1 < argc) {
            bool ok = false;
            o.count = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || o.count < 1 || o.count > 2000) o.bad = true;
        } else if (a == QLatin1String("--search")) {
            o.search = true;
        } else if (a == QLatin1String("--search-screenshot") && i + 1 < argc) {
            o.search = true;
            o.searchScreenshot = QString::fromLocal8Bit(argv[++i]);
        } else if (a == QLatin1String("--screenshot") && i + 1 < argc) {
            o.screenshot = QString::fromLocal8Bit(argv[++i]);
        } else if (a == QLatin1String("--page") && i + 1 < argc) {
            bool ok = false;
            o.page = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok) o.bad = true;
        } else if (a == QLatin1String("--demo-devices") && i + 1 < argc) {
            bool ok = false;
            o.demoDevices = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || o.demoDevices < 0 || o.demoDevices > 10000) o.bad = true;
        } else if (a == QLatin1String("--wait-dialog")) {
            o.waitDialog = true;
        } else if (a == QLatin1String("--screen") && i + 1 < argc) {
            const QStringList wh = QString::fromLocal8Bit(argv[++i]).split(QLatin1Char('x'));
            bool okW = false, okH = false;
            if (wh.size() == 2) o.screen = QSize(wh[0].toInt(&okW), wh[1].toInt(&okH));
            if (!okW || !okH || o.screen.width() < 100 || o.screen.height() < 100 ||
                o.screen.width() > 10000 || o.screen.height() > 10000) {
                o.bad = true;
            }
        } else {
            o.bad = true;
            o.why = "unknown option or missing value: " + std::string(argv[i]);
        }
    }
    // Asked for invented devices without a picture: the demo with that many simulated
    // devices is what is meant (a user wants to see the program with devices).
    if (o.demoDevices > 0 && o.screenshot.isEmpty() && !o.demo && !o.search) {
        o.demo = true;
        o.count = std::min(o.demoDevices, 2000);
        o.demoDevices = 0;
    }
    const bool screenshotOnly = o.demoDevices > 0 || o.waitDialog || o.page != 0 ||
                                std::any_of(argv + 1, argv + argc, [](const char* a) {
                                    return std::strcmp(a, "--screen") == 0;
                                });
    if (screenshotOnly && o.screenshot.isEmpty()) {
        o.bad = true;
        o.why = "--page, --demo-devices, --wait-dialog and --screen go with --screenshot";
    }
    // A picture of the window without the engine searches nothing; the demo is a start
    // of its own.
    if (!o.screenshot.isEmpty() && (o.search || o.demo)) {
        o.bad = true;
        o.why = "--screenshot runs no search: use --search-screenshot";
    }
    const bool countGiven = std::any_of(
        argv + 1, argv + argc, [](const char* a) { return std::strcmp(a, "--count") == 0; });
    if (countGiven && !o.demo) {
        o.bad = true;
        o.why = "--count goes with --demo";
    }
    return o;
}

// SIGTERM and SIGINT (logout, kill, Ctrl+C) end the program the normal way, so that the
// devices still get their probe and the scratch database is deleted. The handler is
// installed at the first instruction of main; it only notes the signal and writes a byte
// into a pipe. Start-up looks at the note between its steps, and once the event loop runs
// the pipe's byte (one written long before included) closes the main window.
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_terminateRequested = 0;

void OnTerminateSignal(int) {
    const int saved = errno;
    g_terminateRequested = 1;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
    errno = saved;
}

void CatchTerminateSignals() {
    // Without the pipe the note alone still ends start-up; only a signal during the event
    // loop would then go unseen, which the notifier below cannot watch for anyway.
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) g_signalPipe[0] = g_signalPipe[1] = -1;
    struct sigaction sa {};
    sa.sa_handler = OnTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

bool TerminateRequested() {
    return g_terminateRequested != 0;
}

// Hands the signals to the event loop: onSignal runs in the GUI thread.
void WatchTerminateSignals(QObject* parent, std::function<void()> onSignal) {
    if (g_signalPipe[0] < 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [onSignal] {
        char buf[16];
        while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        onSignal();
    });
}

// The look goes to the skin; the settings as a whole go to the services.
fd::AppSettings LoadLook(const std::string& baseDir) {
    fd::SetSkinBaseDir(QString::fromStdString(baseDir), fd::GetSystemLocaleId() == 2052);
    fd::AppSettings settings = fd::LoadSettings(baseDir);
    fd::ApplySettings(fd::Skin(), settings);
    return settings;
}

int TakeScreenshot(QApplication& app, const Options& o, const fd::AppSettings& settings) {
    // Invented devices live in a store of their own in a temporary folder, gone at exit.
    std::optional<fd::DemoStore> demo;
    if (o.demoDevices > 0 && !demo.emplace(o.demoDevices).Get()) {
        std::fprintf(stderr, "fielddesk: cannot fill the demonstration store\n");
        return 1;
    }
    // No engine: the screenshot sends nothing.
    fd::InstallServices({nullptr, demo ? demo->Get() : nullptr, {}, settings});
    CApplicationDlg dlg;
    dlg.PlaceOnScreen(QRect(QPoint(0, 0), o.screen));
    dlg.Host()->RefreshTimer().stop();
    if (o.page > 0) {
        int pageId = o.page;
        if (o.page <= CMenuDlg::kButtons) {
            pageId = CMenuDlg::Entries()[static_cast<size_t>(o.page - 1)].pageId;
        }
        // A page that is not built would show another page under its own highlighted name.
        if (!dlg.Host()->HasPage(pageId)) {
            std::fprintf(stderr, "fielddesk: there is no page %d\n", o.page);
            fd::InstallServices({});
            return 2;
        }
        dlg.Menu()->Navigate(pageId);
    }
    dlg.show();
    // Let the page host's first refresh and the first paints happen.
    QTimer::singleShot(300, &app, &QApplication::quit);
    app.exec();
    QPixmap shot = dlg.grab();
    if (o.waitDialog) {
        // The wait after a reboot (60 s, 3 searches), a few ticks in, over the middle of the
        // main window; without an engine it searches nothing.
        CWaitDlg wait(60, true, 3, nullptr, &dlg);
        wait.SetText(QString::fromLatin1(CWaitDlg::kRestartingKey));
        for (int i = 0; i < 30; ++i) wait.OnTick();
        const QPixmap overlay = wait.grab();
        QPainter p(&shot);
        p.drawPixmap((shot.width() - overlay.width()) / 2, (shot.height() - overlay.height()) / 2,
                     overlay);
    }
    fd::InstallServices({});
    if (!shot.save(o.screenshot, "PNG")) {
        std::fprintf(stderr, "fielddesk: cannot write %s\n",
                     o.screenshot.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

// The demo runs this program again inside a network sandbox of its own, beside the
// simulator: the script beside the program builds the sandbox (fielddesk-demo).
int StartDemo(const Options& o) {
    const std::string script = fd::GetExecutableDirectory() + "fielddesk-demo";
    std::vector<std::string> args = {script, "--gui", "--count", std::to_string(o.count)};
    if (!o.searchScreenshot.isEmpty())
        args.insert(args.end(), {"--screenshot", o.searchScreenshot.toStdString()});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(script.c_str(), argv.data());
    std::fprintf(stderr, "fielddesk: cannot start the demo (%s): %s\n", script.c_str(),
                 std::strerror(errno));
    return 1;
}

// With --search: the status page's Search is pressed once the window is up. With
// --search-screenshot the window is saved when that search has ended, and the program ends.
void SearchAtStart(CApplicationDlg& dlg, const Options& o) {
    QTimer::singleShot(0, &dlg, [&dlg, o] {
        // The page shown at start (the status list).
        CDeviceListPage* page = nullptr;
        for (auto* p : dlg.findChildren<CDeviceListPage*>())
            if (p->isVisible()) page = p;
        if (!page) {
            std::fprintf(stderr, "fielddesk: no device list to search with\n");
            return;
        }
        page->OnSearchButton();
        if (o.searchScreenshot.isEmpty()) return;
        auto* poll = new QTimer(&dlg);
        const QString file = o.searchScreenshot;
        QObject::connect(poll, &QTimer::timeout, &dlg, [&dlg, page, poll, file] {
            if (page->IsSearching()) return;
            poll->stop();
            const bool saved = dlg.grab().save(file, "PNG");
            if (!saved) std::fprintf(stderr, "fielddesk: cannot write %s\n", qPrintable(file));
            dlg.done(0);
            if (!saved) QCoreApplication::exit(1);
        });
        poll->start(250);
    });
}

}  // namespace

int main(int argc, char** argv) {
    CatchTerminateSignals();
    const Options options = ParseOptions(argc, argv);
    if (options.bad) {
        if (!options.why.empty()) std::fprintf(stderr, "fielddesk: %s\n", options.why.c_str());
        std::fprintf(stderr, "Try 'fielddesk --help'.\n");
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("fielddesk %s\n", FIELDDESK_VERSION);
        return 0;
    }
    if (options.demo) return StartDemo(options);
    // One copy per user. A second one ends at once, silently, before any window exists.
    // A picture of the window is no copy of the program: it runs no engine and no store of
    // the program's own, so it needs no lock and may run beside a running copy.
    fd::SingleInstanceLock instance;
    if (options.screenshot.isEmpty() &&
        instance.Acquire(kInstanceLockName) == fd::SingleInstanceLock::Result::AlreadyRunning) {
        return 0;
    }
    if ((!options.screenshot.isEmpty() || !options.searchScreenshot.isEmpty()) &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("fielddesk"));
    app.setQuitOnLastWindowClosed(false);  // hiding to the tray is not quitting
    fd::ApplyAppStyle(app);

    const std::string baseDir = fd::GetExecutableDirectory();
    fd::InitLanguage(baseDir);
    // Qt's own texts follow the program's language; the program speaks English on locales
    // it has no language file for, and so does Qt then.
    if (fd::GetSystemLocaleId() != fd::kLocaleEnglishUs) {
        fd::InstallQtTranslations(QLocale::system(), &app);
    }
    // Message boxes and window titles carry the product's name.
    app.setApplicationDisplayName(fd::Tr("CPEManagement"));
    const fd::AppSettings settings = LoadLook(baseDir);

    if (!options.screenshot.isEmpty()) return TakeScreenshot(app, options, settings);
    // Asked to end before anything needs ending: no engine, no store, no window.
    if (TerminateRequested()) return 0;

    CSqlManagement::SetMessageHandler([](const std::string& text) {
        // The store may speak from a protocol thread; message boxes belong to the GUI thread.
        QMetaObject::invokeMethod(
            qApp,
            [t = QString::fromStdString(text)] {
                QMessageBox::warning(nullptr, fd::Tr("CPEManagement"), t);
            },
            Qt::QueuedConnection);
    });
    // The program's one engine, wired here to the store (created afresh now) and to the
    // record of the commands it sends. A failed start leaves the program usable without a
    // protocol. Both outlive the engine: it probes every device as it stops.
    fd::CommandLog commands;
    fd::DeviceProtocolOptions engineOptions;
    engineOptions.store = CSqlManagement::GetInstance();
    engineOptions.commands = &commands;
    CDeviceProtocol engine(engineOptions);
    const fd::Retransmission retransmission = fd::RetransmissionOf(settings);
    engine.Start(retransmission.max, retransmission.intervalMs);
    fd::InstallServices({&engine, CSqlManagement::GetInstance(),
                         [&engine] {
                             // The page lists unplugged adapters too; the engine
                             // uses only the others.
                             std::vector<LocalAdapterInfo> usable, all;
                             engine.ReadLocalAdapters(usable, &all);
                             return all;
                         },
                         settings, &commands});

    int rc = 0;
    // A signal during the engine's start ends the program before the window is built; one
    // while the window is built is in the pipe and ends the event loop as it starts.
    if (!TerminateRequested()) {
        CApplicationDlg dlg;
        if (!options.searchScreenshot.isEmpty()) {
            // Drawn offscreen: the size it has on a full HD screen, as --screenshot does.
            dlg.PlaceOnScreen(QRect(QPoint(0, 0), options.screen));
        } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            dlg.PlaceOnScreen(screen->availableGeometry());
        }
        QObject::connect(&dlg, &QDialog::finished, &app, &QApplication::quit);
        WatchTerminateSignals(&dlg, [&dlg] { dlg.reject(); });
        dlg.show();
        if (options.search) SearchAtStart(dlg, options);
        rc = app.exec();
    }
    // Engine first: it probes every known device and stops its threads while the store
    // is still there. The store deletes its file when it goes at process end.
    engine.Stop();
    fd::InstallServices({});
    return rc;
}
