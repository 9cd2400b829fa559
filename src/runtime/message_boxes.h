#pragma once

#include "result_wording.h"

#include <QString>

class QWidget;

namespace quillmere {

// The window's only way to talk to a person: a modal box with one OK button.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Returns once the person has closed the box.
    virtual void show(const QString& prompt, MessageStyle style, const QString& title) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}
    void show(const QString& prompt, MessageStyle style, const QString& title) override;

private:
    QWidget* parent_;
};

} // namespace quillmere
