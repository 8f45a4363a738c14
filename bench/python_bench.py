#!/usr/bin/env python3
"""Speed of the Python module against plain numpy.

    PYTHONPATH=build/lib python3 bench/python_bench.py

Reports:
  - the cost of one call on a 512-frame stereo float32 buffer through
    Amplify (streaming and whole-clip calls) against `buffer * gain`, the
    memory floor for a gain change in numpy; the difference is the module's
    per-call overhead;
  - how much sooner two threads, each with its own effect, finish than one
    thread running both (the GIL is released while processing: near 2 on two
    free cores);
  - resident memory before and after 1000 calls and 1000 new effects.
Timings are the best of several runs; the machine's load is printed with
them, since a shared machine makes the threaded ratio meaningless.
"""

import os
import resource
import sys
import timeit

import numpy as np

import zoc

# The threaded timing is the one the Python tests check.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python", "tests"))
from parallel_timing import one_and_two_threads  # noqa: E402

RATE = 48000


def best_per_call(statement, calls=2000, repeats=7):
    """Seconds per call, best of `repeats` runs of `calls` calls."""
    return min(timeit.repeat(statement, number=calls, repeat=repeats)) / calls


def per_call_overhead():
    buffer = (0.1 * np.random.default_rng(1).standard_normal((2, 512))).astype(np.float32)
    amplify = zoc.Amplify(gain=-6)
    gain = np.float32(10 ** (-6 / 20))
    amplify.process(buffer, RATE, reset=False)  # builds the effect for this layout
    streamed = best_per_call(lambda: amplify.process(buffer, RATE, reset=False))
    whole = best_per_call(lambda: amplify(buffer, RATE))
    numpy = best_per_call(lambda: buffer * gain)
    print("512 frames, stereo float32, per call:")
    print(f"  numpy multiply               {numpy * 1e6:8.2f} us")
    print(f"  Amplify, streaming           {streamed * 1e6:8.2f} us  (overhead {(streamed - numpy) * 1e6:.2f} us)")
    print(f"  Amplify, whole clip (reset)  {whole * 1e6:8.2f} us  (overhead {(whole - numpy) * 1e6:.2f} us)")
    long = (0.1 * np.random.default_rng(2).standard_normal((2, RATE * 10))).astype(np.float32)
    seconds = min(timeit.repeat(lambda: amplify(long, RATE), number=1, repeat=5))
    print(f"  10 s stereo through Amplify  {seconds * 1e3:8.2f} ms  ({10 / seconds:.0f}x real time)")


def thread_ratio(name, seconds=20, repeats=7):
    audio = (0.1 * np.random.default_rng(3).standard_normal((2, RATE * seconds))).astype(np.float32)
    effects = [zoc.Effect(name), zoc.Effect(name)]
    for effect in effects:
        effect(audio[:, :RATE], RATE)
    one, two = one_and_two_threads(effects, audio, RATE, repeats)
    print(f"  {name:8s} one thread {one:6.3f} s, two threads {two:6.3f} s: {one / two:.2f}x sooner")


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def memory():
    buffer = np.zeros((2, 4096), np.float32)
    effect = zoc.Echo()
    effect(buffer, RATE)
    before = resident_kib()
    for _ in range(1000):
        effect(buffer, RATE)
    after_calls = resident_kib()
    for _ in range(1000):
        zoc.Echo()(buffer, RATE)
    after_effects = resident_kib()
    print(f"  resident memory {before} KiB; after 1000 calls {after_calls - before:+d} KiB; "
          f"after 1000 new effects {after_effects - before:+d} KiB "
          f"(peak {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss} KiB)")


def main():
    print(f"zoc {zoc.__version__}, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}")
    per_call_overhead()
    print("Two threads, each with its own effect, against one thread running both:")
    for name in ("Echo", "Reverb", "PitchShift"):
        thread_ratio(name)
    print("Memory:")
    memory()
    print(f"load average at the end {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
