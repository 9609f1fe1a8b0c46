# Interleaved rounds for the benchmark scripts (sourced, not run). Each round runs every command
# once, in turn, so that a slow moment of the machine falls on all of them alike; the figures are
# the medians over the rounds of wall time, CPU time (user + system) and peak memory.
#
#   round_add NAME command...   registers a command under NAME (its output is thrown away)
#   rounds_run N                runs N rounds; `before_each NAME` is called before every run when
#                               the caller defines it (to empty an output folder, say)
#   wall NAME / cpu NAME / peak_kib NAME    the medians after rounds_run
#   ratio A B                   wall(B) / wall(A): how many times faster A is than B
#   cache_fresh FILE            drops FILE from the page cache and reads it in once, so that every
#                               command meets it as freshly read: a file the kernel has held in
#                               small pieces since it was written reads (`cat`) up to twice as
#                               slowly as the same file just read, which moves every ratio to it

cache_fresh() {
  dd if="$1" iflag=nocache count=0 status=none
  cat "$1" >/dev/null
}

declare -A _cmd _walls _cpus _peaks
_names=()

round_add() {
  local name=$1; shift
  _names+=("$name")
  _cmd[$name]=$(printf '%q ' "$@")
  _walls[$name]=""; _cpus[$name]=""; _peaks[$name]=""
}

_median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{v[NR]=$1} END {if (NR % 2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }

rounds_run() {
  local n=$1 r name _timing t0 t1 w u s m
  _timing=$(mktemp)
  for ((r = 0; r < n; r++)); do
    for name in "${_names[@]}"; do
      if declare -F before_each >/dev/null; then before_each "$name"; fi
      # Wall time from the clock to the nanosecond (time's own is in hundredths of a second, too
      # coarse for runs of a few tenths); CPU time and peak memory from time.
      t0=$(date +%s.%N)
      /usr/bin/time -o "$_timing" -f '%e %U %S %M' bash -c "${_cmd[$name]} >/dev/null 2>&1" || true
      t1=$(date +%s.%N)
      read -r _ u s m < <(tail -1 "$_timing")
      w=$(awk "BEGIN{printf \"%.4f\", $t1 - $t0}")
      _walls[$name]+=" $w"
      _cpus[$name]+=" $(awk "BEGIN{print $u + $s}")"
      _peaks[$name]+=" $m"
    done
  done
  rm -f "$_timing"
}

wall() { echo "${_walls[$1]}" | _median; }
cpu() { echo "${_cpus[$1]}" | _median; }
peak_kib() { echo "${_peaks[$1]}" | _median; }
ratio() { awk "BEGIN{a = $(wall "$1"); b = $(wall "$2"); if (a <= 0) a = 0.001; printf \"%.2f\", b / a}"; }

# One line per command: median wall and CPU seconds and peak memory.
rounds_print() {
  local name
  for name in "$@"; do
    printf '  %-34s wall %7.3f s   cpu %7.3f s   peak %7d KiB\n' "$name" "$(wall "$name")" "$(cpu "$name")" "$(peak_kib "$name")"
  done
}

rounds_reset() { _names=(); _cmd=(); _walls=(); _cpus=(); _peaks=(); }
