#!/usr/bin/env bash
# Builds the bench preset and times the engine against OpenCV's Lanczos-4 2x
# resize on one thread, then prints engine/OpenCV ratios per size.
# Extra arguments go to the benchmark binary (e.g. --benchmark_filter=1920).
set -euo pipefail
cd "$(dirname "$0")/.."
# OpenCV's C++ package, so the yardstick runs inside the same harness; its
# Python binding and Pillow for bench/python_resize.py.
. scripts/lib/apt-packages.sh
ensure_packages libopencv-dev python3-opencv python3-pil

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target enlarge_frame_bench

out=build-bench/bench-results.json
build-bench/enlarge_frame_bench --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"

opencv_lines=""
if ! grep -q BM_OpenCvLanczos4 "$out"; then
  # Built without OpenCV's C++ package: the Python binding is the yardstick.
  opencv_lines=$(/usr/bin/python3 bench/opencv_lanczos.py 640x360 1280x720 1920x1080)
  echo "$opencv_lines"
fi

OPENCV_LINES="$opencv_lines" /usr/bin/python3 - "$out" <<'PY'
import json, os, re, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {}
for run in runs:
    if run.get("aggregate_name") != "median":
        continue
    m = re.match(r"BM_(\w+?)_(\w+)/(\d+)/(\d+)(?:/(\d+))?", run["run_name"])
    if m:
        isa = {"1": "sse2", "2": "avx2", "3": "avx512"}.get(m.group(5) or "", "")
        median[(m.group(1), m.group(2), f"{m.group(3)}x{m.group(4)}", isa)] = (run["real_time"], run["cpu_time"])
for line in os.environ.get("OPENCV_LINES", "").splitlines():
    name, size, ms, _ = line.split()
    median[("OpenCvLanczos4", "natural", size, "")] = (float(ms), float(ms))
# On a shared machine the CPU time is the steadier of the two.
print("\nmedians, ms per frame (real / CPU); ratio = engine / OpenCV Lanczos-4 on one thread")
for (kind, content, size, isa), (ms, cpu) in sorted(median.items(), key=lambda kv: (kv[0][0], kv[0][1], int(kv[0][2].split('x')[0]), kv[0][3])):
    if kind != "Enlarge":
        continue
    yard = median.get(("OpenCvLanczos4", content, size, "")) or median.get(("OpenCvLanczos4", "natural", size, ""))
    size = f"{size} {isa}"
    if yard:
        print(f"  {content:8s} {size:>16s}  engine {ms:7.1f} / {cpu:7.1f}  opencv {yard[0]:7.1f} / {yard[1]:7.1f}"
              f"  ratio {ms / yard[0]:.2f} / {cpu / yard[1]:.2f}")
    else:
        print(f"  {content:8s} {size:>16s}  engine {ms:7.1f} / {cpu:7.1f}  opencv n/a")
PY
