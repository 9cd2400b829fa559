#include "startup.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QtTest>

namespace {

// The value of `key` in the desktop entry, or a null string.
QString entryValue(const QString& key) {
    QFile entry(QStringLiteral(QUILLMERE_DESKTOP_ENTRY));
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    }
    return {};
}

} // namespace

// Docks and task switchers find the window's icon through its desktop entry: by the app id on
// Wayland (the desktop file name) and by WM_CLASS on X11, whose class part is the application
// name.
class DesktopEntryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { quillmere::nameApplication(); }

    void desktopFileNameIsTheEntrys() {
        QCOMPARE(QGuiApplication::desktopFileName() + QStringLiteral(".desktop"),
                 QFileInfo(QStringLiteral(QUILLMERE_DESKTOP_ENTRY)).fileName());
    }

    void startupWMClassIsTheWindowsClass() {
        QCOMPARE(entryValue(QStringLiteral("StartupWMClass")), QCoreApplication::applicationName());
    }
};

QTEST_GUILESS_MAIN(DesktopEntryTest)
#include "desktop_entry_test.moc"
