#!/usr/bin/env bash
# loop_check.sh OBJDUMP PROGRAM: the compiled step loop (the loops inside pass_sum) holds no
# call, no store and no locked or atomic instruction, and closes with the step count counted
# down rather than an extra counter and compare: the program times exactly the reads and the
# arithmetic. A check of the code the compiler made, not of its speed.
set -u
objdump=$1
prog=$2

listing=$("$objdump" -d -C --no-show-raw-insn -M intel "$prog" |
  awk '/^[0-9a-f]+ <pass_sum\(/ { on = 1; next } on && /^$/ { exit } on')
[ -n "$listing" ] || { echo "FAIL: no pass_sum in $prog"; exit 1; }

# Every instruction that lies inside a backward jump of the function, that is in a loop.
addrs=()
insns=()
lo=()
hi=()
while IFS=$'\t' read -r addr insn; do
  addr=${addr//[ :]/}
  [ -n "$addr" ] && [ -n "$insn" ] || continue
  addrs+=($((16#$addr)))
  insns+=("$insn")
  if [[ $insn =~ ^j[a-z]+\ +([0-9a-f]+) ]] && ((16#${BASH_REMATCH[1]} <= 16#$addr)); then
    lo+=($((16#${BASH_REMATCH[1]})))
    hi+=($((16#$addr)))
  fi
done <<<"$listing"
loop=$(for i in "${!addrs[@]}"; do
  for k in "${!lo[@]}"; do
    if ((addrs[i] >= lo[k] && addrs[i] <= hi[k])); then
      printf '%x:\t%s\n' "${addrs[i]}" "${insns[i]}"
      break
    fi
  done
done)

echo "$loop"
[ -n "$loop" ] || { echo "FAIL: no loop found in pass_sum"; exit 1; }
grep -q 'imul.*0xbebcda3' <<<"$loop" || { echo "FAIL: the loop does not run the generator"; exit 1; }

status=0
# The step count is the only loop counter: the loop closes with a decrement (or a subtraction)
# and a conditional jump, not with a separate up-counter and a compare.
if grep -Eq $'\t(cmp|test) ' <<<"$loop"; then
  echo "FAIL: the loop compares a counter instead of counting it down"
  status=1
fi
while IFS=$'\t' read -r _ insn; do
  op=${insn%% *}
  operands=${insn#"$op"}
  case $op in
    call* | push* | stos* | movs* | xchg* | cmpxchg* | xadd* | lock* | *fence | syscall)
      echo "FAIL: $insn"; status=1; continue ;;
  esac
  # Intel syntax puts the destination first: a memory destination is a store, unless the
  # instruction only compares.
  first=${operands%%,*}
  case $op in cmp* | test* | prefetch*) continue ;; esac
  if [[ $first == *"["* ]]; then
    echo "FAIL: store: $insn"; status=1
  fi
done <<<"$loop"
[ $status -eq 0 ] && echo "ok (loop_check)"
exit $status
