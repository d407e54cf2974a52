#!/usr/bin/env python3
"""The index pages in a real browser through a real web server: Debian's nginx, started on
127.0.0.1 over a tree tagrelay-cli described with --html-index, and headless Chromium. From
the page as Chromium built it, every file of a folder is a link that nginx answers (HTTP 200),
every line of the folder's list is shown beside its file, and every icon file is shown as a
picture. A hostile folder (names, tags and lines of others holding markup, quotes, "&", "%",
"#" and "?") shows its texts literally and runs nothing. Exits 77 (skipped) only where Chromium
is missing.

    index_page_browser_test.py --cli build/dev/tagrelay-cli [--screenshot PATH]

With --screenshot it also takes the picture of the collection's page for README.
"""

import argparse
import html.parser
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hfs  # noqa: E402  (its collection and its MP3 maker)

SKIPPED = 77
OPTIONS = ["--artist", "--title", "--album", "--bitrate", "--playtime", "--picture-size",
           "--picture-icons", "--mp3-icons", "--html-index"]
# What a script in a name or a tag would do if the page let it run.
ATTACK = "<script>document.title='owned'</script>"
HOSTILE_FOLDER = "<i>italic<i> & \"quoted\" %41 #frag ?q=1"
# A file name with a double quote cannot be in a list: the song's name has none.
HOSTILE_SONG = "<img src=x onerror=document.title=1> & %25 #1 ?x=2.mp3"

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)


def add_cover(path):
    """A front cover in the MP3's tag, put there by a real tagger (Debian's mutagen, under
    Debian's Python), for an icon."""
    cover = path + ".cover.jpg"
    hfs.make_picture(cover, "200x200")
    subprocess.run(["/usr/bin/python3", "-c",
                    "import sys; from mutagen.id3 import APIC, ID3; t = ID3(sys.argv[1]); "
                    "t.add(APIC(encoding=0, mime='image/jpeg', type=3, desc='', "
                    "data=open(sys.argv[2], 'rb').read())); t.save(v2_version=3)", path, cover],
                   check=True, stdin=subprocess.DEVNULL)
    os.remove(cover)


