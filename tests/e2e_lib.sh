# Helpers shared by the end-to-end scripts, sourced by them. The script sets case_name (the
# case it runs), prog (the command: the program, or Wine and the program) and out and err (the
# files that hold the last run's stdout and stderr).

# Fails the case, showing what the last run printed.
fail() {
  echo "FAIL ($case_name): $*"
  echo "--- stdout"; cat "$out"
  echo "--- stderr"; cat "$err"
  exit 1
}

# Runs the program with the given arguments and sets status; a program that hangs (waiting for a
# thread, say) is killed and fails. Wine writes CR LF, which is taken out, and now and then a
# line of its own about a fault in one of its threads ("wine: Unhandled page fault ...", seen
# once in a run whose program printed and exited as it should), which is not the program's
# output: a fault of the program's own still shows in its exit status.
run() {
  timeout 600 "${prog[@]}" "$@" >"$out" 2>"$err"
  status=$?
  sed -i 's/\r$//' "$out" "$err"
  if [ ${#prog[@]} -gt 1 ]; then
    sed -i '/^wine: /d' "$err"
  fi
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}

# Skips the case (exit 77) where the process may not use both processor 0 and processor 1.
need_processors_0_and_1() {
  if ! taskset -c 0,1 true 2>/dev/null; then
    echo "skipped ($case_name): processors 0 and 1 are not both available"
    exit 77
  fi
}
