// Fuzzes the movie container reader of the Windows program: AVI chunk lists (nested, cut,
// claiming more than the file holds) and MPEG streams (start codes, PES headers, time stamps
// at either end), on any bytes.

#include "fuzz_input.h"
#include "movie/movie_container.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tagrelay::fuzz::InputFile input;
    tagrelay::ByteReader file(input.hold(data, size));
    const tagrelay::ContainerReading reading = tagrelay::readMovieContainer(file);
    if (reading.facts.has_value() == !reading.refusal.empty())
        tagrelay::fuzz::fail("a reading gives either facts or a reason");
    if (!reading.facts)
        return 0;
    const tagrelay::ContainerFacts& facts = *reading.facts;
    if (facts.frames < 0 || facts.framesPerSecond < 0.0 || facts.width < -1 || facts.height < -1)
        tagrelay::fuzz::fail("a fact out of its range");
    // MPEG sizes are 12-bit fields.
    if (size > 0 && data[0] != 'R' && (facts.width > 4095 || facts.height > 4095))
        tagrelay::fuzz::fail("an MPEG picture larger than its header can say");
    return 0;
}
