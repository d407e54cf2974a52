#!/usr/bin/env python3
"""Makes the tree of the --update benchmark, or changes a share of its MP3 files.

    make_tree.py TREE [--folders 400] [--files-per-folder 50] [--frames 40]
    make_tree.py TREE --change PERCENT [--seed 1]

Each folder holds MP3 files with an ID3v2.3 tag (title, artist, album, genre; every twelfth
with a small JPEG front cover) and MPEG 1 layer 3 frames (every tenth file VBR), one JPEG
picture (folder.jpg) and one playlist that no list describes: 400 folders of 50 files make
20 000 files. The JPEG comes from ImageMagick's convert, made once.

--change rewrites PERCENT of the MP3 files, spread over the tree, with a longer title (the
same name, new bytes, a new size) and prints their paths, one a line.
"""
import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile


def synchsafe(value):
    return bytes([(value >> 21) & 0x7F, (value >> 14) & 0x7F, (value >> 7) & 0x7F, value & 0x7F])


def frame(frame_id, data):
    # ID3v2.3 frame: id, size (big endian, not synchsafe), two flag bytes, data.
    return frame_id.encode() + struct.pack(">I", len(data)) + b"\0\0" + data


def text(value):
    return b"\0" + value.encode("latin-1")  # encoding 0: ISO-8859-1


def id3v2_tag(title, number, cover):
    frames = frame("TIT2", text(title))
    frames += frame("TPE1", text("Bench Artist %d" % (number % 37)))
    frames += frame("TALB", text("Bench Album %d" % (number // 48)))
    frames += frame("TCON", text("(17)"))
    if cover:
        # APIC: encoding, MIME type, picture type 3 (front cover), empty description, bytes.
        frames += frame("APIC", b"\0image/jpeg\0\x03\0" + cover)
    frames += bytes(256)  # padding, as taggers leave it
    return b"ID3\x03\x00\x00" + synchsafe(len(frames)) + frames


# MPEG 1 layer 3, 44.1 kHz, joint stereo, original: 128 kbit/s (417 bytes a frame) and
# 192 kbit/s (626 bytes), by the bitrate index in bits 7..4 of the third header byte.
FRAME_128 = bytes([0xFF, 0xFB, 0x90, 0x44]) + bytes(417 - 4)
FRAME_192 = bytes([0xFF, 0xFB, 0xB0, 0x44]) + bytes(626 - 4)


def mp3_bytes(title, number, frames, cover):
    vbr = number % 10 == 0
    audio = b"".join(FRAME_192 if vbr and i % 2 else FRAME_128 for i in range(frames))
    return id3v2_tag(title, number, cover) + audio


def make_jpeg(width, height):
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "p.jpg")
        subprocess.run(["convert", "-size", "%dx%d" % (width, height), "gradient:red-blue",
                        "-quality", "80", path], check=True)
        with open(path, "rb") as picture:
            return picture.read()


def mp3_names(tree):
    names = []
    for folder in sorted(os.listdir(tree)):
        path = os.path.join(tree, folder)
        if os.path.isdir(path):
            names += [os.path.join(path, name) for name in sorted(os.listdir(path))
                      if name.endswith(".mp3")]
    return names


def make(options):
    cover = make_jpeg(64, 48)
    picture = make_jpeg(640, 480)
    per_folder = options.files_per_folder - 2
    number = 0
    for folder in range(options.folders):
        path = os.path.join(options.tree, "album%03d" % folder)
        os.makedirs(path, exist_ok=True)
        for track in range(per_folder):
            name = os.path.join(path, "%02d track %d.mp3" % (track + 1, number))
            with open(name, "wb") as out:
                out.write(mp3_bytes("Track %d" % number, number, options.frames,
                                    cover if number % 12 == 0 else None))
            number += 1
        with open(os.path.join(path, "folder.jpg"), "wb") as out:
            out.write(picture)
        with open(os.path.join(path, "album.m3u"), "w") as out:
            out.write("\n".join("%02d track.mp3" % (t + 1) for t in range(per_folder)) + "\n")


def change(options):
    names = mp3_names(options.tree)
    count = max(1, len(names) * options.change // 100)
    chosen = sorted(random.Random(options.seed).sample(names, count))
    for name in chosen:
        number = int(name.rsplit(" ", 1)[1][:-4])
        with open(name, "wb") as out:
            out.write(mp3_bytes("Track %d, changed" % number, number, options.frames,
                                None))
        print(name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tree")
    parser.add_argument("--folders", type=int, default=400)
    parser.add_argument("--files-per-folder", type=int, default=50)
    parser.add_argument("--frames", type=int, default=40)
    parser.add_argument("--change", type=int, default=0, metavar="PERCENT")
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    if options.change:
        change(options)
    else:
        make(options)
    return 0


if __name__ == "__main__":
    sys.exit(main())
