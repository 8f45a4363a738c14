#!/usr/bin/env bash
# Validates every Turtle file of the built bundle against the LV2 schemas and
# requires that the plugin library lists every plugin the files describe.
# Usage: check-validate.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bundle=$build/lib/lv2/zoaudio.lv2

report=$(lv2_validate "$bundle"/*.ttl 2>&1)
if ! grep -q '^Found 0 errors' <<<"$report" || grep -qi '^warning' <<<"$report"; then
    grep -v '^Skipping' <<<"$report" | head -40
    exit 1
fi

described=$(grep -c 'a lv2:Plugin' "$bundle/manifest.ttl")
listed=$(LV2_PATH=$build/lib/lv2 lv2ls | grep -c '^urn:zoaudio:lv2:')
echo "$described plugins described, $listed listed by lv2ls"
((described > 0 && described == listed))
