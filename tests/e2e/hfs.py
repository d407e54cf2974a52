"""HFS 3, the web file server that reads and writes descript.ion lists, for end-to-end tests
and screenshots: installed with npm into a cache folder, started on 127.0.0.1 over a folder,
and spoken to as its web page speaks to it. Also builds a small collection to describe."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request
import wave
import math
import struct

HFS_VERSION = "0.52.9"


class Unavailable(Exception):
    """HFS cannot be had on this machine (no Node.js or npm, no registry): the test skips."""


def cache_dir():
    chosen = os.environ.get("TAGRELAY_HFS_DIR")
    if chosen:
        return chosen
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "tagrelay", "hfs-" + HFS_VERSION)


def _installed_version(folder):
    try:
        with open(os.path.join(folder, "node_modules", "hfs", "package.json")) as f:
            return json.load(f).get("version")
    except (OSError, ValueError):
        return None


def install_hfs(folder=None):
    """Returns the path of HFS's start script, installing the package first when the cache
    folder lacks it. Raises Unavailable with the reason when it cannot."""
    folder = folder or cache_dir()
    script = os.path.join(folder, "node_modules", "hfs", "src", "index.js")
    if _installed_version(folder) == HFS_VERSION:
        return script
    for program in ("node", "npm"):
        if shutil.which(program) is None:
            raise Unavailable(program + " is not installed (scripts/install-deps installs it)")
    parent = os.path.dirname(folder)
    try:
        os.makedirs(parent, exist_ok=True)
        work = tempfile.mkdtemp(prefix=".hfs-install-", dir=parent)
    except OSError as error:
        raise Unavailable("cannot make the cache folder %s: %s" % (parent, error))
    try:
        # No install scripts: HFS runs without them, and nothing fetched runs at install time.
        command = ["npm", "install", "--prefix", work, "hfs@" + HFS_VERSION, "--ignore-scripts",
                   "--no-audit", "--no-fund", "--omit=dev", "--no-package-lock",
                   "--fetch-retries=1", "--fetch-timeout=60000", "--loglevel=error"]
        try:
            done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  timeout=600, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            raise Unavailable("npm could not install hfs@%s within 10 minutes" % HFS_VERSION)
        if done.returncode != 0 or _installed_version(work) != HFS_VERSION:
            output = done.stdout.decode(errors="replace").strip().splitlines()[-3:]
            raise Unavailable("npm could not install hfs@%s (no registry?): %s"
                              % (HFS_VERSION, " / ".join(output)))
        try:
            os.rename(work, folder)
        except OSError:
            if _installed_version(folder) != HFS_VERSION:  # not another run's install
                raise
        return script
    finally:
        shutil.rmtree(work, ignore_errors=True)


class Server:
    """One HFS process on 127.0.0.1 and a free port, sharing a folder under a name, with
    uploads and so comments allowed to everyone (as a site that takes comments is set up)."""

    def __init__(self, script, folder, name, workdir):
        self.name = name
        config = os.path.join(workdir, "hfs-config")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "config.yaml"), "w") as f:
            f.write("port: 0\n"
                    "listen_interface: 127.0.0.1\n"
                    "open_browser_at_start: false\n"
                    "vfs:\n"
                    "  children:\n"
                    "    - name: %s\n"
                    "      source: %s\n"
                    "      can_upload: true\n" % (json.dumps(name), json.dumps(folder)))
        self.log_path = os.path.join(workdir, "hfs.log")
        self._log = open(self.log_path, "wb")
        self.process = subprocess.Popen(["node", script, "--cwd", config],
                                        stdin=subprocess.PIPE, stdout=self._log,
                                        stderr=subprocess.STDOUT)
        self.port = self._wait_for_port()

    def _wait_for_port(self):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            with open(self.log_path, "rb") as f:
                found = re.search(rb"serving on http://127\.0\.0\.1:(\d+)", f.read())
            if found:
                return int(found.group(1))
            if self.process.poll() is not None:
                break
            time.sleep(0.2)
        self.stop()
        with open(self.log_path, "rb") as f:
            raise RuntimeError("HFS did not start:\n" + f.read().decode(errors="replace"))

    def url(self, path=""):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def uri(self, *parts, folder=False):
        """The address of an entry of the shared folder, percent-encoded as the web page has
        it (a blank, "#", "&" and umlauts included)."""
        path = "/" + "/".join([self.name, *parts]) + ("/" if folder else "")
        return urllib.parse.quote(path, safe="/")

    def file_list(self, *folder):
        """{name: comment or None} of a folder, as /~/api/get_file_list gives it."""
        query = urllib.parse.urlencode({"uri": self.uri(*folder, folder=True)})
        with urllib.request.urlopen(self.url("/~/api/get_file_list?" + query), timeout=30) as r:
            listing = json.load(r)
        return {entry["n"].rstrip("/"): entry.get("comment") for entry in listing["list"]}

    def comment(self, uri, text):
        """Writes a comment as the web page's comment dialog does."""
        request = urllib.request.Request(
            self.url("/~/api/comment"), method="POST",
            data=json.dumps({"uri": uri, "comment": text}).encode(),
            headers={"content-type": "application/json", "x-hfs-anti-csrf": "1"})
        with urllib.request.urlopen(request, timeout=30) as r:
            r.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._log.close()


