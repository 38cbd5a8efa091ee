// Program entry: fault capture, the application object, the main window and
// the message loop.
#include <QApplication>
#include <QMessageBox>
#include <QStringList>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "appicons.h"
#include "faultcapture.h"
#include "unitmain.h"
#include "usage.h"

namespace {

const char* const kTitle = "Corvalis";

// Exceptions escaping an event handler are shown and the loop carries on.
class CorvalisApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, applicationName(), QString::fromUtf8(e.what()));
        } catch (...) {
            QMessageBox::critical(nullptr, applicationName(), QString());
        }
        return false;
    }
};

// The diagnostic modes never show the window: run them without a display
// when none is available, so that they work from a terminal or a script.
void PreferOffscreenForDiagnostics(int argc, char** argv) {
    if (argc < 3) return;
    if (std::strcmp(argv[1], "--info") != 0 && std::strcmp(argv[1], "--selftest") != 0) return;
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
    PreferOffscreenForDiagnostics(argc, argv);
    const QStringList arguments = TypedArguments(argc, argv);
    std::unique_ptr<CorvalisApplication> app;
    try {
        app = std::make_unique<CorvalisApplication>(argc, argv);
        corvalis::InstallFaultHandlers();
        // Numbers in logs and status texts always use a "." decimal point.
        std::setlocale(LC_NUMERIC, "C");
        QApplication::setApplicationName(QString::fromUtf8(kTitle));
        QApplication::setWindowIcon(corvalis::ApplicationIcon());
        // The desktop entry's name, for the window's icon on Wayland.
        QGuiApplication::setDesktopFileName(QStringLiteral(CORVALIS_APP_ID));

        TFormMain form(arguments);
        if (!form.TerminateRequested()) {
            form.show();
            QApplication::exec();
        }
    } catch (const std::exception& e) {
        corvalis::WriteCrashLine(std::string("exception in WinMain: ") + e.what());
        if (app) ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        corvalis::WriteCrashLine("unknown exception in WinMain");
        if (app) ShowException(QString());
    }
    return 0;
}
