#!/usr/bin/env bash
# Signature Search throughput, as ratios measured in one run:
#  (a) the General pass alone (every type ticked, carved bytes discarded) over 1 GiB without
#      headers (half random, half zeros) against `cat` of the same file, both from the page
#      cache;
#  (b) kestravon-cli carve end to end over a 1 GiB image packed with over a thousand JPG, PNG,
#      GIF, PDF and ZIP files against `foremost -q` and photorec's batch mode on the same types,
#      every tool writing to a RAM-backed folder; `cat` of the image into that folder shows the
#      floor that writing the carved bytes sets.
# Run through bench/run.sh (which builds build-bench), or directly with KFR_BENCH_BUILD set.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${KFR_BENCH_BUILD:-$here/../build-bench}"
bin="$build/bin"
data="$here/data/carve"
ram="${KFR_BENCH_RAM:-/dev/shm}/kfr-carve-bench.$$"
mkdir -p "$data" "$ram"
trap 'rm -rf "$ram"' EXIT

now() { date +%s.%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
best_of_3() {  # prints the shortest wall time of three runs of "$@"
    local best="" t0 t1 d
    for _ in 1 2 3; do
        t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
        d=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
        if [ -z "$best" ] || awk -v d="$d" -v b="$best" 'BEGIN { exit !(d < b) }'; then best=$d; fi
    done
    echo "$best"
}

# --- (a) scan alone ------------------------------------------------------------------------
plain="$data/no_headers.img"
if [ ! -f "$plain" ]; then
    { head -c 536870912 /dev/urandom; head -c 536870912 /dev/zero; } > "$plain"
fi
cat "$plain" > /dev/null  # into the page cache
cat_time=$(best_of_3 cat "$plain")
read -r bytes scan_time scan_files < <("$bin/carve_scan" "$plain" "$bin" 3)
mib=$((bytes / 1048576))
echo "scan alone: ${mib} MiB, General pass $(printf '%.3f' "$scan_time") s (${scan_files} files), cat $(printf '%.3f' "$cat_time") s"
echo "scan alone: ratio to raw read (target >= 0.8): $(ratio "$cat_time" "$scan_time")"

# --- (b) end to end --------------------------------------------------------------------------
# A disk full of files: real JPG, PNG, GIF, PDF and ZIP files of a few hundred kilobytes to a
# few megabytes, one after another from sector boundaries, the slack of each last sector zero.
planted="$data/planted_dense.img"
if [ ! -f "$planted" ]; then
    src="$data/sources"
    rm -rf "$src" && mkdir -p "$src"
    for i in $(seq 1 8); do
        convert -size $((1200 + i * 100))x$((900 + i * 75)) -seed "$i" plasma:fractal -quality 92 "$src/p$i.jpg"
        convert -size $((400 + i * 40))x$((300 + i * 30)) -seed "$i" plasma:fractal "$src/p$i.png"
        convert -size $((300 + i * 20))x$((200 + i * 20)) -seed "$i" plasma:fractal -colors 128 "$src/p$i.gif"
        convert -size $((800 + i * 50))x$((600 + i * 40)) -seed "$((i + 20))" plasma:fractal -quality 85 "$src/q$i.jpeg"
        (cd "$src" && gs -q -dNOSAFER -sDEVICE=pdfwrite -o "p$i.pdf" viewjpeg.ps -c "(q$i.jpeg) viewJPEG")
        head -c $((150000 * i)) /dev/urandom | base64 > "$src/t$i.txt"
        (cd "$src" && zip -q "p$i.zip" "t$i.txt")
    done
    python3 - "$src" "$planted" "$bin/MFTSig.dll" <<'PY'
import os, sys
src, out, sigfile = sys.argv[1], sys.argv[2], sys.argv[3]
lines = open(sigfile, "rb").read().decode("latin-1").split("\n")
val = lambda l: l.rsplit(":", 1)[-1].strip()
sigs = [(bytes.fromhex(val(lines[i + 2])), int(val(lines[i + 3]))) for i in range(0, len(lines) - 5, 6)]
def splits(data):  # a header at a later sector start would cut the file in two
    return any(data[p + o - 1:p + o - 1 + len(h)] == h for p in range(512, len(data), 512) for h, o in sigs)
names = sorted(f for f in os.listdir(src) if f.rsplit(".", 1)[-1] in ("jpg", "png", "gif", "pdf", "zip"))
blobs = [b for b in (open(os.path.join(src, f), "rb").read() for f in names) if not splits(b)]
size, pos, n = 1 << 30, 0, 0
with open(out, "wb") as img:
    while True:
        b = blobs[n % len(blobs)]
        b += bytes((-len(b)) % 512)
        if pos + len(b) > size:
            break
        img.write(b)
        pos += len(b)
        n += 1
    img.write(bytes(size - pos))
print(n, file=open(out + ".count", "w"))
PY
fi
cat "$planted" > /dev/null
types_upper=JPG,PNG,GIF,PDF,ZIP
types_lower=jpg,png,gif,pdf,zip

run_ours() {
    rm -rf "$ram/ours" && mkdir -p "$ram/ours"
    "$bin/kestravon-cli" --no-progress --json carve --source "$planted" --dest "$ram/ours" --types "$types_upper" --no-thorough \
        --signatures "$bin" > "$ram/ours.json"
}
run_foremost() {
    rm -rf "$ram/foremost"
    foremost -q -t "$types_lower" -i "$planted" -o "$ram/foremost"
}
run_photorec() {
    rm -rf "$ram/photorec" && mkdir -p "$ram/photorec"
    (cd "$ram/photorec" && photorec /d "$ram/photorec/out" /cmd "$planted" \
        "options,paranoid_no,fileopt,everything,disable,jpg,enable,png,enable,gif,enable,pdf,enable,zip,enable,search")
}

copy_to_ram() { cat "$planted" > "$ram/copy.img"; }
t_cat=$(best_of_3 cat "$planted")
t_copy=$(best_of_3 copy_to_ram)
rm -f "$ram/copy.img"
t_ours=$(best_of_3 run_ours)
ours_files=$(grep -o '"general_found": [0-9]*' "$ram/ours.json" | grep -o '[0-9]*$')
echo "end to end: 1024 MiB holding $(cat "$planted.count") planted files; kestravon $(printf '%.3f' "$t_ours") s (${ours_files} files)"
echo "end to end: cat to /dev/null $(printf '%.3f' "$t_cat") s, cat into the RAM folder $(printf '%.3f' "$t_copy") s"
echo "end to end: kestravon throughput / raw read: $(ratio "$t_cat" "$t_ours"), / copy into RAM: $(ratio "$t_copy" "$t_ours")"
if command -v foremost >/dev/null; then
    t_fm=$(best_of_3 run_foremost)
    fm_files=$(find "$ram/foremost" -type f ! -name audit.txt | wc -l)
    echo "end to end: foremost -q $(printf '%.3f' "$t_fm") s (${fm_files} files)"
    echo "end to end: kestravon throughput / foremost (target >= 4): $(ratio "$t_fm" "$t_ours")"
else
    echo "end to end: foremost not installed, skipped"
fi
if command -v photorec >/dev/null; then
    t_pr=$(best_of_3 run_photorec)
    pr_files=$(find "$ram/photorec" -type f -path '*out*' ! -name report.xml | wc -l)
    echo "end to end: photorec $(printf '%.3f' "$t_pr") s (${pr_files} files)"
    echo "end to end: kestravon throughput / photorec: $(ratio "$t_pr" "$t_ours")"
else
    echo "end to end: photorec not installed, skipped"
fi
