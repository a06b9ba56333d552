#!/usr/bin/env bash
# Makes data/snd/cheer.wav, the sound played when a whole list has been masked: a rising
# major arpeggio with a bright chord at the end. Run it again only to change the sound;
# the result is committed so that building needs no sound tools.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
n=0
for note in C5 E5 G5; do
  sox -n -r 22050 -c 1 -b 16 "$tmp/$n.wav" synth 0.11 pluck "$note" fade 0 0.11 0.03 vol 0.6
  n=$((n + 1))
done
sox -n -r 22050 -c 1 -b 16 "$tmp/$n.wav" synth 0.45 pluck C6 pluck E6 pluck G6 remix - fade 0 0.45 0.3 vol 0.5
sox "$tmp"/0.wav "$tmp"/1.wav "$tmp"/2.wav "$tmp"/3.wav data/snd/cheer.wav norm -3
