#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tagrelay {

/// The file descriptor on which the worker finds its end of the connection.
inline constexpr int movieWorkerSocketFd = 3;
/// The first argument the worker expects, so that it never runs by accident.
inline constexpr const char* movieWorkerServeArgument = "--serve";
/// The second: whether the worker plays movies in real time for the program to show, or plays
/// them all unseen. Either way it opens no display and gets no network at all.
inline constexpr const char* movieWorkerWindowArgument = "--window";
inline constexpr const char* movieWorkerUnseenArgument = "--unseen";

// The messages between the program and its movie worker. Every message is one frame:
//
//   byte 0       kind (MessageKind)
//   bytes 1..2   payload length, little-endian, at most maxPayload
//   bytes 3..    payload, laid out per kind (integers little-endian):
//
//   Ready     u32 protocol version, u8 confinement     worker → program, once at start
//             (the layers in force, worker_sandbox.h)
//   Load      (empty; the movie file's open descriptor   program → worker
//             rides with it as SCM_RIGHTS)
//   Play      u8 shown (0: unseen; 1: in real time,     program → worker
//             each new picture copied into the picture
//             buffer riding with it as SCM_RIGHTS)
//   Status    i64 stream ms (-1: now)                   program → worker
//   Stop      (empty)                                   program → worker
//   Free      (empty)                                   program → worker
//   Quit      (empty)                                   program → worker
//   Loaded    i32 width, i32 height, i64 length         worker → program
//   Refused   reason text (0..maxReasonBytes, no zero)  worker → program
//   Position  i32 frame, i64 clock ms, i64 until ms,    worker → program
//             u8 flags
//   Done      (empty)                                   worker → program
//   Picture   u32 sequence, i32 width, i32 height,       worker → program
//             i32 stride, i64 time stamp ns             (before a Position)
//
// The worker never opens a file by name: the program opens each movie and hands it over.
//
// A movie that is shown runs in real time, and Status asks for the frame shown now. Its pictures
// come as 32-bit pixels (bytes blue, green, red, unused) at the movie's size in a buffer the
// program makes, sizes and seals before it hands it over with Play (pictureBufferBytes): the
// worker writes a new picture into it only while it answers a Status, and says so with a
// Picture message right before the Position. The program checks each Picture against the
// movie's size and the buffer it made (fitsPictureBuffer) before it reads a byte. A
// movie played unseen runs only as far as it is asked: Status asks for the frame shown at a
// moment of the stream (milliseconds after its first picture), the worker decodes up to it,
// and the answer holds that frame and the moment up to which (exclusive) the frame stays the
// same, so the program need not ask again before then.
//
// A frame whose kind is unknown, whose length exceeds maxPayload or whose payload does not fit
// its kind makes the whole stream unusable: the reader stops and says so.

inline constexpr std::uint32_t movieProtocolVersion = 5;
/// Status at this moment: the frame shown now.
inline constexpr std::int64_t statusNow = -1;
inline constexpr std::size_t maxReasonBytes = 200;
inline constexpr std::size_t maxPayload = 256;
inline constexpr std::size_t frameHeaderBytes = 3;

enum class MessageKind : std::uint8_t {
    Ready = 0x01,
    Load = 0x02,
    Play = 0x03,
    Status = 0x04,
    Stop = 0x05,
    Free = 0x06,
    Quit = 0x07,
    Loaded = 0x81,
    Refused = 0x82,
    Position = 0x83,
    Done = 0x84,
    Picture = 0x85,
};

/// Bytes per pixel of a shown picture.
inline constexpr std::int64_t picturePixelBytes = 4;
/// The largest picture the program shows (a larger movie plays unseen): 4096 x 4096.
inline constexpr std::int32_t maxPictureSide = 4096;

/// Position flags: bit 0 set when the movie has reached its end (and was stopped).
inline constexpr std::uint8_t positionEnded = 0x01;

/// One message. Only the fields of its kind carry meaning; the others stay at their defaults.
struct MovieMessage
{
    MessageKind kind = MessageKind::Done;
    std::uint32_t version = 0;    // Ready
    std::uint8_t confinement = 0; // Ready
    std::string text;             // Refused: the reason
    std::uint8_t shown = 0;       // Play
    std::int64_t atMs = 0;        // Status: the moment asked for, or statusNow
    std::int32_t width = 0;       // Loaded
    std::int32_t height = 0;      // Loaded
    std::int64_t length = 0;      // Loaded: frames
    std::int32_t frame = 0;       // Position
    std::int64_t clockMs = 0;     // Position: the movie's own clock
    std::int64_t untilMs = 0;     // Position: the frame holds until then; 0: unknown
    std::uint8_t flags = 0;       // Position
    std::uint32_t sequence = 0;   // Picture: counts the pictures of a play from 1
    std::int32_t stride = 0;      // Picture: bytes from one row to the next (width, height
                                  // above)
    std::int64_t timestampNs = 0; // Picture: the picture's time in the stream

    friend bool operator==(const MovieMessage&, const MovieMessage&) = default;
};

/// A message of the kind with every field at its default.
inline MovieMessage messageOf(MessageKind kind)
{
    MovieMessage message;
    message.kind = kind;
    return message;
}

/// The frame for a message. A reason that is too long is cut to its limit, one with a zero
/// byte is cut at it.
[[nodiscard]] std::vector<std::uint8_t> encodeMessage(const MovieMessage& message);

/// Decodes one payload of the given kind byte; nothing when the kind is unknown or the payload
/// does not have the layout of its kind.
[[nodiscard]] std::optional<MovieMessage> decodePayload(std::uint8_t kind,
                                                        std::span<const std::uint8_t> payload);

/// The bytes of the picture buffer for a movie of the size; 0 when the program shows no movie
/// of that size (none is shown then).
[[nodiscard]] std::size_t pictureBufferBytes(std::int32_t width, std::int32_t height);

/// Whether a Picture lies wholly inside a picture buffer of bufferBytes for a movie of the
/// size: the size is the movie's, a row holds the width and the rows fit the buffer. Checked
/// before a byte of the buffer is read, whatever the worker sends.
[[nodiscard]] bool fitsPictureBuffer(const MovieMessage& picture, std::int32_t width,
                                     std::int32_t height, std::size_t bufferBytes);

/// Cuts a stream of bytes into messages. Bytes arrive in pieces of any size; a message is
/// taken once its whole frame is there. A frame's length is checked as soon as its header is
/// in, so a reader that is drained after each piece holds at most one piece and one frame.
class MessageReader
{
  public:
    /// Adds received bytes. Once the stream was found broken, further bytes are dropped.
    void feed(std::span<const std::uint8_t> bytes);
    /// The next complete message, or nothing (more bytes are needed, or the stream is broken).
    [[nodiscard]] std::optional<MovieMessage> next();
    /// True once a frame was malformed; the stream cannot be resynchronised after that.
    bool isBroken() const { return m_broken; }
    /// Bytes held back for an incomplete frame.
    std::size_t pendingBytes() const { return m_buffer.size() - m_start; }

  private:
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_start = 0;
    bool m_broken = false;
};

} // namespace tagrelay
