#include "convert_window.h"

#include "commands.h"
#include "layout_table.h"
#include "path_box.h"
#include "qt_message_boxes.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace quillmere {
namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "MS Sans Serif" is not on Linux; Liberation Sans is close in size and is packaged by Debian.
// Asking for a family that is missing would have Qt search every font for a fallback.
QFont classicFont(qreal pointSize) {
    QFont font;
    static const QString family = [] {
        for (const char* candidate : {"MS Sans Serif", "Liberation Sans", "Arial"})
            if (QFontDatabase::hasFamily(QString::fromLatin1(candidate)))
                return QString::fromLatin1(candidate);
        return QString();
    }();
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QRect geometryOf(const ControlLayout& layout) {
    const PixelRect pixels = pixelRect(layout);
    return {pixels.left, pixels.top, pixels.width(), pixels.height()};
}

QColor colourOf(Paint paint) {
    return paint == Paint::White ? QColor(Qt::white) : QColor(Qt::black);
}

// Only the roles a colour was given for are set, so that the rest stay the system's.
void paint(QWidget* widget, QPalette::ColorRole foregroundRole, Paint foreground,
           QPalette::ColorRole backgroundRole, Paint background) {
    QPalette palette = widget->palette();
    if (foreground != Paint::System)
        palette.setColor(foregroundRole, colourOf(foreground));
    if (background != Paint::System) {
        palette.setColor(backgroundRole, colourOf(background));
        // A text box's style paints its Base colour inside its frame; filling its whole
        // rectangle would show square corners outside a rounded frame.
        widget->setAutoFillBackground(backgroundRole == QPalette::Window);
    }
    widget->setPalette(palette);
}

void paint(QWidget* widget, const ControlLayout& layout) {
    if (layout.kind == ControlKind::TextBox)
        paint(widget, QPalette::Text, layout.foreground, QPalette::Base, layout.background);
    else
        paint(widget, QPalette::WindowText, layout.foreground, QPalette::Window, layout.background);
}

QWidget* createControl(const ControlLayout& layout, QWidget* parent) {
    const QString text = fromView(layout.text);
    QWidget* widget = nullptr;
    switch (layout.kind) {
    case ControlKind::Label:
        widget = new QLabel(text, parent);
        break;
    case ControlKind::TextBox:
        widget = new PathBox(text, parent);
        break;
    case ControlKind::Button: {
        auto* button = new QPushButton(text, parent);
        // No button is the default, nor the cancel button: Enter in a box and Esc press none.
        button->setAutoDefault(false);
        button->setDefault(false);
        widget = button;
        break;
    }
    }
    widget->setObjectName(fromView(layout.name));
    widget->setGeometry(geometryOf(layout));
    widget->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    paint(widget, layout);
    return widget;
}

} // namespace

Convert::Convert(MessageBoxes* messages, QWidget* parent) : QWidget(parent) {
    if (messages == nullptr) {
        ownMessages_ = std::make_unique<QtMessageBoxes>(this);
        messages = ownMessages_.get();
    }
    messages_ = messages;

    setObjectName(QStringLiteral("Convert"));
    setWindowTitle(fromView(kWindowCaption));
    // Nothing in the window reacts to a new size, so it keeps its own.
    setFixedSize(clientPixelRect().width(), clientPixelRect().height());
    // The classic default, MS Sans Serif 8.25 pt: 11 pixels at 96 dpi, as the About button asks
    // too.
    setFont(classicFont(8.25));
    paint(this, QPalette::WindowText, Paint::System, QPalette::Window, Paint::Black);

    createControls();
    setFocusOrder();
    connectCommands();
}

Convert::~Convert() = default;

void Convert::createControls() {
    for (const auto& layout : kControlLayouts)
        createControl(layout, this);

    mapLabel = qobject_cast<QLabel*>(control(Control::mapLabel));
    mapPathBox = qobject_cast<PathBox*>(control(Control::mapPathBox));
    outputLabel = qobject_cast<QLabel*>(control(Control::outputLabel));
    outputPathBox = qobject_cast<PathBox*>(control(Control::outputPathBox));
    infoButton = qobject_cast<QPushButton*>(control(Control::infoButton));
    aboutButton = qobject_cast<QPushButton*>(control(Control::aboutButton));
    exitButton = qobject_cast<QPushButton*>(control(Control::exitButton));
    convertButton = qobject_cast<QPushButton*>(control(Control::convertButton));

    aboutButton->setFont(classicFont(8.25));
    mapLabel->setBuddy(mapPathBox);
    outputLabel->setBuddy(outputPathBox);
    mapPathBox->setAccessibleName(QStringLiteral("Map file"));
    outputPathBox->setAccessibleName(QStringLiteral("Tile set file"));
    for (QPushButton* button : {infoButton, aboutButton, exitButton, convertButton})
        button->installEventFilter(this);
}

QWidget* Convert::control(Control role) const {
    return findChild<QWidget*>(fromView(layoutOf(role).name), Qt::FindDirectChildrenOnly);
}

void Convert::setFocusOrder() {
    QWidget* previous = nullptr;
    for (const Control role : kFocusOrder) {
        QWidget* next = control(role);
        if (previous != nullptr)
            setTabOrder(previous, next);
        else
            next->setFocus(Qt::OtherFocusReason);
        previous = next;
    }
}

void Convert::connectCommands() {
    connect(convertButton, &QPushButton::clicked, this, &Convert::convert);
    connect(aboutButton, &QPushButton::clicked, this, &Convert::about);
    connect(infoButton, &QPushButton::clicked, this, &Convert::info);
    connect(exitButton, &QPushButton::clicked, this, &Convert::exit);
    connect(mapPathBox, &PathBox::fileDropped, this, &Convert::chooseMap);
}

void Convert::chooseMap(const QString& mapPath) {
    mapPathBox->setText(mapPath);
    if (const auto output =
            outputFollowsMap_.outputFor(mapPath.toStdString(), outputPathBox->text().toStdString()))
        outputPathBox->setText(QString::fromStdString(*output));
}

bool Convert::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (enter && button != nullptr &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            button->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Convert::convert() {
    // Qt 6 names files in UTF-8 on every Unix, so the typed text is the file system's path.
    convertCommand([this] { return mapPathBox->text().toStdString(); },
                   [this] { return outputPathBox->text().toStdString(); }, *messages_);
}

void Convert::about() {
    aboutCommand(*messages_);
}

void Convert::info() {
    infoCommand(*messages_);
}

void Convert::exit() {
    QCoreApplication::quit();
}

} // namespace quillmere
