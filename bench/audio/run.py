#!/usr/bin/python3
"""Describes a collection of audio files with tagrelay-cli --more-formats and reads the same
facts with mutagen, side by side, warm and cold, per kind of file, and prints one table.

    bench/audio/run.py [--per-kind 300] [--runs 3] [--cli PATH] [--no-cold]

The collection (made once, kept under /tmp/tagrelay-audio-collection) holds per kind
--per-kind files of 20 s made from eight sources: FLAC with a 500x500 JPEG front cover, M4A
made by ffmpeg's aac and alac encoders (half each), Opus, Vorbis, and 16-bit WAV, each tagged.
The copies are files of their own, so a cold run reads each from the disk.

Programs, each over one kind's folder:
- tagrelay-cli --more-formats with the seven MP3 facts, no icons, started in an empty folder;
- mutagen_audio.py: mutagen reading every file's tags, length, bitrate and channels;
- the read floor: the bytes the exact rules must read, by cat (Ogg, every byte) or head (the
  others, the first 64 KiB of each file: their headers, a FLAC file's cover included).

Warm: every program runs once untimed, then --runs rounds. Cold: the page cache is dropped
before every run (sync; echo 3 > /proc/sys/vm/drop_caches), when that is permitted. Each
figure is the median of the rounds; the peak memory is GNU time's largest resident set.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TREE = "/tmp/tagrelay-audio-collection"
FACTS = ["--artist", "--album", "--title", "--bitrate", "--audio-mode", "--playtime", "--genre",
         "--more-formats", "--no-mp3-icons", "--no-picture-size", "--no-picture-icons",
         "--no-movie-info"]
KINDS = ["flac", "m4a", "opus", "vorbis", "wav"]


def sh(command):
    subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_tree(per_kind):
    mark = os.path.join(TREE, ".complete-%d" % per_kind)
    if os.path.exists(mark):
        return
    shutil.rmtree(TREE, ignore_errors=True)
    sources = os.path.join(TREE, ".sources")
    os.makedirs(sources)
    cover = os.path.join(sources, "cover.jpg")
    sh("convert -size 500x500 plasma:fractal -quality 90 '%s'" % cover)
    for i in range(8):
        wav = os.path.join(sources, "%d.wav" % i)
        sh("sox -n -r 44100 -c 2 -b 16 '%s' synth 20 pinknoise tremolo %d 60 vol 0.3" % (wav, i + 2))
        meta = "-metadata artist='Artist %d' -metadata album=Album -metadata title='Title %d' " \
               "-metadata genre=Rock" % (i, i)
        sh("flac -s -f --tag='ARTIST=Artist %d' --tag=ALBUM=Album --tag='TITLE=Title %d' "
           "--tag=GENRE=Rock --picture='%s' -o '%s/%d.flac' '%s'" % (i, i, cover, sources, i, wav))
        codec = "aac -b:a 192k" if i % 2 == 0 else "alac"
        sh("ffmpeg -v error -y -i '%s' -c:a %s %s '%s/%d.m4a'" % (wav, codec, meta, sources, i))
        sh("opusenc --quiet --artist 'Artist %d' --album Album --title 'Title %d' --genre Rock "
           "'%s' '%s/%d.opus'" % (i, i, wav, sources, i))
        sh("oggenc -Q -a 'Artist %d' -l Album -t 'Title %d' -G Rock -o '%s/%d.ogg' '%s'"
           % (i, i, sources, i, wav))
        sh("ffmpeg -v error -y -i '%s' %s '%s/%d.tagged.wav'" % (wav, meta, sources, i))
    endings = {"flac": "flac", "m4a": "m4a", "opus": "opus", "vorbis": "ogg", "wav": "tagged.wav"}
    for kind in KINDS:
        folder = os.path.join(TREE, kind)
        os.makedirs(folder)
        for n in range(per_kind):
            source = os.path.join(sources, "%d.%s" % (n % 8, endings[kind]))
            shutil.copyfile(source, os.path.join(folder, "%03d.%s" % (n, endings[kind].split(".")[-1])))
    open(mark, "w").close()


def can_drop_caches():
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def timed(argv, cwd):
    """Seconds and peak resident kilobytes of one run."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.monotonic()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv, cwd=cwd,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seconds = time.monotonic() - start
        return seconds, int(report.read().strip().splitlines()[-1])


def floor_command(folder):
    """One cat (Ogg: every byte) or head (the others: the first 64 KiB of each file) over the
    folder's files: the bytes the exact rules must read, by the cheapest program there is."""
    whole = any(n.endswith((".ogg", ".opus")) for n in os.listdir(folder))
    reader = "cat" if whole else "head -q -c 65536"
    return "cd '%s' && %s [0-9]* > /dev/null" % (folder, reader)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--per-kind", type=int, default=300)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cli", default=os.path.join(ROOT, "build/bench/tagrelay-cli"))
    parser.add_argument("--no-cold", action="store_true")
    args = parser.parse_args()
    make_tree(args.per_kind)
    cold = not args.no_cold and can_drop_caches()
    if not args.no_cold and not cold:
        print("cold runs left out: the page cache cannot be dropped here (not root)")
    work = tempfile.mkdtemp()
    programs = [
        ("tagrelay-cli", lambda folder: [args.cli] + FACTS + [folder]),
        ("mutagen", lambda folder: ["/usr/bin/python3", os.path.join(HERE, "mutagen_audio.py"), folder]),
        ("read floor", lambda folder: ["sh", "-c", floor_command(folder)]),
    ]
    print("| kind | files | MB | program | warm files/s | warm s | cold files/s | cold s | peak MB |")
    print("|---|---|---|---|---|---|---|---|---|")
    for kind in KINDS:
        folder = os.path.join(TREE, kind)
        files = [n for n in os.listdir(folder) if not n.startswith(".") and n != "descript.ion"]
        megabytes = sum(os.path.getsize(os.path.join(folder, n)) for n in files) / 1e6
        for name, argv in programs:
            timed(argv(folder), work)
            warm = [timed(argv(folder), work) for _ in range(args.runs)]
            cold_runs = []
            if cold:
                for _ in range(args.runs):
                    drop_caches()
                    cold_runs.append(timed(argv(folder), work))
            warm_s = statistics.median(s for s, _ in warm)
            peak = max(k for _, k in warm + cold_runs) / 1024
            cold_text = "-"
            cold_rate = "-"
            if cold_runs:
                cold_s = statistics.median(s for s, _ in cold_runs)
                cold_text = "%.3f" % cold_s
                cold_rate = "%.0f" % (len(files) / cold_s)
            print("| %s | %d | %.0f | %s | %.0f | %.3f | %s | %s | %.1f |"
                  % (kind, len(files), megabytes, name, len(files) / warm_s, warm_s, cold_rate,
                     cold_text, peak))
            sys.stdout.flush()
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
