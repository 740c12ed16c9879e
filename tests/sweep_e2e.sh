#!/usr/bin/env bash
# End-to-end checks of a built sweep: sweep_e2e.sh CASE COMMAND... runs COMMAND (the sweep, or
# Wine and the sweep) for one case with tiny passes and checks its table, files, stderr and exit
# status. The plot case also needs PLOT_PYTHON and PLOT_SCRIPT in the environment.
set -u
case_name=$1
shift
prog=("$@")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
out=$dir/out
err=$dir/err

# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

# A usage error: exit 2, one line on stderr that says the problem, nothing on stdout.
expect_refusal() {  # pattern
  expect_status 2
  [ ! -s "$out" ] || fail "stdout is not empty"
  [ "$(wc -l <"$err")" -eq 1 ] || fail "expected a one-line message"
  grep -Eq "^affinity_sweep: .*$1" "$err" || fail "message does not match $1"
}

# Reads a JSON file with whichever Python 3 there is; the checks need only the standard library.
python=$(command -v python3 || command -v /usr/bin/python3)

row='^ +(1[7-9]|2[0-9]|30) +[0-9]+ [KMG]iB( +[0-9]+\.[0-9]{3}){2,3} +[-+][0-9]+\.[0-9]{2} +\[[-+][0-9]+\.[0-9]{2}, [-+][0-9]+\.[0-9]{2}\] +(pinned faster|pinned slower|no clear difference)$'

case $case_name in
  table)
    # Two sizes, six rounds, with the alone pass: a row per size, a CSV row per pass, and the
    # JSON's documented fields.
    run --sizes 17-18 --rounds 6 --steps 100000 --alone --csv "$dir/p.csv" --json "$dir/r.json"
    expect_status 0
    [ ! -s "$err" ] || fail "stderr is not empty (it is not a terminal)"
    grep -q '^cpu: ' "$out" || fail "no cpu line"
    grep -Eq '^pair: +pinned pass on 0, load on 1: ' "$out" || fail "no pair line"
    [ "$(grep -Ec "$row" "$out")" -eq 2 ] || fail "expected two rows matching $row"
    sed -i 's/\r$//' "$dir/p.csv"
    [ "$(head -n 1 "$dir/p.csv")" = "buflog,round,kind,position,steps,nanoseconds,held" ] ||
      fail "wrong CSV head"
    [ "$(wc -l <"$dir/p.csv")" -eq $((1 + 2 * 6 * 3)) ] || fail "expected 36 CSV rows"
    grep -Evq '^1[78],[0-5],(default|pinned|alone),[0-2],100000,[0-9]+,1$' <(tail -n +2 "$dir/p.csv") &&
      fail "a CSV row is malformed"
    "$python" - "$dir/r.json" <<'PY' || fail "JSON check failed"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["program"] == "affinity_sweep" and doc["complete"] is True
m = doc["machine"]
for key in ("cpu_model", "os", "compiler", "processors", "probe_cpu", "load_cpu", "relation",
            "relation_text", "date"):
    assert key in m, key
assert doc["parameters"] == {"sizes": [17, 18], "rounds": 6, "steps": 100000, "alone": True,
                             "confidence": 0.95}, doc["parameters"]
assert [r["buflog"] for r in doc["results"]] == [17, 18]
for r in doc["results"]:
    for key in ("bytes", "pinned_held", "default_ns_per_step", "pinned_ns_per_step",
                "alone_ns_per_step", "gain_pct", "ci_low_pct", "ci_high_pct", "ci_coverage",
                "verdict"):
        assert r[key] is not None, key
    assert r["ci_low_pct"] <= r["gain_pct"] <= r["ci_high_pct"]
    assert r["ci_coverage"] == 0.96875
assert len(doc["passes"]) == 36
for p in doc["passes"]:
    assert set(p) == {"buflog", "round", "kind", "position", "steps", "nanoseconds", "held"}, p
