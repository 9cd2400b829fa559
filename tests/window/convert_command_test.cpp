#include "convert_command.h"
#include "fake_message_boxes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using quillmere::FakeMessageBoxes;
using quillmere::MessageStyle;

Q_DECLARE_METATYPE(quillmere::MessageStyle)

namespace {

void writeBytes(const QString& path, qsizetype size) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray bytes(size, '\0');
    for (qsizetype at = 0; at < size; ++at)
        bytes[at] = static_cast<char>(at * 7 % 251);
    file.write(bytes);
}

} // namespace

class ConvertCommandTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        previous_ = QDir::currentPath();
        // Relative paths in the boxes resolve against the current folder, as a person expects.
        QVERIFY(QDir::setCurrent(folder_->path()));
        writeBytes("Map.LVL", 60000);
        writeBytes("Short.LVL", 1000);
    }
    void cleanup() {
        QDir::setCurrent(previous_);
        folder_.reset();
    }

    void reportsEachOutcome_data() {
        QTest::addColumn<QString>("map");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("promptStart");
        QTest::addColumn<MessageStyle>("style");
        QTest::addColumn<qint64>("outputSize");

        QTest::newRow("default texts")
            << "Map.LVL"
            << "Tiles.BMP"
            << "Map.LVL -> Tiles.BMP"
            << "Operation Complete." << MessageStyle::Information << qint64(49713);
        QTest::newRow("short map") << "Short.LVL"
                                   << "Tiles.BMP"
                                   << "Short.LVL -> Tiles.BMP"
                                   << "Operation Complete. The map file held only 1,000"
                                   << MessageStyle::Warning << qint64(49713);
        QTest::newRow("empty map path")
            << ""
            << "Tiles.BMP"
            << " -> Tiles.BMP"
            << "No map file was given" << MessageStyle::Critical << qint64(-1);
        QTest::newRow("output folder missing")
            << "Map.LVL"
            << "gone/Tiles.BMP"
            << "Map.LVL -> gone/Tiles.BMP"
            << "Could not write the tile set \"gone/Tiles.BMP\": No such file or directory."
            << MessageStyle::Critical << qint64(-1);
        QTest::newRow("surrounding blanks")
            << " Map.LVL"
            << "Tiles.BMP "
            << " Map.LVL -> Tiles.BMP "
            << "Could not read the map file \" Map.LVL\"" << MessageStyle::Critical << qint64(-1);
        QTest::newRow("control characters shown as escapes")
            << "Gone\n\033[2J.LVL"
            << "Tiles.BMP"
            << "Gone\\n\\033[2J.LVL -> Tiles.BMP"
            << "Could not read the map file \"Gone\\n\\033[2J.LVL\"" << MessageStyle::Critical
            << qint64(-1);
    }

    void reportsEachOutcome() {
        QFETCH(QString, map);
        QFETCH(QString, output);
        QFETCH(QString, title);
        QFETCH(QString, promptStart);
        QFETCH(MessageStyle, style);
        QFETCH(qint64, outputSize);

        FakeMessageBoxes messages;
        quillmere::convertCommand([&] { return map; }, [&] { return output; }, messages);

        QCOMPARE(messages.shown.size(), std::size_t(1));
        QCOMPARE(messages.shown[0].title, title);
        QVERIFY2(messages.shown[0].prompt.startsWith(promptStart),
                 qPrintable(messages.shown[0].prompt));
        QCOMPARE(messages.shown[0].style, style);
        QFileInfo written(output);
        QCOMPARE(written.exists() ? written.size() : qint64(-1), outputSize);
    }

    void titleUsesTheTextsReadAfterTheCopy() {
        FakeMessageBoxes messages;
        int mapReads = 0;
        quillmere::convertCommand(
            [&] { return ++mapReads == 1 ? QStringLiteral("Map.LVL") : QStringLiteral("Later"); },
            [] { return QStringLiteral("Tiles.BMP"); }, messages);
        QCOMPARE(mapReads, 2);
        QCOMPARE(messages.shown.at(0).title, QStringLiteral("Later -> Tiles.BMP"));
    }

    void twoPressesGiveTwoConversionsAndTwoMessages() {
        FakeMessageBoxes messages;
        for (int press = 0; press < 2; ++press)
            quillmere::convertCommand([] { return QStringLiteral("Map.LVL"); },
                                      [] { return QStringLiteral("Tiles.BMP"); }, messages);
        QCOMPARE(messages.shown.size(), std::size_t(2));
        QCOMPARE(messages.shown[1].prompt, QStringLiteral("Operation Complete."));
        QCOMPARE(QDir(".").entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString previous_;
};

QTEST_GUILESS_MAIN(ConvertCommandTest)
#include "convert_command_test.moc"
