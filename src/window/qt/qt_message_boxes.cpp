#include "qt_message_boxes.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace quillmere {
namespace {

QMessageBox::Icon iconFor(MessageStyle style) {
    switch (style) {
    case MessageStyle::Plain:
        break;
    case MessageStyle::Critical:
        return QMessageBox::Critical;
    case MessageStyle::Warning:
        return QMessageBox::Warning;
    case MessageStyle::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

// A message box as wide as its title needs, within the screen: the title carries both paths,
// and Qt sizes the box for its text alone.
class TitledMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    bool event(QEvent* event) override {
        const bool handled = QMessageBox::event(event);
        // Qt fixes the box's size again whenever it lays it out.
        if (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest)
            widenForTitle();
        return handled;
    }

private:
    void widenForTitle() {
        // Title bars commonly use the bold face; the window's icon and up to three buttons,
        // with their margins, take about five squares of the bar's height beside the title.
        QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
        titleFont.setBold(true);
        const int bar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
        int needed = QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + 5 * bar;
        if (const QScreen* shown = screen())
            needed = std::min(needed, shown->availableGeometry().width());
        if (width() < needed)
            setFixedWidth(needed);
    }
};

} // namespace

void QtMessageBoxes::show(const std::string& prompt, MessageStyle style, const std::string& title) {
    TitledMessageBox box(iconFor(style), QString::fromStdString(title),
                         QString::fromStdString(prompt), QMessageBox::Ok, parent_);
    // Paths are shown as typed, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace quillmere
