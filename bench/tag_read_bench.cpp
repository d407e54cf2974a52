// Times the tag readers and the audio start search over many tagged MP3 files, read the way
// the walk reads them: one reader with a 64 KiB window per file. Prints the bytes fetched
// and the read calls per file.
//
//     tagrelay_tag_read_bench [files=1000] [audio KiB=256] [cover KiB=24]

#include "mpeg/audio_start.h"
#include "platform/byte_reader.h"
#include "tags/id3v2.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void append(Bytes& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void appendFrame(Bytes& out, std::string_view id, const Bytes& data)
{
    append(out, id);
    const auto size = static_cast<std::uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(size >> shift));
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), data.begin(), data.end());
}

Bytes textData(std::string_view text)
{
    Bytes data{0};
    append(data, text);
    return data;
}

/// A file as taggers leave it: an ID3v2.3 tag with the usual texts, a cover and 2 KB of
/// padding, MPEG audio, and an ID3v1 block.
Bytes typicalFile(int number, std::size_t audioBytes, std::size_t coverBytes)
{
    Bytes frames;
    appendFrame(frames, "TIT2", textData("Title " + std::to_string(number)));
    appendFrame(frames, "TPE1", textData("Some Artist"));
    appendFrame(frames, "TALB", textData("Some Album"));
    appendFrame(frames, "TYER", textData("2001"));
    appendFrame(frames, "TCON", textData("(17)"));
    appendFrame(frames, "TRCK", textData("3/12"));
    Bytes cover{0};
    append(cover, "image/jpeg");
    cover.push_back(0);
    cover.push_back(3);
    cover.push_back(0);
    cover.insert(cover.end(), coverBytes, 0xFF);
    appendFrame(frames, "APIC", cover);
    frames.insert(frames.end(), 2048, 0);

    const auto size = static_cast<std::uint32_t>(frames.size());
    Bytes file{'I', 'D', '3', 3, 0, 0};
    for (int shift = 21; shift >= 0; shift -= 7)
        file.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
    file.insert(file.end(), frames.begin(), frames.end());
    const std::size_t audioStart = file.size();
    file.resize(audioStart + audioBytes, 0x55);
    for (std::size_t at = audioStart; at + 4 <= file.size(); at += 417) {
        file[at] = 0xFF;
        file[at + 1] = 0xFB;
        file[at + 2] = 0x90;
        file[at + 3] = 0x64;
    }
    Bytes block(128, 0);
    block[0] = 'T';
    block[1] = 'A';
    block[2] = 'G';
    block[3] = 'X';
    block[127] = 17;
    file.insert(file.end(), block.begin(), block.end());
    return file;
}

} // namespace

int main(int argc, char** argv)
{
    const int fileCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::size_t audioBytes =
        static_cast<std::size_t>(argc > 2 ? std::atoi(argv[2]) : 256) * 1024;
    const std::size_t coverBytes =
        static_cast<std::size_t>(argc > 3 ? std::atoi(argv[3]) : 24) * 1024;
    char pattern[] = "/tmp/tagrelay-bench-XXXXXX";
    if (fileCount < 1 || ::mkdtemp(pattern) == nullptr) {
        std::fprintf(stderr, "usage: %s [files] [audio KiB] [cover KiB]\n", argv[0]);
        return 1;
    }
    const std::filesystem::path folder(pattern);
    std::vector<std::string> paths;
    for (int i = 0; i < fileCount; ++i) {
        paths.push_back((folder / ("song" + std::to_string(i) + ".mp3")).string());
        const Bytes bytes = typicalFile(i, audioBytes, coverBytes);
        std::ofstream(paths.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    std::uint64_t bytesFetched = 0;
    std::uint64_t readCalls = 0;
    std::int64_t audioStartSum = 0;
    tagrelay::TrackTags facts;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& path : paths) {
        tagrelay::ByteReader file(path, 64 * 1024);
        facts = tagrelay::readTrackTags(file);
        audioStartSum += tagrelay::findAudioStart(file);
        bytesFetched += file.bytesFetched();
        readCalls += file.readCalls();
    }
    const std::chrono::duration<double, std::micro> elapsed =
        std::chrono::steady_clock::now() - start;
    std::filesystem::remove_all(folder);

    const double perFile = static_cast<double>(fileCount);
    std::printf("files %d of %zu bytes (tag %lld bytes)\n", fileCount,
                typicalFile(0, audioBytes, coverBytes).size(),
                static_cast<long long>(audioStartSum / fileCount));
    std::printf("per file: %.1f us, %.0f bytes fetched, %.2f read calls\n",
                elapsed.count() / perFile, static_cast<double>(bytesFetched) / perFile,
                static_cast<double>(readCalls) / perFile);
    std::printf("last file: title \"%s\", genre \"%s\"\n", facts.title.c_str(),
                facts.genre.c_str());
    return 0;
}
