// Pictures as Qt's QImage saves them, one pixel edited, put back into a 24-bit and an 8-bit map.

#include "put_tile_set.h"
#include "result_wording.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtGui/QImage>
#include <QtTest>
#include <cstdio>

using namespace quillmere;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class QImagePutTest : public QObject {
    Q_OBJECT

private slots:
    void editedPixelIsTheOnlyChange_data() {
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
    void editedPixelIsTheOnlyChange() {
        QFETCH(bool, indexedMap);
        QFETCH(int, format);
        QFETCH(QString, saved);
        QTemporaryDir folder;
        const QString map = folder.filePath("Map.LVL");
        QStringList sample{map};
        if (indexedMap)
            sample.prepend("--8-bit");
        QCOMPARE(QProcess::execute(QUILLMERE_SAMPLE_MAP_EXE, sample), 0);
        const QString tiles = folder.filePath("Tiles.BMP");
        QCOMPARE(RipBMP(map.toStdString(), tiles.toStdString()).outcome, TileSetOutcome::Complete);
        const QByteArray before = readAll(map);

        QImage image(tiles);
        QVERIFY(!image.isNull());
        const QColor colour = image.pixelColor(20, 40);
        image = image.convertToFormat(QImage::Format_RGB32);
        image.setPixelColor(5, 7, colour);
        image = image.convertToFormat(static_cast<QImage::Format>(format), Qt::AvoidDither);
        QVERIFY(image.save(folder.filePath(saved)));
        const QByteArray picture = readAll(folder.filePath(saved));
        auto byte = [&picture](int at) { return static_cast<unsigned char>(picture[at]); };
        if (saved.endsWith(".bmp")) // what Qt wrote, for the table of what each tool saves
            std::printf("  Qt wrote BMP, %d-byte header, %d bits, compression %d\n", byte(14),
                        byte(28), byte(30));
        else
            std::printf("  Qt wrote PNG, %d-bit samples, colour type %d\n", byte(24), byte(25));
        const PutResult result =
            PutTileSet(folder.filePath(saved).toStdString(), map.toStdString());

        QVERIFY2(result.outcome == PutOutcome::Complete,
                 describePut(result, saved.toStdString(), "Map.LVL").c_str());
        const QByteArray after = readAll(map);
        QCOMPARE(after.size(), before.size());
        const int bytesPerPixel = indexedMap ? 1 : 3;
        const int offset = indexedMap ? 54 + 256 * 4 : 49713 - 128 * 128 * 3;
        const int edited = offset + (127 - 7) * 128 * bytesPerPixel + 5 * bytesPerPixel;
        for (int at = 0; at < after.size(); ++at)
            if (at < edited || at >= edited + bytesPerPixel)
                QVERIFY2(after[at] == before[at], qPrintable(QString("byte %1 changed").arg(at)));
        QFile tileSet(folder.filePath("Back.BMP"));
        QVERIFY(tileSet.open(QIODevice::WriteOnly));
        tileSet.write(after.left(49713));
        tileSet.close();
        QCOMPARE(QImage(tileSet.fileName()).pixelColor(5, 7), colour);
    }
};

QTEST_MAIN(QImagePutTest)
#include "qimage_put_test.moc"
