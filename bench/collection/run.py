#!/usr/bin/python3
"""Walks a collection-shaped MP3 tree with tagrelay-cli and with the programs a user might
pick instead, side by side in one run, warm and cold, and prints one table.

    bench/collection/run.py [--files 720] [--runs 5] [--cli PATH] [--no-cold]
    bench/collection/run.py --scale 10000,30000,100000 [--runs 3] [--with-mutagen]

The tree comes from make_collection.py (made once, kept under /tmp/tagrelay-collection).
Programs, each given every MP3 file of the tree:
- tagrelay-cli with all seven MP3 facts (artist, album, title, bitrate, audio mode, playing
  time, genre), no icons, no pictures, no movies, started in an empty folder so no settings
  file is read;
- mutagen_walk.py: mutagen reading every file's tags and stream facts;
- mediainfo and exiftool, over the same files;
- warm only: every byte of the files whose lists say VBR, read by 2 cat processes at once:
  what the frame walk must at least read, as a VBR file's bitrate is the average over all of
  its frames (the list is taken from the lists tagrelay-cli wrote in the untimed run);
- cold only: every byte of the tree read by 16 cat processes at once, the floor.

Warm: the tree is read once whole and every program run once untimed, then the rounds.
Cold: before every run the page cache is dropped (sync; echo 3 > /proc/sys/vm/drop_caches,
as root). Each round runs every program once, in an order that turns by one each round, so
a burst of other work on the machine does not fall on one program only. Each figure is the
median of the rounds with the fastest and the slowest beside it; the peak memory is GNU
time's largest resident set (/usr/bin/time -f %M) of the program and its children.

--scale makes trees of the given sizes from the same albums (make_collection.py links them
again past 720 files: the repeated files are in the page cache once their first link was
read, so these runs are warm only) and reports how tagrelay-cli's time and peak memory grow.

Needs lame, ffmpeg and ImageMagick (scripts/install-deps), and mediainfo, exiftool and GNU
time (scripts/install-deps bench).
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
GNU_TIME = "/usr/bin/time"
MP3_FACTS = ["--artist", "--album", "--title", "--bitrate", "--audio-mode", "--playtime",
             "--genre"]
NOTHING_ELSE = ["--no-mp3-icons", "--no-picture-size", "--no-picture-icons", "--no-movie-info"]


def shell_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


class Program:
    def __init__(self, name, argv=None, shell=None, when=("warm", "cold")):
        self.name = name
        self.argv = argv
        self.shell = shell
        self.when = when


def programs_for(tree, cli):
    quoted = shell_quote(tree)
    every_mp3 = f"find {quoted} -type f -name '*.mp3' -print0"
    return [
        Program("tagrelay-cli", argv=[cli, *MP3_FACTS, *NOTHING_ELSE, tree]),
        Program("mutagen (tags and stream facts)",
                argv=["/usr/bin/python3", os.path.join(HERE, "mutagen_walk.py"), tree]),
        Program("mediainfo", shell=f"{every_mp3} | xargs -0 mediainfo"),
        Program("exiftool", argv=["exiftool", "-q", "-r", "-ext", "mp3", tree]),
        Program("every byte, 16 parallel cat",
                shell=f"find {quoted} -type f -print0 | xargs -0 -P 16 -n 16 cat",
                when=("cold",)),
    ]


def check_tools(need_peers):
    missing = []
    for tool in ["lame", "ffmpeg", "/usr/bin/convert", GNU_TIME] + (
            ["mediainfo", "exiftool"] if need_peers else []):
        if shutil.which(tool) is None:
            missing.append(tool)
    if subprocess.run(["/usr/bin/python3", "-c", "import mutagen"],
                      stderr=subprocess.DEVNULL).returncode != 0:
        missing.append("python3-mutagen")
    if missing:
        sys.exit(f"missing: {' '.join(missing)}; run scripts/install-deps bench as root")


def build_cli():
    build = os.path.join(ROOT, "build", "bench")
    subprocess.run(["cmake", "--preset", "release", "-B", build, "-DTAGRELAY_WITH_QT=OFF"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j", "2", "--target", "tagrelay-cli"], cwd=ROOT,
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build, "tagrelay-cli")


def make_tree(files):
    out = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_collection.py"),
                          "--files", str(files)], check=True, stdout=subprocess.PIPE, text=True)
    return out.stdout.strip().splitlines()[-1]


def tree_facts(tree):
    files = albums = size = 0
    for root, _dirs, names in os.walk(tree):
        mp3s = [n for n in names if n.lower().endswith(".mp3")]
        files += len(mp3s)
        albums += 1 if mp3s else 0
        size += sum(os.path.getsize(os.path.join(root, n)) for n in names)
    return files, albums, size


def distinct_bytes(tree):
    seen = set()
    size = 0
    for root, _dirs, names in os.walk(tree):
        for name in names:
            status = os.stat(os.path.join(root, name))
            if status.st_ino not in seen:
                seen.add(status.st_ino)
                size += status.st_size
    return size


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def can_drop_caches():
    try:
        drop_caches()
        return True
    except OSError:
        return False


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def run_once(program, workdir):
    """Runs the program once; gives its wall time in seconds, its peak memory in MB and the
    processor time (user and system) it and its children took, in seconds."""
    report = os.path.join(workdir, "time.out")
    command = program.argv if program.argv else ["sh", "-c", program.shell]
    start = time.perf_counter()
    done = subprocess.run([GNU_TIME, "-f", "%M %U %S", "-o", report, *command], cwd=workdir,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    with open(report) as f:
        lines = f.read().split()
    if done.returncode not in (0, 1):
        print(f"warning: {program.name} exited with {done.returncode}", file=sys.stderr)
    return seconds, int(lines[-3]) / 1024, float(lines[-2]) + float(lines[-1])


def measure(programs, state, runs, workdir):
    """Runs every program of the state (warm or cold) runs times, round by round."""
    chosen = [p for p in programs if state in p.when]
    results = {p.name: [] for p in chosen}
    for round_number in range(runs):
        turn = round_number % len(chosen)
        for program in chosen[turn:] + chosen[:turn]:
            if state == "cold":
                drop_caches()
            results[program.name].append(run_once(program, workdir))
        print(f"\r{state}: round {round_number + 1}/{runs} done", end="", file=sys.stderr,
              flush=True)
    print(file=sys.stderr)
    return results


def summary(samples):
    """Median, fastest and slowest wall time, the largest peak memory and the median
    processor time of a program's runs."""
    times = [s[0] for s in samples]
    return (statistics.median(times), min(times), max(times), max(s[1] for s in samples),
            statistics.median(s[2] for s in samples))


