#!/usr/bin/env bash
# Folder-mode benchmark: hvvistrel encodes a folder of 20 short generated clips with the profile av350
# in one run; the peer is the ffmpeg command-line tool encoding the same clips one by one at the same
# settings (WMV2 at 302 kbit/s, 320x240, 30 fps; WMA2 at 48 kbit/s, 32 kHz stereo; ASF). Prints both
# times and their ratio. Usage: capture/console/bench_folder_mode.sh [build folder, default build/native]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/native}
program="$build/capture/console/hvvistrel"
[[ -x $program ]] || { echo "bench: build $program first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "bench: the ffmpeg tool is missing (tools/setup.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/clips" "$work/peer"
for i in $(seq -w 1 20); do
    ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc=size=320x240:rate=25:duration=3" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" -ac 2 -c:v mpeg4 -q:v 4 \
        -c:a pcm_s16le "$work/clips/clip$i.avi"
done

seconds() { date +%s.%N; }

start=$(seconds)
"$program" -input "$work/clips" -output "$work/out" -profile av350 >"$work/hvvistrel.log"
ours=$(awk -v a="$(seconds)" -v b="$start" 'BEGIN { print a - b }')
encoded=$(grep -c "======== Encoding Completed ========" "$work/hvvistrel.log")

start=$(seconds)
for clip in "$work"/clips/*.avi; do
    ffmpeg -nostdin -loglevel error -i "$clip" -c:v wmv2 -b:v 302k -s 320x240 -r 30 -c:a wmav2 -b:a 48k \
        -ar 32000 -ac 2 -f asf "$work/peer/$(basename "$clip" .avi).wmv"
done
peer=$(awk -v a="$(seconds)" -v b="$start" 'BEGIN { print a - b }')

printf 'files encoded: %s\nhvvistrel folder mode: %.2f s\nffmpeg one by one:     %.2f s\nratio: %.2f\n' \
    "$encoded" "$ours" "$peer" "$(awk -v a="$ours" -v b="$peer" 'BEGIN { print a / b }')"
