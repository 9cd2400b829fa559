#pragma once

#include "message_boxes.h"
#include "output_follows_map.h"

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

    // The controls by their role; their object names are the layout table's.
    QLabel* mapLabel = nullptr;
    PathBox* mapPathBox = nullptr;
    QLabel* outputLabel = nullptr;
    PathBox* outputPathBox = nullptr;
    QPushButton* infoButton = nullptr;
    QPushButton* aboutButton = nullptr;
    QPushButton* exitButton = nullptr;
    QPushButton* convertButton = nullptr;

    // Puts a map in the map box, as opening the window on it or dropping it there does; the
    // output box follows while it holds what the program put there.
    void chooseMap(const QString& mapPath);

protected:
    // Enter presses the focused button, as on Windows; no button is the default.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void convert();
    void about();
    void info();
    void exit();

private:
    void createControls();
    void setFocusOrder();
    void connectCommands();
    QWidget* control(Control role) const;

    std::unique_ptr<MessageBoxes> ownMessages_;
    MessageBoxes* messages_;
    OutputFollowsMap outputFollowsMap_;
};

} // namespace quillmere