def time_cell(samples, files):
    if not samples:
        return "", ""
    median, fastest, slowest, _, _ = summary(samples)
    return (f"{median:.2f} s ({fastest:.2f} to {slowest:.2f})", f"{files / median:,.0f}")


def vbr_files(tree):
    """The files a walk reads to their end: those whose description says VBR."""
    found = []
    for root, _dirs, names in os.walk(tree):
        for name in names:
            if name.lower() != "descript.ion":
                continue
            with open(os.path.join(root, name), "rb") as f:
                for line in f.read().split(b"\r\n"):
                    if line.startswith(b'"') and b" kbs VBR" in line:
                        found.append(os.path.join(root.encode(), line[1:line.index(b'"', 1)]))
    return found


def compare(args, cli):
    tree = make_tree(args.files)
    files, albums, size = tree_facts(tree)
    programs = programs_for(tree, cli)
    cold = not args.no_cold and can_drop_caches()
    if cold and distinct_bytes(tree) < size:
        print("note: the tree links albums more than once; a file's second link is read from "
              "the page cache, so the cold runs are partly warm", file=sys.stderr)
    workdir = tempfile.mkdtemp(prefix="tagrelay-collection-run-")
    loads = [load_average()]
    # Warm: every byte in the page cache, every program's own files too.
    subprocess.run(["sh", "-c", programs[-1].shell], stdout=subprocess.DEVNULL)
    for program in programs:
        if "warm" in program.when:
            run_once(program, workdir)
    vbr_list = os.path.join(workdir, "vbr-files")
    with open(vbr_list, "wb") as f:
        f.write(b"\0".join(vbr_files(tree)))
    vbr_floor = Program("every byte of the VBR files, 2 parallel cat",
                        shell=f"xargs -0 -P 2 -n 32 cat < {shell_quote(vbr_list)}",
                        when=("warm",))
    programs.insert(len(programs) - 1, vbr_floor)
    run_once(vbr_floor, workdir)
    warm = measure(programs, "warm", args.runs, workdir)
    loads.append(load_average())
    results = {"warm": warm}
    if cold:
        results["cold"] = measure(programs, "cold", args.runs, workdir)
        loads.append(load_average())
    shutil.rmtree(workdir)

    print(f"\n{files} MP3 files in {albums} album folders, {size / 1e9:.2f} GB, {tree}")
    print(f"{os.cpu_count()} cores; median of {args.runs} runs (fastest to slowest); "
          f"load average (1 min) {', '.join(f'{x:.1f}' for x in loads)} at the start and "
          f"after each state\n")
    print("| program | warm | files/s warm | cold | files/s cold | processor time warm / cold "
          "| peak RSS |")
    print("|---|---|---|---|---|---|---|")
    for program in programs:
        warm_time, warm_pace = time_cell(results["warm"].get(program.name, []), files)
        cold_time, cold_pace = time_cell(results.get("cold", {}).get(program.name, []), files)
        every = results["warm"].get(program.name, []) + results.get("cold", {}).get(
            program.name, [])
        is_floor = program.name in (programs[-1].name, vbr_floor.name)
        peak = "" if is_floor else f"{max(s[1] for s in every):.1f} MB"
        processor = " / ".join(f"{summary(results[state][program.name])[4]:.2f} s"
                               if program.name in results.get(state, {}) else "-"
                               for state in ("warm", "cold"))
        print(f"| {program.name} | {warm_time} | {warm_pace} | {cold_time} | {cold_pace} "
              f"| {processor} | {peak} |")

    def median_of(state, name):
        samples = results.get(state, {}).get(name)
        return summary(samples)[0] if samples else None

    ours = programs[0].name
    mutagen = programs[1].name
    floor = programs[-1].name
    print()
    print(f"warm: tagrelay-cli at {median_of('warm', mutagen) / median_of('warm', ours):.2f} "
          f"times mutagen's pace; reading the VBR files alone takes "
          f"{median_of('warm', vbr_floor.name) / median_of('warm', mutagen):.2f} of mutagen's time")
    if cold:
        print(f"cold: tagrelay-cli at {median_of('cold', mutagen) / median_of('cold', ours):.2f}"
              f" times mutagen's pace, taking {median_of('cold', ours) / median_of('cold', floor):.2f}"
              f" of the floor's time")
    saved = os.path.join(os.path.dirname(tree), f"results-{time.strftime('%Y%m%d-%H%M%S')}.json")
    with open(saved, "w") as f:
        json.dump({"tree": tree, "files": files, "bytes": size, "loads": loads,
                   "results": results}, f, indent=1)
    print(f"(every run: {saved})")