def make_hostile(folder, work):
    os.makedirs(folder)
    hfs.make_song(os.path.join(folder, HOSTILE_SONG), b"\"Artist\" & <i>%23</i>",
                  ATTACK.encode(), b"#?&amp;", 17, work)
    add_cover(os.path.join(folder, HOSTILE_SONG))
    for name in ("say \"hi\" & <bye>.txt", "100% #1?.txt"):
        with open(os.path.join(folder, name), "w") as f:
            f.write("text\n")
    # Lines of others: a web server's visitor commented the text file with markup.
    with open(os.path.join(folder, "descript.ion"), "wb") as f:
        f.write(b"\"100% #1?.txt\" " + ATTACK.encode() + b" &amp; \"x\"\r\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    """nginx in the foreground with a configuration of its own, serving root on a free port."""

    def __init__(self, root, work):
        self.work = tempfile.mkdtemp(prefix="nginx-", dir=work)
        for _ in range(5):
            self.port = free_port()
            conf = os.path.join(self.work, "nginx.conf")
            # As root nginx would hand its workers to "nobody", who may not read the tree.
            user = "user root root;\n" if os.geteuid() == 0 else ""
            temp = "".join("%s_temp_path %s/%s;\n" % (kind, self.work, kind)
                           for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
            with open(conf, "w") as f:
                f.write("%sdaemon off;\nworker_processes 1;\npid %s/nginx.pid;\n"
                        "error_log %s/error.log;\nevents { worker_connections 64; }\n"
                        "http {\ninclude /etc/nginx/mime.types;\naccess_log off;\n%s"
                        "server {\nlisten 127.0.0.1:%d;\nroot \"%s\";\n}\n}\n"
                        % (user, self.work, self.work, temp, self.port, root))
            self.process = subprocess.Popen(["nginx", "-e", "stderr", "-p", self.work, "-c", conf],
                                            stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if self._wait():
                return
            self.process.kill()
            self.process.wait()
        raise RuntimeError("nginx did not start: " + self.process.stderr.read().decode())

    def _wait(self):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        return False

    def url(self, *parts):
        return "http://127.0.0.1:%d/%s" % (
            self.port, "".join(urllib.parse.quote(part, safe="") + "/" for part in parts))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


def chromium_command(chromium, profile):
    return [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + profile, "--virtual-time-budget=5000"]


class PageRows(html.parser.HTMLParser):
    """What a page as Chromium built it shows: its title, its rows (the link, the icon and
    the text of each cell) and every element, to look for what should not be there."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.title = ""
        self.rows = []
        self.elements = []
        self._in_title = False
        self._cell = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.elements.append((tag, attrs))
        if tag == "title":
            self._in_title = True
        elif tag == "tr":
            self.rows.append({"href": None, "icon": None, "cells": []})
        elif tag == "td" and self.rows:
            self._cell = []
        elif tag == "a" and self.rows and self._cell is not None:
            self.rows[-1]["href"] = attrs.get("href")
        elif tag == "img" and self.rows:
            self.rows[-1]["icon"] = attrs.get("src")
        elif tag == "br" and self._cell is not None:
            self._cell.append("\n")

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False
        elif tag == "td" and self._cell is not None:
            self.rows[-1]["cells"].append("".join(self._cell))
            self._cell = None

    def handle_data(self, data):
        if self._in_title:
            self.title += data
        elif self._cell is not None:
            self._cell.append(data)


def load(chromium, profile, url):
    done = subprocess.run(chromium_command(chromium, profile) + ["--dump-dom", url],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=120, check=True)
    page = PageRows()
    page.feed(done.stdout.decode())
    return page


def status_and_bytes(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, b""


def as_shown(description):
    """The text a browser shows for a description: the multi-line form on several lines."""
    if description.endswith(b"\x04\xc2"):
        description = description[:-2].replace(b"\\n", b"\n")
    return description.decode()


def check_folder(chromium, profile, server, root, *parts):
    folder = os.path.join(root, *parts)
    url = server.url(*parts)
    page = load(chromium, profile, url)
    check(page.title == (parts[-1] if parts else os.path.basename(root)),
          "%s has the title %r" % (url, page.title))
    check(not any(tag in ("script", "link", "iframe", "object") or
                  any(name.startswith("on") for name in attrs) for tag, attrs in page.elements),
          "%s holds active elements: %r" % (url, [e for e in page.elements if e[0] != "td"]))
    rows = {}
    for row in page.rows[1:]:  # the first is the head
        if row["href"] is None:
            continue
        target = urllib.parse.urljoin(url, row["href"])
        status, _ = status_and_bytes(target)
        check(status == 200, "%s answers %d" % (target, status))
        rows[row["cells"][0]] = row
    check("../" in rows, "%s has no link to its parent folder" % url)
    lines = {name.decode(): as_shown(text)
             for name, text, _ in hfs.read_list(os.path.join(folder, "descript.ion"))}
    for name in os.listdir(folder):
        if name.startswith(".") or name in ("index.html", "descript.ion"):
            continue
        if name.endswith(".ico") and os.path.exists(os.path.join(folder, name[:-4])):
            continue
        row = rows.get(name + "/" if os.path.isdir(os.path.join(folder, name)) else name)
        check(row is not None, "%s does not show %r" % (url, name))
        if row is None:
            continue
        check(row["cells"][2] == lines.get(name, ""),
              "%s shows %r for %r, the list says %r" % (url, row["cells"][2], name,
                                                       lines.get(name)))
        if os.path.exists(os.path.join(folder, name + ".ico")):
            check(row["icon"] is not None, "%s shows no icon for %r" % (url, name))
            status, picture = status_and_bytes(urllib.parse.urljoin(url, row["icon"] or ""))
            check(status == 200 and picture[:2] in (b"\xff\xd8", b"\x89P"),
                  "the icon of %r answers %d with %r" % (name, status, picture[:8]))
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--screenshot")
    arguments = parser.parse_args()
    chromium = shutil.which("chromium")
    if chromium is None:
        print("SKIPPED: Chromium is not installed (scripts/install-deps installs the Debian "
              "package chromium)")
        return SKIPPED
    if shutil.which("nginx") is None:
        os.environ["PATH"] += os.pathsep + "/usr/sbin"

    with tempfile.TemporaryDirectory(prefix="tagrelay-pages-") as root:
        os.chmod(root, 0o755)
        collection = hfs.make_collection(root)
        work = tempfile.mkdtemp(dir=root, prefix=".work-")
        make_hostile(os.path.join(collection, HOSTILE_FOLDER), work)
        add_cover(os.path.join(collection, "plain.mp3"))
        # Visitors' comments, as a web file server writes them: one line plain, one in its
        # multi-line form.
        with open(os.path.join(collection, "descript.ion"), "wb") as f:
            f.write(b"notes.txt Liner notes: read them first\n\"read me.txt\" Gr\xc3\xbc\xc3\x9fe"
                    b"\\naus K\xc3\xb6ln\x04\xc2\n")
        done = subprocess.run([arguments.cli, *OPTIONS, collection], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check(done.returncode == 0, "tagrelay-cli failed: " + done.stdout.decode())
        server = Nginx(collection, root)
        profile = tempfile.mkdtemp(prefix="chromium-", dir=root)
        try:
            top = check_folder(chromium, profile, server, collection)
            check(HOSTILE_FOLDER + "/" in top and "Bonus Tracks/" in top,
                  "the sub-folders are not shown: %r" % sorted(top))
            check_folder(chromium, profile, server, collection, "Bonus Tracks")
            hostile = check_folder(chromium, profile, server, collection, HOSTILE_FOLDER)
            song = hostile.get(HOSTILE_SONG, {"cells": ["", "", ""]})
            check(ATTACK in song["cells"][2], "the tag is not shown literally: %r" % song)
            if arguments.screenshot:
                subprocess.run(chromium_command(chromium, profile)
                               + ["--hide-scrollbars", "--window-size=1000,520",
                                  "--screenshot=" + os.path.abspath(arguments.screenshot),
                                  server.url()],
                               check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=120)
        finally:
            server.stop()
    if failures:
        print("%d failure(s)" % len(failures))
        return 1
    print("OK: pages shown by nginx in Chromium")
    return 0


if __name__ == "__main__":
    sys.exit(main())
