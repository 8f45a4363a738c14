#!/usr/bin/env python3
"""Apply one chain of effects to many audio files in parallel with Dask.

The chain is pickled once (component names and settings, a few kilobytes)
and sent to every worker once; each task unpickles it into effects of its
own, reads a file, processes it and writes the result. Nothing but file
names travels per task: the audio is read and written by the workers, so on
a real cluster the files live on storage every worker can reach.

    # 2 local worker processes:
    python3 dask_batch.py --out processed/ clips/*.wav
    # an existing cluster (dask scheduler + dask worker on each machine):
    python3 dask_batch.py --scheduler tcp://scheduler:8786 --out /shared/out /shared/clips/*.wav
"""

import argparse
import pathlib
import pickle

import zoc


def mastering_chain():
    """The chain every file goes through."""
    return zoc.Chain([
        zoc.ParametricEQ(preset="Vocal Enhancer"),
        zoc.Dynamics(preset="Classic Soft Knee"),
        zoc.HardLimiter(maximum_amplitude=-1.0),
    ])


def apply_chain(pickled_chain, source, target, bits=None):
    """One file, on a worker: its own effects, so tasks never share one."""
    chain = pickle.loads(pickled_chain)
    audio, rate = zoc.read(source)
    zoc.write(target, chain(audio, rate), rate, bits=bits)
    return str(target)


def run(client, chain, sources, out_dir, bits=None):
    """Processes every file in `sources` into `out_dir` (same names) and
    returns the written paths once all are done."""
    out_dir = pathlib.Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    sources = [str(source) for source in sources]
    targets = [str(out_dir / pathlib.Path(source).name) for source in sources]
    # Sent to every worker once rather than with every task.
    pickled = client.scatter(pickle.dumps(chain), broadcast=True)
    futures = client.map(apply_chain, [pickled] * len(sources), sources, targets, bits=bits, pure=False)
    return client.gather(futures)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+", help="audio files to process")
    parser.add_argument("--out", required=True, help="folder for the processed files")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a local cluster)")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes (without --scheduler)")
    parser.add_argument("--bits", type=int, choices=(16, 24, 32), help="sample format of the output")
    options = parser.parse_args()

    from dask.distributed import Client, LocalCluster

    if options.scheduler:
        client = Client(options.scheduler)
    else:
        # One thread per process: each worker runs one file at a time on its
        # own core (the effects release the GIL, so threads would work too).
        client = Client(LocalCluster(n_workers=options.workers, threads_per_worker=1, processes=True))
    with client:
        for path in run(client, mastering_chain(), options.files, options.out, options.bits):
            print(path)


if __name__ == "__main__":
    main()
