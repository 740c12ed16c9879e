#!/usr/bin/env bash
# imports.sh OBJDUMP PROGRAM.exe: the Windows program imports the calls it is built on from
# KERNEL32.dll and imports nothing but system DLLs, so the one .exe runs on a stock Windows.
set -u
objdump=$1
exe=$2
table=$("$objdump" -p "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }

status=0
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$table")
echo "imports: $(echo $dlls)"
while read -r dll; do
  case ${dll,,} in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | ntdll.dll | advapi32.dll | api-ms-win-*) ;;
    *) echo "FAIL: imports $dll, which a stock Windows does not have"; status=1 ;;
  esac
done <<<"$dlls"

# The names listed under KERNEL32.dll, up to the next DLL.
kernel32=$(awk '/DLL Name:/ { in_k = ($3 == "KERNEL32.dll") } in_k { print $NF }' <<<"$table")
for call in GetTickCount CreateThread SetThreadAffinityMask GetCurrentThread; do
  grep -qx "$call" <<<"$kernel32" || { echo "FAIL: $call is not imported from KERNEL32.dll"; status=1; }
done
[ $status -eq 0 ] && echo "ok (imports)"
exit $status
