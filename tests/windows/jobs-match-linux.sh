#!/usr/bin/env bash
# The Windows program's --output jobs, run under Wine, are byte for byte what
# the Linux program writes: four languages at nine positions on A4, Letter
# and a roll, with and without corrections.
#
#   jobs-match-linux.sh WINDOWS_EXE LINUX_PROGRAM WINE
# Exits 77 (skipped) when the Linux program has not been built.
set -uo pipefail
EXE="$1" LINUX="$2" WINE="$3"
[ -x "$LINUX" ] || { echo "no Linux program at $LINUX: build it first (scripts/test does)"; exit 77; }
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
# Wine's server stays up between the runs.
"$WINE" cmd /c exit >/dev/null 2>&1

failed=0 runs=0
for language in hpgl dmpl gpgl camm; do
  for sheet in A4 Letter 600x1000; do
    for corrections in "" "--scale 100.7,99.5 --overcut 1"; do
      for position in 0 1 2 3 4 5 6 7 8; do
        # shellcheck disable=SC2086 # the corrections are two options
        args=(--cut --send-as "$language" --sheet "$sheet" --position "$position" $corrections)
        "$LINUX" "${args[@]}" --output "$OUT/linux.plt" 2>"$OUT/linux.err"
        linux=$?
        "$WINE" "$EXE" "${args[@]}" --output "$OUT/windows.plt" 2>"$OUT/windows.err"
        windows=$?
        runs=$((runs + 1))
        if [ "$linux" -ne "$windows" ] || ! cmp -s "$OUT/linux.plt" "$OUT/windows.plt"; then
          echo "differs: ${args[*]} (exit $linux on Linux, $windows on Windows)"
          # What either said: a failure is told, not only counted.
          sed 's/^/  Linux: /' "$OUT/linux.err"
          sed 's/^/  Windows: /' "$OUT/windows.err"
          failed=$((failed + 1))
        fi
        rm -f "$OUT/linux.plt" "$OUT/windows.plt"
      done
    done
  done
done
echo "$runs jobs compared, $failed differ"
[ "$failed" -eq 0 ]
