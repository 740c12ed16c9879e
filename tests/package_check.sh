#!/usr/bin/env bash
# Checks what `cmake --install` and CPack make from the built trees under build/:
#   gcc, clang          installed into a temporary prefix: the programs run from there, every
#                       command has its man page, the documents are in share/doc/<package>;
#   gcc                 the .deb: its fields, its files and their modes, and lintian without
#                       errors;
#   win-gcc, win-clang  the .zip: its files, and its programs run under the tree's Wine.
# tools/check runs it after every tree has been built and tested:
#   bash tests/package_check.sh [TREE...]     (default: gcc clang win-gcc win-clang)
set -euo pipefail
cd "$(dirname "$0")/.."
# What we package must not depend on the umask of whoever runs the check.
umask 022
shopt -s nullglob

trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(gcc clang win-gcc win-clang)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "package_check: FAIL: $*" >&2
  failures=$((failures + 1))
}

# cache TREE VARIABLE: a value from the tree's CMake cache.
cache() {
  sed -n "s/^$2:[A-Z]*=//p" "build/$1/CMakeCache.txt"
}

# status EXPECTED COMMAND...: runs COMMAND and checks its exit status, showing its output when
# the status is wrong.
status() {
  local expected=$1 got=0
  shift
  "$@" >"$work/out" 2>&1 || got=$?
  if [ "$got" -ne "$expected" ]; then
    fail "$* exited $got, not $expected:"
    sed 's/^/    /' "$work/out" >&2
  fi
}

# same WHAT EXPECTED GOT: compares two texts, showing both when they differ.
same() {
  if [ "$2" != "$3" ]; then
    fail "$1: not as expected (< expected, > found)"
    diff <(echo "$2") <(echo "$3") | sed 's/^/    /' >&2 || true
  fi
}

# linux_files PROGRAM PACKAGE: the files a Linux tree installs under its prefix, one a line,
# sorted.
linux_files() {
  local program=$1 package=$2 page
  {
    printf '%s\n' "bin/$program" bin/affinity_sweep bin/affinity_sweep_plot
    for page in man/*.1; do echo "share/man/man1/${page#man/}.gz"; done
    [ "$program" = affinity_gain ] || echo "share/man/man1/$program.1.gz"
    printf "share/doc/$package/%s\n" README.md LICENSE copyright changelog.gz
  } | sort
}

check_install() {
  local tree=$1 program package version prefix bin cmd page
  program=$(cache "$tree" AG_PROGRAM)
  package=${program//_/-}
  version=$(cache "$tree" CMAKE_PROJECT_VERSION)
  prefix=$work/$tree
  bin=$prefix/bin
  echo "== install of build/$tree into a temporary prefix"
  cmake --install "build/$tree" --prefix "$prefix" >"$work/install.log" ||
    { fail "cmake --install build/$tree"; cat "$work/install.log" >&2; return; }

  same "the files installed from build/$tree" "$(linux_files "$program" "$package")" \
    "$(cd "$prefix" && find . -type f -printf '%P\n' | sort)"

  status 2 "$bin/$program" 31
  status 0 "$bin/affinity_sweep" --help
  same "affinity_sweep --version" "affinity_sweep $version" "$("$bin/affinity_sweep" --version)"
  status 0 "$bin/affinity_sweep_plot" --help
  # Debian's Python has matplotlib; the one first on PATH may not.
  same "the plot command's interpreter" "#!/usr/bin/python3" \
    "$(head -n 1 "$bin/affinity_sweep_plot")"

  # man finds every command's page in the prefix (affinity_gain_alt's leads to affinity_gain's)
  # and can format it.
  for cmd in "$bin"/*; do
    cmd=${cmd##*/}
    page=$(MANPATH=$prefix/share/man man -w "$cmd" 2>&1) || true
    [[ "$page" == "$prefix/share/man/man1/"*.1.gz ]] || fail "man -w $cmd: $page"
    status 0 env MANPATH="$prefix/share/man" MANWIDTH=80 MANPAGER=cat man "$cmd"
  done
}

