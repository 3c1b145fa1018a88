#!/usr/bin/env bash
# A publish through vekta-host.exe under Wine against the Linux vekta-host's publish of the same
# file, both to one tiktok-sandbox program on loopback, in the same run. Prints the medians and the
# ratios Wine / Linux; asserts nothing.
#   bench/wine_publish_bench.sh [--size BYTES|NM|NG] [--repeat N]     (default 1G, 3)
# Needs the release build (build/: vekta-host, tiktok-sandbox, test-headless-browser) and the
# Windows build (build-windows/: vekta-host.exe); scripts/test.sh windows makes both.
#
# Two figures per host: the upload's throughput as the host itself reports it when it reaches 100%
# (from the start of the publish job to its last chunk's answer), and the whole command's wall
# time, which also holds the program's start (Wine's is the larger) and the token refresh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size=1G
repeat=3
while (($#)); do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --repeat) repeat="$2"; shift 2 ;;
    *) echo "usage: $0 [--size BYTES|NM|NG] [--repeat N]" >&2; exit 2 ;;
  esac
done
case "$size" in
  *G) bytes=$((${size%G} * 1024 * 1024 * 1024)) ;;
  *M) bytes=$((${size%M} * 1024 * 1024)) ;;
  *) bytes=$size ;;
esac

linux_host="$root/build/bin/vekta-host"
sandbox="$root/build/bin/tiktok-sandbox"
browser="$root/build/bin/tests/test-headless-browser"
windows_host="$root/build-windows/bin/vekta-host.exe"
for program in "$linux_host" "$sandbox" "$browser" "$windows_host"; do
  if [[ ! -x "$program" && ! -f "$program" ]]; then
    echo "missing $program: build the release and windows presets first (scripts/test.sh windows)" >&2
    exit 1
  fi
done

export WINEPREFIX="$root/build-windows/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine wineboot --init </dev/null >/dev/null 2>&1

work="$(mktemp -d "${TMPDIR:-/tmp}/vekta-wine-bench.XXXXXX")"
sandbox_pid=""
cleanup() {
  if [[ -n "$sandbox_pid" ]]; then kill -TERM "$sandbox_pid" 2>/dev/null || true; wait "$sandbox_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "Making a file of $bytes bytes..."
head -c "$bytes" /dev/urandom > "$work/bench.mp4"
# No --data-dir: the sandbox hashes what it receives and keeps none of it.
"$sandbox" --port 0 --port-file "$work/port" > "$work/sandbox.log" 2>&1 &
sandbox_pid=$!
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done
origin="http://127.0.0.1:$(cat "$work/port")"
maps=(--origin-map "https://www.tiktok.com=$origin" --origin-map "https://open.tiktokapis.com=$origin")
# One sign-in; both hosts read the same preset (the sandbox keeps a refresh token valid).
BROWSER="$browser" "$linux_host" "${maps[@]}" --preset "$work/tiktok.preset" signin > "$work/signin.log" 2>&1
publish=(publish --video-info 1080x1920@30:60000 --privacy everyone --caption "Wine bench")

# run NAME COMMAND...: the whole command's seconds and the host's reported MB/s at 100%.
run() {
  local name="$1"
  shift
  local start end
  start=$EPOCHREALTIME
  "$@" > "$work/$name.log" 2>&1
  end=$EPOCHREALTIME
  if ! grep -q "Result: Succeeded" "$work/$name.log"; then
    echo "$name did not succeed:" >&2
    cat "$work/$name.log" >&2
    exit 1
  fi
  local rate
  rate="$(grep -o '100% ([0-9.]* MB/s)' "$work/$name.log" | tail -1 | grep -o '[0-9.]* MB/s' | cut -d' ' -f1)"
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $rate"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

windows_preset="$(winepath -w "$work/tiktok.preset")"
windows_file="$(winepath -w "$work/bench.mp4")"
: > "$work/linux.times"
: > "$work/wine.times"
for i in $(seq "$repeat"); do
  # Alternating, so that the machine's other load falls on both alike.
  read -r seconds rate < <(run "linux-$i" "$linux_host" "${maps[@]}" --preset "$work/tiktok.preset" \
                             "${publish[@]}" "$work/bench.mp4")
  echo "$seconds $rate" >> "$work/linux.times"
  printf 'run %d  Linux: %6.2f s, %7.1f MB/s' "$i" "$seconds" "$rate"
  read -r seconds rate < <(run "wine-$i" wine "$windows_host" "${maps[@]}" --preset "$windows_preset" \
                             "${publish[@]}" "$windows_file")
  echo "$seconds $rate" >> "$work/wine.times"
  printf '   Wine: %6.2f s, %7.1f MB/s\n' "$seconds" "$rate"
done

# Every run delivered the file whole (a fast wrong upload would be no figure at all).
expected="$(sha256sum "$work/bench.mp4" | cut -d' ' -f1)"
received="$(curl -s "$origin/_sandbox/uploads" | grep -o '"sha256":"[0-9a-f]*"' | sort | uniq -c)"
if [[ "$received" != "$(printf '%7d "sha256":"%s"' "$((2 * repeat))" "$expected")" ]]; then
  echo "the sandbox did not receive the file whole every time: $received" >&2
  exit 1
fi

linux_seconds="$(cut -d' ' -f1 "$work/linux.times" | median)"
linux_rate="$(cut -d' ' -f2 "$work/linux.times" | median)"
wine_seconds="$(cut -d' ' -f1 "$work/wine.times" | median)"
wine_rate="$(cut -d' ' -f2 "$work/wine.times" | median)"
echo
echo "Publish of $bytes bytes, median of $repeat:"
printf '  upload throughput  Linux %7.1f MB/s   Wine %7.1f MB/s   Wine/Linux %.2f\n' \
  "$linux_rate" "$wine_rate" "$(awk -v a="$wine_rate" -v b="$linux_rate" 'BEGIN { print a / b }')"
printf '  whole command      Linux %7.2f s      Wine %7.2f s      Linux/Wine %.2f (as a throughput ratio)\n' \
  "$linux_seconds" "$wine_seconds" "$(awk -v a="$linux_seconds" -v b="$wine_seconds" 'BEGIN { print a / b }')"
