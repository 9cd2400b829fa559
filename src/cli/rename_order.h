#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace quillmere::cli {

// Which maps of a batch must rename in the maps' order, decided from the outputs' names before
// any map is converted, so that only the maps whose outputs can collide wait for others. Two
// outputs collide when their names fold to one (files::foldedCase): equal names, or names a
// folder that ignores case takes for one. A map whose output collides with another's renames
// once every earlier map is done, so that the earliest of them keeps the name; every other map
// at once. What it keeps is two bits a map; four bytes a map for a moment while it is decided.
class RenameOrder {
public:
    using NameOf = std::function<std::string(std::size_t)>;

    // `nameOf(index)`, the output's name in its folder, for each index below `count`.
    RenameOrder(std::size_t count, const NameOf& nameOf);

    // Whether map `index` renames only once every earlier map is done.
    bool waits(std::size_t index) const { return waits_[index]; }
    // Whether another output's name folds to this one's but is spelled otherwise: only then is
    // the folder asked whether it takes the two for one file.
    bool hasTwinSpelledOtherwise(std::size_t index) const { return twins_[index]; }

private:
    std::vector<bool> waits_;
    std::vector<bool> twins_;
};

} // namespace quillmere::cli
