#!/usr/bin/env python3
"""kolv.run against kolv run on the same 60 s recording and network.

usage: PYTHONPATH=build/python bench/python_vs_cli.py [BUILD] [NETWORK] [REPEATS]

Prints the best CPU time (user + system) of each over REPEATS runs, which a
shared machine disturbs less than wall time (also shown), the Python run's share of the command line's time, and the time kolv.run
spends copying audio into and out of arrays. The command line's time includes
starting the process and loading the toolboxes; kolv.run's does not include
importing kolv (done once per process).
"""

import os
import resource
import subprocess
import sys
import tempfile
import time
import wave

import numpy as np

import kolv
from kolv import _kolv

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build")
NETWORK = sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "..", "tests", "python", "all-sinks.yaml")
REPEATS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
SECONDS = 60


def demo_minute():
    with wave.open(os.path.join(HERE, "..", "data", "demo", "scene.wav")) as w:
        rate = w.getframerate()
        samples = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").reshape(-1, w.getnchannels())
    repeats = -(-SECONDS * rate // len(samples))
    return np.tile(samples, (repeats, 1))[: SECONDS * rate], rate


def children_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def best(run, clock):
    """The best CPU time and the best wall time of REPEATS runs."""
    cpu, wall = [], []
    for _ in range(REPEATS):
        start, start_wall = clock(), time.perf_counter()
        run()
        cpu.append(clock() - start)
        wall.append(time.perf_counter() - start_wall)
    return min(cpu), min(wall)


def main():
    samples, rate = demo_minute()
    with tempfile.TemporaryDirectory() as folder:
        recording = os.path.join(folder, "minute.wav")
        with wave.open(recording, "wb") as w:
            w.setnchannels(samples.shape[1])
            w.setsampwidth(2)
            w.setframerate(rate)
            w.writeframes(samples.tobytes())
        command = [os.path.join(BUILD, "kolv"), "run", NETWORK, "--set", f"source.FILE={recording}",
                   "--out", os.path.join(folder, "out"), "--quiet"]
        cli, cli_wall = best(lambda: subprocess.run(command, check=True, stdout=subprocess.DEVNULL), children_seconds)
    copies = []

    def python_run():
        kolv.run(NETWORK, samples, rate, quiet=True)
        copies.append(_kolv.copy_seconds())

    python, python_wall = best(python_run, time.process_time)
    copy = min(copies)
    print(f"network {os.path.basename(NETWORK)}, {SECONDS} s of {samples.shape[1]}-channel audio at {rate} Hz, best of {REPEATS}")
    print(f"kolv run  {cli:8.3f} s CPU  {cli_wall:8.3f} s wall")
    print(f"kolv.run  {python:8.3f} s CPU  {python_wall:8.3f} s wall ({100 * python / cli:.1f} % of kolv run)")
    print(f"copying   {copy * 1000:8.3f} ms ({100 * copy / python:.2f} % of kolv.run)")


if __name__ == "__main__":
    main()
