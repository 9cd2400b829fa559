#include "conversions.h"

#include "result_wording.h"
#include "tile_set.h"

#include <set>

namespace quillmere::cli {
namespace {

constexpr std::string_view kProgram = "quillmere-tiles";
constexpr std::string_view kClearLine = "\r\033[K";

#ifdef _WIN32
// Windows file names ignore case, so "A.BMP" and "a.BMP" are one output there.
std::string outputKey(std::string path) {
    for (auto& c : path)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return path;
}
#else
std::string outputKey(std::string path) {
    return path;
}
#endif

void report(const TileSetResult& result, const std::string& map, const std::string& output,
            std::ostream& out, std::ostream& err) {
    const ResultMessage message = describeResult(result, map, output);
    if (message.style == MessageStyle::Information)
        out << completionTitle(map, output) << ": " << message.prompt << '\n';
    else
        err << kProgram << ": " << completionTitle(map, output) << ": " << message.prompt << '\n';
}

int convertMany(const Invocation& invocation, std::ostream& out, std::ostream& err,
                bool showProgress) {
    std::set<std::string> written;
    const std::size_t total = invocation.paths.size();
    bool anyFailed = false;
    for (std::size_t index = 0; index < total; ++index) {
        const std::string& map = invocation.paths[index];
        const std::string output = outputPathFor(invocation.outputFolder, map);
        if (showProgress)
            err << kClearLine << kProgram << ": " << index + 1 << " of " << total << ": " << map
                << std::flush;

        TileSetResult result;
        if (written.contains(outputKey(output)))
            result = TileSetResult::failed(FileRole::Output, {},
                                           "an earlier map in this run wrote it already");
        else
            result = RipBMP(map, output);
        if (result.outcome == TileSetOutcome::Failed)
            anyFailed = true;
        else
            written.insert(outputKey(output));

        if (showProgress)
            err << kClearLine << std::flush;
        report(result, map, output, out, err);
    }
    return anyFailed ? 1 : 0;
}

} // namespace

int runConversions(const Invocation& invocation, std::ostream& out, std::ostream& err,
                   bool showProgress) {
    if (invocation.action == Action::ConvertMany)
        return convertMany(invocation, out, err, showProgress);
    const std::string& map = invocation.paths.at(0);
    const std::string& output = invocation.paths.at(1);
    const TileSetResult result = RipBMP(map, output);
    report(result, map, output, out, err);
    return result.outcome == TileSetOutcome::Failed ? 1 : 0;
}

} // namespace quillmere::cli
