#pragma once

#include "message_boxes.h"

class QWidget;

namespace quillmere {

// Qt's message box, modal to the window, with the icon each style names.
class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}
    void show(const std::string& prompt, MessageStyle style, const std::string& title) override;

private:
    QWidget* parent_;
};

} // namespace quillmere
