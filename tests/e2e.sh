#!/usr/bin/env bash
# End-to-end checks of a built program: e2e.sh CASE COMMAND... runs COMMAND (the program, or
# Wine and the program) for one case and checks its report, stderr and exit status.
set -u
case_name=$1
shift
prog=("$@")
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

expect_report() {  # buflog bufsize
  local time='[0-9]+\.[0-9]{3}s'
  local patterns=(
    "^buflog=$1 bufsize=$2\$"
    "^\\(cache flush\\) first run    = $time\$"
    "^time with default affinity = $time\$"
    "^time with first core only  = $time\$"
    '^speed gain is (-?[0-9]+\.[0-9]{2}%|n/a)$'
  )
  [ "$(wc -l <"$out")" -eq 5 ] || fail "expected exactly five lines"
  local i=0 line
  while IFS= read -r line; do
    [[ $line =~ ${patterns[$i]} ]] || fail "line $((i + 1)) does not match ${patterns[$i]}"
    i=$((i + 1))
  done <"$out"
}

expect_empty() {  # file what
  [ ! -s "$1" ] || fail "$2 is not empty"
}

expect_one_line() {  # file pattern
  [ "$(wc -l <"$1")" -eq 1 ] || fail "expected a one-line message"
  grep -Eq "$2" "$1" || fail "message does not match $2"
}

case $case_name in
  report)
    # The whole run. The load thread never stops by itself, yet the process must end right
    # after the gain line; a process that waited for it would hang until the timeout.
    run 17
    expect_status 0
    expect_report 17 131072
    expect_empty "$err" stderr
    ;;
  header)
    # No accepted argument: 16 is too small and the second argument is never looked at. Only
    # the header is read; the program then stops at its next write, killed by SIGPIPE or, where
    # that signal is ignored, failing the write.
    timeout 600 "${prog[@]}" 16 25 2>"$err" | head -n 1 | tr -d '\r' >"$out"
    [ "$(cat "$out")" = "buflog=21 bufsize=2097152" ] || fail "wrong header"
    grep -v 'cannot write the report' "$err" | grep -q . && fail "unexpected stderr"
    ;;
  refused)
    for arg in 31 99999999999999999999; do
      run "$arg"
      expect_status 2
      expect_empty "$out" stdout
      expect_one_line "$err" '17 to 30'
    done
    ;;
  load-not-pinned | main-not-pinned)
    # Only one of processors 0 and 1 may be used: the thread that wants the other says so on
    # stderr, the report is still complete and the run succeeds.
    need_processors_0_and_1
    if [ "$case_name" = load-not-pinned ]; then
      allowed=0 said='load thread not pinned' unsaid='main thread'
    else
      allowed=1 said='main thread not pinned' unsaid='load thread'
    fi
    prog=(taskset -c "$allowed" "${prog[@]}")
    run 17
    expect_status 0
    expect_report 17 131072
    expect_one_line "$err" "^affinity_gain: warning: $said"
    grep -q "$unsaid" "$err" && fail "stderr warns about the $unsaid"
    ;;
  full)
    # The report cannot be written: the run fails at once instead of claiming success.
    timeout 600 "${prog[@]}" 17 >/dev/full 2>"$err"
    status=$?
    expect_status 1
    expect_one_line "$err" 'cannot write the report'
    ;;
  no-memory)
    # 1.5 GiB of address space cannot hold two 1 GiB buffers.
    (ulimit -v 1500000 && exec timeout 600 "${prog[@]}" 30) >"$out" 2>"$err"
    status=$?
    expect_status 1
    expect_empty "$out" stdout
    expect_one_line "$err" 'cannot obtain'
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "ok ($case_name)"
