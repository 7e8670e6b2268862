#!/usr/bin/env python3
# Writes the seed inputs of long_series_fuzz (one per shape, and one with
# every kind of edit) into tests/fuzz/long_series_corpus; the layout is the
# one described at the top of long_series_fuzz.cpp.
import base64
import math
import os
import struct

def count_field(count):
    # The field whose cube gives this many points (as the target computes it).
    field = round(65535 * ((count - 2400) / 57600) ** (1 / 3))
    while field < 65535 and int(2400 + (field / 65535) ** 3 * 57600) < count:
        field += 1
    return field

def header(shape, span, count, seed, gap=0, repeat=0, far=0, nonfinite=0, amplitude=128,
           scale=0, batch=0, flags=0):
    return (bytes([shape, span]) + struct.pack('<HI', count_field(count), seed) +
            bytes([gap, repeat, far, nonfinite, amplitude, scale, batch, flags]))

def edit(position, kind, length, value):
    return struct.pack('<HBBf', position, kind, length, value)

SEEDS = {
    'walk': header(0, 255, 17600, 1, scale=1),
    'noise_narrow_surface': header(1, 255, 20000, 2, flags=1),
    'leftwards_with_gaps': header(2, 255, 12000, 3, gap=120, amplitude=160),
    'bursts': header(3, 255, 15000, 4, amplitude=200, scale=2),
    'sideways_mitres': header(4, 255, 8000, 5, scale=2, batch=62),
    'gentle_slope': header(5, 255, 20000, 6, scale=9),
    'sine_far_and_infinite': header(6, 255, 20000, 7, far=20, nonfinite=10, amplitude=180),
    'scattered': header(7, 255, 6000, 8, amplitude=200, scale=11),
    'stairs_on_column_edges': header(8, 40, 10000, 9, flags=6),
    'one_column_ties': header(9, 255, 9000, 10, repeat=200, flags=2),
    'every_edit': header(0, 128, 30000, 11, amplitude=140, scale=2, batch=1) + b''.join([
        edit(1000, 0, 200, 250.0), edit(9000, 1, 30, -7.5), edit(12000, 2, 50, 80.0),
        edit(20000, 3, 255, 0.0), edit(30000, 4, 100, 0.0), edit(40000, 5, 0, -1.0),
        edit(45000, 6, 0, -3.0), edit(50000, 6, 0, 0.5), edit(60000, 7, 255, 40.0)]),
    # As the fuzzer found it: 59,000 points zigzagging sideways in four
    # columns while creeping down to over a hundred card heights below it,
    # with gaps and infinities that cut the pen's cover into thousands of
    # stretches a column; it took seconds while those stretches were kept.
    'sideways_far_below': base64.b64decode('LF4J/1cAAADIAAB4/wBXfAoAAAAAIMgBAIAGC6qqqqqqqgAAAqoAFA=='),
}

folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'long_series_corpus')
os.makedirs(folder, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)
