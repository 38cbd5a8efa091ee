// Program entry: fault capture, the application object, the main window and
// the message loop.
#include <QApplication>
#include <QMessageBox>
#include <QStringList>

#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "appicons.h"
#include "faultcapture.h"
#include "tilesource.h"
#include "unitmain.h"
#include "usage.h"
#include "vectorcodec.h"

namespace {

const char* const kTitle = "Corvalis";
// Exit code of a run that a fault ended without a box to show it in (as after
// the terminate handler).
constexpr int kFaultExitCode = 3;

bool gHeadlessMode = false;  // a diagnostic mode was asked for

bool IsHeadlessMode(int argc, char** argv) {
    if (argc < 2) return false;
    for (const char* mode : {"--info", "--selftest", "--check"})
        if (std::strcmp(argv[1], mode) == 0) return true;
    return false;
}

// Nobody could answer a message box: a diagnostic mode runs from a script, and
// the offscreen and minimal platforms have no screen. A box there waits forever.
bool NobodyToAsk() {
    if (gHeadlessMode) return true;
    const QString platform = QGuiApplication::platformName();
    return platform == "offscreen" || platform.startsWith("minimal");
}

// Writes "prefix: what" to the crash log without allocating (the fault may be
// an allocation failure).
void WriteFaultLine(const char* prefix, const char* what) {
    char line[512];
    std::snprintf(line, sizeof line, "%s%s", prefix, what != nullptr ? what : "");
    corvalis::WriteCrashLine(line);
}

[[noreturn]] void EndWithoutBox() {
    std::fflush(stdout);
    ::_exit(kFaultExitCode);
}

// Exceptions escaping an event handler are shown and the loop carries on;
// where no box can be answered they end the program with a crash-log line.
class CorvalisApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            if (NobodyToAsk()) {
                WriteFaultLine("exception in event handler: ", e.what());
                EndWithoutBox();
            }
            QMessageBox::critical(nullptr, applicationName(), QString::fromUtf8(e.what()));
        } catch (...) {
            if (NobodyToAsk()) {
                WriteFaultLine("unknown exception in event handler", "");
                EndWithoutBox();
            }
            QMessageBox::critical(nullptr, applicationName(), QString());
        }
        return false;
    }
};

// The diagnostic modes never show the window: run them without a display
// when none is available, so that they work from a terminal or a script.
void PreferOffscreenForDiagnostics(int argc, char** argv) {
    if (argc < 3 || !IsHeadlessMode(argc, argv)) return;
    if (std::getenv("QT_QPA_PLATFORM")) return;
    const char* x = std::getenv("DISPLAY");
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    if ((x && *x) || (wl && *wl)) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// The command line as typed. QCoreApplication::arguments() has the toolkit's
// own options (-style, -platform, ...) taken out, and the window counts and
// reads the arguments the user gave.
QStringList TypedArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// The same, byte for byte: a file name need not be valid in the locale's encoding.
std::vector<std::string> RawArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

// --help and --version: the text on standard output, exit 0 (1 when it
// could not be written, e.g. to a full disk).
int PrintInformation(const std::string& text) {
    const bool written = std::fputs(text.c_str(), stdout) >= 0;
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}

void ShowException(const QString& message) {
    QMessageBox::critical(nullptr, QString::fromUtf8(kTitle), message);
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before anything starts: no toolkit, no display, no log.
    if (const auto text = corvalis::InformationalOutput(argc, argv)) return PrintInformation(*text);
    corvalis::InstallFaultHandlers();
    gHeadlessMode = IsHeadlessMode(argc, argv);
    // --info and the window both tell vector stores by their tiles' bytes.
    corvalis::SetVectorTileRecogniser(&corvalis::LooksLikeVectorTile);
    // A reader that stops early (--info | head -1) must not end the run
    // before its report is in the log: writes to it just fail.
    if (gHeadlessMode) std::signal(SIGPIPE, SIG_IGN);
    PreferOffscreenForDiagnostics(argc, argv);
    const QStringList arguments = TypedArguments(argc, argv);
    const std::vector<std::string> rawArguments = RawArguments(argc, argv);
    std::unique_ptr<CorvalisApplication> app;
    int exitStatus = 0;
    try {
        app = std::make_unique<CorvalisApplication>(argc, argv);
        corvalis::InstallFaultHandlers();
        // Numbers in logs and status texts always use a "." decimal point.
        std::setlocale(LC_NUMERIC, "C");
        QApplication::setApplicationName(QString::fromUtf8(kTitle));
        QApplication::setWindowIcon(corvalis::ApplicationIcon());
        // The desktop entry's name, for the window's icon on Wayland.
        QGuiApplication::setDesktopFileName(QStringLiteral(CORVALIS_APP_ID));

        TFormMain form(arguments, rawArguments);
        if (!form.TerminateRequested()) {
            form.SetAsyncRendering(true);
            form.show();
            QApplication::exec();
        } else {
            exitStatus = form.ExitStatus();  // --check tells what it found
        }
    } catch (const std::exception& e) {
        WriteFaultLine("exception in WinMain: ", e.what());
        if (!app || NobodyToAsk()) return kFaultExitCode;
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        corvalis::WriteCrashLine("unknown exception in WinMain");
        if (!app || NobodyToAsk()) return kFaultExitCode;
        ShowException(QString());
    }
    return exitStatus;
}
