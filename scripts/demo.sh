#!/usr/bin/env bash
# The main job, by hand: build mirdcng, encrypt the bundled sample with a tag,
# show the container, and decrypt it back.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
tool=build/release/tools/mirdcng

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# An upper-case "EBS" suffix is the one the naming rule leaves alone.
cp examples/sample.txt "$work/sample.EBS"
cd "$work"
exec 2>&1   # keep messages in order with the output

echo "\$ mirdcng encrypt sample.EBS sealed.EBS --tag demo"
"$OLDPWD/$tool" encrypt sample.EBS sealed.EBS --tag demo
echo
echo "\$ od -A d -t x1 sealed.EBS | head -4      # marker dd, tag length 04, IV, ciphertext"
od -A d -t x1 sealed.EBS | head -4
echo
echo "\$ mirdcng inspect sealed.EBS"
"$OLDPWD/$tool" inspect sealed.EBS
echo
echo "\$ mirdcng cat sealed.EBS | head -3      # the framework's way in: no tag needed"
"$OLDPWD/$tool" cat sealed.EBS | head -3
echo
echo "\$ mirdcng decrypt sealed.EBS restored.EBS            # without the tag"
"$OLDPWD/$tool" decrypt sealed.EBS restored.EBS || echo "(exit status $?)"
echo
echo "\$ mirdcng decrypt sealed.EBS restored.EBS --tag demo"
"$OLDPWD/$tool" decrypt sealed.EBS restored.EBS --tag demo
cmp sample.EBS restored.EBS && echo "restored.EBS is byte for byte the sample."
