#pragma once

#include "message_boxes.h"

#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;

namespace quillmere {

class PathBox;

// The program's one window: two path boxes, their labels, and four buttons.
class Convert : public QWidget {
    Q_OBJECT

public:
    // Shows its messages through `messages`, or through real message boxes when none is given.
    explicit Convert(MessageBoxes* messages = nullptr, QWidget* parent = nullptr);
    ~Convert() override;

    // The controls, named as in the layout table.
    QLabel* Label1 = nullptr;
    PathBox* TilesPath = nullptr;
    QLabel* Label2 = nullptr;
    PathBox* RipPath = nullptr;
    QPushButton* cmdInfo = nullptr;
    QPushButton* cmdAbout = nullptr;
    QPushButton* cmdExit = nullptr;
    QPushButton* RipFrom = nullptr;

private slots:
    void RipFrom_Click();
    void cmdAbout_Click();
    void cmdInfo_Click();
    void cmdExit_Click();

private:
    void createControls();
    void setFocusOrder();
    void connectCommands();

    std::unique_ptr<MessageBoxes> ownMessages_;
    MessageBoxes* messages_;
};

} // namespace quillmere
