#include "qt_message_boxes.h"

#include <QMessageBox>

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

} // namespace

void QtMessageBoxes::show(const std::string& prompt, MessageStyle style, const std::string& title) {
    QMessageBox box(iconFor(style), QString::fromStdString(title), QString::fromStdString(prompt),
                    QMessageBox::Ok, parent_);
    // Paths are shown as typed, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace quillmere