check_deb() {
  local version deb field value
  version=$(cache gcc CMAKE_PROJECT_VERSION)
  deb=build/gcc/affinity-gain_${version}_$(dpkg --print-architecture).deb
  echo "== $deb"
  rm -f "$deb"
  (cd build/gcc && cpack -G DEB) >"$work/cpack.log" 2>&1 ||
    { fail "cpack -G DEB in build/gcc"; cat "$work/cpack.log" >&2; return; }
  [ -f "$deb" ] || { fail "cpack made no $deb"; return; }

  same "Package" affinity-gain "$(dpkg-deb -f "$deb" Package)"
  same "Version" "$version" "$(dpkg-deb -f "$deb" Version)"
  same "Recommends" "python3, python3-matplotlib" "$(dpkg-deb -f "$deb" Recommends)"
  # Depends comes from dpkg-shlibdeps: the C and C++ runtimes the programs link.
  value=$(dpkg-deb -f "$deb" Depends)
  for field in libc6 libstdc++6; do
    [[ ", $value," == *", $field "* ]] || fail "Depends lacks $field: $value"
  done
  for field in Maintainer Section Description; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the .deb has no $field"
  done

  # Every file with its mode and owner: programs 0755, the rest 0644, all root's.
  same "the .deb's files" \
    "$(linux_files affinity_gain affinity-gain | sed -e 's|^bin/|-rwxr-xr-x root/root ./usr/bin/|' \
      -e 's|^share/|-rw-r--r-- root/root ./usr/share/|' | sort -k3)" \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort -k3)"
  same "the .deb's directory modes and owners" "drwxr-xr-x root/root" \
    "$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ {print $1, $2}' | sort -u)"
  # A new version needs its changelog entry.
  value=$(dpkg-deb --fsys-tarfile "$deb" |
    tar -xOf - ./usr/share/doc/affinity-gain/changelog.gz | gzip -dc | head -n 1) || true
  [[ "$value" == "affinity-gain ($version) "* ]] ||
    fail "the changelog's latest entry is not for $version: $value"

  # Errors fail the check; warnings are shown and stay.
  lintian --fail-on error "$deb" || fail "lintian reports errors for $deb"
}

check_zip() {
  local tree=$1 program package version zip top wine out
  program=$(cache "$tree" AG_PROGRAM)
  package=${program//_/-}
  version=$(cache "$tree" CMAKE_PROJECT_VERSION)
  top=$package-$version-win64
  zip=build/$tree/$top.zip
  echo "== $zip"
  rm -f "$zip"
  (cd "build/$tree" && cpack -G ZIP) >"$work/cpack.log" 2>&1 ||
    { fail "cpack -G ZIP in build/$tree"; cat "$work/cpack.log" >&2; return; }
  [ -f "$zip" ] || { fail "cpack made no $zip"; return; }

  same "the files in $zip" \
    "$(printf "$top/%s\n" "$program.exe" affinity_sweep.exe README.md LICENSE | sort)" \
    "$(unzip -Z1 "$zip" | grep -v '/$' | sort)"

  # The packed programs are stripped copies: they must still run. The tree's tests made its
  # Wine prefix.
  unzip -q "$zip" -d "$work/$tree"
  wine=$(cache "$tree" AG_WINE)
  export WINEPREFIX=$PWD/build/$tree/wineprefix WINEDEBUG=-all
  status 2 "$wine" "$work/$tree/$top/$program.exe" 31
  out=$("$wine" "$work/$tree/$top/affinity_sweep.exe" --version | tr -d '\r') || true
  same "affinity_sweep.exe --version" "affinity_sweep $version" "$out"
  unset WINEPREFIX WINEDEBUG
}

for tree in "${trees[@]}"; do
  case $tree in
    gcc)
      check_install gcc
      check_deb
      ;;
    clang) check_install clang ;;
    win-gcc | win-clang) check_zip "$tree" ;;
    *) fail "no packaging checks for tree $tree" ;;
  esac
done

if [ "$failures" -gt 0 ]; then
  echo "package_check: $failures check(s) failed" >&2
  exit 1
fi
echo "package_check: all packaging checks passed"
