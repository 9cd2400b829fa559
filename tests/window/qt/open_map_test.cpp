#include "convert_window.h"
#include "fake_message_boxes.h"
#include "open_map.h"
#include "path_box.h"

#include <QtTest>

using namespace quillmere;

class OpenMapTest : public QObject {
    Q_OBJECT

private slots:
    void fillsTheMapBoxAndTheTileSetBesideIt_data() {
        QTest::addColumn<QString>("map");
        QTest::addColumn<QString>("tileSet");
        QTest::newRow("bare name") << "Castle.LVL"
                                   << "Castle.BMP";
        QTest::newRow("absolute, lower case, two dots") << "/home/me/maps/cave.level.lvl"
                                                        << "/home/me/maps/cave.level.BMP";
        QTest::newRow("not ASCII, with blanks") << "Karten/Die Höhle.LVL"
                                                << "Karten/Die Höhle.BMP";
    }
    void fillsTheMapBoxAndTheTileSetBesideIt() {
        QFETCH(QString, map);
        QFETCH(QString, tileSet);
        FakeMessageBoxes messages;
        Convert window(&messages);

        openMap(window, map);

        QCOMPARE(window.mapPathBox->text(), map);
        QCOMPARE(window.outputPathBox->text(), tileSet);
    }
};

QTEST_MAIN(OpenMapTest)
#include "open_map_test.moc"
