#pragma once

#include <string>

namespace quillmere {

// The message-box styles in use, by their numbers; each has a single OK button. On Windows they
// are exactly MessageBoxW's flags.
enum class MessageStyle : int {
    Plain = 0,
    Critical = 16,
    Warning = 48,
    Information = 64,
};

// The window's only way to talk to a person: a modal box with one OK button. Texts are UTF-8.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Returns once the person has closed the box.
    virtual void show(const std::string& prompt, MessageStyle style, const std::string& title) = 0;
};

} // namespace quillmere
