#!/usr/bin/env python3
"""The lists against a real web file server: HFS 3 shows every description tagrelay-cli
wrote as the file's comment, and a comment written through HFS's web API survives the next
walk, still shown. With --list-encoding utf-8-bom the lists start with the UTF-8 signature,
which HFS strips: the descriptions still come out unchanged. Exits 77 (skipped) when HFS
cannot be installed here.

    hfs_round_trip_test.py --cli build/dev/tagrelay-cli [--list-encoding utf-8-bom]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hfs  # noqa: E402

SKIPPED = 77
OPTIONS = ["--artist", "--title", "--album", "--bitrate", "--playtime", "--genre",
           "--picture-size", "--movie-info"]
DESCRIBED = (".mp3", ".jpg", ".bmp", ".avi")

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)


def walk(cli, folder, encoding=None):
    encoding_options = ["--list-encoding", encoding] if encoding else []
    done = subprocess.run([cli, *OPTIONS, *encoding_options, folder], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    output = done.stdout.decode(errors="replace")
    if done.returncode != 0:
        raise RuntimeError("tagrelay-cli failed (%d):\n%s" % (done.returncode, output))


def as_hfs_reads(description):
    """The comment HFS makes of a description: its multi-line form (an end of 0x04 0xC2)
    loses the mark, and "\\n" becomes a line break."""
    if description.endswith(b"\x04\xc2"):
        description = description[:-2]
    return description.decode().replace("\\n", "\n")


def check_comments_are_descriptions(server, folder, *parts):
    """Every line of the folder's list is shown by HFS as its file's comment; files without a
    line show none, and every file the walk describes has a line."""
    lines = hfs.read_list(os.path.join(folder, *parts, "descript.ion"))
    shown = server.file_list(*parts)
    described = {name.decode(): as_hfs_reads(text) for name, text, _ in lines}
    for name in shown:
        if name.lower().endswith(DESCRIBED):
            check(name in described, "%s has no line in the list" % name)
    for name, text in described.items():
        check(name in shown, "HFS does not list %r" % name)
        # HFS 0.52.9 splits lines at LF only, so the comment of a CR LF line keeps its CR (a
        # browser shows it as nothing).
        comment = shown.get(name)
        if comment is not None and comment.endswith("\r"):
            comment = comment[:-1]
        check(comment == text, "HFS shows %r as %r, the list says %r" % (name, comment, text))
    for name, comment in shown.items():
        if name not in described:
            check(comment is None, "%r shows %r without a line" % (name, comment))
    return lines


def check_listing_order(folder, lines):
    """The lines follow the folder's listing (what the file system's enumeration gives)."""
    order = [os.fsencode(name) for name in os.listdir(folder)]
    names = [name for name, _, _ in lines]
    check(names == [name for name in order if name in names],
          "the lines are not in listing order: %r against %r" % (names, order))


def wait_for_lines(path, names):
    """{name: line} of the list once HFS has written a line for each name: it answers the
    comment call before its write reaches the disk."""
    deadline = time.monotonic() + 20
    while True:
        lines = {name: raw for name, _, raw in hfs.read_list(path)}
        if all(name.encode() in lines for name in names) or time.monotonic() > deadline:
            return lines
        time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--list-encoding")
    arguments = parser.parse_args()
    signed = arguments.list_encoding == "utf-8-bom"

    def check_signature(folder, *parts):
        with open(os.path.join(folder, *parts, "descript.ion"), "rb") as f:
            starts_signed = f.read(3) == b"\xef\xbb\xbf"
        check(starts_signed == signed, "the list in %r %s the signature"
              % (parts, "lacks" if signed else "has"))
    try:
        script = hfs.install_hfs()
    except hfs.Unavailable as reason:
        print("SKIPPED: HFS %s is not available: %s" % (hfs.HFS_VERSION, reason))
        return SKIPPED

    with tempfile.TemporaryDirectory(prefix="tagrelay-hfs-") as root:
        folder = hfs.make_collection(root)
        walk(arguments.cli, folder, arguments.list_encoding)
        check_signature(folder)
        check_signature(folder, "Bonus Tracks")
        server = hfs.Server(script, folder, "music", root)
        try:
            lines = check_comments_are_descriptions(server, folder)
            check_comments_are_descriptions(server, folder, "Bonus Tracks")
            check_listing_order(folder, lines)
            movie = [text for name, text, _ in lines if name == "clip #2.avi".encode()]
            check(movie and movie[0].startswith(b"240 x 320 pixel"),
                  "the movie is not described: %r" % movie)

            # Visitors comment a text file (on two lines: HFS's multi-line form), a file
            # whose name holds a blank and umlauts, and the sub-folder, as HFS's page does.
            comments = {"notes.txt": "Liner notes\nread them first",
                        "read me.txt": "Gr\u00fc\u00dfe aus K\u00f6ln",
                        "Bonus Tracks": "Extra songs & outtakes"}
            for name, text in comments.items():
                server.comment(server.uri(name, folder=name == "Bonus Tracks"), text)
            written = wait_for_lines(os.path.join(folder, "descript.ion"), comments)
            check(written.get(b"notes.txt") == b"notes.txt Liner notes\\nread them first"
                  b"\x04\xc2\n", "HFS wrote %r" % written.get(b"notes.txt"))
            shown = server.file_list()
            for name, text in comments.items():
                check(shown.get(name) == text, "HFS shows %r before the walk as %r"
                      % (name, shown.get(name)))

            walk(arguments.cli, folder, arguments.list_encoding)
            check_signature(folder)

            after = hfs.read_list(os.path.join(folder, "descript.ion"))
            kept = {name: raw for name, _, raw in after}
            for name in comments:
                key = name.encode()
                check(kept.get(key) == written.get(key),
                      "the walk changed HFS's line of %r: %r, was %r"
                      % (name, kept.get(key), written.get(key)))
            shown = server.file_list()
            for name, text in comments.items():
                check(shown.get(name) == text, "HFS shows %r after the walk as %r"
                      % (name, shown.get(name)))
            check_comments_are_descriptions(server, folder)
            check_listing_order(folder, after)
        finally:
            server.stop()

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    node = subprocess.run(["node", "--version"], stdout=subprocess.PIPE).stdout.decode().strip()
    print("HFS %s on Node.js %s shows the lists as written%s and keeps its comments through a walk"
          % (hfs.HFS_VERSION, node, " (with the UTF-8 signature)" if signed else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
