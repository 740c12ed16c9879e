#!/usr/bin/env bash
# plot_test.sh PYTHON SCRIPT RESULT.json: tools/plot_sweep.py draws a real sweep result as PNG
# and SVG, draws the sizes without a gain and the "alone" times, and refuses files that are not
# sweep results with exit 2 and one line on stderr. Exits 77 (skipped) without matplotlib.
set -u
python=$1
script=$2
result=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# matplotlib keeps a font cache; a fresh one per run keeps the user's home out of the test.
export MPLCONFIGDIR=$dir/mpl

"$python" -c 'import matplotlib' 2>/dev/null || { echo "SKIP: $python has no matplotlib"; exit 77; }

status=0
fail() {
  echo "FAIL: $*"
  sed 's/^/  stderr: /' "$dir/err"
  status=1
}

# Runs the script; sets $rc and leaves its stderr in $dir/err.
plot() {
  "$python" "$script" "$@" 2>"$dir/err"
  rc=$?
}

# The same result with its first size not pinned (null gain) and with alone figures: the two
# kinds of missing value the figure must step around.
"$python" - "$result" >"$dir/variant.json" <<'EOF' || { echo "FAIL: cannot read $result"; exit 1; }
import json, sys
doc = json.load(open(sys.argv[1]))
doc["parameters"]["alone"] = True
for r in doc["results"]:
    r["alone_ns_per_step"] = r["default_ns_per_step"] * 0.8
doc["results"][0].update(verdict="not pinned", pinned_held=False, gain_pct=None, ci_low_pct=None,
                         ci_high_pct=None, ci_coverage=None)
json.dump(doc, sys.stdout)
EOF

# Files that are not sweep results, each refused with exit 2 and one line naming it: another
# program's output (otherwise the real result), a cut-off file, a result without a verdict.
edit() {
  "$python" -c "import json, sys; d = json.load(open(sys.argv[1])); $1; json.dump(d, sys.stdout)" \
    "$result"
}
edit 'd["program"] = "affinity_gain"' >"$dir/other.json"
head -c 100 "$result" >"$dir/cut.json"
edit 'd["results"][0].pop("verdict")' >"$dir/noverdict.json"

png_magic=$(printf '\211PNG\r\n\032\n' | od -An -tx1)
for out in one.png one.svg overlay.png; do
  case $out in
    overlay.png) plot "$result" "$dir/variant.json" -o "$dir/$out" --label real --label variant --title t ;;
    *) plot "$result" -o "$dir/$out" ;;
  esac
  [ "$rc" -eq 0 ] || { fail "$out: exit $rc"; continue; }
  case $out in
    *.png) [ "$(head -c 8 "$dir/$out" | od -An -tx1)" = "$png_magic" ] || fail "$out: not a PNG" ;;
    *.svg) "$python" -c 'import sys, xml.etree.ElementTree as et
sys.exit(et.parse(sys.argv[1]).getroot().tag != "{http://www.w3.org/2000/svg}svg")' "$dir/$out" ||
             fail "$out has no <svg> root element" ;;
  esac
done

for bad in other.json cut.json noverdict.json missing.json; do
  plot "$result" "$dir/$bad" -o "$dir/bad.png"
  [ "$rc" -eq 2 ] || fail "$bad: exit $rc, expected 2"
  [ "$(wc -l <"$dir/err")" -eq 1 ] || fail "$bad: stderr is not one line"
  grep -q "$bad" "$dir/err" || fail "$bad: stderr does not name the file"
done

plot "$result" -o "$dir/out.pdf"
[ "$rc" -eq 2 ] || fail "-o out.pdf: exit $rc, expected 2"

[ $status -eq 0 ] && echo "ok (plot_sweep)"
exit $status
