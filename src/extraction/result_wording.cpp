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

// The other names of a replaced output still lead to the old file, as a rename leaves them.
std::string otherNamesNote(std::uint64_t otherNames, std::string_view outputPath) {
    std::string note = " The old \"";
    note += outputPath;
    note += "\" had ";
    if (otherNames == 1)
        return note + "1 other name (a hard link), which still holds the old tile set.";
    return note + groupedDigits(otherNames) +
           " other names (hard links), which still hold the old tile set.";
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
    std::string prompt;
    switch (result.outcome) {
    case TileSetOutcome::Complete:
        prompt = kCompletePrompt;
        break;
    case TileSetOutcome::ShortMap:
        prompt = shortMapPrompt(result.mapBytes);
        break;
    case TileSetOutcome::Failed:
        return failurePrompt(result, result.failedFile == FileRole::Map ? mapPath : outputPath);
    }
    if (result.outputOtherNames > 0)
        prompt += otherNamesNote(result.outputOtherNames, outputPath);
    return prompt;
}

bool deservesWarning(const TileSetResult& result) {
    return result.outcome == TileSetOutcome::ShortMap ||
           (result.outcome == TileSetOutcome::Complete && result.outputOtherNames > 0);
}

std::string groupedDigits(std::size_t number) {
    std::string digits = std::to_string(number);
    for (auto at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

} // namespace quillmere