assert doc["pass_seconds"] <= doc["wall_seconds"]
PY
    ;;
  same-cpu)
    # The pinned pass shares processor 1 with the load, the default pass may use processor 0:
    # pinning must come out far slower, whatever the noise.
    need_processors_0_and_1
    run --sizes 17 --rounds 10 --steps 30000000 --probe-cpu 1 --load-cpu 1
    expect_status 0
    grep -Eq '^pair: +pinned pass on 1, load on 1: the same processor$' "$out" ||
      fail "the pair is not the same processor"
    line=$(grep -E "$row" "$out") || fail "no row"
    [[ $line == *"pinned slower" ]] || fail "verdict is not pinned slower"
    gain=$(sed -E 's/.* ([-+][0-9]+\.[0-9]{2}) +\[.*/\1/' <<<"$line")
    awk -v g="$gain" 'BEGIN { exit !(g < -30) }' || fail "gain $gain is not far below zero"
    ;;
  refused-cpu)
    # A processor the process may not use is refused before any pass: the sizes asked for would
    # take many minutes, and no CSV file is made.
    run --sizes 30 --steps 2147483647 --probe-cpu 4095 --csv "$dir/p.csv"
    expect_refusal 'may not use logical processor 4095'
    [ ! -e "$dir/p.csv" ] || fail "the CSV file was made"
    if command -v taskset >/dev/null && taskset -c 0 true 2>/dev/null && [ ${#prog[@]} -eq 1 ]; then
      prog=(taskset -c 0 "${prog[@]}")
      run --sizes 30 --steps 2147483647
      expect_refusal '--load-cpu: this process may not use logical processor 1'
    fi
    ;;
  usage)
    run --rounds 5
    expect_refusal 'fewer than 6 rounds'
    run --sizes 16-18
    expect_refusal "'16-18'"
    run --frobnicate
    expect_refusal "unknown option '--frobnicate'"
    run --sizes 17 --csv "$dir/no/such/dir/p.csv"
    expect_refusal 'cannot create'
    # A JSON file that cannot be made leaves an earlier CSV of the same name as it was.
    echo earlier >"$dir/keep.csv"
    run --sizes 17 --csv "$dir/keep.csv" --json "$dir/no/such/dir/r.json"
    expect_refusal 'cannot create'
    [ "$(cat "$dir/keep.csv")" = earlier ] || fail "the earlier CSV was emptied"
    run --help
    expect_status 0
    grep -q '^Usage: affinity_sweep' "$out" || fail "no usage text"
    [ ! -s "$err" ] || fail "stderr is not empty"
    run --version
    expect_status 0
    grep -Eq '^affinity_sweep [0-9]+\.[0-9]+\.[0-9]+$' "$out" || fail "no version"
    ;;
  no-memory)
    # 1.5 GiB of address space cannot hold two 1 GiB buffers: the sweep fails with status 1
    # after the size it could measure, and the JSON says it is incomplete.
    (ulimit -v 1500000 && exec timeout 600 "${prog[@]}" --sizes 17,30 --rounds 6 --steps 1000 \
      --json "$dir/r.json") >"$out" 2>"$err"
    status=$?
    expect_status 1
    [ "$(wc -l <"$err")" -eq 1 ] || fail "expected a one-line message"
    grep -q '^affinity_sweep: cannot obtain two buffers of 1073741828 bytes for buflog 30$' "$err" ||
      fail "wrong message"
    [ "$(grep -Ec "$row" "$out")" -eq 1 ] || fail "expected the row of buflog 17"
    "$python" - "$dir/r.json" <<'PY' || fail "JSON check failed"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["complete"] is False and [r["buflog"] for r in doc["results"]] == [17]
PY
    ;;
  interrupted)
    # Killed halfway, the sweep leaves a CSV with a complete row for every pass it timed.
    timeout -s INT 3 "${prog[@]}" --sizes 17 --rounds 1000000 --steps 1000000 \
      --csv "$dir/p.csv" >"$out" 2>"$err"
    status=$?
    expect_status 124
    sed -i 's/\r$//' "$dir/p.csv"
    rows=$(($(wc -l <"$dir/p.csv") - 1))
    [ "$rows" -ge 2 ] || fail "only $rows rows after 3 s"
    grep -Evq '^17,[0-9]+,(default|pinned),[01],1000000,[0-9]+,[01]$' <(tail -n +2 "$dir/p.csv") &&
      fail "a CSV row is malformed or cut short"
    ;;
  plot)
    # The plot script on the JSON of a real short sweep.
    run --sizes 17,19 --rounds 6 --steps 100000 --json "$dir/r.json"
    expect_status 0
    bash "$PLOT_TEST" "$PLOT_PYTHON" "$PLOT_SCRIPT" "$dir/r.json" || exit $?
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "ok ($case_name)"
