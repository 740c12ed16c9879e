#!/usr/bin/python3
"""Draws the result of one or more affinity_sweep runs as a two-panel figure.

The top panel shows, for each buffer size, the median gain from pinning the probe thread (in
percent of the default time; positive means pinned was faster) with its confidence interval as
error bars; the bottom panel shows the time per step of each kind of pass (default, pinned, and
alone when the sweep measured it). Several result files are drawn over each other as labelled
series, so that machines or processor pairs can be compared.

    tools/plot_sweep.py RESULT.json [RESULT.json ...] -o OUT.png|OUT.svg
                        [--label TEXT ...] [--title TEXT]

The format follows the suffix of -o. --label names the series, one per file in the order given
(`--label A --label B`); without it each series is named after its machine:
processor model, probe and load processors with their relation, and compiler.

Run it with Debian's Python and python3-matplotlib (`apt-get install python3-matplotlib`); no
display is needed. Exit status: 0 when the figure was written, 1 when it could not be written,
2 for a usage error or a file that is not a readable sweep result (one line on stderr names the
file and the problem).
"""

import argparse
import importlib.util
import json
import math
import os
import sys

# Its own name as started: plot_sweep.py from the source tree, affinity_sweep_plot when installed.
PROG = os.path.basename(sys.argv[0]) or "plot_sweep.py"
VERDICTS = ("pinned faster", "pinned slower", "no clear difference", "not pinned")
NOT_PINNED = "not pinned"
FORMATS = (".png", ".svg")
MARKERS = ("o", "s", "^", "D", "v", "P", "X", "<", ">")
# How each kind of pass is drawn in the bottom panel; the colour and marker belong to the file.
KINDS = (
    ("default", "default_ns_per_step", dict(linestyle="-")),
    ("pinned", "pinned_ns_per_step", dict(linestyle="--", markerfacecolor="white")),
    ("alone", "alone_ns_per_step", dict(linestyle=":", markersize=4)),
)


class BadResult(Exception):
    """A result file that cannot be plotted; the message says why, in a few words."""


def is_number(v):
    # JSON true/false load as bool, which Python counts as int: they are not figures.
    return isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v)


def need(obj, key, kind, where):
    """obj[key], which must be present and of the given kind ("number", "int", "bool", "str",
    "dict", "list", or "number|null")."""
    if key not in obj:
        raise BadResult(f'missing "{key}"{where}')
    v = obj[key]
    ok = {
        "number": is_number(v),
        "number|null": v is None or is_number(v),
        "int": isinstance(v, int) and not isinstance(v, bool),
        "bool": isinstance(v, bool),
        "str": isinstance(v, str),
        "dict": isinstance(v, dict),
        "list": isinstance(v, list),
    }[kind]
    if not ok:
        what = "a number or null" if kind == "number|null" else "a " + kind
        raise BadResult(f'"{key}"{where} is not {what}')
    return v


def reject_constant(name):
    # Python's json accepts NaN and Infinity, which are not JSON and cannot be plotted.
    raise ValueError(f"{name} is not a JSON number")


def read_json(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f, parse_constant=reject_constant)
    except OSError as e:
        raise BadResult(f"cannot read: {e.strerror or e}")
    except ValueError as e:  # also bad UTF-8
        raise BadResult(f"not JSON: {e}")
    except RecursionError:
        raise BadResult("not JSON: nested too deeply")


