#include "convert_window.h"
#include "fake_message_boxes.h"
#include "layout_table.h"
#include "path_box.h"
#include "qt_message_boxes.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <optional>

using namespace quillmere;

Q_DECLARE_METATYPE(quillmere::MessageStyle)

namespace {

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

QString shownText(QWidget* control) {
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* box = qobject_cast<QLineEdit*>(control))
        return box->text();
    return qobject_cast<QPushButton*>(control)->text();
}

QList<QPushButton*> buttons(const Convert& window) {
    return {window.cmdInfo, window.cmdAbout, window.cmdExit, window.RipFrom};
}

} // namespace

class ConvertWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        messages_ = std::make_unique<FakeMessageBoxes>();
        window_ = std::make_unique<Convert>(messages_.get());
    }
    void cleanup() {
        window_.reset();
        messages_.reset();
    }

    void windowHasItsCaptionSizeAndBlackBackground() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("QuillMere Tile Converter"));
        QCOMPARE(window_->size(), QSize(312, 113));
        QCOMPARE(window_->palette().color(QPalette::Window), QColor(Qt::black));
        QVERIFY(window_->autoFillBackground());
    }

    void controlsFollowTheLayoutTable_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("pixels");
        // Pixels at 96 dpi: twips / 15.
        QTest::newRow("Label1") << "Label1"
                                << "QLabel"
                                << "Map Name" << QRect(0, 0, 57, 17);
        QTest::newRow("TilesPath") << "TilesPath"
                                   << "quillmere::PathBox"
                                   << "Map.LVL" << QRect(88, 0, 121, 19);
        QTest::newRow("Label2") << "Label2"
                                << "QLabel"
                                << "Tile Set Name" << QRect(0, 32, 73, 17);
        QTest::newRow("RipPath") << "RipPath"
                                 << "quillmere::PathBox"
                                 << "Tiles.BMP" << QRect(88, 32, 121, 19);
        QTest::newRow("cmdInfo") << "cmdInfo"
                                 << "QPushButton"
                                 << "Info" << QRect(224, 8, 81, 33);
        QTest::newRow("cmdAbout") << "cmdAbout"
                                  << "QPushButton"
                                  << "About" << QRect(8, 72, 81, 33);
        QTest::newRow("cmdExit") << "cmdExit"
                                 << "QPushButton"
                                 << "E&xit" << QRect(112, 72, 89, 33);
        QTest::newRow("RipFrom") << "RipFrom"
                                 << "QPushButton"
                                 << "Convert" << QRect(224, 72, 81, 33);
    }

    void controlsFollowTheLayoutTable() {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, caption);
        QFETCH(QRect, pixels);
        auto* control = window_->findChild<QWidget*>(name);
        QVERIFY(control != nullptr);
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
        QCOMPARE(shownText(control), caption);
        QCOMPARE(control->geometry(), pixels);
        QVERIFY(!control->accessibleName().isEmpty());
    }

    void labelsAndBoxesHaveTheirColours() {
        for (QLabel* label : {window_->Label1, window_->Label2}) {
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
            QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::black));
            QVERIFY(label->autoFillBackground());
        }
        QCOMPARE(window_->TilesPath->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(window_->TilesPath->palette().color(QPalette::Base),
                 QApplication::palette().color(QPalette::Base));
        QCOMPARE(window_->RipPath->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(window_->RipPath->palette().color(QPalette::Base), QColor(Qt::white));
        // White only inside its frame: the corners outside a rounded frame stay the window's.
        QVERIFY(!window_->RipPath->autoFillBackground());
    }

    void aboutHasItsOwnFontAndTheRestTheWindows() {
        const QFont about = window_->cmdAbout->font();
        // The classic face where it is installed, else the stand-in measured for it.
        QVERIFY2(about.family() == QStringLiteral("MS Sans Serif") ||
                     about.family() == QStringLiteral("Liberation Sans"),
                 qPrintable(about.family()));
        QCOMPARE(about.pointSizeF(), 8.25);
        QCOMPARE(about.weight(), QFont::Normal);
        QVERIFY(!about.italic() && !about.underline() && !about.strikeOut());
        for (QWidget* other : std::initializer_list<QWidget*>{
                 window_->Label1, window_->TilesPath, window_->Label2, window_->RipPath,
                 window_->cmdInfo, window_->cmdExit, window_->RipFrom})
            QCOMPARE(other->font(), window_->font());
    }

    // Liberation Sans stands in for the classic face; every caption must fit inside its control.
    void captionsFitInsideTheirControls() {
        QCOMPARE(QFontInfo(window_->font()).family(), QStringLiteral("Liberation Sans"));
        for (const auto& layout : kControlLayouts) {
            auto* control = window_->findChild<QWidget*>(text(layout.name));
            const QFontMetrics metrics(control->font());
            const QString shown = shownText(control).remove(QLatin1Char('&'));
            // Buttons and boxes draw a frame and margins around their text.
            const int margin = layout.kind == ControlKind::Label ? 0 : 8;
            QVERIFY2(metrics.horizontalAdvance(shown) + margin <= control->width(),
                     qPrintable(shown));
            QVERIFY2(metrics.height() <= control->height(), qPrintable(shown));
        }
    }

    void focusStartsInTheMapBoxAndTabFollowsTheOrder() {
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QCOMPARE(QApplication::focusWidget(), window_->TilesPath);
        const QList<QWidget*> order{window_->RipFrom, window_->RipPath, window_->cmdAbout,
                                    window_->cmdExit, window_->cmdInfo, window_->TilesPath};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QCOMPARE(window_->Label1->focusPolicy(), Qt::NoFocus);
        QCOMPARE(window_->Label2->focusPolicy(), Qt::NoFocus);
        QCOMPARE(window_->Label1->buddy(), window_->TilesPath);
        QCOMPARE(window_->Label2->buddy(), window_->RipPath);
    }

    void altXPressesExit() {
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QSignalSpy exitClicked(window_->cmdExit, &QPushButton::clicked);
        QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);
        QTRY_COMPARE(exitClicked.count(), 1);
    }

    void enterAndEscapePressNoButton() {
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QList<QSharedPointer<QSignalSpy>> spies;
        for (QPushButton* button : buttons(*window_)) {
            QVERIFY(!button->isDefault() && !button->autoDefault());
            spies.append(QSharedPointer<QSignalSpy>::create(button, &QPushButton::clicked));
        }
        for (QWidget* box :
             {static_cast<QWidget*>(window_->TilesPath), static_cast<QWidget*>(window_->RipPath)}) {
            box->setFocus();
            for (auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(box, key);
        }
        QTest::qWait(200); // longer than a mnemonic's delayed click
        for (const auto& spy : spies)
            QCOMPARE(spy->count(), 0);
        QVERIFY(messages_->shown.empty());
        QVERIFY(window_->isVisible());
    }

    void aboutAndInfoShowTheirTexts_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("About") << "cmdAbout"
                               << "Converts Map tiles into a bmp. By quenrik5";
        QTest::newRow("Info") << "cmdInfo"
                              << "Version 1.4 Made with crappy Visual Basic";
    }

    void aboutAndInfoShowTheirTexts() {
        QFETCH(QString, button);
        QFETCH(QString, prompt);
        QTest::mouseClick(window_->findChild<QPushButton*>(button), Qt::LeftButton);
        QCOMPARE(messages_->shown.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages_->shown[0].prompt), prompt);
        QCOMPARE(QString::fromStdString(messages_->shown[0].title),
                 QStringLiteral("Quillmere Tile Converter"));
        QCOMPARE(messages_->shown[0].style, MessageStyle::Plain);
    }

    void exitEndsTheEventLoop() {
        window_->show();
        QTimer::singleShot(0, window_.get(),
                           [this] { QTest::mouseClick(window_->cmdExit, Qt::LeftButton); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(messages_->shown.empty());
    }

    void convertCopiesTheTileSetAndSaysSo() {
        QTemporaryDir folder;
        const QString map = folder.filePath(QStringLiteral("Castle.LVL"));
        const QString output = folder.filePath(QStringLiteral("Castle.BMP"));
        QByteArray bytes(60000, '\0');
        for (qsizetype at = 0; at < bytes.size(); ++at)
            bytes[at] = static_cast<char>(at % 253);
        bytes.replace(0, 2, "BM"); // as a map's tile set starts
        QFile file(map);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();

        window_->TilesPath->setText(map);
        window_->RipPath->setText(output);
        QTest::mouseClick(window_->RipFrom, Qt::LeftButton);

        QCOMPARE(messages_->shown.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages_->shown[0].prompt),
                 QStringLiteral("Operation Complete."));
        QCOMPARE(messages_->shown[0].style, MessageStyle::Information);
        QCOMPARE(QString::fromStdString(messages_->shown[0].title),
                 map + QStringLiteral(" -> ") + output);
        QFile written(output);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), bytes.left(49713));
    }

    void droppingAFileOntoABoxPutsItsPathThere_data() {
        QTest::addColumn<QString>("box");
        QTest::newRow("map box") << "TilesPath";
        QTest::newRow("output box") << "RipPath";
    }

    void droppingAFileOntoABoxPutsItsPathThere() {
        QFETCH(QString, box);
        auto* target = window_->findChild<PathBox*>(box);
        QVERIFY(target != nullptr);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/maps/My Level.LVL"))});
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        QCOMPARE(target->text(), QStringLiteral("/maps/My Level.LVL"));
    }

    void realMessageBoxIsModalWithOneOkButton_data() {
        QTest::addColumn<MessageStyle>("style");
        QTest::addColumn<int>("icon");
        QTest::newRow("plain") << MessageStyle::Plain << int(QMessageBox::NoIcon);
        QTest::newRow("information") << MessageStyle::Information << int(QMessageBox::Information);
        QTest::newRow("warning") << MessageStyle::Warning << int(QMessageBox::Warning);
        QTest::newRow("critical") << MessageStyle::Critical << int(QMessageBox::Critical);
    }

    void realMessageBoxIsModalWithOneOkButton() {
        QFETCH(MessageStyle, style);
        QFETCH(int, icon);
        window_->show();
        QtMessageBoxes real(window_.get());
        // A check inside the timer's callback could not fail the test: the callback only notes
        // what the modal box shows and closes it, so that show() returns; the test checks after.
        struct Seen {
            QString text, title;
            Qt::TextFormat format = Qt::AutoText;
            int icon = -1;
            qsizetype buttons = 0;
            QMessageBox::StandardButtons standardButtons;
        };
        std::optional<Seen> seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr)
                return; // not up yet
            poll.stop();
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                seen = Seen{box->text(), box->windowTitle(),    box->textFormat(),
                            box->icon(), box->buttons().size(), box->standardButtons()};
            modal->close();
        });
        poll.start(10);
        real.show("<b>not markup</b>", style, "a -> b");

        QVERIFY2(seen.has_value(), "no modal message box was shown");
        QCOMPARE(seen->text, QStringLiteral("<b>not markup</b>"));
        QCOMPARE(seen->format, Qt::PlainText);
        QCOMPARE(seen->title, QStringLiteral("a -> b"));
        QCOMPARE(seen->icon, icon);
        QCOMPARE(seen->buttons, qsizetype(1));
        QCOMPARE(seen->standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

private:
    std::unique_ptr<FakeMessageBoxes> messages_;
    std::unique_ptr<Convert> window_;
};

QTEST_MAIN(ConvertWindowTest)
#include "convert_window_test.moc"
