#!/usr/bin/python3
"""Makes an MP3 tree shaped like a real collection, for bench/collection/run.py.

    bench/collection/make_collection.py [--files N] [--out DIR] [--pool DIR]
                                        [--distinct-albums K] [--seed S] [--jobs J]

The tree holds artist folders with album folders of about 12 tracks (8 to 16) under them:

- half of the albums VBR from lame -V0, -V2 or -V5 (with the Xing and LAME header lame
  writes), half CBR at 128, 192, 256 or 320 kbit/s (with lame's Info header); a few albums in
  plain stereo or mono, the rest joint stereo, as lame chooses;
- tracks of 1:40 to 8:00, about 4 minutes on average;
- an ID3v2.3 tag on every track (title, artist, album, track number, year, genre, on some
  albums a comment and an album artist; texts in ISO-8859-1 or, on one album in eight,
  UTF-16), padded as taggers pad, and an ID3v1 tag at the end on half of the albums;
- 55 % of the albums carry a 700 x 700 JPEG front cover of 150 to 400 KB in every track's
  tag (photo-like: an ImageMagick plasma with grain; baseline or progressive, 4:2:0 or
  4:4:4), 5 % a PNG front cover, the rest none; every album has a folder.jpg.

Generation stays fast because lame encodes only 8 seconds of audio per album (each album its
own sound and its own encoder settings); a track is that album's frames repeated from a
track-specific starting frame to the track's length, behind a copy of lame's first frame
whose Xing or Info fields (frame count, byte count, seek table, music length and the LAME
header's checksum) are rewritten for the track. So every reader sees what lame's own output
of that length would show: the same frame headers, the same kind of bitrate spread in a VBR
stream, and a header whose counts agree with the stream. Only the LAME header's checksum of
the audio itself is left as lame wrote it for the 8 seconds (no reader here checks it), and
the audio at the joints would decode with a click.

Albums are made once in the pool folder and linked (hard links) into the tree, so trees of
several sizes share them and a tree costs only its folders and links. With --files at most
12 x --distinct-albums (720 by default) every file of the tree is a file of its own; a
larger tree (up to 100 000 files) links the pool's albums again under new artist and album
folder names. Those repeated files cost no disk, and the readers see the same work for them
(a tag and a stream to read), but the second link of a file is already in the page cache
when the first was read: runs over such a tree are warm, whatever the cache was before.
The default tree of 720 files takes about 4 GB.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
from concurrent.futures import ProcessPoolExecutor

CONVERT = "/usr/bin/convert"  # ImageMagick itself, whatever stands first in PATH
SECONDS_PER_SOURCE = 8
SAMPLE_RATE = 44100
SAMPLES_PER_FRAME = 1152  # MPEG 1 layer 3
MOST_FILES = 100_000

# MPEG 1 layer 3 bitrates by the header's index (bits 15..12 of the header word), kbit/s.
BITRATES = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0]
SAMPLE_RATES = [44100, 48000, 32000, 0]

WORDS = """amber anchor autumn velvet harbour silver river northern echo lantern paper
glass winter garden signal broken golden midnight orchard shadow ocean copper
distant static hollow violet thunder quiet electric morning desert crimson
wild neon marble summer falling silent iron crystal ember wander lullaby
satellite meridian harvest horizon cathedral railway"""
WORDS = WORDS.split()
ACCENTED = ["café", "señorita", "über", "déjà vu", "naïve", "façade", "smörgås", "crème"]
FIRST_NAMES = "Marta Jonas Elif Tomasz Ines Ruben Hana Kofi Lena Mateo Saoirse Yuki".split()
LAST_NAMES = "Quell Varga Lindqvist Okafor Moreau Brandt Castell Novak Ferreira Holm".split()
GENRES = ["Rock", "Pop", "Jazz", "Electronic", "Folk", "Blues", "Classical", "Hip-Hop"]
GENRE_NUMBERS = {"Rock": 17, "Pop": 13, "Jazz": 8, "Electronic": 52, "Folk": 80, "Blues": 0,
                 "Classical": 32, "Hip-Hop": 7}


def album_tracks(index):
    """Tracks of album index: 8 to 16; every ten albums hold 120, so 60 albums hold 720."""
    deviation = [0, 3, 1, 4, 2][(index // 2) % 5]
    return 12 + (deviation if index % 2 == 0 else -deviation)


def artist_groups(seed, albums):
    """The artist of each album: runs of 1 to 4 albums by one artist."""
    rng = random.Random(seed)
    groups = []
    artist = 0
    while len(groups) < albums:
        groups += [artist] * rng.choice([1, 1, 2, 2, 3, 4])
        artist += 1
    return groups[:albums]


def artist_name(seed, artist):
    rng = random.Random(seed * 7919 + artist)
    if rng.random() < 0.5:
        return f"{rng.choice(FIRST_NAMES)} {rng.choice(LAST_NAMES)}"
    return "The " + title_words(rng, 2)


def title_words(rng, count):
    words = [rng.choice(WORDS) for _ in range(count)]
    if rng.random() < 0.06:
        words[rng.randrange(count)] = rng.choice(ACCENTED)
    return " ".join(w.capitalize() for w in words)


class Album:
    """What one pool album is made of, all drawn from its own seed."""

    def __init__(self, index, seed, artist):
        rng = random.Random(seed * 1_000_003 + index)
        self.index = index
        self.tracks = album_tracks(index)
        self.artist = artist
        self.is_vbr = index % 2 == 0
        if self.is_vbr:
            self.quality = [0, 2, 5][(index // 2) % 3]
            self.encoder_options = ["-V", str(self.quality)]
        else:
            self.bitrate = [128, 192, 256, 320][(index // 2) % 4]
            self.encoder_options = ["-b", str(self.bitrate), "--cbr"]
        # lame picks joint stereo; a few rips force plain stereo or mono.
        channel_choice = index % 25
        if channel_choice == 7:
            self.encoder_options += ["-m", "m"]
        elif channel_choice in (3, 16):
            self.encoder_options += ["-m", "s"]
        # 11 albums in every 20 carry a JPEG cover, 1 a PNG cover: 55 % and 5 %.
        cover_slot = (index * 11) % 20
        self.cover = "jpeg" if cover_slot < 11 else "png" if cover_slot == 11 else None
        self.is_progressive = rng.random() < 0.2
        self.is_subsampled = rng.random() < 0.5
        self.has_id3v1 = rng.random() < 0.5
        self.is_utf16 = rng.random() < 0.125
        self.has_comment = rng.random() < 0.4
        self.has_album_artist = rng.random() < 0.3
        self.padding = rng.choice([0, 256, 1024, 2048, 4096])
        self.genre = rng.choice(GENRES)
        self.genre_form = rng.choice(["name", "number", "both"])
        self.year = rng.randint(1962, 2024)
        self.title = title_words(rng, rng.randint(1, 4))
        self.track_titles = [title_words(rng, rng.randint(1, 5)) for _ in range(self.tracks)]
        # Lengths around 4 minutes, 1:40 to 8:00.
        self.track_seconds = [min(480, max(100, rng.gauss(240, 70))) for _ in range(self.tracks)]
        # The album's own sound: two voices, a noise floor and their movements.
        self.pitch = rng.uniform(110, 440)
        self.second_pitch = self.pitch * rng.choice([1.25, 1.5, 2.0, 2.5])
        self.noise = rng.uniform(0.02, 0.2)
        self.pulse = rng.uniform(0.3, 3.0)
        self.cover_seed = rng.randrange(1_000_000)
        self.grain = rng.uniform(0.3, 0.8)
        self.cover_quality = rng.randint(88, 93)


def source_frames(album, workdir):
    """Encodes the album's 8 seconds with lame; gives its first (Xing or Info) frame and the
    audio frames behind it."""
    expression = (
        f"0.3*sin(2*PI*({album.pitch:.2f}+8*sin(0.7*t))*t)*(0.6+0.4*sin(2*PI*{album.pulse:.2f}*t))"
        f"+0.15*sin(2*PI*{album.second_pitch:.2f}*t+2*sin(5*t))"
        f"+{album.noise:.3f}*(random(0)*2-1)*(0.5+0.5*sin(2*PI*0.25*t))")
    right = expression.replace("random(0)", "random(1)").replace("*t)*(0.6", "*t+1)*(0.6")
    source = f"aevalsrc=exprs='{expression}|{right}':s={SAMPLE_RATE}:d={SECONDS_PER_SOURCE}"
    mp3 = os.path.join(workdir, "source.mp3")
    synth = subprocess.Popen(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", source, "-f", "wav",
                              "-"], stdout=subprocess.PIPE)
    subprocess.run(["lame", "--quiet", *album.encoder_options, "-", mp3], stdin=synth.stdout,
                   check=True)
    synth.stdout.close()
    if synth.wait() != 0:
        raise RuntimeError("ffmpeg could not make the source sound")
    with open(mp3, "rb") as f:
        data = f.read()
    frames = []
    position = 0
    while position + 4 <= len(data):
        header = struct.unpack(">I", data[position:position + 4])[0]
        if header >> 21 != 0x7FF:
            break
        bitrate = BITRATES[(header >> 12) & 15]
        rate = SAMPLE_RATES[(header >> 10) & 3]
        length = 144_000 * bitrate // rate + ((header >> 9) & 1)
        frames.append(data[position:position + length])
        position += length
    return frames[0], frames[1:]


def crc16(data):
    """CRC-16 with the polynomial 0x8005, reflected, as the LAME header's checksum."""
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def track_stream(first, frames, seconds, start):
    """The MPEG stream of a track: frames from start on, repeated to the track's length, behind
    the first frame with its Xing or Info fields rewritten for them."""
    count = max(1, round(seconds * SAMPLE_RATE / SAMPLES_PER_FRAME))
    sizes = [len(f) for f in frames]
    block = b"".join(frames)
    # Offsets of the frames within one pass of the block, to place the seek table's points.
    offsets = [0]
    for size in sizes:
        offsets.append(offsets[-1] + size)
    cycle = offsets[-1]
    begin = offsets[start % len(frames)]
    end_frame = start % len(frames) + count
    end = (end_frame // len(frames)) * cycle + offsets[end_frame % len(frames)]
    whole_blocks = end // cycle
    audio = (block * (whole_blocks + 1))[begin:end]

    header = bytearray(first)
    mark = max(header.find(b"Xing"), header.find(b"Info"))
    if mark < 0:
        return bytes(header) + audio
    total = len(header) + len(audio)
    flags = struct.unpack(">I", header[mark + 4:mark + 8])[0]
    field = mark + 8
    if flags & 1:
        header[field:field + 4] = struct.pack(">I", count)
        field += 4
    if flags & 2:
        header[field:field + 4] = struct.pack(">I", total)
        field += 4
    if flags & 4:
        for point in range(100):
            frame = start % len(frames) + point * count // 100
            offset = (frame // len(frames)) * cycle + offsets[frame % len(frames)] - begin
            header[field + point] = min(255, (len(header) + offset) * 256 // total)
        field += 100
    if flags & 8:
        field += 4
    if header[field:field + 4] == b"LAME":
        header[field + 28:field + 32] = struct.pack(">I", total)
        header[field + 34:field + 36] = struct.pack(">H", crc16(bytes(header[:field + 34])))
    return bytes(header) + audio


def text_frame(frame_id, text, utf16):
    if utf16:
        body = b"\x01" + b"\xff\xfe" + text.encode("utf-16-le")
    else:
        body = b"\x00" + text.encode("latin-1", "replace")
    return id3_frame(frame_id, body)


def id3_frame(frame_id, body):
    return frame_id.encode() + struct.pack(">I", len(body)) + b"\x00\x00" + body


def syncsafe(value):
    return bytes([(value >> 21) & 0x7F, (value >> 14) & 0x7F, (value >> 7) & 0x7F, value & 0x7F])


def id3v2_tag(album, track, cover_bytes, cover_mime):
    utf16 = album.is_utf16
    genre = {"name": album.genre, "number": f"({GENRE_NUMBERS[album.genre]})",
             "both": f"({GENRE_NUMBERS[album.genre]}){album.genre}"}[album.genre_form]
    frames = [
        text_frame("TIT2", album.track_titles[track], utf16),
        text_frame("TPE1", album.artist, utf16),
        text_frame("TALB", album.title, utf16),
        text_frame("TRCK", f"{track + 1}/{album.tracks}", False),
        text_frame("TYER", str(album.year), False),
        text_frame("TCON", genre, False),
        text_frame("TSSE", "LAME 3.100", False),
    ]
    if album.has_album_artist:
        frames.append(text_frame("TPE2", album.artist, utf16))
    if album.has_comment:
        frames.append(id3_frame("COMM", b"\x00eng\x00" + b"Ripped from the album's CD"))
    if cover_bytes:
        frames.append(id3_frame("APIC", b"\x00" + cover_mime.encode() + b"\x00\x03\x00"
                                + cover_bytes))
    body = b"".join(frames) + b"\x00" * album.padding
    return b"ID3\x03\x00\x00" + syncsafe(len(body)) + body


def id3v1_tag(album, track):
    def field(text, size):
        return text.encode("latin-1", "replace")[:size].ljust(size, b"\x00")

    genre = GENRE_NUMBERS[album.genre]
    return (b"TAG" + field(album.track_titles[track], 30) + field(album.artist, 30)
            + field(album.title, 30) + field(str(album.year), 4) + field("", 28) + b"\x00"
            + bytes([track + 1, genre]))


def make_cover(album, workdir):
    """The album's front cover and its folder.jpg, as (cover bytes, MIME type, folder bytes)."""
    jpeg = os.path.join(workdir, "cover.jpg")
    grain = album.grain
    options = ["-interlace", "JPEG"] if album.is_progressive else []
    options += ["-sampling-factor", "2x2,1x1,1x1" if album.is_subsampled else "1x1,1x1,1x1"]
    for _ in range(8):
        subprocess.run([CONVERT, "-size", "700x700", "-seed", str(album.cover_seed),
                        "plasma:fractal", "-blur", "0x2", "-attenuate", f"{grain:.3f}",
                        "+noise", "Gaussian", *options, "-quality", str(album.cover_quality),
                        jpeg], check=True)
        size = os.path.getsize(jpeg)
        if size < 150_000:
            grain *= 1.4
        elif size > 400_000:
            grain *= 0.7
        else:
            break
    with open(jpeg, "rb") as f:
        jpeg_bytes = f.read()
    if album.cover == "jpeg":
        return jpeg_bytes, "image/jpeg", jpeg_bytes
    if album.cover == "png":
        png = os.path.join(workdir, "cover.png")
        subprocess.run([CONVERT, jpeg, png], check=True)
        with open(png, "rb") as f:
            return f.read(), "image/png", jpeg_bytes
    return None, None, jpeg_bytes


def album_folder(pool, index):
    return os.path.join(pool, f"album{index:05d}")


def make_pool_album(pool, seed, index, artist):
    """Writes one pool album (its tracks as 01.mp3, 02.mp3, ... and folder.jpg) unless it is
    there already."""
    folder = album_folder(pool, index)
    if os.path.exists(os.path.join(folder, ".complete")):
        return
    album = Album(index, seed, artist)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with tempfile.TemporaryDirectory() as workdir:
        first, frames = source_frames(album, workdir)
        cover_bytes, cover_mime, folder_bytes = make_cover(album, workdir)
    with open(os.path.join(folder, "folder.jpg"), "wb") as f:
        f.write(folder_bytes)
    for track in range(album.tracks):
        stream = track_stream(first, frames, album.track_seconds[track], track * 37)
        with open(os.path.join(folder, f"{track + 1:02d}.mp3"), "wb") as f:
            f.write(id3v2_tag(album, track, cover_bytes, cover_mime))
            f.write(stream)
            if album.has_id3v1:
                f.write(id3v1_tag(album, track))
    open(os.path.join(folder, ".complete"), "w").close()


def safe_name(text):
    return text.replace("/", "-").strip(". ") or "untitled"


def link_tree(out, pool, seed, files, distinct):
    """Links the pool's albums into artist and album folders under out, album after album
    until the tree holds files tracks: the tree's album a is the pool's album a modulo
    distinct, its first round under the album's own names, later rounds under numbered ones."""
    os.makedirs(out)
    linked = 0
    album_index = 0
    groups = artist_groups(seed, distinct)
    while linked < files:
        index = album_index % distinct
        round_number = album_index // distinct
        album = Album(index, seed, artist_name(seed, groups[index]))
        suffix = f" ({round_number + 1})" if round_number > 0 else ""
        folder = os.path.join(out, safe_name(album.artist) + suffix,
                              f"{album.year} - {safe_name(album.title)}")
        while os.path.exists(folder):
            folder += "_"
        os.makedirs(folder)
        source = album_folder(pool, index)
        os.link(os.path.join(source, "folder.jpg"), os.path.join(folder, "folder.jpg"))
        for track in range(min(album.tracks, files - linked)):
            name = f"{track + 1:02d} - {safe_name(album.track_titles[track])}.mp3"
            os.link(os.path.join(source, f"{track + 1:02d}.mp3"), os.path.join(folder, name))
            linked += 1
        album_index += 1


def albums_for(files):
    """How many albums a tree of files tracks takes."""
    albums = 0
    while files > 0:
        files -= album_tracks(albums)
        albums += 1
    return albums


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=720, help="MP3 files in the tree")
    parser.add_argument("--out", help="the tree (default /tmp/tagrelay-collection/files-N)")
    parser.add_argument("--pool", default="/tmp/tagrelay-collection/pool",
                        help="where the albums are made once (same file system as the tree)")
    parser.add_argument("--distinct-albums", type=int, default=60,
                        help="albums made; a larger tree links them again")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    if not 1 <= args.files <= MOST_FILES:
        sys.exit(f"--files must be 1 to {MOST_FILES}")
    out = args.out or f"/tmp/tagrelay-collection/files-{args.files}"
    if os.path.exists(out + ".complete"):
        print(out)
        return
    distinct = min(albums_for(args.files), args.distinct_albums)
    groups = artist_groups(args.seed, distinct)
    os.makedirs(args.pool, exist_ok=True)
    with ProcessPoolExecutor(max_workers=args.jobs) as workers:
        jobs = [workers.submit(make_pool_album, args.pool, args.seed, index,
                               artist_name(args.seed, groups[index]))
                for index in range(distinct)]
        for done, job in enumerate(jobs, 1):
            job.result()
            print(f"\ralbums made: {done}/{distinct}", end="", file=sys.stderr, flush=True)
    print(file=sys.stderr)
    shutil.rmtree(out, ignore_errors=True)
    link_tree(out, args.pool, args.seed, args.files, distinct)
    # Outside the tree, so no walker meets it.
    open(out + ".complete", "w").close()
    print(out)


if __name__ == "__main__":
    main()
