#!/usr/bin/env bash
# Times loadModelFile (kestrune-bench's BM_LoadModelFile) and `openssl dgst -sha256` on
# the same generated model file (about 262 MiB, within the default model limits) and
# prints both with their ratio. The file is written once and then read from the page
# cache by both, so neither pays for the disk. Usage: bench/model_load_vs_openssl.sh
# [model path]; builds the linux preset's kestrune-bench first.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
model="${1:-${TMPDIR:-/tmp}/kestrune-bench-large.kmdl}"
runs=7

cmake --preset linux >/dev/null
cmake --build "$root/build/linux" --target kestrune-bench -j 2 >/dev/null
bench="$root/build/linux/bin/kestrune-bench"

# The first run writes the model if it is missing; its result is not used.
KESTRUNE_BENCH_MODEL="$model" "$bench" --benchmark_filter='^BM_LoadModelFile' --benchmark_min_time=0.01 >/dev/null

report="$(mktemp)"
trap 'rm -f "$report"' EXIT
KESTRUNE_BENCH_MODEL="$model" "$bench" --benchmark_filter='^BM_LoadModelFile' \
    --benchmark_repetitions="$runs" --benchmark_format=json >"$report" 2>/dev/null

python3 - "$model" "$report" "$runs" <<'PY'
import json, os, subprocess, sys, time
model, report, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
size = os.path.getsize(model)
runs_ms = [b["real_time"] for b in json.load(open(report))["benchmarks"] if b.get("run_type") == "iteration"]
load_ms = min(runs_ms)
openssl_ms = []
for _ in range(runs):
    start = time.perf_counter()
    subprocess.run(["openssl", "dgst", "-sha256", model], check=True, stdout=subprocess.DEVNULL)
    openssl_ms.append((time.perf_counter() - start) * 1000.0)
best_openssl = min(openssl_ms)
print(f"file                 {model} ({size / 2**20:.1f} MiB)")
print(f"loadModelFile        {load_ms:8.1f} ms  {size / load_ms / 1e6:6.2f} GB/s  (best of {len(runs_ms)})")
print(f"openssl dgst -sha256 {best_openssl:8.1f} ms  {size / best_openssl / 1e6:6.2f} GB/s  (best of {runs})")
print(f"ratio                {load_ms / best_openssl:8.2f} x openssl's time")
PY
