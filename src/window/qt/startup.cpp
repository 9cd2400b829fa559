#include "startup.h"

#include "quillmere/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

namespace quillmere {
namespace {

struct QtOption {
    const char* name;
    const char* value; // empty for an option that takes none
    const char* description;
};

// The options QGuiApplication, QApplication and the X11 and Windows platforms read for
// themselves, each also in its -- form.
constexpr QtOption kQtOptions[] = {
    {"platform", "name[:options]",
     "Platform plugin to show the window with (xcb, wayland, "
     "offscreen, ...)."},
    {"platformpluginpath", "path", "Folder to load platform plugins from."},
    {"platformtheme", "theme", "Platform theme to use."},
    {"plugin", "plugin", "Further plugin to load, such as an input device."},
    {"qwindowgeometry", "geometry", "Size and place of the window, as WIDTHxHEIGHT+X+Y."},
    {"qwindowicon", "icon", "Icon of the window."},
    {"qwindowtitle", "title", "Title of the window."},
    {"reverse", "", "Lays the window out from right to left."},
    {"session", "session", "Session to restore."},
    {"style", "style", "Widget style, such as Fusion."},
    {"stylesheet", "file", "Style sheet to apply."},
    {"widgetcount", "", "Reports at the end how many widgets were left."},
    {"qmljsdebugger", "port", "Port of the QML debugger."},
    {"display", "host:screen", "X11 display to show the window on."},
    {"geometry", "geometry", "Size and place of the window on X11."},
    {"name", "name", "X11 resource name: the instance part of WM_CLASS."},
    {"dialogs", "xp|none", "Style of the dialogs on Windows."},
    {"fontengine", "freetype", "Font engine on Windows."},
};

[[noreturn]] void leave(const QString& text, int status) {
    std::fputs(qPrintable(text), status == 0 ? stdout : stderr);
    std::exit(status);
}

} // namespace

void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("quillmere-tile-converter"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QCoreApplication::setOrganizationName(QStringLiteral("QuillMere"));
    QGuiApplication::setDesktopFileName(
        QString::fromLatin1(kDesktopFileName.data(), qsizetype(kDesktopFileName.size())));
}

QString answerCommandLine(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Converts maps' tiles into .bmp form."));
    // "-platform" is one option, not -p -l -a ...: Qt's own options are spelled that way.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    // Listed under --help-all only, as Qt's own options are.
    const bool listQtOptions = arguments.contains(QStringLiteral("--help-all"));
    for (const QtOption& qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.name), QString::fromLatin1(qt.description),
                                  QString::fromLatin1(qt.value));
        if (!listQtOptions)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(
        QStringLiteral("MAP"),
        QStringLiteral("A map to open: its path fills the map box, and the same name with the "
                       "extension .BMP beside it the tile set box."),
        QStringLiteral("[MAP]"));

    if (!parser.parse(arguments))
        leave(QStringLiteral("quillmere-tile-converter: %1\nTry 'quillmere-tile-converter "
                             "--help' for more information.\n")
                  .arg(parser.errorText()),
              2);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        leave(parser.helpText(), 0);
    if (parser.isSet(version))
        leave(QStringLiteral("quillmere-tile-converter %1\n").arg(QString::fromLatin1(kVersion)),
              0);
    const QStringList paths = parser.positionalArguments();
    if (paths.size() > 1)
        leave(QStringLiteral("quillmere-tile-converter: too many paths: give one map, or none\n"
                             "Try 'quillmere-tile-converter --help' for more information.\n"),
              2);
    return paths.value(0);
}

} // namespace quillmere
