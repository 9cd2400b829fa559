// Mutated pictures, and now and then a mutated tile set, through the decoder and the encoder:
// each must be written or refused in words, never crash, hang or read out of bounds (the
// sanitizer build runs this under AddressSanitizer and UndefinedBehaviorSanitizer).

#include "picture.h"
#include "picture_files.h"
#include "tile_set.h"
#include "tile_set_encode.h"

#include <chrono>
#include <gtest/gtest.h>
#include <iostream>
#include <random>

namespace quillmere {
namespace {

using testing::bmpOf;
using testing::BmpOptions;
using testing::Bytes;
using testing::PixelGrid;
using testing::pngOf;

constexpr std::uint32_t kWidth = 13; // odd, so that rows have padding and half bytes
constexpr std::uint32_t kHeight = 6;

std::vector<Bytes> seedPictures() {
    const PixelGrid grid = PixelGrid::tiles(kWidth, kHeight);
    const PixelGrid two = PixelGrid::tiles(kWidth, kHeight, 2);
    std::vector<Bytes> seeds{bmpOf(two, {40, 1}),
                             bmpOf(grid, {12, 8}),
                             bmpOf(grid, {40, 4}),
                             bmpOf(grid, {40, 8, 0, true}),
                             bmpOf(grid, {40, 8, 1}),
                             bmpOf(grid, {40, 4, 2}),
                             bmpOf(grid, {40, 16}),
                             bmpOf(grid, {56, 16, 3}),
                             bmpOf(grid, {108, 24}),
                             bmpOf(grid, {52, 32, 3}),
                             bmpOf(grid, {124, 32, 0}),
                             pngOf(grid, 2),
                             pngOf(grid, 3),
                             pngOf(grid, 6)};
    return seeds;
}

// Tile sets of the seeds' size, 24 bits and 8, padded to a tile set's length.
std::vector<Bytes> seedTileSets() {
    std::vector<Bytes> tileSets{bmpOf(PixelGrid::tiles(kWidth, kHeight), {40, 24}),
                                bmpOf(PixelGrid::tiles(kWidth, kHeight), {40, 8})};
    for (auto& tileSet : tileSets)
        tileSet.resize(kTileSetLength, 0x5A);
    return tileSets;
}

// Every chunk's CRC made right again, so that the mutation reaches the PNG decoder.
void fixChunkCrcs(Bytes& png) {
    for (std::size_t at = 8; png.size() >= at + 12;) {
        const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                                   std::size_t{png[at + 2]} << 8 | png[at + 3];
        if (length > png.size() - at - 12)
            return;
        const std::uint32_t crc = testing::crc32Of(&png[at + 4], length + 4);
        for (std::size_t i = 0; i < 4; ++i)
            png[at + 8 + length + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

// A few edits: a bit flipped, a byte or a 32-bit field made random or extreme, or bytes cut
// off, put in or taken out.
void mutate(Bytes& bytes, std::mt19937& random, std::size_t within) {
    constexpr std::uint32_t kExtremes[] = {
        0, 1, 0x7F, 0x80, 0xFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 12, 40, 124, 256};
    const auto pick = [&random](std::size_t below) {
        return static_cast<std::size_t>(random() % std::max<std::size_t>(below, 1));
    };
    for (std::size_t edit = 1 + pick(6); edit-- > 0 && !bytes.empty();) {
        const std::size_t at = pick(std::min(within, bytes.size()));
        const auto first = bytes.begin() + static_cast<long>(at);
        const std::uint32_t value = pick(2) == 0 ? kExtremes[pick(std::size(kExtremes))]
                                                 : static_cast<std::uint32_t>(random());
        switch (pick(5)) {
        case 0:
            bytes[at] = static_cast<unsigned char>(bytes[at] ^ (1u << pick(8)));
            break;
        case 1:
            for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
                bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
            break;
        case 2:
            bytes.resize(at);
            break;
        case 3:
            bytes.insert(first, pick(16) + 1, static_cast<unsigned char>(value));
            break;
        default:
            bytes.erase(first,
                        first + static_cast<long>(std::min(bytes.size() - at, pick(16) + 1)));
            break;
        }
    }
}

std::span<const std::byte> asBytes(const Bytes& bytes) {
    return std::as_bytes(std::span(bytes));
}

TEST(PictureFuzz, EveryMutatedPictureIsWrittenOrRefusedInWords) {
    const std::vector<Bytes> pictures = seedPictures();
    const std::vector<Bytes> tileSets = seedTileSets();
    std::mt19937 random(20);
    std::size_t written = 0, refused = 0, ran = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto budget = std::chrono::seconds(QUILLMERE_FUZZ_SECONDS);
    for (; ran < QUILLMERE_FUZZ_FILES; ++ran) {
        if (ran % 1024 == 0 && std::chrono::steady_clock::now() - start > budget)
            break;
        Bytes picture = pictures[ran % pictures.size()];
        Bytes tileSet = tileSets[(ran / pictures.size()) % tileSets.size()];
        if (random() % 8 == 0)
            mutate(tileSet, random, 200); // the header and palette
        else
            mutate(picture, random, picture.size());
        if (picture.size() > 8 && picture[1] == 'P' && random() % 4 != 0)
            fixChunkCrcs(picture);

        const auto result = encodeTileSet(asBytes(tileSet), asBytes(picture));
        if (const auto* problem = std::get_if<TileSetProblem>(&result)) {
            ++refused;
            const bool needsReason = problem->kind == TileSetRefusal::Unreadable ||
                                     problem->kind == TileSetRefusal::MapLayout;
            ASSERT_FALSE(needsReason && problem->reason.empty())
                << "file " << ran << " has no reason";
        } else {
            ++written;
            ASSERT_EQ(std::get<std::vector<std::byte>>(result).size(), tileSet.size());
        }
    }
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "Fuzzed " << ran << " files in " << seconds << " s: " << written << " written, "
              << refused << " refused\n";
    EXPECT_GT(written, ran / 100) << "the mutations should leave some pictures whole";
}

} // namespace
} // namespace quillmere
