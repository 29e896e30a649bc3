#!/usr/bin/env bash
# Writes the fuzzers' named seeds. The decrypt fuzzer's are whole containers
# made with the openssl command under the library's fixed key, and near-misses;
# each is one byte whose value mod 8 is the tag length, the tag, the file.
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

# The call frame fuzzer's seeds: source name, destination name, tag and
# content, separated by NUL bytes.
cd ../call_frame_fuzzer_corpus
frame() {
  local name=$1; shift
  printf "$@" > "$name"
}
frame kept-names        'model.EBS\0sealed.EBS\0abc\0model file content'
frame renamed-source    'model\0out\0\0content'
frame lower-case-suffix 'model.ebs\0out.ebs\0t\0content'
frame in-place          'same.EBS\0same.EBS\0\0replaced by its container'
frame hostile-names     'a\\b c.EBS\0\xff\xfe\x80 .EBS\0\xe9t\0x'
frame dots              '..\0.\0\0x'
frame bare-EBS          'EBS\0EBS\0\0x'
frame marker-content    'm.EBS\0o.EBS\0\0\xdd\x03abc'
frame empty-everything  'e.EBS\0o.EBS\0\0'
frame tag-255           "t.EBS\\0o.EBS\\0$(head -c 255 /dev/zero | tr '\0' k)\\0x"
frame tag-256           "t.EBS\\0o.EBS\\0$(head -c 256 /dev/zero | tr '\0' k)\\0x"
frame long-destination  "s.EBS\\0$(head -c 260 /dev/zero | tr '\0' n).EBS\\0\\0x"
