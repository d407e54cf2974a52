#!/bin/sh
# Regenerates the seed inputs in seeds/ from a short generated tone: MP3 files from lame, tagged
# with id3v2 (ID3v2.3 and ID3v1), mid3v2 (ID3v2.4) and mutagen (ID3v2.3 with UTF-16 texts),
# and a few settings files. Needs lame, id3v2 and python3-mutagen.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# tone.wav: seconds of a 440 Hz sine, 16-bit mono at the given rate.
tone() {
    /usr/bin/python3 - "$1" "$2" "$3" <<'PY'
import math, struct, sys, wave
path, rate, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
with wave.open(path, "wb") as out:
    out.setnchannels(1)
    out.setsampwidth(2)
    out.setframerate(rate)
    count = int(rate * seconds)
    out.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440 * i / rate)))
                             for i in range(count)))
PY
}

tone "$work/44k.wav" 44100 0.25
tone "$work/8k.wav" 8000 8
lame() { command lame --quiet --noreplaygain "$@"; }

rm -rf seeds
mkdir -p seeds/tags seeds/frames seeds/settings

# Frames: CBR with its Info frame, VBR with its Xing frame, CRC-protected, MPEG 2 and an
# MPEG 2.5 stream of more than 100 frames (long enough for the early CBR decision).
lame -b 128 "$work/44k.wav" seeds/frames/cbr_128k_mpeg1.mp3
lame -V 2 --vbr-new "$work/44k.wav" seeds/frames/vbr_mpeg1_xing.mp3
lame -b 64 -p -m m "$work/44k.wav" seeds/frames/cbr_64k_mono_crc.mp3
lame -b 32 --resample 22.05 "$work/44k.wav" seeds/frames/cbr_32k_mpeg2.mp3
lame -b 8 -t "$work/8k.wav" seeds/frames/cbr_8k_mpeg25_long.mp3
lame -b 8 -t "$work/8k.wav" "$work/plain.mp3"
head -c 6000 "$work/plain.mp3" > seeds/frames/cut_mid_frame.mp3
cp seeds/frames/cbr_64k_mono_crc.mp3 seeds/frames/tagged_v23_v1.mp3
id3v2 -a "Artist" -t "Title" -A "Album" -y 2001 -g 17 -T 3 seeds/frames/tagged_v23_v1.mp3

# Tags: each on a few frames of audio.
lame -b 32 --resample 22.05 "$work/44k.wav" "$work/short.mp3"
cp "$work/short.mp3" seeds/tags/no_tag.mp3
cp "$work/short.mp3" seeds/tags/id3v1_only.mp3
id3v2 -1 -a "Artist One" -t "Title One" -A "Album" -y 1999 -g 13 -T 7 seeds/tags/id3v1_only.mp3
cp "$work/short.mp3" seeds/tags/id3v23_and_v1.mp3
id3v2 -a "Artist" -t "Title" -A "Album" -y 2001 -g 17 -T 3/12 --TCOP "2001 Someone" \
    seeds/tags/id3v23_and_v1.mp3
cp "$work/short.mp3" seeds/tags/id3v24_utf8.mp3
mid3v2 -a "Künstler" -t "Titel ☃" -A "Album" -y 2004 -g Rock -T 1/2 seeds/tags/id3v24_utf8.mp3
/usr/bin/python3 - "$work/short.mp3" seeds/tags/id3v23_utf16_picture.mp3 <<'PY'
import shutil, sys
from mutagen.id3 import ID3, APIC, TALB, TCON, TCOP, TIT2, TPE1, TRCK, TYER, WXXX
shutil.copy(sys.argv[1], sys.argv[2])
tag = ID3()
tag.add(TIT2(encoding=1, text="Tïtel ☃"))
tag.add(TPE1(encoding=1, text="Künstler"))
tag.add(TALB(encoding=0, text="Älbum"))
tag.add(TYER(encoding=0, text="2003"))
tag.add(TCON(encoding=0, text="(17)"))
tag.add(TCOP(encoding=1, text="2003 Someone"))
tag.add(TRCK(encoding=0, text="4/9"))
tag.add(WXXX(encoding=0, desc="Link", url="http://example.org/"))
tag.add(APIC(encoding=0, mime="image/png", type=3, desc="cover",
             data=bytes.fromhex("89504e470d0a1a0a0000000d49484452000000010000000108020000"
                                "00907753de0000000c4944415408d763f8cfc000000301010018dd8d"
                                "b00000000049454e44ae426082")))
