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

# One row of the table: size, steps a pass, rounds, the medians, the gain, its interval and the
# verdict.
interval='(\[[-+][0-9]+\.[0-9]{2}, [-+][0-9]+\.[0-9]{2}\]|unbounded)'
verdicts='(same within [0-9.]+ %|pinned faster|pinned slower|undecided)'
row="^ +(1[7-9]|2[0-9]|30) +[0-9]+ [KMG]iB +[0-9]+ +[0-9]+( +[0-9]+\.[0-9]{3}){2,3} +[-+][0-9]+\.[0-9]{2} +$interval +$verdicts\$"

# The verdict of each row, one per line.
verdicts_of() {
  grep -E "$row" "$out" | sed -E 's/.*(\]|unbounded) +//'
}

case $case_name in
  table)
    # Two sizes, exactly seven rounds each (the least that reach 97.5 % for each of two), with
    # the alone pass: a row per size, a CSV row per pass, and the JSON's documented fields.
    run --sizes 17-18 --rounds 7 --steps 100000 --alone --csv "$dir/p.csv" --json "$dir/r.json"
    expect_status 0
    [ ! -s "$err" ] || fail "stderr is not empty (it is not a terminal)"
    grep -q '^cpu: ' "$out" || fail "no cpu line"
    grep -Eq '^pair: +pinned pass on 0, load on 1: ' "$out" || fail "no pair line"
    grep -Eq '^interval: +fixed-sample interval.*97.5 % for each of 2, so 95 % for all at once' \
      "$out" || fail "the header does not say how the confidence is split"
    [ "$(grep -Ec "$row" "$out")" -eq 2 ] || fail "expected two rows matching $row"
    sed -i 's/\r$//' "$dir/p.csv"
    [ "$(head -n 1 "$dir/p.csv")" = "buflog,round,kind,position,steps,nanoseconds,held,probe_cpu,load_cpu,relation" ] ||
      fail "wrong CSV head"
    [ "$(wc -l <"$dir/p.csv")" -eq $((1 + 2 * 7 * 3)) ] || fail "expected 42 CSV rows"
    grep -Evq '^1[78],[0-6],(default|pinned|alone),[0-2],100000,[0-9]+,1,0,1,[a-z_]+$' <(tail -n +2 "$dir/p.csv") &&
      fail "a CSV row is malformed"
    "$python" - "$dir/r.json" <<'PY' || fail "JSON check failed"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["schema"] == 2 and doc["program"] == "affinity_sweep", doc.get("schema")
assert doc["complete"] is True and doc["interrupted"] is False
m = doc["machine"]
for key in ("cpu_model", "os", "compiler", "processors", "probe_cpu", "load_cpu", "relation",
            "relation_text", "date"):
    assert key in m, key
p = doc["parameters"]
assert p["sizes"] == [17, 18] and p["rounds"] == 7 and p["steps"] == 100000, p
assert p["pass_ms"] is None and p["time_s"] is None and p["margin_pct"] == 1, p
assert p["confidence"] == 0.95 and p["alpha_family"] == 0.05 and p["alpha_per_size"] == 0.025, p
assert p["interval"] == "fixed_sample" and p["alone"] is True and p["null"] is False, p
assert [(q["probe_cpu"], q["load_cpu"]) for q in p["pairs"]] == [(0, 1)], p["pairs"]
assert [r["buflog"] for r in doc["results"]] == [17, 18]
for r in doc["results"]:
    for key in ("probe_cpu", "load_cpu", "relation", "bytes", "steps", "rounds", "pinned_held",
                "default_ns_per_step", "pinned_ns_per_step", "alone_ns_per_step", "gain_pct",
                "ci_low_pct", "ci_high_pct", "ci_coverage", "verdict"):
        assert r[key] is not None, key
    assert r["rounds"] == 7 and r["steps"] == 100000, r
    assert r["ci_low_pct"] <= r["gain_pct"] <= r["ci_high_pct"]
    assert r["ci_coverage"] == 1 - 2 / 2 ** 7, r["ci_coverage"]
assert len(doc["passes"]) == 42
for q in doc["passes"]:
    assert set(q) == {"probe_cpu", "load_cpu", "relation", "buflog", "round", "kind", "position",
                      "steps", "nanoseconds", "held"}, q
assert doc["pass_seconds"] <= doc["wall_seconds"]
PY
    ;;
  budget)
    # Until decided, within 4 s for four sizes: the run ends within a stated slack of the time
    # given (a round past a size's deadline, the set-up of a size and the writing of the files;
    # 2 s is far more), every size says how many rounds it ran and with how many steps a pass,
    # and the header and the JSON say which interval made the verdicts.
    started=$(date +%s%N)
    run --sizes 17-20 --time 4 --pass-ms 2 --json "$dir/r.json"
    elapsed_ms=$((($(date +%s%N) - started) / 1000000))
    expect_status 0
    [ "$elapsed_ms" -le 6000 ] || fail "took $elapsed_ms ms for --time 4"
    grep -Eq '^interval: +confidence sequence, valid at every round' "$out" ||
      fail "the header does not name the confidence sequence"
    [ "$(grep -Ec "$row" "$out")" -eq 4 ] || fail "expected four rows matching $row"
    "$python" - "$dir/r.json" <<'PY' || fail "JSON check failed"
