#pragma once

#include "message_boxes.h"

#include <vector>

namespace quillmere {

// Records what would have been shown, so that tests never wait on a modal box.
class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString prompt;
        MessageStyle style;
        QString title;
    };

    void show(const QString& prompt, MessageStyle style, const QString& title) override {
        shown.push_back({prompt, style, title});
    }

    std::vector<Shown> shown;
};

} // namespace quillmere
