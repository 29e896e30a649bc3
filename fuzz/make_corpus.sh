#!/usr/bin/env bash
# Writes the decrypt fuzzer's seed corpus: whole containers made with the
# openssl command under the library's fixed key, and near-misses.
# Each seed is: one byte whose value mod 8 is the tag length, the tag, the file.
set -euo pipefail
cd "$(dirname "$0")/decrypt_fuzzer_corpus"
key=3a915ec40f72b82de64719a38c55d06b   # kFixedKey, engine/container_format.h
iv=000102030405060708090a0b0c0d0e0f

# seed NAME TAG CONTENT: a container of CONTENT followed by TAG, sealed with TAG.
seed() {
  local name=$1 tag=$2 content=$3
  {
    printf "\\x$(printf %02x ${#tag})%s" "$tag"
    printf '\xdd'"\\x$(printf %02x ${#tag})"
    printf '%s' "$iv" | xxd -r -p
    printf '%s%s' "$content" "$tag" | openssl enc -aes-128-cbc -K "$key" -iv "$iv"
  } > "$name"
}
seed tagged abc "model file content"
seed untagged "" "x"
seed empty-plaintext "" ""
seed block-aligned "" "0123456789abcdef"
printf '\x00hello, world\n' > plain-text
printf '\x00\xdd\x03\x01\x02' > short-header
{ head -c 50 tagged; } > truncated
