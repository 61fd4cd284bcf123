#!/bin/bash
# make fuzz: a libFuzzer campaign over every parser that takes bytes from
# outside (tests/fuzz/), one target after the other, and the runs and
# coverage each reached.
#
#   FUZZ_MINUTES   the whole campaign's time (default 10), shared among the
#                  targets; the perf-data parser, the most involved, gets two
#                  shares, the others one each
#
# Corpora grow across campaigns in build/fuzz/<target>/corpus. A target that
# crashes, leaks or fails a check stops the campaign; its input is left in
# build/fuzz/<target>/ for `<target binary> <input>` to reproduce. The
# campaign runs at a lower priority, so a shared machine stays usable.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
minutes=${FUZZ_MINUTES:-10}
case $minutes in
  '' | *[!0-9.]*) echo "fuzz: FUZZ_MINUTES must be a number of minutes" >&2; exit 2 ;;
esac

# name:shares
targets=(perfdata_fuzz:2 status_text_fuzz:1 page_parser_fuzz:1 saved_state_fuzz:1 signed_link_fuzz:1
  version_resource_fuzz:1 partial_record_fuzz:1)
names=()
total_shares=0
for t in "${targets[@]}"; do
  names+=("${t%%:*}")
  total_shares=$((total_shares + ${t##*:}))
done

cmake -S "$top" -B "$top/build/host" -G "Unix Makefiles" >/dev/null
cmake --build "$top/build/host" --target "${names[@]}" vantorima-link test_signing >/dev/null
bin=$top/build/host/tests/fuzz
out=$top/build/fuzz

summary=()
status=0
for t in "${targets[@]}"; do
  name=${t%%:*}
  seconds=$(awk -v m="$minutes" -v s="${t##*:}" -v n="$total_shares" 'BEGIN { printf "%d", m * 60 * s / n + 0.5 }')
  [ "$seconds" -ge 1 ] || seconds=1
  dir=$out/$name
  mkdir -p "$dir/corpus" "$dir/seeds"
  # Real pages start the page parser off.
  if [ "$name" = page_parser_fuzz ]; then
    cp "$top/testbed/demo/login.html" "$top/package/example.html" "$dir/seeds/"
  fi
  # A link as the service's tool signs it.
  if [ "$name" = signed_link_fuzz ]; then
    "$top/build/host/bin/vantorima-link" sign --private "$top/build/host/test-signing/link-key.pem" \
      --id player --pass secret --join-key 1000 --server go.example.com:7000 >"$dir/seeds/tool-link"
  fi
  # A version resource as the launcher's, and a record as a download writes it.
  if [ "$name" = version_resource_fuzz ]; then
    /usr/bin/python3 "$top/tests/fuzz/version_seed.py" "$dir/seeds/launcher"
  fi
  if [ "$name" = partial_record_fuzz ]; then
    printf 'http://127.0.0.1:18431/service/VokWeiqi.exe\n10485760\n"5f3a-a00000"\n' >"$dir/seeds/record"
  fi
  log=$dir/last-run.log
  echo "== $name: ${seconds} s"
  if nice -n 10 "$bin/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/" "$dir/corpus" "$dir/seeds" >"$log" 2>&1; then
    result=clean
  else
    result="FAILED (see $log)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -1)
  summary+=("$(printf '%-21s %12s runs  %8s/s  %-30s %s' "$name" "${runs:-?}" "${speed:-?}" "${cov:-cov: ?}" "$result")")
  if [ "$result" != clean ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
    break
  fi
done

echo "== fuzz summary (${minutes} min; cov: edges covered, ft: features, corp: corpus entries)"
printf '   %s\n' "${summary[@]}"
exit $status
