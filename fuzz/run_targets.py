#!/usr/bin/env python3
"""Runs the libFuzzer targets of a build over their corpora.

  run_targets.py smoke [--seconds N] [--build DIR]
      each target N s (default 4); CI, with the dev build's targets
  run_targets.py campaign [--round N] [--rounds M] [--only a,b] [--build DIR]
      each target in rounds of N s (default 40) until a round finds no new
      coverage or M rounds (default 4) have run; prints CPU time, runs and
      final coverage per target

The targets are those of DIR (default build/fuzz, the optimised fuzz
preset). The committed corpus (fuzz/corpus/NAME, plus fuzz/regressions/NAME)
is read, never written: new inputs go to a work folder (DIR/work/NAME),
which a campaign keeps from one run to the next. A crash, a leak, a
time-out (10 s for one input) or running out of memory (2 GB) fails the
run; its input is kept in DIR/artifacts. Exits 1 when any target failed.
"""
import argparse
import os
import re
import resource
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Targets that share another's corpus.
corpus_of = {"listing_scanner_fuzz": "listing"}

parser = argparse.ArgumentParser()
parser.add_argument("mode", choices=["smoke", "campaign"])
parser.add_argument("--seconds", type=int, default=4)
parser.add_argument("--round", type=int, default=40)
parser.add_argument("--rounds", type=int, default=4)
parser.add_argument("--only", default="")
parser.add_argument("--build", default=os.path.join(root, "build", "fuzz"))
opts = parser.parse_args()
build_dir = os.path.abspath(opts.build)
bin_dir = os.path.join(build_dir, "fuzz")

targets = sorted(f for f in os.listdir(bin_dir) if f.endswith("_fuzz") and os.access(os.path.join(bin_dir, f), os.X_OK))
if opts.only:
    targets = [t for t in targets if t in opts.only.split(",")]
artifacts = os.path.join(build_dir, "artifacts") + "/"
os.makedirs(artifacts, exist_ok=True)


def run_once(target, seconds):
    """Runs a target for `seconds`; returns (ok, cov, ft, runs, cpu seconds, tail of output)."""
    name = corpus_of.get(target, target[: -len("_fuzz")])
    work = os.path.join(build_dir, "work", name)
    os.makedirs(work, exist_ok=True)
    inputs = [work, os.path.join(root, "fuzz", "corpus", name)]
    regressions = os.path.join(root, "fuzz", "regressions", name)
    if os.path.isdir(regressions):
        inputs.append(regressions)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    p = subprocess.run([os.path.join(bin_dir, target), f"-max_total_time={seconds}", "-timeout=10",
                        "-rss_limit_mb=2048", "-print_final_stats=1", f"-artifact_prefix={artifacts}{target}-"]
                       + inputs, capture_output=True, text=True, errors="replace", timeout=seconds * 3 + 300)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    out = p.stderr
    cov = ft = runs = 0
    for m in re.finditer(r"#(\d+)\s+\w+\s+cov: (\d+) ft: (\d+)", out):
        runs, cov, ft = int(m.group(1)), int(m.group(2)), int(m.group(3))
    m = re.search(r"stat::number_of_executed_units: (\d+)", out)
    if m:
        runs = int(m.group(1))
    return p.returncode == 0, cov, ft, runs, cpu, out[-3000:]


failed = []
if opts.mode == "smoke":
    for t in targets:
        ok, cov, ft, runs, cpu, tail = run_once(t, opts.seconds)
        print(f"{t:28} {'ok' if ok else 'FAILED'}  {runs} runs, cov {cov}", flush=True)
        if not ok:
            print(tail)
            failed.append(t)
else:
    print("| Target | CPU s | Runs | Edges (cov) | Features (ft) | Rounds |")
    print("|---|---|---|---|---|---|")
    for t in targets:
        total_cpu = total_runs = 0
        cov = ft = 0
        rounds = 0
        while rounds < opts.rounds:
            ok, c, f, runs, cpu, tail = run_once(t, opts.round)
            rounds += 1
            total_cpu += cpu
            total_runs += runs
            if not ok:
                print(f"| {t} | FAILED | | | | |\n{tail}", flush=True)
                failed.append(t)
                break
            grew = c > cov
            cov, ft = max(cov, c), max(ft, f)
            if not grew and rounds > 1:
                break
        print(f"| {t} | {total_cpu:.0f} | {total_runs:,} | {cov:,} | {ft:,} | {rounds} |", flush=True)
sys.exit(1 if failed else 0)
