#!/usr/bin/env python3
"""Runs bench_container and prints what VidHeader adds to the sum of a frame read's parts.

Usage: container_overhead.py <path to bench_container> [extra benchmark arguments]
All timings come from one run of the benchmark binary (real time per frame): ten repetitions
of every benchmark in random interleaved order, each quantity taken as its fastest
repetition, so that load from other processes on a shared machine affects all alike.
"""
import json
import subprocess
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = subprocess.run([sys.argv[1], "--benchmark_format=json",
                          "--benchmark_repetitions=10",
                          "--benchmark_enable_random_interleaving=true"] + sys.argv[2:],
                         check=True, capture_output=True, text=True).stdout
    ms = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "iteration":
            name = b["run_name"]  # real time in milliseconds, as the benchmarks set
            ms[name] = min(ms.get(name, float("inf")), b["real_time"])
    failed = False
    for arg, label in ((0, "640x480 RGB"), (1, "1600x1200 two-byte Bayer")):
        whole = ms[f"BM_VidHeaderRead/{arg}/real_time"]
        parts = {"read record": ms[f"BM_ReadRecordAlone/{arg}/real_time"],
                 "uncompress_MT": ms[f"BM_ExpandRecordAlone/{arg}/real_time"]}
        if arg == 1:
            parts["bayer_interpolate_MT"] = ms["BM_DemosaicAlone/real_time"]
        total = sum(parts.values())
        ratio = whole / total
        print(f"{label}: VidHeader {whole:.3f} ms/frame ({1000 / whole:.1f} fps); parts "
              + ", ".join(f"{k} {v:.3f}" for k, v in parts.items())
              + f" = {total:.3f} ms; ratio {ratio:.3f} ({(ratio - 1) * 100:+.1f}%);"
              + f" clearing pixmap alone {ms[f'BM_ClearPixmap/{arg}/real_time']:.3f} ms")
        failed |= ratio > 1.05
    if failed:
        print("container overhead above 5%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
