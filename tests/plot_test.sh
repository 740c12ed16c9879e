#!/usr/bin/env bash
# plot_test.sh PYTHON SCRIPT RESULT.json: tools/plot_sweep.py draws a schema-2 sweep result as PNG
# and SVG, the same SVG each time; draws variants of it with a second pair, unbounded intervals,
# every verdict, alone times and a null run, each said in the figure's text; and refuses files it
# cannot trust with exit 2 and one line on stderr that names the file and the reason. Exits 77
# (skipped) without matplotlib.
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

# Variants of the result, whatever pairs and sizes it holds, and the names of its first pair and
# of the pair added to it, as the series name them.
"$python" - "$result" "$dir" >"$dir/pairs" <<'EOF' || { echo "FAIL: cannot read $result"; exit 1; }
import copy, json, sys
base = json.load(open(sys.argv[1]))
out = sys.argv[2]

def variant(name, change):
    doc = copy.deepcopy(base)
    change(doc)
    json.dump(doc, open(f"{out}/{name}.json", "w"))

def label(p):
    return f"{p['probe_cpu']}\u2192{p['load_cpu']} ({p['relation']})"

def first_not_pinned(d):
    # The first size not pinned (no gain) beside alone times: two kinds of missing value.
    d["parameters"]["alone"] = True
    for r in d["results"]:
        r["alone_ns_per_step"] = r["default_ns_per_step"] * 0.8
    d["results"][0].update(verdict="not pinned", pinned_held=False, gain_pct=None,
                           ci_low_pct=None, ci_high_pct=None, ci_coverage=None)

pairs = base["parameters"]["pairs"]
taken = {(p["probe_cpu"], p["load_cpu"]) for p in pairs}
cpu = 1 + max(max(p) for p in taken)
added = {"probe_cpu": cpu, "load_cpu": cpu, "relation": "same",
         "relation_text": "the same processor"}

def second_pair(d):
    d["parameters"]["pairs"].append(added)
    for r in base["results"]:
        if (r["probe_cpu"], r["load_cpu"]) == (pairs[0]["probe_cpu"], pairs[0]["load_cpu"]):
            d["results"].append(dict(r, probe_cpu=cpu, load_cpu=cpu, relation="same"))

def unbounded(d):
    # Too few rounds everywhere: gains without intervals.
    for r in d["results"]:
        if r["gain_pct"] is not None:
            r.update(verdict="undecided", ci_low_pct=None, ci_high_pct=None, ci_coverage=None)

def interrupted(d, round_done):
    d.update(complete=False, interrupted=True)
    d["results"][-1]["verdict"] = "interrupted"
    if not round_done:
        d["results"][-1].update(rounds=0, pinned_ns_per_step=None, gain_pct=None,
                                ci_low_pct=None, ci_high_pct=None, ci_coverage=None)

def null_run(d):
    # Also another margin, which the "same" verdicts carry.
    same = f"same within {d['parameters']['margin_pct']:g} %"
    d["parameters"].update(null=True, margin_pct=0.5)
    for r in d["results"]:
        if r["verdict"] == same:
            r["verdict"] = "same within 0.5 %"

variant("notpinned", first_not_pinned)
variant("twopair", second_pair)
variant("unbounded", unbounded)
variant("interrupted", lambda d: interrupted(d, True))
variant("noround", lambda d: interrupted(d, False))
variant("null", null_run)
print(label(pairs[0]))
print(label(added))
EOF
{ read -r pair1; read -r pair2; } <"$dir/pairs"

# draw OUT 'TEXT;TEXT...' ARGS...: the figure is drawn, is a PNG or an SVG, and an SVG holds each
# TEXT (matplotlib keeps every text of an SVG in a comment beside its outlines).
png_magic=$(printf '\211PNG\r\n\032\n' | od -An -tx1)
draw() {
  local out=$dir/$1 texts=$2 text
  shift 2
  plot "$@" -o "$out"
  [ "$rc" -eq 0 ] || { fail "$(basename "$out"): exit $rc"; return; }
  case $out in
    *.png) [ "$(head -c 8 "$out" | od -An -tx1)" = "$png_magic" ] || fail "$out: not a PNG" ;;
    *.svg)
      "$python" -c 'import sys, xml.etree.ElementTree as et
