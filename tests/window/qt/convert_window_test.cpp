#include "commands.h"
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
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
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

QByteArray writeMap(const QString& path, qsizetype size) {
    QByteArray bytes(size, '\0');
    for (qsizetype at = 0; at < bytes.size(); ++at)
        bytes[at] = static_cast<char>(at % 253);
    bytes.replace(0, 2, "BM"); // as a map's tile set starts
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return bytes;
}

// Drops a local file on `target`, as a file manager does.
void dropFile(QWidget* target, const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

QList<QPushButton*> buttons(const Convert& window) {
    return {window.infoButton, window.aboutButton, window.exitButton, window.convertButton};
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
        for (QLabel* label : {window_->mapLabel, window_->outputLabel}) {
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
            QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::black));
            QVERIFY(label->autoFillBackground());
        }
        QCOMPARE(window_->mapPathBox->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(window_->mapPathBox->palette().color(QPalette::Base),
                 QApplication::palette().color(QPalette::Base));
        QCOMPARE(window_->outputPathBox->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(window_->outputPathBox->palette().color(QPalette::Base), QColor(Qt::white));
        // White only inside its frame: the corners outside a rounded frame stay the window's.
        QVERIFY(!window_->outputPathBox->autoFillBackground());
    }

    void aboutHasItsOwnFontAndTheRestTheWindows() {
        const QFont about = window_->aboutButton->font();
        // The classic face where it is installed, else the stand-in measured for it.
        QVERIFY2(about.family() == QStringLiteral("MS Sans Serif") ||
                     about.family() == QStringLiteral("Liberation Sans"),
                 qPrintable(about.family()));
        QCOMPARE(about.pointSizeF(), 8.25);
        QCOMPARE(about.weight(), QFont::Normal);
        QVERIFY(!about.italic() && !about.underline() && !about.strikeOut());
        for (QWidget* other : std::initializer_list<QWidget*>{
                 window_->mapLabel, window_->mapPathBox, window_->outputLabel,
                 window_->outputPathBox, window_->infoButton, window_->exitButton,
                 window_->convertButton})
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
        QCOMPARE(QApplication::focusWidget(), window_->mapPathBox);
        const QList<QWidget*> order{window_->convertButton, window_->outputPathBox,
                                    window_->aboutButton,   window_->exitButton,
                                    window_->infoButton,    window_->mapPathBox};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QCOMPARE(window_->mapLabel->focusPolicy(), Qt::NoFocus);
        QCOMPARE(window_->outputLabel->focusPolicy(), Qt::NoFocus);
        QCOMPARE(window_->mapLabel->buddy(), window_->mapPathBox);
        QCOMPARE(window_->outputLabel->buddy(), window_->outputPathBox);
    }

    void altXPressesExit() {
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QSignalSpy exitClicked(window_->exitButton, &QPushButton::clicked);
        QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);
        QTRY_COMPARE(exitClicked.count(), 1);
    }

    void enterAndEscapeInABoxPressNoButton() {
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QList<QSharedPointer<QSignalSpy>> spies;
        for (QPushButton* button : buttons(*window_)) {
            QVERIFY(!button->isDefault() && !button->autoDefault());
            spies.append(QSharedPointer<QSignalSpy>::create(button, &QPushButton::clicked));
        }
        for (QWidget* box : {static_cast<QWidget*>(window_->mapPathBox),
                             static_cast<QWidget*>(window_->outputPathBox)}) {
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

    // The texts themselves are the commands' tests'; here, that each button reaches its own.
    void aboutAndInfoShowTheirTexts_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("About") << "cmdAbout" << text(kAboutPrompt);
        QTest::newRow("Info") << "cmdInfo" << text(kInfoPrompt);
    }

    void aboutAndInfoShowTheirTexts() {
        QFETCH(QString, button);
        QFETCH(QString, prompt);
        QTest::mouseClick(window_->findChild<QPushButton*>(button), Qt::LeftButton);
        QCOMPARE(messages_->shown.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages_->shown[0].prompt), prompt);
    }

    void enterPressesTheFocusedButton_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    }

    void enterPressesTheFocusedButton() {
        QFETCH(int, key);
        QTemporaryDir folder;
        writeMap(folder.filePath(QStringLiteral("Castle.LVL")), 50000);
        window_->mapPathBox->setText(folder.filePath(QStringLiteral("Castle.LVL")));
        window_->outputPathBox->setText(folder.filePath(QStringLiteral("Castle.BMP")));
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        window_->convertButton->setFocus();
        QTest::keyClick(window_->convertButton, Qt::Key(key),
                        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(messages_->shown.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages_->shown[0].prompt),
                 QStringLiteral("Operation Complete."));
        QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("Castle.BMP"))).size(), qint64(49713));
    }

    void exitEndsTheEventLoop() {
        window_->show();
        QTimer::singleShot(0, window_.get(),
                           [this] { QTest::mouseClick(window_->exitButton, Qt::LeftButton); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(messages_->shown.empty());
    }

    void convertCopiesTheTileSetAndSaysSo() {
        QTemporaryDir folder;
        const QString map = folder.filePath(QStringLiteral("Castle.LVL"));
        const QString output = folder.filePath(QStringLiteral("Castle.BMP"));
        const QByteArray bytes = writeMap(map, 60000);

        window_->mapPathBox->setText(map);
        window_->outputPathBox->setText(output);
        QTest::mouseClick(window_->convertButton, Qt::LeftButton);

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

    // A drop on the map box: the table below.
    void droppingAFileOntoTheOutputBoxPutsItsPathThereAlone() {
        dropFile(window_->outputPathBox, QStringLiteral("/maps/My Level.LVL"));
        QCOMPARE(window_->outputPathBox->text(), QStringLiteral("/maps/My Level.LVL"));
        QCOMPARE(window_->mapPathBox->text(), QStringLiteral("Map.LVL"));
    }

    // What the output box holds before the drop, and what it holds after it.
    void droppingAMapFillsTheOutputBesideItUnlessTyped_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("first text") << "Tiles.BMP"
                                    << "/maps/Cave.BMP";
        QTest::newRow("derived for an earlier map") << "/old/Castle.BMP"
                                                    << "/maps/Cave.BMP";
        QTest::newRow("typed") << "/mine/Typed.BMP"
                               << "/mine/Typed.BMP";
    }

    void droppingAMapFillsTheOutputBesideItUnlessTyped() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        if (before.startsWith(QStringLiteral("/old/")))
            dropFile(window_->mapPathBox, QStringLiteral("/old/Castle.LVL"));
        else
            window_->outputPathBox->setText(before);
        QCOMPARE(window_->outputPathBox->text(), before);
        dropFile(window_->mapPathBox, QStringLiteral("/maps/Cave.LVL"));
        QCOMPARE(window_->mapPathBox->text(), QStringLiteral("/maps/Cave.LVL"));
        QCOMPARE(window_->outputPathBox->text(), after);
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
        const std::optional<Seen> seen = showReal("<b>not markup</b>", style, "a -> b");
        QVERIFY2(seen.has_value(), "no modal message box was shown");
        QCOMPARE(seen->text, QStringLiteral("<b>not markup</b>"));
        QCOMPARE(seen->format, Qt::PlainText);
        QCOMPARE(seen->title, QStringLiteral("a -> b"));
        QCOMPARE(seen->icon, icon);
        QCOMPARE(seen->buttons, qsizetype(1));
        QCOMPARE(seen->standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void realMessageBoxIsAsWideAsItsTitleWithinTheScreen_data() {
        QTest::addColumn<QString>("title");
        QTest::newRow("short paths") << "Map.LVL -> Tiles.BMP";
        QTest::newRow("long paths") << "/home/someone/maps/Castle of the long name.LVL -> "
                                       "/home/someone/maps/Castle of the long name.BMP";
        QTest::newRow("wider than the screen") << QString(400, QLatin1Char('W'));
    }

    void realMessageBoxIsAsWideAsItsTitleWithinTheScreen() {
        QFETCH(QString, title);
        window_->show();
        const std::optional<Seen> seen =
            showReal("Operation Complete.", MessageStyle::Information, title.toStdString());
        QVERIFY2(seen.has_value(), "no modal message box was shown");
        const int screen = window_->screen()->availableGeometry().width();
        QVERIFY2(seen->width >= std::min(seen->titleWidth, screen),
                 qPrintable(QStringLiteral("%1 < %2").arg(seen->width).arg(seen->titleWidth)));
        QVERIFY(seen->width <= screen);
    }

private:
    // What a real message box showed; noted by a timer while it is up, since a check inside the
    // timer's callback could not fail the test.
    struct Seen {
        QString text, title;
        Qt::TextFormat format = Qt::AutoText;
        int icon = -1;
        qsizetype buttons = 0;
        QMessageBox::StandardButtons standardButtons;
        int width = 0, titleWidth = 0;
    };

    // The least a title bar needs: the title in the bold face title bars commonly use, the
    // window's icon and its close button.
    static int titleBarWidth(QWidget* box) {
        QFont bold = QApplication::font("QMdiSubWindowTitleBar");
        bold.setBold(true);
        return QFontMetrics(bold).horizontalAdvance(box->windowTitle()) +
               2 * box->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, box);
    }

    std::optional<Seen> showReal(const std::string& prompt, MessageStyle style,
                                 const std::string& title) {
        QtMessageBoxes real(window_.get());
        std::optional<Seen> seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible())
                return; // not up yet
            poll.stop();
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                seen = Seen{box->text(),  box->windowTitle(),    box->textFormat(),
                            box->icon(),  box->buttons().size(), box->standardButtons(),
                            box->width(), titleBarWidth(box)};
            modal->close();
        });
        poll.start(10);
        real.show(prompt, style, title);
        return seen;
    }

    std::unique_ptr<FakeMessageBoxes> messages_;
    std::unique_ptr<Convert> window_;
};

QTEST_MAIN(ConvertWindowTest)
#include "convert_window_test.moc"
