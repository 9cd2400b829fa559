#pragma once

#include <QString>
#include <functional>
#include <string>

namespace quillmere {

class MessageBoxes;

// How a path typed in the window reaches the file system: unchanged, in its encoding.
std::string fileSystemPath(const QString& typed);

// The Convert button: converts the map named in the map box into the file named in the output
// box, then tells the person how it went, titled "map -> output" as the boxes read afterwards.
void convertCommand(const std::function<QString()>& mapPathText,
                    const std::function<QString()>& outputPathText, MessageBoxes& messages);

} // namespace quillmere