def load(path):
    """The parts of one result file that the figure needs, checked."""
    doc = read_json(path)
    if not isinstance(doc, dict):
        raise BadResult("not an affinity_sweep result (not a JSON object)")
    if doc.get("program") != "affinity_sweep":
        found = f'"program" is {json.dumps(doc["program"])}' if "program" in doc else 'no "program"'
        raise BadResult(f"not an affinity_sweep result ({found})")
    complete = need(doc, "complete", "bool", "")
    machine = need(doc, "machine", "dict", "")
    params = need(doc, "parameters", "dict", "")
    alone = need(params, "alone", "bool", " in parameters")
    confidence = need(params, "confidence", "number", " in parameters")
    if not 0 < confidence < 1:
        raise BadResult('"confidence" in parameters is not between 0 and 1')
    where = " in machine"
    label = "{}, {}\u2192{} ({}), {}".format(
        need(machine, "cpu_model", "str", where).strip(),
        need(machine, "probe_cpu", "int", where),
        need(machine, "load_cpu", "int", where),
        need(machine, "relation", "str", where),
        need(machine, "compiler", "str", where),
    )
    if not complete:
        label += " [incomplete]"
    date = machine.get("date") if isinstance(machine.get("date"), str) else ""

    rows = []
    for i, r in enumerate(need(doc, "results", "list", "")):
        if not isinstance(r, dict):
            raise BadResult(f"results[{i}] is not an object")
        buflog = need(r, "buflog", "int", f" in results[{i}]")
        if not 0 <= buflog <= 62:
            raise BadResult(f"results[{i}]: buflog {buflog} is out of range")
        where = f" for buflog {buflog}"
        if any(buflog == q["buflog"] for q in rows):
            raise BadResult(f"buflog {buflog} appears twice in results")
        verdict = need(r, "verdict", "str", where)
        if verdict not in VERDICTS:
            raise BadResult(f'unknown verdict "{verdict}"{where}')
        row = {"buflog": buflog, "verdict": verdict}
        for _, key, _ in KINDS:
            kind = "number" if key == "default_ns_per_step" else "number|null"
            row[key] = need(r, key, kind, where)
            if row[key] is not None and row[key] <= 0:
                raise BadResult(f'"{key}"{where} is not positive')
        if alone and row["alone_ns_per_step"] is None:
            raise BadResult(f'"alone_ns_per_step"{where} is null in a sweep with alone passes')
        if not alone:
            row["alone_ns_per_step"] = None
        if verdict == NOT_PINNED:
            # A pass that was not pinned is not a pinned figure, whatever its time.
            row["pinned_ns_per_step"] = None
            row["gain"] = None
        else:
            if row["pinned_ns_per_step"] is None:
                raise BadResult(f'"pinned_ns_per_step"{where} is null, verdict "{verdict}"')
            keys = ("gain_pct", "ci_low_pct", "ci_high_pct")
            gain, low, high = (need(r, k, "number", where) for k in keys)
            if not low <= gain <= high:
                raise BadResult(f"gain {gain} lies outside its interval [{low}, {high}]{where}")
            row["gain"] = (gain, low, high)
        rows.append(row)
    if not rows:
        raise BadResult("no results")
    rows.sort(key=lambda q: q["buflog"])
    return {"label": label, "date": date, "alone": alone, "confidence": confidence, "rows": rows}


