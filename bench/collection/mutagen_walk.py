#!/usr/bin/python3
"""Reads the tags and the stream facts of every MP3 file under a folder with mutagen, as a
tag reader in a music program would: the comparison for tagrelay-cli in run.py.

    bench/collection/mutagen_walk.py DIRECTORY
"""

import os
import sys

import mutagen.mp3


def main():
    described = 0
    for root, _dirs, names in os.walk(sys.argv[1]):
        for name in names:
            if not name.lower().endswith(".mp3"):
                continue
            try:
                audio = mutagen.mp3.MP3(os.path.join(root, name))
            except mutagen.MutagenError:
                continue
            info = audio.info
            facts = [info.length, info.bitrate, info.bitrate_mode, info.mode]
            tags = audio.tags or {}
            for frame in ("TPE1", "TALB", "TIT2", "TCON"):
                if frame in tags:
                    facts.append(str(tags[frame]))
            described += 1
    print(f"{described} files")


if __name__ == "__main__":
    main()
