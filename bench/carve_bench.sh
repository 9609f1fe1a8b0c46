#!/usr/bin/env bash
# Signature Search throughput, as ratios measured in one run (medians of interleaved rounds:
# every round runs each contender once, in the same order, so drift hits all of them alike):
#  (a) the General pass alone (every type ticked, carved bytes discarded) over an image without
#      headers (half random, half zeros) against `cat` of the same file, both from the page
#      cache; the same with --exact-end and with --any-offset (every byte probed), to state what
#      they cost;
#  (b) kestravon-cli carve end to end over two images packed with real JPG, PNG, GIF, PDF and ZIP
#      files, one with each file straight after the last and one with random gaps and random
#      slack between them: the default search and --exact-end, each against `cp -r` of exactly
#      the files it wrote (the floor that writing those bytes sets), and against `foremost -q`
#      and photorec with its default options on the same image, every tool writing into a
#      RAM-backed folder;
#  (c) on the exact-ends test image (38 real files of 30 types with gaps and slack): how many
#      planted files each carver gives back byte for byte.
# Environment: KFR_BENCH_MIB (image size, default 1024), KFR_BENCH_ROUNDS (default 5),
# KFR_BENCH_RAM (default /dev/shm). Run through bench/run.sh (which builds build-bench), or
# directly with KFR_BENCH_BUILD set.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${KFR_BENCH_BUILD:-$here/../build-bench}"
bin="$build/bin"
data="$here/data/carve"
ram="${KFR_BENCH_RAM:-/dev/shm}/kfr-carve-bench.$$"
mib="${KFR_BENCH_MIB:-1024}"
rounds="${KFR_BENCH_ROUNDS:-5}"
mkdir -p "$data" "$ram"
trap 'rm -rf "$ram"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Runs "$@" once and appends "wall cpu" (seconds) to the file named by $1.
timed() {
    local out=$1
    shift
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$t" >>"$out"
}
wall() { awk '{ print $1 }' "$1" | median; }
cpu() { awk '{ print $2 }' "$1" | median; }

# --- (a) scan alone ------------------------------------------------------------------------
plain="$data/no_headers.img"
if [ ! -f "$plain" ]; then
    { head -c 536870912 /dev/urandom; head -c 536870912 /dev/zero; } >"$plain"
fi
cat "$plain" >/dev/null # into the page cache
for r in $(seq 1 "$rounds"); do
    timed "$ram/a.cat" cat "$plain"
    for mode in plain exact any-offset; do
        read -r _ s _ < <("$bin/carve_scan" "$plain" "$bin" 1 "$mode")
        echo "$s 0" >>"$ram/a.$mode"
    done
done
t_cat=$(wall "$ram/a.cat")
echo "scan alone over 1024 MiB without headers (medians of $rounds rounds):"
printf "  %-34s %8.3f s\n" "cat" "$t_cat"
for mode in plain exact any-offset; do
    t=$(wall "$ram/a.$mode")
    printf "  %-34s %8.3f s   throughput / cat %s\n" "General pass ($mode)" "$t" "$(ratio "$t_cat" "$t")"
done

# --- (b) end to end --------------------------------------------------------------------------
# Real JPG, PNG, GIF, PDF and ZIP files of a few hundred kilobytes to a few megabytes, planted
# from sector starts; a file that holds a shipped header at a later sector start is left out,
# since the next-header rule would cut it there and the images are meant to show speed.
src="$data/sources"
if [ ! -f "$src/.done" ]; then
    rm -rf "$src" && mkdir -p "$src"
    for i in $(seq 1 8); do
        convert -size $((1200 + i * 100))x$((900 + i * 75)) -seed "$i" plasma:fractal -quality 92 "$src/p$i.jpg"
        convert -size $((400 + i * 40))x$((300 + i * 30)) -seed "$i" plasma:fractal "$src/p$i.png"
        convert -size $((300 + i * 20))x$((200 + i * 20)) -seed "$i" plasma:fractal -colors 128 "$src/p$i.gif"
        convert -size $((800 + i * 50))x$((600 + i * 40)) -seed "$((i + 20))" plasma:fractal -quality 85 "$src/q$i.jpeg"
        (cd "$src" && gs -q -dNOSAFER -sDEVICE=pdfwrite -o "p$i.pdf" viewjpeg.ps -c "(q$i.jpeg) viewJPEG")
        head -c $((150000 * i)) /dev/urandom | base64 >"$src/t$i.txt"
        (cd "$src" && zip -q "p$i.zip" "t$i.txt")
    done
    touch "$src/.done"
