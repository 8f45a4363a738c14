#!/usr/bin/env bash
# Renders a short noise file through every plugin of the bundle with lv2apply
# (which runs one frame per call) and through `zoc apply --raw` (512-frame
# blocks), and requires the samples to be identical: at the defaults, with
# the last factory preset its ports express, set port by port, and with the
# first control at its maximum. (lv2apply loads no presets; lv2_tests restores
# the presets that carry settings as state.)
# Usage: check-render.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bundle=$build/lib/lv2/zoaudio.lv2
zoc=$build/bin/zoc
export LV2_PATH=$build/lib/lv2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

frames=4800
"$zoc" generate Noise --duration 0.1 --rate 48000 --channels 1 --bits 32f --quiet "$work/in-1.wav"
"$zoc" generate Noise --duration 0.1 --rate 48000 --channels 2 --bits 32f --quiet "$work/in-2.wav"
# Side-chain plugins take their side-chain as further channels of lv2apply's
# input; a tone, the same in every channel, lets one file feed zoc's input
# and its --sidechain alike.
for channels in 1 2 3 4; do
    "$zoc" generate Tones --duration 0.1 --rate 48000 --channels $channels --bits 32f --quiet "$work/tone-$channels.wav"
done

failures=0
checked=0

# Compares the sample data, the last frames*channels*4 bytes of each file;
# the headers differ (libsndfile stamps a peak chunk).
same_samples() {
    local bytes=$((frames * $3 * 4))
    cmp -s <(tail -c "$bytes" "$1") <(tail -c "$bytes" "$2")
}

# render LABEL CLASS CHANNELS URI "LV2APPLY ARGS" "ZOC ARGS"; reads $sidechain.
render() {
    local label=$1 class=$2 channels=$3 uri=$4
    local -a lv2args=($5) zocargs=($6)
    local lv2in=$work/in-$channels.wav zocin=$work/in-$channels.wav
    if ((sidechain > 0)); then
        lv2in=$work/tone-$((channels + sidechain)).wav
        zocin=$work/tone-$channels.wav
        zocargs+=(--sidechain "$work/tone-$sidechain.wav")
    fi
    checked=$((checked + 1))
    if ! lv2apply -i "$lv2in" -o "$work/lv2.wav" "${lv2args[@]}" "$uri" >"$work/log" 2>&1; then
        echo "FAIL $uri ($label): lv2apply failed: $(head -3 "$work/log")"
        failures=$((failures + 1))
        return
    fi
    "$zoc" apply "$class" "$zocin" "$work/zoc.wav" --raw --bits 32f --quiet "${zocargs[@]}"
    if ! same_samples "$work/lv2.wav" "$work/zoc.wav" "$channels"; then
        echo "FAIL $uri ($label): output differs from zoc apply --raw ${zocargs[*]}"
        failures=$((failures + 1))
    fi
}

for ttl in "$bundle"/*-mono.ttl "$bundle"/*-stereo.ttl; do
    file=$(basename "$ttl" .ttl)
    class=${file%-*}
    channels=1
    [[ $file == *-stereo ]] && channels=2
    sidechain=$(grep -c 'lv2:isSideChain' "$ttl" || true)
    uri=$(sed -n 's/^<\(urn:zoaudio:lv2:[^>]*\)>$/\1/p' "$ttl" | head -1)

    render defaults "$class" "$channels" "$uri" "" ""

    # The last preset its port values express (no state), as symbol/value
    # pairs written on its port lines.
    index=$(awk '
        match($0, /^<urn:zoaudio:lv2:.*:preset:[0-9]+>$/) { sub(/.*:preset:/, ""); sub(/>$/, ""); current = $0; stateful = 0; next }
        /state:state/ { stateful = 1 }
        current != "" && /\.$/ { if (!stateful) last = current; current = "" }
        END { print last }' "$ttl")
    if [[ -n $index ]]; then
        values=$(awk -v uri="<$uri:preset:$index>" '
            $0 == uri { inside = 1; next }
            inside && /pset:value/ {
                match($0, /lv2:symbol "[^"]*"/); symbol = substr($0, RSTART + 12, RLENGTH - 13)
                match($0, /pset:value [^ ]*/); value = substr($0, RSTART + 11, RLENGTH - 11)
                printf "-c %s %s ", symbol, value
            }
            inside && /\.$/ { inside = 0 }' "$ttl")
        render "preset $index" "$class" "$channels" "$uri" "$values" "--preset $index"
    fi

    # The first control input at its maximum, set by symbol.
    read -r symbol maximum < <(awk '
        /a lv2:ControlPort , lv2:InputPort/ { inside = 1 }
        inside && /lv2:symbol/ { gsub(/[";]/, ""); symbol = $2 }
        inside && /lv2:maximum/ { gsub(/;/, ""); print symbol, $2; exit }' "$ttl") || true
    if [[ -n ${symbol:-} ]]; then
        render "$symbol=$maximum" "$class" "$channels" "$uri" "-c $symbol $maximum" "--set $symbol=$maximum"
    fi
done

echo "$checked renders compared, $failures differ"
((checked > 0 && failures == 0))
