#include "convert_command.h"

#include "message_boxes.h"
#include "result_wording.h"
#include "tile_set.h"

#include <QFile>

namespace quillmere {

std::string fileSystemPath(const QString& typed) {
#ifdef Q_OS_WIN
    // The Windows file layer takes UTF-8 and widens it itself.
    return typed.toStdString();
#else
    return QFile::encodeName(typed).toStdString();
#endif
}

void convertCommand(const std::function<QString()>& mapPathText,
                    const std::function<QString()>& outputPathText, MessageBoxes& messages) {
    const TileSetResult result =
        RipBMP(fileSystemPath(mapPathText()), fileSystemPath(outputPathText()));

    // A name typed or dropped with control characters in it is shown with them made visible.
    const std::string map = visibleName(mapPathText().toStdString());
    const std::string output = visibleName(outputPathText().toStdString());
    const ResultMessage message = describeResult(result, map, output);
    messages.show(QString::fromStdString(message.prompt), message.style,
                  QString::fromStdString(completionTitle(map, output)));
}

} // namespace quillmere