tag.save(sys.argv[2], v2_version=3, padding=lambda info: 64)
PY
cp "$work/short.mp3" seeds/tags/id3v22.mp3
/usr/bin/python3 - seeds/tags/id3v22.mp3 <<'PY'
import sys
from mutagen.id3 import ID3, TIT2, TPE1
tag = ID3()
tag.add(TIT2(encoding=0, text="Old title"))
tag.add(TPE1(encoding=0, text="Old artist"))
tag.save(sys.argv[1], v2_version=3)
data = bytearray(open(sys.argv[1], "rb").read())
data[3] = 2  # an ID3v2.2 header: its frames are not read, its size is still skipped
open(sys.argv[1], "wb").write(bytes(data))
PY

# Tags of versions 2 and 4 built byte by byte, with what only --all-tag-versions reads:
# unsynchronisation of the whole tag and of a frame, an extended header, a data-length
# indicator, UTF-8 and UTF-16BE texts and a PIC picture.
/usr/bin/python3 - "$work/short.mp3" <<'PY'
import sys
audio = open(sys.argv[1], "rb").read()[:600]
picture = bytes([0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0xFF, 0x00, 0x42, 0xFF])
def synchsafe(n): return bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])
def unsync(b):
    out = bytearray()
    for i, c in enumerate(b):
        out.append(c)
        if c == 0xFF and (i + 1 == len(b) or b[i + 1] >= 0xE0 or b[i + 1] == 0):
            out.append(0)
    return bytes(out)
def frame4(fid, data, flags=0): return fid + synchsafe(len(data)) + bytes([0, flags]) + data
def frame2(fid, data): return fid + len(data).to_bytes(3, "big") + data
def tag(version, flags, body): return b"ID3" + bytes([version, 0, flags]) + synchsafe(len(body)) + body
cover = b"\0image/png\0\x03\0" + picture
v4 = synchsafe(6) + b"\x01\0" + frame4(b"TIT2", b"\x03T\xc3\xadtel\0Zwei") \
    + frame4(b"TPE1", b"\x02" + "Künstler".encode("utf-16-be")) + frame4(b"TCON", b"\x00(17)Hard Rock") \
    + frame4(b"TDRC", b"\x002004-05-06") \
    + frame4(b"APIC", synchsafe(len(cover)) + unsync(cover), 0x03) + bytes(20)
open("seeds/tags/id3v24_unsync_dli.mp3", "wb").write(tag(4, 0xC0, v4) + audio)
v2 = frame2(b"TT2", b"\0Title") + frame2(b"TP1", b"\x01\xff\xfeA\0r\0t\0") \
    + frame2(b"TCO", b"\x0017") + frame2(b"PIC", b"\0PNG\x03\0" + picture) + bytes(10)
open("seeds/tags/id3v22_unsync_pic.mp3", "wb").write(tag(2, 0x80, unsync(v2)) + audio)
PY

# Settings: as the window program writes them, with a line end, cut short, and empty.
/usr/bin/python3 - <<'PY'
import struct
def settings(flags, icon, counter, directory):
    return struct.pack("<13i", *flags, icon, counter) + directory
open("seeds/settings/ticked.ini", "wb").write(
    settings([1, 0, 1, 1, 0, 1, 1, 0, 1, 0, 1], 50, 3, b"/srv/music/"))
open("seeds/settings/crlf.ini", "wb").write(
    settings([0] * 11, 64, 9, b"/home/user/Musik\r\n/next line"))
open("seeds/settings/latin1_directory.ini", "wb").write(
    settings([1] * 11, 32, 1, "/srv/Müsik/".encode("latin-1") + b"\0rest"))
open("seeds/settings/cut_short.ini", "wb").write(settings([1] * 11, 50, 2, b"")[:23])
open("seeds/settings/empty.ini", "wb").write(b"")
PY
