#!/usr/bin/env bash
# man_check.sh MANDIR: every section-1 page in MANDIR formats without a single diagnostic from
# groff (and from man, where man-db is installed), has the sections a reader looks for, a NAME
# line that whatis can index, and no option dash written as a hyphen. Prints "ok (man pages)" or
# one FAIL line per problem; exits 0 or 1.
set -u
if [ $# -ne 1 ]; then
  echo "usage: man_check.sh MANDIR" >&2
  exit 1
fi
dir=$1
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

command -v groff >/dev/null || {
  echo "FAIL: groff is not installed"
  exit 1
}
# Minimised Debian images replace man with a stub that only explains itself: that is no man.
use_man=0
if command -v man >/dev/null && man --version >/dev/null 2>&1; then
  use_man=1
fi

shopt -s nullglob
pages=("$dir"/*.1)
[ ${#pages[@]} -gt 0 ] || fail "no *.1 pages in $dir"

for page in "${pages[@]}"; do
  name=$(basename "$page" .1)

  # groff warns on stderr and with -z writes nothing else, so any output at all is a fault.
  for macros in -man -mandoc; do
    out=$(groff -ww -z "$macros" "$page" 2>&1)
    [ -z "$out" ] || fail "$page: groff -ww $macros: $(echo "$out" | head -3 | tr '\n' ' ')"
  done
  if [ "$use_man" -eq 1 ]; then
    # Only stderr: stdout is the formatted page.
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$page" 2>&1 \
      >/dev/null)
    [ -z "$out" ] || fail "$page: man --warnings: $(echo "$out" | head -3 | tr '\n' ' ')"
  fi

  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS"; do
    grep -qE "^\.SH +\"?$section\"? *$" "$page" || fail "$page: no $section section"
  done

  # whatis and lintian want "name \- description" on the one line after .SH NAME.
  line=$(sed -n '/^\.SH  *"\{0,1\}NAME"\{0,1\} *$/{n;p;q}' "$page")
  case $line in
    "$name \\- "?*) ;;
    *) fail "$page: NAME line is not '$name \\- description': $line" ;;
  esac

  # A dash that starts a word (an option, a negative number) must be \- so that it renders as
  # the character a user types; comments are exempt.
  while IFS= read -r hit; do
    fail "$page:$hit: hyphen used as a minus sign (write \\-)"
  done < <(grep -nE '(^|[[:space:]"([|])--?[[:alnum:]]' "$page" | grep -vE '^[0-9]+:\.\\"')
done

[ "$status" -eq 0 ] && echo "ok (man pages)"
exit "$status"
