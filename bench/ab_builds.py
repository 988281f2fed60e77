#!/usr/bin/env python3
"""Two or more builds of the module timed against each other in one process.

The VMs this project is measured on pass through spells of a fraction of a second to a few
seconds in which everything runs slower (loads by up to half, a pure-Python loop by a
third), so medians of separate processes, or of one build's run after another's, differ by
more than most changes do. Here every build is imported into the same interpreter from its
own file, and each round times one load with each build, in a fresh random order, so that
every spell slows all of them alike.

Each load of SW-All.csv is timed after one of:
  b2b     another load by the same build (caches warm)
  sleep   a 20 ms sleep (the machine's own traffic takes the cache's lines meanwhile)
  pandas  a pandas read_csv of the same 20 columns with DATE parsed and a collection by the
          garbage collector, as `make bench` times it (needs pandas)

Run, for instance, with the wheel's module and a variant built into another directory:
  python bench/ab_builds.py --mode sleep build/py3.13/heliodex*.so /tmp/variant/heliodex*.so
"""

from __future__ import annotations

import argparse
import gc
import importlib.util
import random
import resource
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def load_class(path: Path):
    spec = importlib.util.spec_from_file_location("heliodex", path)
    if spec is None or spec.loader is None:
        sys.exit(f"{path}: not an extension module")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    # Another build of the same name may follow: keep this one only through its class.
    sys.modules.pop("heliodex", None)
    return module.Heliodex


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs="+", type=Path, help="heliodex extension module files")
    parser.add_argument("--mode", choices=("b2b", "sleep", "pandas"), default="sleep")
    parser.add_argument("--rounds", type=int, default=300)
    parser.add_argument("--file", type=Path, default=ROOT.parent / "shared" / "data" / "SW-All.csv")
    args = parser.parse_args()
    if len(set(args.builds)) != len(args.builds):
        sys.exit("each build must be a different file")

    classes = {str(path): load_class(path) for path in args.builds}
    path = str(args.file)
    if args.mode == "pandas":
        # The very read that `make bench` times heliodex against (this script's directory is
        # first on sys.path).
        from compare import pd_read_csv

        def before(cls) -> None:
            pd_read_csv(path)
            gc.collect()
    elif args.mode == "sleep":

        def before(cls) -> None:
            time.sleep(0.02)
    else:

        def before(cls) -> None:
            cls.from_celestrak_csv(path)

    times: dict[str, list[float]] = {name: [] for name in classes}
    faults: dict[str, list[int]] = {name: [] for name in classes}
    gc.disable()
    for _ in range(args.rounds):
        order = list(classes)
        random.shuffle(order)
        for name in order:
            cls = classes[name]
            before(cls)
            minflt = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
            start = time.perf_counter()
            store = cls.from_celestrak_csv(path)
            times[name].append(time.perf_counter() - start)
            faults[name].append(resource.getrusage(resource.RUSAGE_SELF).ru_minflt - minflt)
            del store
    gc.enable()

    print(f"{args.rounds} rounds, each load after: {args.mode}")
    for name, samples in times.items():
        samples.sort()
        print(
            f"  median {statistics.median(samples) * 1e3:7.3f} ms"
            f"  p10 {samples[len(samples) // 10] * 1e3:7.3f} ms"
            f"  page faults: median {statistics.median(faults[name]):5.0f}"
            f" mean {statistics.fmean(faults[name]):7.1f}  {name}"
        )


if __name__ == "__main__":
    main()