fi
plant() { # plant OUT GAPS(0/1)
    python3 - "$src" "$1" "$bin/MFTSig.dll" "$2" "$mib" <<'PY'
import os, random, sys
src, out, sigfile, gaps, mib = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4] == "1", int(sys.argv[5])
lines = open(sigfile, "rb").read().decode("latin-1").split("\n")
val = lambda l: l.rsplit(":", 1)[-1].strip()
sigs = [(bytes.fromhex(val(lines[i + 2])), int(val(lines[i + 3]))) for i in range(0, len(lines) - 5, 6)]
def splits(data):
    return any(data[p + o - 1:p + o - 1 + len(h)] == h for p in range(512, len(data), 512) for h, o in sigs)
names = sorted(f for f in os.listdir(src) if f.rsplit(".", 1)[-1] in ("jpg", "png", "gif", "pdf", "zip"))
blobs = [b for b in (open(os.path.join(src, f), "rb").read() for f in names) if not splits(b)]
rng = random.Random(13)
size, pos, n = mib << 20, 0, 0
with open(out, "wb") as img:
    while True:
        b = blobs[n % len(blobs)]
        slack = (-len(b)) % 512
        b += rng.randbytes(slack) if gaps else bytes(slack)
        if gaps:
            b += rng.randbytes(512 * rng.choice([0, 0, 1, 2, 3, 5, 8]))
        if pos + len(b) > size:
            break
        img.write(b)
        pos += len(b)
        n += 1
    img.write(bytes(size - pos))
print(n, file=open(out + ".count", "w"))
PY
}
packed="$data/planted_${mib}_packed.img"
gapped="$data/planted_${mib}_gaps.img"
[ -f "$packed" ] || plant "$packed" 0
[ -f "$gapped" ] || plant "$gapped" 1

run_ours() { # IMAGE OUT [options]
    local image=$1 out=$2
    shift 2
    rm -rf "$out" && mkdir -p "$out"
    "$bin/kestravon-cli" --no-progress --json carve --source "$image" --dest "$out" --no-thorough --signatures "$bin" "$@" >"$out.json"
}
run_cp() { rm -rf "$2" && cp -r "$1" "$2"; }
run_foremost() { rm -rf "$2" && foremost -q -i "$1" -o "$2"; }
run_photorec() { rm -rf "$2" && mkdir -p "$2" && (cd "$2" && photorec /log /d "$2/out" /cmd "$1" search); }
count_files() { find "$1" -type f ! -name audit.txt ! -name report.xml ! -name report.json ! -name photorec.log ! -name '*.json' | wc -l; }
bytes_of() { du -sb --apparent-size "$1" | awk '{ printf "%.0f", $1 / 1048576 }'; }

