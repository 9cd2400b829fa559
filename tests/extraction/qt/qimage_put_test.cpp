// Pictures as Qt's QImage saves them, one pixel edited, put back into a 24-bit and an 8-bit map.

#include "one_pixel_edit.h"
#include "put_tile_set.h"
#include "result_wording.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtGui/QImage>
#include <QtTest>
#include <cstdio>

using namespace quillmere;
using namespace quillmere::testing;

class QImagePutTest : public QObject {
    Q_OBJECT

private slots:
    void changesOnlyTheEditedPixel_data() {
        QTest::addColumn<bool>("indexedMap");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("saved");
        const std::pair<const char*, QImage::Format> formats[] = {
            {"rgb32", QImage::Format_RGB32},
            {"argb32_opaque", QImage::Format_ARGB32},
            {"indexed8", QImage::Format_Indexed8},
        };
        for (const bool indexed : {false, true})
            for (const auto& [name, format] : formats)
                for (const char* saved : {"Edited.bmp", "Edited.png"})
                    QTest::addRow("%s_%s_into_%s", saved + 7, name, indexed ? "8_bits" : "24_bits")
                        << indexed << static_cast<int>(format) << QString(saved);
    }
    void changesOnlyTheEditedPixel() {
        QFETCH(bool, indexedMap);
        QFETCH(int, format);
        QFETCH(QString, saved);
        QTemporaryDir folder;
        const std::string map = folder.filePath("Map.LVL").toStdString();
        const std::string picture = folder.filePath(saved).toStdString();
        QStringList sample{QString::fromStdString(map)};
        if (indexedMap)
            sample.prepend("--8-bit");
        QCOMPARE(QProcess::execute(QUILLMERE_SAMPLE_MAP_EXE, sample), 0);
        const QString tiles = folder.filePath("Tiles.BMP");
        QCOMPARE(RipBMP(map, tiles.toStdString()).outcome, TileSetOutcome::Complete);
        const Bytes before = readFile(map);

        QImage image = QImage(tiles).convertToFormat(QImage::Format_RGB32);
        const QColor colour = image.pixelColor(kSourceX, kSourceY);
        image.setPixelColor(kEditX, kEditY, colour);
        image = image.convertToFormat(static_cast<QImage::Format>(format), Qt::AvoidDither);
        QVERIFY(image.save(QString::fromStdString(picture)));
        const Bytes written = readFile(picture); // for the table of what each tool saves
        if (saved.endsWith(".bmp"))
            std::printf("  Qt wrote BMP, %d-byte header, %d bits, compression %d\n", written[14],
                        written[28], written[30]);
        else
            std::printf("  Qt wrote PNG, %d-bit samples, colour type %d\n", written[24],
                        written[25]);
        const PutResult result = PutTileSet(picture, map);

        QVERIFY2(result.outcome == PutOutcome::Complete,
                 describePut(result, picture, "Map.LVL").c_str());
        const Bytes after = readFile(map);
        QCOMPARE(strayChange(before, after), std::string());
        const Bytes tileSet(after.begin(), after.begin() + kTileSetLength);
        writeFile(folder.filePath("Back.BMP").toStdString(), tileSet);
        QCOMPARE(QImage(folder.filePath("Back.BMP")).pixelColor(kEditX, kEditY), colour);
    }
};

QTEST_MAIN(QImagePutTest)
#include "qimage_put_test.moc"
