#!/usr/bin/env bash
# The --update benchmark: an unchanged tree of 20 000 files in 400 folders described again
# with tagrelay-cli --update, against `find TREE -printf '%s %T@ %i\n'` over the same tree
# (the goal: within 3 times its time); the peak memory of the run (goal: under 64 MB); then
# 1 % of the MP3 files changed: the files the run opens are counted (goal: only those) and
# the lists and icon files compared with those of a run without --update.
#
#   bench/update/run.sh                      CLI=path/to/tagrelay-cli RUNS=7 bench/update/run.sh
#
# It needs python3 and ImageMagick's convert (the tree, made once), strace and GNU time
# (scripts/install-deps bench). Settings: CLI (default build/release/tagrelay-cli, else
# build/bench/tagrelay-cli), DIR (default /tmp/tagrelay-update-bench, the tree stays there
# between runs), RUNS (default 5; the median counts), OPTIONS (the facts asked for).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

cli=${CLI:-}
if [ -z "$cli" ]; then
    for candidate in "$root/build/release/tagrelay-cli" "$root/build/bench/tagrelay-cli"; do
        if [ -x "$candidate" ]; then
            cli=$candidate
            break
        fi
    done
fi
if [ -z "$cli" ] || [ ! -x "$cli" ]; then
    echo "run.sh: no tagrelay-cli; build one (bench/README.md) or give CLI=path" >&2
    exit 2
fi
if ! "$cli" --help | grep -q -- '--update'; then
    echo "run.sh: $cli has no --update" >&2
    exit 2
fi
for tool in python3 strace /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (scripts/install-deps bench)" >&2; exit 2; }
done

dir=${DIR:-/tmp/tagrelay-update-bench}
runs=${RUNS:-5}
read -r -a options <<<"${OPTIONS:---artist --album --title --bitrate --playtime --genre --mp3-icons --picture-size --picture-icons}"
tree=$dir/tree
cache=$dir/cache/descriptions.sqlite
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if [ ! -d "$tree" ]; then
    echo "run.sh: making the tree in $tree"
    python3 "$here/make_tree.py" "$tree"
fi
rm -rf "$dir/cache"
mkdir -p -m 0700 "$dir/cache"

update() { "$cli" --update --cache "$cache" "${options[@]}" "$tree" >/dev/null; }
list_find() { find "$tree" -printf '%s %T@ %i\n' >/dev/null; }
milliseconds() {
    local start end
    start=$(date +%s%N)
    "$@"
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

files=$(find "$tree" -type f | wc -l)
echo "run.sh: $cli, tree $tree ($files files, $(find "$tree" -mindepth 1 -type d | wc -l) folders)"
echo "run.sh: options ${options[*]}"
first=$(milliseconds update)
echo "first run (every file analysed, the cache filled): $first ms"

# Warm both once, then take turns, so neither gains from the other's reads.
list_find
update
: >"$scratch/find"
: >"$scratch/update"
for _ in $(seq "$runs"); do
    milliseconds list_find >>"$scratch/find"
    milliseconds update >>"$scratch/update"
done
find_ms=$(median <"$scratch/find")
update_ms=$(median <"$scratch/update")
echo "unchanged tree, median of $runs: find $find_ms ms, --update $update_ms ms," \
    "ratio $(awk -v u="$update_ms" -v f="$find_ms" 'BEGIN { printf "%.2f", u / f }') (goal: 3)"
echo "  find:     $(tr '\n' ' ' <"$scratch/find")ms"
echo "  --update: $(tr '\n' ' ' <"$scratch/update")ms"

/usr/bin/time -f '%M' -o "$scratch/peak" "$cli" --update --cache "$cache" "${options[@]}" "$tree" >/dev/null
echo "peak memory of an --update run: $(($(cat "$scratch/peak") / 1024)) MB (goal: under 64 MB)"

# 1 % changed: which media files does the run open?
python3 "$here/make_tree.py" "$tree" --change 1 --seed "$RANDOM" >"$scratch/changed"
sort -o "$scratch/changed" "$scratch/changed"
strace -f -qq -y -e trace=open,openat -o "$scratch/trace" \
    "$cli" --update --cache "$cache" "${options[@]}" "$tree" >/dev/null
# openat(5</tree/album001>, "01 track 0.mp3", O_RDONLY|...) = 6</tree/...>: a media file
# opened for reading, named by the folder's path (-y) and the name in it.
grep -E '"[^"]*\.(mp3|jpg|bmp|avi|mpg)", O_RDONLY' "$scratch/trace" | grep -v ' = -1 ' |
    sed -E 's/^[0-9]+ +//; s/^open(at)?\([0-9]+<([^>]*)>, "([^"]*)".*/\2\/\3/;
            s/^open(at)?\((AT_FDCWD, )?"([^"]*)".*/\3/' | sort -u >"$scratch/opened"
changed=$(wc -l <"$scratch/changed")
opened=$(wc -l <"$scratch/opened")
unexpected=$(comm -13 "$scratch/changed" "$scratch/opened" | wc -l)
echo "1 % changed: $changed MP3 files rewritten, $opened media files opened," \
    "$unexpected of them unchanged (goal: 0)"
python3 "$here/make_tree.py" "$tree" --change 1 --seed "$RANDOM" >/dev/null
echo "another 1 % changed: --update $(milliseconds update) ms"

# The lists and icon files must be those of a run without --update.
snapshot() { (cd "$tree" && find . \( -iname descript.ion -o -name '*.ico' \) -type f -print0 | sort -z | xargs -0 sha256sum); }
snapshot >"$scratch/after-update"
"$cli" "${options[@]}" "$tree" >/dev/null
snapshot >"$scratch/after-full"
if cmp -s "$scratch/after-update" "$scratch/after-full"; then
    echo "lists and icon files: the same as a run without --update ($(wc -l <"$scratch/after-full") files)"
else
    echo "lists and icon files DIFFER from a run without --update:"
    diff "$scratch/after-update" "$scratch/after-full" | head -20
    exit 1
fi
