#include "result_wording.h"

namespace quillmere {
namespace {

std::string failurePrompt(const TileSetResult& result, std::string_view path) {
    const bool map = result.failedFile == FileRole::Map;
    if (path.empty())
        return map ? "No map file was given: the map path is empty."
                   : "No tile set file was given: the output path is empty.";
    std::string prompt = map ? "Could not read the map file \"" : "Could not write the tile set \"";
    prompt += path;
    prompt += '"';
    if (!result.failedStep.empty()) {
        prompt += ' ';
        prompt += result.failedStep;
    }
    prompt += ": ";
    prompt += result.reason;
    prompt += '.';
    return prompt;
}

std::string shortMapPrompt(std::size_t mapBytes) {
    std::string prompt(kCompletePrompt);
    if (mapBytes == 0)
        return prompt + " The map file is empty, so all " + groupedDigits(kTileSetLength) +
               " bytes of the tile set are zeros.";
    const std::size_t missing = kTileSetLength - mapBytes;
    return prompt + " The map file held only " + groupedDigits(mapBytes) + " of the tile set's " +
           groupedDigits(kTileSetLength) + " bytes; the last " + groupedDigits(missing) +
           (missing == 1 ? " byte is zero." : " bytes are zeros.");
}

} // namespace

std::string completionTitle(std::string_view mapPath, std::string_view outputPath) {
    std::string title(mapPath);
    title += kTitleSeparator;
    title += outputPath;
    return title;
}

std::string describeResult(const TileSetResult& result, std::string_view mapPath,
                           std::string_view outputPath) {
    switch (result.outcome) {
    case TileSetOutcome::Complete:
        return std::string(kCompletePrompt);
    case TileSetOutcome::ShortMap:
        return shortMapPrompt(result.mapBytes);
    case TileSetOutcome::Failed:
        break;
    }
    return failurePrompt(result, result.failedFile == FileRole::Map ? mapPath : outputPath);
}

std::string groupedDigits(std::size_t number) {
    std::string digits = std::to_string(number);
    for (auto at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

} // namespace quillmere
