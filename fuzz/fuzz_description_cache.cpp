// Fuzzes the error entries as the description cache keeps them: decoding whatever a damaged
// database may hold, and encoding any entries and path so that decoding gives them back.
//
// Input: one byte for the length of the path, the path, then the bytes. The bytes are decoded
// as stored entries; split at each byte 0xFF they are also a list of entries to encode.

#include "cache/description_cache_record.h"
#include "fuzz_input.h"

#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t pathLength = std::min<std::size_t>(data[0], input.size());
    const std::string_view path = input.substr(0, pathLength);
    const std::string_view bytes = input.substr(pathLength);

    if (const auto decoded = tagrelay::decodeErrorEntries(bytes, path)) {
        std::size_t ends = 0;
        for (const char c : bytes)
            ends += c == '\0' ? 1 : 0;
        if (decoded->size() != ends)
            tagrelay::fuzz::fail("an entry was decoded that has no end, or one was lost");
    }

    std::vector<std::string> entries;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= bytes.size(); ++at) {
        if (at == bytes.size() || bytes[at] == '\xff') {
            entries.emplace_back(bytes.substr(start, at - start));
            start = at + 1;
        }
    }
    if (const auto encoded = tagrelay::encodeErrorEntries(entries, path)) {
        if (tagrelay::decodeErrorEntries(*encoded, path) != entries)
            tagrelay::fuzz::fail("encoded entries did not decode to themselves");
    }
    return 0;
}
