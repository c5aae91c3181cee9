#!/usr/bin/env python3
"""mirrored_seconds.py ORIGINAL REVERSED: reads both MIDI files with mido and
checks that every note of ORIGINAL sounding from a to b seconds sounds in
REVERSED from L - b to L - a, within 1 ms, where L is the length of the piece.
Notes are paired first on, first off per channel and key. Exit status 0 when
they mirror, 1 with the first mismatch on standard error."""
import sys
from collections import defaultdict, deque

import mido


def notes(path):
    """The notes as (channel, key, start, end) in seconds, and the length."""
    open_notes = defaultdict(deque)
    found = []
    now = 0.0
    for message in mido.MidiFile(path):
        now += message.time
        if message.type == 'note_on' and message.velocity > 0:
            open_notes[message.channel, message.note].append(now)
        elif message.type in ('note_on', 'note_off'):
            starts = open_notes[message.channel, message.note]
            if starts:
                found.append((message.channel, message.note, starts.popleft(), now))
    found += [(channel, key, start, now)
              for (channel, key), starts in open_notes.items() for start in starts]
    return found, now


def main(original_path, reversed_path):
    original, length = notes(original_path)
    mirrored = sorted((c, k, length - end, length - start) for c, k, start, end in original)
    reversed_notes = sorted(notes(reversed_path)[0])
    if len(mirrored) != len(reversed_notes):
        print(f'{len(original)} notes, reversed {len(reversed_notes)}', file=sys.stderr)
        return 1
    for want, got in zip(mirrored, reversed_notes):
        if want[:2] != got[:2] or abs(want[2] - got[2]) > 1e-3 or abs(want[3] - got[3]) > 1e-3:
            print(f'expected {want}, found {got}', file=sys.stderr)
            return 1
    print(f'{len(original)} notes mirror within 1 ms over {length:.3f} s')
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:3]))
