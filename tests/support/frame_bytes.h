#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay::test {

enum class Mpeg { V1, V2, V25 };
enum class Channels { Stereo = 0, JointStereo = 1, DualChannel = 2, Mono = 3 };
enum class InfoTag { Xing, Info, Vbri };

/// One MPEG audio frame as an encoder writes it. The bitrate and the rate must be ones the
/// version and layer allow; kbps 0 writes the free-format index.
struct FrameSpec
{
    Mpeg version = Mpeg::V1;
    int layer = 3;
    int kbps = 128;
    int rate = 44100;
    Channels channels = Channels::JointStereo;
    bool padding = false;
    bool crc = false; // protection bit clear: a 16-bit CRC follows the header
};

/// The four header bytes of a frame (mode extension, copyright and emphasis 0, original 1).
std::array<std::uint8_t, 4> frameHeader(const FrameSpec& frameSpec);

/// Bytes from the start of the frame to the start of the next one: samples per frame ÷ 8 ×
/// bitrate ÷ rate, counted in whole slots (4 bytes in layer 1, else 1) plus the padding slot.
std::int64_t frameLength(const FrameSpec& frameSpec);

/// Builds MP3 file contents: frames are their four header bytes and a zero payload of the
/// frame's length, so the only sync pairs in a stream are its headers.
class FrameStream
{
  public:
    /// An ID3v2.3 tag holding one TIT2 frame, followed by `padding` zero bytes.
    FrameStream& id3v2Tag(const std::string& title, std::size_t padding = 0);
    FrameStream& raw(const std::vector<std::uint8_t>& bytes);
    FrameStream& frame(const FrameSpec& frameSpec);
    FrameStream& frames(int count, const FrameSpec& frameSpec);
    /// count frames whose padding bits keep the exact bitrate on average, as encoders set them
    /// (at 44100 Hz most frames are one byte longer or shorter than the next).
    FrameStream& paddedFrames(int count, FrameSpec frameSpec);
    /// One frame per entry of kbps, all else as in frameSpec.
    FrameStream& bitrates(const std::vector<int>& kbps, const FrameSpec& frameSpec);
    /// A frame whose header is given as bytes, with the payload of frameSpec's length.
    FrameStream& rawHeaderFrame(const std::array<std::uint8_t, 4>& header,
                                const FrameSpec& frameSpec);
    /// An encoder's information frame: the tag's name where readers look for it ("Xing" and
    /// "Info" behind the side information, "VBRI" at offset 36).
    FrameStream& infoFrame(InfoTag tag, const FrameSpec& frameSpec);
    /// A frame cut after `keep` bytes (header included), as at the end of an interrupted copy.
    FrameStream& truncatedFrame(const FrameSpec& frameSpec, std::int64_t keep);
    /// Overwrites one byte already written (a header bit, say).
    FrameStream& setByte(std::size_t offset, std::uint8_t value);
    /// A 128-byte ID3v1 block starting with `magic` ("TAG" for a real one).
    FrameStream& id3v1Tag(const std::string& magic = "TAG");

    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    std::int64_t size() const { return static_cast<std::int64_t>(m_bytes.size()); }

  private:
    std::vector<std::uint8_t> m_bytes;
};

/// A 16-bit PCM WAV file's bytes: a sine tone mixed, in every other half second, with loud
/// noise, so that an encoder's bitrate varies with the content.
std::vector<std::uint8_t> toneWithNoiseWav(int rate, int channels, double seconds);

} // namespace tagrelay::test