def scale(args, cli):
    sizes = [int(s) for s in args.scale.split(",")]
    trees = [make_tree(n) for n in sizes]
    workdir = tempfile.mkdtemp(prefix="tagrelay-collection-run-")
    rows = []
    loads = [load_average()]
    for size, tree in zip(sizes, trees):
        programs = programs_for(tree, cli)[:2 if args.with_mutagen else 1]
        subprocess.run(["sh", "-c", f"find {shell_quote(tree)} -type f -print0 "
                        "| xargs -0 -P 16 -n 64 cat"], stdout=subprocess.DEVNULL)
        for program in programs:
            run_once(program, workdir)
        results = measure(programs, "warm", args.runs, workdir)
        loads.append(load_average())
        for program in programs:
            rows.append((program.name, size, distinct_bytes(tree),
                         summary(results[program.name])))
    shutil.rmtree(workdir)

    print(f"\nwarm, median of {args.runs} runs (fastest to slowest); load average (1 min) "
          f"{', '.join(f'{x:.1f}' for x in loads)} at the start and after each size\n")
    print("| program | files | distinct data | time | files/s | per file | processor time "
          "per file | peak RSS |")
    print("|---|---|---|---|---|---|---|---|")
    first = {}
    for name, size, data, (median, fastest, slowest, peak, processor) in rows:
        first.setdefault(name, (size, median, peak, processor))
        print(f"| {name} | {size:,} | {data / 1e9:.1f} GB | {median:.2f} s ({fastest:.2f} to "
              f"{slowest:.2f}) | {size / median:,.0f} | {1e6 * median / size:.0f} µs "
              f"| {1e6 * processor / size:.0f} µs | {peak:.1f} MB |")
    print()
    for name, size, _data, (median, _fastest, _slowest, peak, processor) in rows:
        base_size, base_median, base_peak, base_processor = first[name]
        if size != base_size:
            print(f"{name}: {size / base_size:.1f} times the files took "
                  f"{median / base_median:.2f} times the time, {processor / base_processor:.2f} "
                  f"times the processor time and {peak / base_peak:.2f} times the peak memory "
                  f"of {base_size:,}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=720)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cli", help="tagrelay-cli to run (default: build/bench, built here)")
    parser.add_argument("--no-cold", action="store_true", help="warm runs only")
    parser.add_argument("--scale", help="sizes, e.g. 10000,30000,100000: the growth run")
    parser.add_argument("--with-mutagen", action="store_true",
                        help="in the growth run, mutagen beside tagrelay-cli")
    args = parser.parse_args()
    check_tools(need_peers=not args.scale)
    cli = os.path.abspath(args.cli) if args.cli else build_cli()
    if args.scale:
        scale(args, cli)
    else:
        compare(args, cli)


if __name__ == "__main__":
    main()
