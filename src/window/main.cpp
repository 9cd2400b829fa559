#include "convert_window.h"
#include "quillmere/version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kNoDisplay =
    "quillmere-tile-converter: cannot open its window, since there is no display to show it "
    "on; to convert maps without one, use quillmere-tiles.\n";

// Takes --help and --version before any display is needed; Qt's own options pass through.
void parseCommandLine(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Converts maps' tiles into .bmp form."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const char* name : {"platform", "display", "qwindowgeometry", "style", "stylesheet"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.process(application);
    if (!parser.positionalArguments().isEmpty()) {
        std::fputs("quillmere-tile-converter: takes no paths; type them into its window, or use "
                   "quillmere-tiles to convert from the command line.\n",
                   stderr);
        std::exit(2);
    }
}

// While Qt looks for a display, its complaints are held back; if it finds none, one plain
// sentence replaces its own fatal error.
QtMessageHandler previousHandler = nullptr;
QList<std::tuple<QtMsgType, QString>> heldBack;

void holdBackStartupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        const bool noDisplay =
            std::any_of(heldBack.cbegin(), heldBack.cend(), [](const auto& held) {
                return std::get<1>(held).contains(QStringLiteral("display"), Qt::CaseInsensitive);
            });
        if (noDisplay)
            std::fputs(kNoDisplay, stderr);
        else
            std::fprintf(stderr, "quillmere-tile-converter: cannot open its window: %s\n",
                         qPrintable(message));
        std::fflush(stderr);
        std::_Exit(1);
    }
    heldBack.append({type, message});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("quillmere-tile-converter"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(quillmere::kVersion));
    QCoreApplication::setOrganizationName(QStringLiteral("QuillMere"));
    parseCommandLine(argc, argv);

    previousHandler = qInstallMessageHandler(holdBackStartupMessages);
    QApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);
    for (const auto& [type, message] : heldBack)
        qt_message_output(type, QMessageLogContext(), message);
    heldBack.clear();

    QIcon icon;
    for (int size : {16, 32, 64, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    quillmere::Convert window;
    window.show();
    return QApplication::exec();
}
