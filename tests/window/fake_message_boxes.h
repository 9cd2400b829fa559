#pragma once

#include "message_boxes.h"

#include <string>
#include <vector>

namespace quillmere {

// Records what would have been shown, so that tests never wait on a modal box.
class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        std::string prompt;
        MessageStyle style;
        std::string title;
    };

    void show(const std::string& prompt, MessageStyle style, const std::string& title) override {
        shown.push_back({prompt, style, title});
    }

    std::vector<Shown> shown;
};

} // namespace quillmere