have_foremost=$(command -v foremost >/dev/null && echo 1 || echo 0)
have_photorec=$(command -v photorec >/dev/null && echo 1 || echo 0)
for image in "$packed" "$gapped"; do
    cat "$image" >/dev/null
    tag=$(basename "$image" .img)
    # The files each mode writes, made once: cp copies exactly those.
    run_ours "$image" "$ram/ref_default" 2>/dev/null
    run_ours "$image" "$ram/ref_exact" --exact-end
    rm -f "$ram"/b.*
    for r in $(seq 1 "$rounds"); do
        timed "$ram/b.ours_default" run_ours "$image" "$ram/o" 
        timed "$ram/b.cp_default" run_cp "$ram/ref_default" "$ram/c"
        timed "$ram/b.ours_exact" run_ours "$image" "$ram/o" --exact-end
        timed "$ram/b.cp_exact" run_cp "$ram/ref_exact" "$ram/c"
        [ "$have_foremost" = 1 ] && timed "$ram/b.foremost" run_foremost "$image" "$ram/f"
        [ "$have_photorec" = 1 ] && timed "$ram/b.photorec" run_photorec "$image" "$ram/p"
        rm -rf "$ram/o" "$ram/c"
    done
    echo "end to end, $tag: $mib MiB holding $(cat "$image.count") planted files (medians of $rounds rounds; wall s, CPU s, files, MiB written):"
    row() { printf "  %-26s %8.3f %8.3f %7s %7s  %s\n" "$1" "$(wall "$ram/b.$2")" "$(cpu "$ram/b.$2")" "$3" "$4" "${5:-}"; }
    row "kestravon (default)" ours_default "$(count_files "$ram/ref_default/Kestravon FAT Recovery")" "$(bytes_of "$ram/ref_default")" \
        "time / cp of its files: $(ratio "$(wall "$ram/b.ours_default")" "$(wall "$ram/b.cp_default")") (target <= 1.1)"
    row "cp -r of those files" cp_default "" ""
    row "kestravon --exact-end" ours_exact "$(count_files "$ram/ref_exact/Kestravon FAT Recovery")" "$(bytes_of "$ram/ref_exact")" \
        "time / cp of its files: $(ratio "$(wall "$ram/b.ours_exact")" "$(wall "$ram/b.cp_exact")")"
    row "cp -r of those files" cp_exact "" ""
    if [ "$have_foremost" = 1 ]; then
        run_foremost "$image" "$ram/f" >/dev/null 2>&1
        row "foremost -q" foremost "$(count_files "$ram/f")" "$(bytes_of "$ram/f")" \
            "exact-end speed-up: $(ratio "$(wall "$ram/b.foremost")" "$(wall "$ram/b.ours_exact")") (target >= 4)"
        rm -rf "$ram/f"
    else
        echo "  foremost not installed, skipped"
    fi
    if [ "$have_photorec" = 1 ]; then
        run_photorec "$image" "$ram/p" >/dev/null 2>&1
        row "photorec (defaults)" photorec "$(count_files "$ram/p")" "$(bytes_of "$ram/p")" \
            "speed-up default: $(ratio "$(wall "$ram/b.photorec")" "$(wall "$ram/b.ours_default")") (target >= 8), exact-end: $(ratio "$(wall "$ram/b.photorec")" "$(wall "$ram/b.ours_exact")") (target >= 8)"
        rm -rf "$ram/p"
    else
        echo "  photorec not installed, skipped"
    fi
    rm -rf "$ram/ref_default" "$ram/ref_exact"
done

# --- (c) byte-exact files on the exact-ends test image -----------------------------------------
fixture="$build/fixtures/carving_exact.img"
[ -f "$fixture" ] || fixture="$(dirname "$here")/build/fixtures/carving_exact.img"
if [ -f "$fixture" ]; then
    manifest="$here/../tests/fixtures/carving_originals/exact_manifest.txt"
    run_ours "$fixture" "$ram/x_ours" --exact-end
    [ "$have_foremost" = 1 ] && run_foremost "$fixture" "$ram/x_foremost" >/dev/null 2>&1
    [ "$have_photorec" = 1 ] && run_photorec "$fixture" "$ram/x_photorec" >/dev/null 2>&1
    python3 - "$fixture" "$manifest" "$ram" <<'PY'
import hashlib, os, sys
image, manifest, ram = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(image, "rb").read()
want = {}
for line in open(manifest):
    if line.startswith("#") or not line.strip():
        continue
    name, kind, off, length, _ = line.split()
    want[hashlib.sha1(data[int(off):int(off) + int(length)]).hexdigest()] = name
print("byte-exact files on carving_exact.img (%d planted files of real tools, gaps and slack):" % len(want))
for tool in ("ours", "foremost", "photorec"):
    root = os.path.join(ram, "x_" + tool)
    if not os.path.isdir(root):
        continue
    got, total = set(), 0
    for d, _, files in os.walk(root):
        for f in files:
            if f.endswith((".json", ".xml", ".txt", ".log")):
                continue
            total += 1
            h = hashlib.sha1(open(os.path.join(d, f), "rb").read()).hexdigest()
            if h in want:
                got.add(want[h])
    label = {"ours": "kestravon --exact-end", "foremost": "foremost -q", "photorec": "photorec (defaults)"}[tool]
    print("  %-22s %2d of %d exact, %d files written" % (label, len(got), len(want), total))
PY
fi