def size_text(buflog):
    """128 KiB, 1 MiB, 2 GiB... for a power of two."""
    units = ("bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB")
    unit = min(buflog // 10, len(units) - 1)
    return f"{1 << (buflog - 10 * unit)} {units[unit]}"


def draw(series, out, fmt, title):
    import matplotlib

    matplotlib.use("Agg")
    matplotlib.rcParams["svg.hashsalt"] = PROG  # fixed element ids: same results, same file
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullLocator

    fig, (top, bottom) = plt.subplots(
        2, 1, sharex=True, figsize=(10, 8), constrained_layout=True,
        gridspec_kw={"height_ratios": [3, 2]},
    )
    colors = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    # Each series sits a little to one side of the true size, so that error bars at the same
    # size do not hide each other; the spread stays well inside one octave.
    step = min(0.07, 0.5 / len(series))
    noted = set()
    foot = top.get_xaxis_transform()  # x in data, y in fractions of the panel's height
    for i, s in enumerate(series):
        color = colors[i % len(colors)]
        marker = MARKERS[i % len(MARKERS)]
        shift = 2 ** ((i - (len(series) - 1) / 2) * step)
        rows = s["rows"]

        # A missing figure is NaN, which breaks the line there instead of bridging the gap.
        xs = [(1 << r["buflog"]) * shift for r in rows]
        gains = [r["gain"][0] if r["gain"] else math.nan for r in rows]
        errs = [[r["gain"][0] - r["gain"][1] if r["gain"] else 0 for r in rows],
                [r["gain"][2] - r["gain"][0] if r["gain"] else 0 for r in rows]]
        top.errorbar(xs, gains, yerr=errs, color=color, marker=marker, markersize=6, capsize=3,
                     linewidth=0.8, elinewidth=1.2, label=s["label"])
        # A size whose pinned pass was not pinned has no gain: a cross at the foot of the panel
        # (not on the zero line) says so, with one note per size however many series lack it.
        for r in rows:
            if r["gain"] is None:
                x = (1 << r["buflog"]) * shift
                top.plot([x], [0.03], linestyle="none", marker="x", markersize=8,
                         markeredgewidth=2, color=color, transform=foot)
                if r["buflog"] not in noted:
                    noted.add(r["buflog"])
                    top.annotate("not pinned", (1 << r["buflog"], 0.03), xycoords=foot,
                                 xytext=(0, 9), textcoords="offset points", ha="center",
                                 fontsize="small")

        for kind, key, style in KINDS:
            ys = [math.nan if r[key] is None else r[key] for r in rows]
            if any(r[key] is not None for r in rows):
                look = {"color": color, "marker": marker, "markersize": 5, "linewidth": 1.2}
                bottom.plot(xs, ys, **{**look, **style})

    top.axhline(0, color="black", linewidth=0.8, zorder=0)
    top.margins(y=0.1)  # room for the "not pinned" crosses below the lowest error bar
    confidences = {s["confidence"] for s in series}
    ci = f"{100 * confidences.pop():g} % CI" if len(confidences) == 1 else "confidence interval"
    top.set_ylabel(f"median gain from pinning, %  ({ci})\npositive: pinned faster")
    top.grid(True, axis="y", alpha=0.3)
    top.legend(loc="lower left", bbox_to_anchor=(0, 1.01), fontsize="small", frameon=False,
               title="series", title_fontsize="small", alignment="left")

    bottom.set_yscale("log")
    bottom.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
    # Labels at 2 and 5 of each decade too: the times often span less than two decades.
    bottom.yaxis.set_minor_formatter(
        FuncFormatter(lambda v, _: f"{v:g}" if f"{v:.0e}"[0] in "25" else ""))
    bottom.set_ylabel("time per step, ns")
    bottom.grid(True, which="both", axis="y", alpha=0.3)
    handles = [Line2D([], [], color="gray", marker="o", label=kind, **style)
               for kind, _, style in KINDS if kind != "alone" or any(s["alone"] for s in series)]
    # Times rise with the size, so the upper left corner is where the lines are not.
    bottom.legend(handles=handles, loc="upper left", fontsize="small", title="pass",
                  title_fontsize="small")

    lo = min(r["buflog"] for s in series for r in s["rows"])
    hi = max(r["buflog"] for s in series for r in s["rows"])
    bottom.set_xscale("log", base=2)
    bottom.set_xlim(2 ** (lo - 0.5), 2 ** (hi + 0.5))
    bottom.xaxis.set_major_locator(FixedLocator([2 ** b for b in range(lo, hi + 1)]))
    bottom.xaxis.set_major_formatter(FuncFormatter(lambda v, _: size_text(round(math.log2(v)))))
    bottom.xaxis.set_minor_locator(NullLocator())
    if hi - lo >= 10:
        plt.setp(bottom.get_xticklabels(), rotation=35, ha="right", rotation_mode="anchor")
    bottom.set_xlabel("buffer size of each thread, bytes (log\u2082 scale)")
    fig.suptitle(title, fontweight="bold")

    # No creation date in the file either.
    metadata = {"Date": None} if fmt == ".svg" else {}
    fig.savefig(out, format=fmt[1:], dpi=120, metadata=metadata)


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog=PROG,
        description="Plot affinity_sweep results: gain from pinning and time per step, "
        "by buffer size.",
    )
    p.add_argument("results", nargs="+", metavar="RESULT.json",
                   help="result file of affinity_sweep")
    p.add_argument("-o", dest="out", required=True, metavar="OUT.png|OUT.svg",
                   help="figure to write")
    # One value per --label, so that a label can never take a result file's place.
    p.add_argument("--label", action="append", metavar="TEXT",
                   help="a series name; give one --label per result file, in order")
    p.add_argument("--title", default="Gain from pinning the probe thread while a load thread runs",
                   help="figure title")
    args = p.parse_args(argv)
    args.fmt = os.path.splitext(args.out)[1].lower()
    if args.fmt not in FORMATS:
        p.error(f"-o {args.out}: the name must end in .png or .svg")
    if args.label is not None:
        if len(args.label) != len(args.results):
            p.error(f"{len(args.label)} labels for {len(args.results)} result files: "
                    "give one per file")
    return args


def main(argv):
    args = parse_args(argv)
    series = []
    for path in args.results:
        try:
            series.append(load(path))
        except BadResult as e:
            print(f"{PROG}: {path}: {e}", file=sys.stderr)
            return 2
    if args.label is not None:
        for s, text in zip(series, args.label):
            s["label"] = text
    else:
        # Two runs on one machine would share a label; their dates tell them apart.
        labels = [s["label"] for s in series]
        for s in series:
            if labels.count(s["label"]) > 1 and s["date"]:
                s["label"] += f", {s['date']}"

    if importlib.util.find_spec("matplotlib") is None:
        print(f"{PROG}: needs matplotlib: run it with Debian's /usr/bin/python3 "
              "and python3-matplotlib", file=sys.stderr)
        return 1
    try:
        draw(series, args.out, args.fmt, args.title)
    except OSError as e:
        print(f"{PROG}: {args.out}: cannot write: {e.strerror or e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