def _run(command):
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def _tone_wav(path, seconds=2.0, rate=44100, pitch=440.0):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(
            struct.pack("<h", int(12000 * math.sin(2 * math.pi * pitch * i / rate)))
            for i in range(int(seconds * rate))))


def make_song(path, artist, title, album, genre, work):
    """An MP3 file from lame with an ID3v2.3 tag and an ID3v1 block from id3v2. The texts are
    bytes as the tag stores them (ISO-8859-1)."""
    wav = os.path.join(work, "tone.wav")
    if not os.path.exists(wav):
        _tone_wav(wav)
    _run(["lame", "--quiet", "-b", "128", wav, path])
    _run([b"id3v2", b"-a", artist, b"-t", title, b"-A", album, b"-g", str(genre).encode(),
          path.encode()])


def make_picture(path, size):
    _run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
          "testsrc=size=%s:rate=1" % size, "-frames:v", "1", path])


def make_movie(path):
    _run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
          "testsrc=size=320x240:rate=25", "-t", "11", "-c:v", "mjpeg", "-q:v", "10", path])


def make_collection(root):
    """A folder of the kinds a shared collection holds, with names that need quoting or
    escaping (blanks, "#", "&", umlauts): three songs, two pictures, a movie, two text files
    and a sub-folder with a song. Returns the collection's folder."""
    folder = os.path.join(root, "Music & more")
    bonus = os.path.join(folder, "Bonus Tracks")
    os.makedirs(bonus)
    work = tempfile.mkdtemp(dir=root, prefix=".work-")
    make_song(os.path.join(folder, "01 Intro #1.mp3"), b"The Testers", b"Intro",
              b"First Light", 17, work)
    make_song(os.path.join(folder, "Gr\u00f6\u00dfe & Gl\u00fcck.mp3"), b"K\xfcnstler",
              b"Gr\xf6\xdfe & Gl\xfcck", b"Sommer", 13, work)
    make_song(os.path.join(folder, "plain.mp3"), b"Plain", b"Song", b"Basics", 8, work)
    make_song(os.path.join(bonus, "bonus.mp3"), b"The Testers", b"Outtake", b"Extras", 17, work)
    make_picture(os.path.join(folder, "Foto Stra\u00dfe.jpg"), "640x480")
    make_picture(os.path.join(folder, "map.bmp"), "160x120")
    make_movie(os.path.join(folder, "clip #2.avi"))
    for name in ("notes.txt", "read me.txt"):
        with open(os.path.join(folder, name), "w") as f:
            f.write("Some text.\n")
    shutil.rmtree(work)
    return folder


def read_list(path):
    """[(name, description, line bytes)] of a description list, read as its readers read it:
    a quoted name runs to the next double quote, any other to the first blank; lines end in
    LF or CR LF. A UTF-8 signature in front belongs to no line."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    lines = []
    for raw in data.split(b"\n"):
        if not raw:
            continue
        text = raw[:-1] if raw.endswith(b"\r") else raw
        if text.startswith(b'"'):
            close = text.index(b'"', 1)
            name, rest = text[1:close], text[close + 1:]
        else:
            name, _, rest = text.partition(b" ")
            rest = b" " + rest
        lines.append((name, rest[1:] if rest.startswith(b" ") else rest, raw + b"\n"))
    return lines
