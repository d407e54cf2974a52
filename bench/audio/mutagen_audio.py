#!/usr/bin/python3
"""Reads the facts of an audio line (artist, album, title, genre, length, bitrate, channels)
of every FLAC, Ogg, Opus, WAV and M4A file under a folder with mutagen: the comparison for
tagrelay-cli --more-formats in run.py.

    bench/audio/mutagen_audio.py DIRECTORY
"""

import os
import sys

import mutagen

ENDINGS = (".flac", ".ogg", ".oga", ".opus", ".wav", ".m4a", ".aac")


def main():
    described = 0
    for root, _dirs, names in os.walk(sys.argv[1]):
        for name in names:
            if not name.lower().endswith(ENDINGS):
                continue
            try:
                audio = mutagen.File(os.path.join(root, name), easy=True)
            except mutagen.MutagenError:
                continue
            if audio is None:
                continue
            info = audio.info
            facts = [info.length, getattr(info, "bitrate", 0), getattr(info, "channels", 0)]
            tags = audio.tags or {}
            for key in ("artist", "album", "title", "genre"):
                if key in tags:
                    facts.append(tags[key][0])
            described += 1
    print(described)


if __name__ == "__main__":
    main()
