#!/usr/bin/env python3
"""Runs bench_clipCrop and prints what assembling the output frames adds to reading the
inputs and writing the output, for two inputs (640x480, 100 frames; 320x240, 40 frames)
merged side by side into 976x480.

Usage: crop_overhead.py <path to bench_clipCrop> [extra benchmark arguments]
All timings come from one run of the benchmark binary: the median real time of 5
repetitions, run interleaved so that changes in the machine's load fall on all three alike.
"""
import json
import subprocess
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = subprocess.run([sys.argv[1], "--benchmark_format=json",
                          "--benchmark_repetitions=5",
                          "--benchmark_enable_random_interleaving=true",
                          "--benchmark_report_aggregates_only=true"] + sys.argv[2:],
                         check=True, capture_output=True, text=True).stdout
    ms = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            ms[b["run_name"]] = b["real_time"]  # milliseconds per 100 output frames
    merge = ms["BM_CropMerge/real_time"]
    io = ms["BM_CropReadWrite/real_time"]
    assemble = ms["BM_CropAssemble/real_time"]
    frames = 100
    print(f"merge (read + assemble + write): {merge:.1f} ms, {frames * 1000 / merge:.1f} output fps")
    print(f"read + write alone:              {io:.1f} ms, {frames * 1000 / io:.1f} output fps")
    print(f"assembling alone:                {assemble:.1f} ms, {frames * 1000 / assemble:.1f} fps")
    print(f"merge / (read + write) = {merge / io:.3f} ({(merge / io - 1) * 100:+.1f}%); "
          f"assembling / (read + write) = {assemble / io * 100:.2f}%")
    if merge / io > 1.05:
        print("assembling adds more than 5%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