import json, sys
doc = json.load(open(sys.argv[1]))
p = doc["parameters"]
assert p["interval"] == "confidence_sequence" and p["rounds"] is None and p["steps"] is None, p
assert p["time_s"] == 4 and p["pass_ms"] == 2 and p["alpha_per_size"] == 0.0125, p
assert doc["wall_seconds"] <= 5.5, doc["wall_seconds"]
for r in doc["results"]:
    assert r["rounds"] >= 1 and r["steps"] >= 1, r
    assert r["ci_coverage"] in (None, 0.9875), r
    passes = [q for q in doc["passes"] if q["buflog"] == r["buflog"]]
    assert len(passes) == 2 * r["rounds"] and {q["steps"] for q in passes} == {r["steps"]}, r
PY
    ;;
  null)
    # A null run: both passes of every round pinned alike, so the true gain is zero and a
    # "pinned faster" or "pinned slower" would be a false decision. At 99.9 % for the whole run,
    # one comes with probability under 0.1 %.
    run --null --sizes 17,21 --time 6 --confidence 0.999 --json "$dir/r.json"
    expect_status 0
    grep -Eq '^null run: ' "$out" || fail "the header does not say it is a null run"
    [ "$(grep -Ec "$row" "$out")" -eq 2 ] || fail "expected two rows matching $row"
    verdicts_of | grep -Eq 'pinned (faster|slower)' && fail "a false decision in a null run"
    "$python" - "$dir/r.json" <<'PY' || fail "JSON check failed"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["parameters"]["null"] is True
assert all(r["verdict"] not in ("pinned faster", "pinned slower") for r in doc["results"])
PY
    ;;
  same-cpu)
    # The pinned pass shares processor 1 with the load, the default pass may use processor 0:
    # pinning must come out slower. Passes of 50 ms outlast the scheduler's slices, and the sweep
    # goes on until its interval shows it, so a busy machine costs time, not the verdict.
    need_processors_0_and_1
    run --sizes 17 --probe-cpu 1 --load-cpu 1 --pass-ms 50 --time 60
    expect_status 0
    grep -Eq '^pair: +pinned pass on 1, load on 1: the same processor$' "$out" ||
      fail "the pair is not the same processor"
    [ "$(verdicts_of)" = "pinned slower" ] || fail "verdict is not pinned slower"
    ;;
  pairs)
    # --pairs auto: one pair of each relation the machine offers, then the control, listed before
    # the first pass, each with a table; the control must come out slower. A wide margin lets
    # the other pairs decide quickly; passes of 50 ms outlast the scheduler's slices.
    need_processors_0_and_1
    run --pairs auto --sizes 17 --pass-ms 50 --margin 5 --time 60 --json "$dir/r.json"
    expect_status 0
    pairs=$(sed -nE 's/^pairs: +//p' "$out")
    [ -n "$pairs" ] || fail "no pairs line"
    [[ $pairs == "0:1 ("*"), 0:0 (the same processor)" || $pairs == *", 0:0 (the same processor)" ]] ||
      fail "the pairs do not start with 0:1 or end with the control 0:0: $pairs"
    grep -Eq '^interval: .* for each of [0-9]+ \([0-9]+ pairs x 1 size\)' "$out" ||
      fail "the header does not say how the confidence is split among the pairs"
    [ "$(grep -Ec '^pair: ' "$out")" -eq "$(grep -o '(' <<<"$pairs" | wc -l)" ] ||
      fail "not one table per pair"
    [ "$(verdicts_of | tail -n 1)" = "pinned slower" ] || fail "the control is not pinned slower"
    "$python" - "$dir/r.json" <<'PY' || fail "JSON check failed"
import json, sys
doc = json.load(open(sys.argv[1]))
pairs = [(p["probe_cpu"], p["load_cpu"], p["relation"]) for p in doc["parameters"]["pairs"]]
assert pairs[-1] == (0, 0, "same"), pairs
assert [(r["probe_cpu"], r["load_cpu"], r["relation"]) for r in doc["results"]] == pairs
assert doc["parameters"]["alpha_per_size"] == 0.05 / len(pairs), doc["parameters"]
for p in doc["passes"]:
    assert (p["probe_cpu"], p["load_cpu"], p["relation"]) in pairs, p
