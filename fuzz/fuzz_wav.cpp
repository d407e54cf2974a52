// Fuzzes the WAV reader: RIFF and RF64 chunks, LIST/INFO texts and the id3 chunk.

#include "audio/wav_reader.h"
#include "audio_checks.h"

#include <clocale>

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    std::setlocale(LC_ALL, "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return tagrelay::fuzz::checkAudioReader(
        data, size, [](tagrelay::ByteReader& file, const tagrelay::AudioReadOptions& options) {
            return tagrelay::readWav(file, options);
        });
}
