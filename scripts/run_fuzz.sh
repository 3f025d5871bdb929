#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, several at
# once. Seeds come from fuzz/corpus/<target>/ and are copied to a scratch
# folder so the committed corpus is never changed. What a target finds
# (crash-*, leak-*, timeout-*, oom-* inputs) is written to
# <build>/fuzz-crashes/<target>/ and kept there, so that a failure can be
# run again: <build>/fuzz/<target> <input>.
set -euo pipefail
build_dir=${1:-build-fuzz}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "$build_dir" && pwd)
crashes="$build_dir/fuzz-crashes"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

shopt -s nullglob
targets=("$build_dir"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets built"
  exit 0
fi

jobs=$(nproc)
failed=0
pids=()
names=()
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  mkdir -p "$scratch/$name/corpus" "$scratch/$name/work" "$crashes/$name"
  if [ -d "$root/fuzz/corpus/$name" ]; then
    cp -r "$root/fuzz/corpus/$name/." "$scratch/$name/corpus/"
  fi
  dict=()
  [ -f "$root/fuzz/$name.dict" ] && dict=(-dict="$root/fuzz/$name.dict")
  # Leaks of the libraries a target runs on, which are not ours to mend.
  lsan=""
  [ -f "$root/fuzz/$name.lsan.supp" ] && lsan="suppressions=$root/fuzz/$name.lsan.supp"
  (cd "$scratch/$name/work" && \
   ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="$lsan" "$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
     -timeout=20 -print_final_stats=0 -artifact_prefix="$crashes/$name/" "${dict[@]}" \
     "$scratch/$name/corpus" >"$scratch/$name.log" 2>&1) &
  pids+=($!)
  names+=("$name")
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
done

for i in "${!pids[@]}"; do
  name=${names[$i]}
  if wait "${pids[$i]}"; then
    echo "fuzz: $name ran ${seconds}s without a failure"
  else
    echo "fuzz: $name FAILED"
    tail -n 60 "$scratch/$name.log"
    kept=("$crashes/$name"/*)
    if [ ${#kept[@]} -gt 0 ]; then
      echo "fuzz: inputs of $name kept in $crashes/$name/:"
      for f in "${kept[@]}"; do echo "  $f   (run again: $build_dir/fuzz/$name $f)"; done
    fi
    failed=1
  fi
done
exit $failed
