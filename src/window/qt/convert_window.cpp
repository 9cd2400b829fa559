#include "convert_window.h"

#include "commands.h"
#include "layout_table.h"
#include "path_box.h"
#include "qt_message_boxes.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHash>
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
        // Enter and Esc press no button.
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
    QHash<QString, QWidget*> made;
    for (const auto& layout : kControlLayouts)
        made.insert(fromView(layout.name), createControl(layout, this));

    Label1 = qobject_cast<QLabel*>(made.value(QStringLiteral("Label1")));
    TilesPath = qobject_cast<PathBox*>(made.value(QStringLiteral("TilesPath")));
    Label2 = qobject_cast<QLabel*>(made.value(QStringLiteral("Label2")));
    RipPath = qobject_cast<PathBox*>(made.value(QStringLiteral("RipPath")));
    cmdInfo = qobject_cast<QPushButton*>(made.value(QStringLiteral("cmdInfo")));
    cmdAbout = qobject_cast<QPushButton*>(made.value(QStringLiteral("cmdAbout")));
    cmdExit = qobject_cast<QPushButton*>(made.value(QStringLiteral("cmdExit")));
    RipFrom = qobject_cast<QPushButton*>(made.value(QStringLiteral("RipFrom")));

    cmdAbout->setFont(classicFont(8.25));
    Label1->setBuddy(TilesPath);
    Label2->setBuddy(RipPath);
    TilesPath->setAccessibleName(QStringLiteral("Map file"));
    RipPath->setAccessibleName(QStringLiteral("Tile set file"));
}

void Convert::setFocusOrder() {
    QWidget* previous = nullptr;
    for (const std::string_view name : kFocusOrder) {
        auto* next = findChild<QWidget*>(fromView(name), Qt::FindDirectChildrenOnly);
        if (previous != nullptr)
            setTabOrder(previous, next);
        else
            next->setFocus(Qt::OtherFocusReason);
        previous = next;
    }
}

void Convert::connectCommands() {
    connect(RipFrom, &QPushButton::clicked, this, &Convert::RipFrom_Click);
    connect(cmdAbout, &QPushButton::clicked, this, &Convert::cmdAbout_Click);
    connect(cmdInfo, &QPushButton::clicked, this, &Convert::cmdInfo_Click);
    connect(cmdExit, &QPushButton::clicked, this, &Convert::cmdExit_Click);
}

void Convert::RipFrom_Click() {
    // Qt 6 names files in UTF-8 on every Unix, so the typed text is the file system's path.
    convertCommand([this] { return TilesPath->text().toStdString(); },
                   [this] { return RipPath->text().toStdString(); }, *messages_);
}

void Convert::cmdAbout_Click() {
    aboutCommand(*messages_);
}

void Convert::cmdInfo_Click() {
    infoCommand(*messages_);
}

void Convert::cmdExit_Click() {
    QCoreApplication::quit();
}

} // namespace quillmere