PY
    # A pair with a processor the process may not use, or one that is no pair, is refused before
    # any pass.
    run --pairs 0:1,1-0 --sizes 30 --csv "$dir/never.csv"
    expect_refusal "--pairs: '1-0' is not probe:load"
    if command -v taskset >/dev/null && [ ${#prog[@]} -eq 1 ]; then
      prog=(taskset -c 0 "${prog[@]}")
      run --pairs 0:0,0:1 --sizes 30 --csv "$dir/never.csv"
      expect_refusal '--pairs: this process may not use logical processor 1 \(in 0:1\)'
    fi
    [ ! -e "$dir/never.csv" ] || fail "the CSV file was made"
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
    # Each refusal is one line and exit 2 before any pass: the size asked for would take
    # minutes, and no CSV file is made.
    while IFS='|' read -r args says; do
      read -ra words <<<"$args"
      run "${words[@]}" --sizes 30 --csv "$dir/never.csv"
      expect_refusal "$says"
      [ ! -e "$dir/never.csv" ] || fail "$args: the CSV file was made"
    done <<'EOF'
--rounds 0|--rounds: '0' is not a whole number
--frobnicate|unknown option '--frobnicate'
--time 0|--time: '0' is not a positive number of seconds
--time -3|--time: '-3' is not a positive number of seconds
--time soon|--time: 'soon' is not
--margin 0|--margin: '0' is not a positive percentage
--margin 1%|--margin: '1%' is not
--confidence 1|--confidence: '1' is not a fraction between 0 and 1
--confidence 0|--confidence: '0' is not a fraction
--confidence 95|--confidence: '95' is not a fraction
--pass-ms 0|--pass-ms: '0' is not a number of milliseconds
--rounds 9 --time 5|--rounds and --time do not go together
--steps 1000 --pass-ms 5|--steps and --pass-ms do not go together
--null=1|--null takes no value
EOF
    # Too few rounds for each size's share of the confidence: the least that reach it is named.
    run --sizes 17-26 --rounds 8 --csv "$dir/never.csv"
    expect_refusal '8 rounds cannot reach 99.5 % for each of 10 sizes .*give at least 9'
    [ ! -e "$dir/never.csv" ] || fail "the CSV file was made"
    # --csv and --json naming one file, by another spelling or (on Linux) through a link that
    # leads to a file not made yet: refused, and nothing is made.
    same=("a.csv ./a.csv" "a.csv sub/../a.csv")
    if [ ${#prog[@]} -eq 1 ]; then
      (cd "$dir" && ln -s target.csv link.csv)
      same+=("link.csv target.csv" "target.csv $dir/link.csv")
    fi
    for names in "${same[@]}"; do
      read -r csv json <<<"$names"
      mkdir -p "$dir/sub"
      (cd "$dir" && timeout 600 "${prog[@]}" --sizes 30 --csv "$csv" --json "$json") >"$out" 2>"$err"
      status=$?
      expect_refusal '--csv and --json name the same file'
      [ ! -e "$dir/a.csv" ] && [ ! -e "$dir/target.csv" ] || fail "$names: a file was made"
    done
    run --sizes 16-18
    expect_refusal "'16-18'"
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
    (ulimit -v 1500000 && exec timeout 600 "${prog[@]}" --sizes 17,30 --rounds 7 --steps 1000 \
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
    # SIGINT or SIGTERM in the middle of a size: the sweep ends the pass it is in, prints the row
    # of the size cut short, marked so, writes the JSON (incomplete, with every pass the CSV
    # has) and exits with 130. Until then, a result of the same name from before is untouched.
    # Started in the background by a script, the sweep inherits SIGINT ignored, and watches for
    # it all the same.
    for signal in INT TERM; do
      echo '{"earlier": true}' >"$dir/r.json"
      rm -f "$dir/p.csv"
      "${prog[@]}" --sizes 17-18 --rounds 100000 --steps 1000000 --csv "$dir/p.csv" \
        --json "$dir/r.json" >"$out" 2>"$err" &
      pid=$!
      for _ in $(seq 600); do
        [ -f "$dir/p.csv" ] && [ "$(wc -l <"$dir/p.csv")" -ge 5 ] && break
        sleep 0.1
      done
      [ "$(cat "$dir/r.json")" = '{"earlier": true}' ] || fail "SIG$signal: the earlier JSON changed mid-run"
      kill -"$signal" "$pid"
      wait "$pid"
      status=$?
      expect_status 130
      sed -i 's/\r$//' "$dir/p.csv"
      grep -Eq '^ +17 +128 KiB .* interrupted$' "$out" || fail "SIG$signal: no row marked interrupted"
      [ -z "$(find "$dir" -name 'r.json?*')" ] || fail "SIG$signal: a temporary file was left behind"
      "$python" - "$dir/r.json" "$(($(wc -l <"$dir/p.csv") - 1))" <<'PY' || fail "SIG$signal: JSON check failed"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["complete"] is False and doc["interrupted"] is True, doc.get("complete")
assert len(doc["passes"]) >= int(sys.argv[2]) >= 4, (len(doc["passes"]), sys.argv[2])
assert [r["verdict"] for r in doc["results"]] == ["interrupted"], doc["results"]
PY
    done
    # The CSV has a whole row for every pass it timed.
    grep -Evq '^17,[0-9]+,(default|pinned),[01],1000000,[0-9]+,[01],0,1,[a-z_]+$' <(tail -n +2 "$dir/p.csv") &&
      fail "a CSV row is malformed or cut short"
    ;;
  plot)
    # The plot script on the JSON of a real short sweep.
    run --sizes 17,19 --rounds 7 --steps 100000 --json "$dir/r.json"
    expect_status 0
    bash "$PLOT_TEST" "$PLOT_PYTHON" "$PLOT_SCRIPT" "$dir/r.json" || exit $?
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "ok ($case_name)"
