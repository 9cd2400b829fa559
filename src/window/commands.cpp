#include "commands.h"

#include "result_wording.h"

namespace quillmere {

MessageStyle messageStyleFor(const TileSetResult& result) {
    if (result.outcome == TileSetOutcome::Failed)
        return MessageStyle::Critical;
    return deservesWarning(result) ? MessageStyle::Warning : MessageStyle::Information;
}

void convertCommand(const PathText& mapPathText, const PathText& outputPathText,
                    MessageBoxes& messages) {
    const TileSetResult result = RipBMP(mapPathText(), outputPathText());

    // A name typed or dropped with control characters in it is shown with them made visible.
    const std::string map = visibleName(mapPathText());
    const std::string output = visibleName(outputPathText());
    messages.show(describeResult(result, map, output), messageStyleFor(result),
                  completionTitle(map, output));
}

void aboutCommand(MessageBoxes& messages) {
    messages.show(std::string(kAboutPrompt), MessageStyle::Plain, std::string(kMessageTitle));
}

void infoCommand(MessageBoxes& messages) {
    messages.show(std::string(kInfoPrompt), MessageStyle::Plain, std::string(kMessageTitle));
}

} // namespace quillmere