sys.exit(et.parse(sys.argv[1]).getroot().tag != "{http://www.w3.org/2000/svg}svg")' "$out" ||
        fail "$(basename "$out") has no <svg> root element"
      local IFS=';'
      for text in $texts; do
        grep -qF -- "$text" "$out" || fail "$(basename "$out") does not say \"$text\""
      done
      ;;
  esac
}
d=$dir
draw one.png '' "$result"
draw one.svg "$pair1;same within ±" "$result"
draw overlay.png '' "$result" "$d/notpinned.json" --label real --label variant --title t
draw twopair.svg "$pair1, ;$pair2, " "$d/twopair.json"
draw labelled.svg "<!-- L, $pair1;<!-- L, $pair2" "$d/twopair.json" --label L
draw notpinned.svg 'not pinned (no gain);alone' "$d/notpinned.json"
draw unbounded.svg 'undecided;no bar: too few rounds' "$d/unbounded.json"
draw interrupted.svg '<!-- interrupted -->;[interrupted]' "$d/interrupted.json"
draw noround.svg '<!-- interrupted -->;[interrupted]' "$d/noround.json"
draw null.svg '[null run];same within ±0.5 %' "$d/null.json"
draw all.png '' "$d"/{twopair,notpinned,unbounded,noround,null}.json

# The same results give the same file: no date, fixed element ids.
plot "$result" -o "$dir/again.svg"
cmp -s "$dir/one.svg" "$dir/again.svg" || fail "two SVG figures of one result differ"

# bad NAME 'EDIT' REASON: the result changed by the Python statement EDIT on its JSON d (no EDIT:
# NAME is made otherwise below) is refused with exit 2 and one line that names it and says
# REASON.
bads=()
bad() {
  bads+=("$1|$3")
  [ -z "$2" ] && return
  "$python" -c "import json, sys; d = json.load(open(sys.argv[1])); $2; json.dump(d, sys.stdout)" \
    "$result" >"$dir/$1"
}
bad other.json 'd["program"] = "affinity_gain"' 'not an affinity_sweep result'
bad cut.json '' 'not JSON'
bad missing.json '' 'cannot read'
bad noverdict.json 'd["results"][0].pop("verdict")' 'missing "verdict"'
bad schema3.json 'd["schema"] = 3' 'schema 3 is not one this script knows (it reads schema 2)'
bad noschema.json 'd.pop("schema")' 'a result of affinity_sweep 1.0'
bad margin.json \
  'd["results"][0]["verdict"] = "same within %g %%" % (2 * d["parameters"]["margin_pct"])' \
  'does not match "margin_pct"'
bad strange.json 'd["results"][0]["probe_cpu"] = 4096' 'is not in parameters.pairs'
bad twice.json 'd["results"].append(d["results"][0])' 'appears twice'
bad decided.json \
  'd["results"][0].update(verdict="pinned faster", ci_low_pct=None, ci_high_pct=None)' \
  'is null, verdict "pinned faster"'
bad zero.json 'd["results"][0]["default_ns_per_step"] = 0' 'is not positive'
bad stopped.json 'd["results"][0]["verdict"] = "interrupted"; d["interrupted"] = False' \
  'a sweep that was not interrupted'
head -c 100 "$result" >"$dir/cut.json"

for case in "${bads[@]}"; do
  name=${case%%|*}
  reason=${case#*|}
  plot "$result" "$dir/$name" -o "$dir/bad.png"
  [ "$rc" -eq 2 ] || fail "$name: exit $rc, expected 2"
  [ "$(wc -l <"$dir/err")" -eq 1 ] || fail "$name: stderr is not one line"
  grep -qF "$dir/$name: " "$dir/err" || fail "$name: stderr does not name the file"
  grep -qF -- "$reason" "$dir/err" || fail "$name: stderr does not say '$reason'"
done
[ -e "$dir/bad.png" ] && fail "a refused file left a figure behind"

plot "$result" -o "$dir/out.pdf"
[ "$rc" -eq 2 ] || fail "-o out.pdf: exit $rc, expected 2"

[ $status -eq 0 ] && echo "ok (plot_sweep)"
exit $status
