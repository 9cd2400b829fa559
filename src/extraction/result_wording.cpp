#include "result_wording.h"

namespace quillmere {
namespace {

// A failure after the rename: the new file is there, and what could not be done follows.
std::string inPlacePrompt(std::string_view what, std::string_view path, const std::string& step,
                          const std::string& reason) {
    std::string prompt = "The new ";
    prompt += what;
    prompt += " is in place in \"";
    prompt += path;
    prompt += "\", but it may not survive a power loss: " + step + ": " + reason + '.';
    return prompt;
}

std::string failurePrompt(const TileSetResult& result, std::string_view path) {
    const bool map = result.failedFile == FileRole::Map;
    if (result.outputReplaced)
        return inPlacePrompt("tile set", path, result.failedStep, result.reason);
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

std::string quoted(std::string_view path) {
    std::string text(1, '"');
    text += path;
    text += '"';
    return text;
}

std::string bytesCount(std::uint64_t count) {
    return groupedDigits(count) + (count == 1 ? " byte" : " bytes");
}

std::string putRefusalPrompt(const PutResult& result, const std::string& tileSet,
                             const std::string& map) {
    const std::string whole = groupedDigits(kTileSetLength);
    switch (result.refusal) {
    case PutRefusal::SameFile:
        return "The tile set " + tileSet + " and the map file " + map + " are the same file.";
    case PutRefusal::TileSetLength:
        return "The tile set " + tileSet + " has " + bytesCount(result.length) + ", not the " +
               whole + " of a map's tile set.";
    case PutRefusal::TileSetNotBitmap:
        return "The tile set " + tileSet + " is not a .bmp file: it does not start with \"BM\".";
    case PutRefusal::MapTooShort:
        return "The map file " + map + " has only " + bytesCount(result.length) +
               ", fewer than the " + whole + " of the tile set it starts with.";
    case PutRefusal::MapNotBitmap:
        return "The map file " + map +
               " does not start with a tile set: its first bytes are not \"BM\", as a .bmp "
               "file's are.";
    case PutRefusal::LayoutDiffers:
        return "The tile set " + tileSet + " is not laid out like the one in the map file " + map +
               ": its " + std::string(result.field) + " is " + std::to_string(result.tileSetValue) +
               ", the map's is " + std::to_string(result.mapValue) + ".";
    case PutRefusal::None:
        break;
    }
    return {};
}

std::string putFailurePrompt(const PutResult& result, std::string_view path) {
    const bool map = result.file == PutFile::Map;
    if (result.mapReplaced)
        return inPlacePrompt("map", path, result.failedStep, result.reason);
    if (path.empty())
        return map ? "No map file was given: the map path is empty."
                   : "No tile set file was given: the tile set path is empty.";
    std::string prompt = result.replacing ? "Could not write the map file "
                         : map            ? "Could not read the map file "
                                          : "Could not read the tile set ";
    prompt += quoted(path);
    if (!result.failedStep.empty())
        prompt += ' ' + result.failedStep;
    prompt += ": " + result.reason + '.';
    if (result.replacing)
        prompt += " The map file is as it was.";
    return prompt;
}

// The other names of a replaced output still lead to the old file, as a rename leaves them.
std::string otherNamesNote(std::uint64_t otherNames, std::string_view outputPath,
                           std::string_view oldContent = "tile set") {
    std::string note = " The old \"";
    note += outputPath;
    note += "\" had ";
    if (otherNames == 1)
        note += "1 other name (a hard link), which still holds the old ";
    else
        note += groupedDigits(otherNames) + " other names (hard links), which still hold the old ";
    note += oldContent;
    note += '.';
    return note;
}

void appendEscape(std::string& shown, unsigned char control) {
    constexpr std::string_view kLetters = "abtnvfr"; // for the controls 7 to 13
    shown += '\\';
    if (control >= '\a' && control <= '\r') {
        shown += kLetters[static_cast<std::size_t>(control - '\a')];
        return;
    }
    for (const int shift : {6, 3, 0})
        shown += static_cast<char>('0' + ((control >> shift) & 7));
}

} // namespace

std::string describePut(const PutResult& result, std::string_view tileSetPath,
                        std::string_view mapPath) {
    switch (result.outcome) {
    case PutOutcome::Complete:
        if (result.otherNames > 0)
            return std::string(kCompletePrompt) + otherNamesNote(result.otherNames, mapPath, "map");
        return std::string(kCompletePrompt);
    case PutOutcome::Refused:
        return putRefusalPrompt(result, quoted(tileSetPath), quoted(mapPath));
    case PutOutcome::MapChanged:
        return "The map file " + quoted(mapPath) +
               " changed while the tile set was being put into it, so it was left alone; run "
               "again to put the tile set into the map as it is now.";
    case PutOutcome::Failed:
        break;
    }
    return putFailurePrompt(result, result.file == PutFile::Map ? mapPath : tileSetPath);
}

std::string visibleName(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t at = 0; at < name.size(); ++at) {
        const auto byte = static_cast<unsigned char>(name[at]);
        // U+0080 to U+009F are 0xC2 0x80 to 0xC2 0x9F in UTF-8.
        const bool c1Control = byte == 0xC2 && at + 1 < name.size() &&
                               (static_cast<unsigned char>(name[at + 1]) & 0xE0) == 0x80;
        if (byte >= 0x20 && byte != 0x7F && !c1Control) {
            shown += name[at];
            continue;
        }
        appendEscape(shown, byte);
        if (c1Control)
            appendEscape(shown, static_cast<unsigned char>(name[++at]));
    }
    return shown;
}

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
