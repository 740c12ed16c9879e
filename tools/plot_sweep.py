#!/usr/bin/python3
"""Draws the result of one or more affinity_sweep runs as a two-panel figure.

It reads the sweep's JSON of schema 2 (affinity_sweep 1.1 and later), which may hold several
processor pairs. Each pair of each file is a series of its own, in its own colour and marker, so
that one figure shows how the answer depends on the kind of pair, the machine or the compiler.

The top panel shows, for each buffer size, the median gain from pinning the probe thread (in
percent of the default time; positive means pinned was faster) with its interval as an error
bar, over a shaded band of plus or minus the sweep's equivalence margin around zero. The fill of
each marker tells the size's verdict: filled for pinned faster or slower, hollow for same within
the margin, grey for undecided, half filled for interrupted; a size whose interval is not yet
bounded has no bar, and a size without a gain (not pinned, or interrupted before its first
round) is marked at the foot of the panel. The bottom panel shows the time per step of each kind
of pass (default, pinned, and alone when the sweep measured it).

    tools/plot_sweep.py RESULT.json [RESULT.json ...] -o OUT.png|OUT.svg
                        [--label TEXT ...] [--title TEXT]

The format follows the suffix of -o. --label names the files, one per file in the order given
(`--label A --label B`); a file with several pairs names each series after its label and the
pair. Without it each series is named after its machine: processor model, probe and load
processors with their relation, and compiler. Either way a null run says [null run], a sweep cut
short [interrupted] or [incomplete].

Run it with Debian's Python and python3-matplotlib (`apt-get install python3-matplotlib`); no
display is needed. Exit status: 0 when the figure was written, 1 when it could not be written,
2 for a usage error or a file that is not a readable sweep result of schema 2 (one line on
stderr names the file and the problem).
"""

import argparse
import importlib.util
import json
import math
import os
import sys

# Its own name as started: plot_sweep.py from the source tree, affinity_sweep_plot when installed.
PROG = os.path.basename(sys.argv[0]) or "plot_sweep.py"
SCHEMA = 2  # the layout of the results this script reads
NOT_PINNED = "not pinned"
INTERRUPTED = "interrupted"
RELATIONS = ("same", "smt_siblings", "shared_llc", "separate_llc", "other_package", "unknown")
# How the key of the gain panel names each kind of interval.
INTERVALS = {"confidence_sequence": "confidence sequence", "fixed_sample": "fixed-sample interval"}
FORMATS = (".png", ".svg")
MARKERS = ("o", "s", "^", "D", "v", "P", "X", "<", ">")
BAND, BAND_ALPHA = "tab:green", 0.15  # the margin around zero in the gain panel
# The verdict marks of the gain panel and the words that explain them. The marker's shape and
# colour belong to the series; its fill tells the verdict.
MARKS = (
    ("decided", "pinned faster or slower"),
    ("same", "same within the margin"),
    ("undecided", "undecided"),
    ("interrupted", "interrupted"),
    ("not pinned", "not pinned (no gain)"),
)
# How far past the gains and bands the gain panel reaches for the intervals, in their span.
REACH = 2
UNDECIDED = "0.7"  # the grey inside an undecided size's marker
MARK_KEY = "0.25"  # the colour of the marks in their key, which belong to no series
# How each kind of pass is drawn in the bottom panel; the colour and marker belong to the series.
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


def pair_text(probe, load):
    return f"{probe}\u2192{load}"


def verdict_mark(verdict, margin):
    """The mark that a verdict gets in the figure, or None for a verdict this script does not
    know. The "same" verdict carries the margin as printf's %g writes it, which Python's :g
    matches."""
    if verdict == f"same within {margin:g} %":
        return "same"
    return {
        "pinned faster": "decided",
        "pinned slower": "decided",
        "undecided": "undecided",
        NOT_PINNED: "not pinned",
        INTERRUPTED: "interrupted",
    }.get(verdict)


def load_row(r, where, alone, margin, interrupted):
    """One checked result: its verdict and mark, gain, interval and times."""
    verdict = need(r, "verdict", "str", where)
    mark = verdict_mark(verdict, margin)
    if mark is None:
        if verdict.startswith("same within "):
            raise BadResult(f'verdict "{verdict}"{where} does not match "margin_pct" {margin:g}')
        raise BadResult(f'unknown verdict "{verdict}"{where}')
    if mark == "interrupted" and not interrupted:
        raise BadResult(f'verdict "{verdict}"{where} in a sweep that was not interrupted')
    # A size that ended before a pass of some kind ran has no time for that kind.
    unfinished = mark in ("not pinned", "interrupted")
    row = {"verdict": verdict, "mark": mark}
    for _, key, _ in KINDS:
        row[key] = need(r, key, "number|null", where)
        if row[key] is not None and row[key] <= 0:
            raise BadResult(f'"{key}"{where} is not positive')
        if row[key] is None and not unfinished and (key != "alone_ns_per_step" or alone):
            raise BadResult(f'"{key}"{where} is null, verdict "{verdict}"')
    if not alone:
        row["alone_ns_per_step"] = None
    row["gain"] = row["interval"] = None
    if mark == "not pinned":
        # A pass that was not pinned is not a pinned figure, whatever its time.
        row["pinned_ns_per_step"] = None
        return row
    gain, low, high = (need(r, k, "number|null", where)
                       for k in ("gain_pct", "ci_low_pct", "ci_high_pct"))
    if (low is None) != (high is None):
        raise BadResult(f"only one end of the interval is null{where}")
    if gain is None:
        if mark != "interrupted":
            raise BadResult(f'"gain_pct"{where} is null, verdict "{verdict}"')
        if low is not None:
            raise BadResult(f'an interval without a gain{where}')
        return row
    for key in ("default_ns_per_step", "pinned_ns_per_step"):
        if row[key] is None:
            raise BadResult(f'"{key}"{where} is null beside a gain')
    if low is None:
        # Too few rounds to bound the interval: only a size still open can say so.
        if mark not in ("undecided", "interrupted"):
            raise BadResult(f'the interval{where} is null, verdict "{verdict}"')
    elif not low <= gain <= high:
        raise BadResult(f"gain {gain} lies outside its interval [{low}, {high}]{where}")
    else:
        row["interval"] = (low, high)
    row["gain"] = gain
    return row


def load(path):
    """The parts of one result file that the figure needs, checked: the file's own facts and
    one list of sizes per processor pair."""
    doc = read_json(path)
    if not isinstance(doc, dict):
        raise BadResult("not an affinity_sweep result (not a JSON object)")
    if doc.get("program") != "affinity_sweep":
        found = f'"program" is {json.dumps(doc["program"])}' if "program" in doc else 'no "program"'
        raise BadResult(f"not an affinity_sweep result ({found})")
    if "schema" not in doc:
        raise BadResult("a result of affinity_sweep 1.0 (layout 1, no \"schema\"), which this "
                        f"script no longer reads (it reads schema {SCHEMA})")
    schema = doc["schema"]
    if not (isinstance(schema, int) and not isinstance(schema, bool) and schema == SCHEMA):
        raise BadResult(f"schema {json.dumps(schema)} is not one this script knows "
                        f"(it reads schema {SCHEMA})")
    complete = need(doc, "complete", "bool", "")
    interrupted = need(doc, "interrupted", "bool", "")
    if complete and interrupted:
        raise BadResult('"complete" and "interrupted" are both true')
    machine = need(doc, "machine", "dict", "")
    params = need(doc, "parameters", "dict", "")
    where = " in parameters"
    alone = need(params, "alone", "bool", where)
    null_run = need(params, "null", "bool", where)
    confidence = need(params, "confidence", "number", where)
    if not 0 < confidence < 1:
        raise BadResult('"confidence" in parameters is not between 0 and 1')
    margin = need(params, "margin_pct", "number", where)
    if not margin > 0:
        raise BadResult('"margin_pct" in parameters is not positive')
    interval = need(params, "interval", "str", where)
    if interval not in INTERVALS:
        raise BadResult(f'unknown "interval" {json.dumps(interval)} in parameters')

    pairs = {}  # (probe, load) -> its relation and sizes, in the order the sweep lists them
    for i, p in enumerate(need(params, "pairs", "list", where)):
        where = f" in parameters.pairs[{i}]"
        if not isinstance(p, dict):
            raise BadResult(f"parameters.pairs[{i}] is not an object")
        key = (need(p, "probe_cpu", "int", where), need(p, "load_cpu", "int", where))
        relation = need(p, "relation", "str", where)
        if relation not in RELATIONS:
            raise BadResult(f'unknown relation "{relation}"{where}')
        if key in pairs:
            raise BadResult(f"pair {pair_text(*key)} appears twice in parameters.pairs")
        pairs[key] = {"probe": key[0], "load": key[1], "relation": relation, "rows": {}}
    if not pairs:
        raise BadResult("no pairs in parameters")

    for i, r in enumerate(need(doc, "results", "list", "")):
        where = f" in results[{i}]"
        if not isinstance(r, dict):
            raise BadResult(f"results[{i}] is not an object")
        key = (need(r, "probe_cpu", "int", where), need(r, "load_cpu", "int", where))
        if key not in pairs:
            raise BadResult(f"results[{i}]: pair {pair_text(*key)} is not in parameters.pairs")
        pair = pairs[key]
        buflog = need(r, "buflog", "int", where)
        if not 0 <= buflog <= 62:
            raise BadResult(f"results[{i}]: buflog {buflog} is out of range")
        where = f" for {pair_text(*key)} buflog {buflog}"
        if need(r, "relation", "str", where) != pair["relation"]:
            raise BadResult(f'"relation"{where} is not its pair\'s "{pair["relation"]}"')
        if buflog in pair["rows"]:
            raise BadResult(f"{pair_text(*key)} buflog {buflog} appears twice in results")
        pair["rows"][buflog] = dict(load_row(r, where, alone, margin, interrupted), buflog=buflog)
    # A pair that the sweep never reached has nothing to draw.
    measured = [p for p in pairs.values() if p["rows"]]
    if not measured:
        raise BadResult("no results")
    for p in measured:
        p["rows"] = [p["rows"][b] for b in sorted(p["rows"])]

    where = " in machine"
    cpu = need(machine, "cpu_model", "str", where).strip()
    compiler = need(machine, "compiler", "str", where)
    flags = ""
    if null_run:
        flags += " [null run]"
    if interrupted:
        flags += " [interrupted]"
    elif not complete:
        flags += " [incomplete]"
    return {
        "cpu": cpu, "compiler": compiler, "flags": flags,
        "date": machine.get("date") if isinstance(machine.get("date"), str) else "",
        "alone": alone, "confidence": confidence, "margin": margin, "interval": interval,
        "pairs": measured,
    }


def series_of(results, labels):
    """One series per pair of each file, named after its machine and pair, or after the file's
    --label with the pair added where the file holds more than one."""
    series = []
    for i, res in enumerate(results):
        for p in res["pairs"]:
            pair = f"{pair_text(p['probe'], p['load'])} ({p['relation']})"
            if labels is None:
                name = f"{res['cpu']}, {pair}, {res['compiler']}"
            elif len(res["pairs"]) > 1:
                name = f"{labels[i]}, {pair}"
            else:
                name = labels[i]
            series.append({"name": name, "file": res, "rows": p["rows"]})
    if labels is None:
        # Two runs on one machine would share a name; their dates tell them apart.
        names = [s["name"] for s in series]
        for s in series:
            if names.count(s["name"]) > 1 and s["file"]["date"]:
                s["name"] += f", {s['file']['date']}"
    # Nested margin bands need the series to say which band is theirs.
    margins = {res["margin"] for res in results}
    for s in series:
        margin = f", margin \u00b1{s['file']['margin']:g} %" if len(margins) > 1 else ""
        # Said whatever the name: a null run or a cut-short sweep is not a plain result.
        s["label"] = s["name"] + margin + s["file"]["flags"]
    return series


def size_text(buflog):
    """128 KiB, 1 MiB, 2 GiB... for a power of two."""
    units = ("bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB")
    unit = min(buflog // 10, len(units) - 1)
    return f"{1 << (buflog - 10 * unit)} {units[unit]}"


def mark_style(mark, color):
    """How a size with this verdict is marked, for a series of this colour."""
    return {
        "decided": {"markerfacecolor": color},
        "same": {"markerfacecolor": "white"},
        "undecided": {"markerfacecolor": UNDECIDED},
        # Half filled: a verdict cut short.
        "interrupted": {"fillstyle": "left", "markerfacecolor": color,
                        "markerfacecoloralt": "white"},
        "not pinned": {"marker": "x", "markersize": 8, "markeredgewidth": 2},
    }[mark]


def gain_limits(series):
    """The gain panel's range: every gain and every band, and the intervals as far as REACH
    times that span beyond them. A size with few rounds can have an interval a hundred times
    wider than every gain; drawn whole, it would flatten all the others onto the zero line."""
    gains = [r["gain"] for s in series for r in s["rows"] if r["gain"] is not None]
    widest = max(s["file"]["margin"] for s in series)
    lo, hi = min(gains + [-widest]), max(gains + [widest])
    span = hi - lo
    ends = [e for s in series for r in s["rows"] if r["interval"] for e in r["interval"]]
    lo = max(min(ends + [lo]), lo - REACH * span)
    hi = min(max(ends + [hi]), hi + REACH * span)
    pad = 0.1 * (hi - lo)  # and room for the marks at the foot below the lowest bar
    return lo - pad, hi + pad


def draw_gains(top, series, colors, shifts):
    """The top panel: each size's gain, its interval and its verdict; the margin bands; and
    the keys of the series and of the marks."""
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    ymin, ymax = gain_limits(series)
    top.set_ylim(ymin, ymax)
    edge = top.get_xaxis_transform()  # x in data, y in fractions of the panel's height
    keys = []  # one per series
    seen = set()  # the marks drawn, and so explained
    unbounded = cut = False  # a gain drawn without its bar; a bar that runs past the panel
    notes = {}  # buflog -> the verdicts marked at the foot of the panel there
    for s, color, marker, shift in zip(series, colors, MARKERS * len(series), shifts):
        rows = s["rows"]
        # A missing gain is NaN, which breaks the line there instead of bridging the gap.
        top.plot([(1 << r["buflog"]) * shift for r in rows],
                 [math.nan if r["gain"] is None else r["gain"] for r in rows],
                 color=color, linewidth=0.8, zorder=2)
        keys.append(Line2D([], [], color=color, marker=marker, markersize=7, linewidth=0.8,
                           label=s["label"]))
        # A size whose interval is not bounded yet (too few rounds) is a point without a bar.
        bars = [r for r in rows if r["interval"]]
        if bars:
            top.errorbar([(1 << r["buflog"]) * shift for r in bars], [r["gain"] for r in bars],
                         yerr=[[r["gain"] - r["interval"][0] for r in bars],
                               [r["interval"][1] - r["gain"] for r in bars]],
                         fmt="none", ecolor=color, capsize=3, elinewidth=1.2, zorder=2)
        # A bar cut by the panel's edge ends in an arrowhead there, so that it does not pass
        # for a narrower interval.
        for r in bars:
            for end, y, head in ((r["interval"][0] < ymin, 0.012, "v"),
                                 (r["interval"][1] > ymax, 0.988, "^")):
                if end:
                    cut = True
                    top.plot([(1 << r["buflog"]) * shift], [y], transform=edge, marker=head,
                             color=color, markersize=6, clip_on=False, zorder=3)
        unbounded = unbounded or any(r["gain"] is not None and not r["interval"] for r in rows)
        for mark, _ in MARKS:
            at = [r for r in rows if r["mark"] == mark]
            seen.update([mark] if at else [])
            look = {"linestyle": "none", "color": color, "markersize": 8, "zorder": 3,
                    "marker": marker, **mark_style(mark, color)}
            points = [r for r in at if r["gain"] is not None]
            if points:
                top.plot([(1 << r["buflog"]) * shift for r in points],
                         [r["gain"] for r in points], **look)
            # A size without a gain (not pinned, or interrupted before its first round) is
            # marked at the foot of the panel, not on the zero line, where it would read as a
            # gain of zero; one note per size says why, however many series lack it there.
            for r in at:
                if r["gain"] is None:
                    top.plot([(1 << r["buflog"]) * shift], [0.03], transform=edge, **look)
                    words = notes.setdefault(r["buflog"], [])
                    if r["verdict"] not in words:
                        words.append(r["verdict"])
    for buflog, words in notes.items():
        top.annotate("\n".join(words), (1 << buflog, 0.03), xycoords=edge, xytext=(0, 9),
                     textcoords="offset points", ha="center", va="bottom", fontsize="small")

    top.axhline(0, color="black", linewidth=0.8, zorder=0)
    # The equivalence margin of each file as a band around zero. Files judged with different
    # margins each get their band, nested, because each file's "same" verdicts hold only for
    # its own margin: one band, the widest, would make a "same within 0.5 %" look as loose as
    # 1 %. Each band is drawn faintly, so where they overlap the shade deepens and the narrower
    # band stands out inside the wider one.
    margins = sorted({s["file"]["margin"] for s in series}, reverse=True)
    bands = []
    for n, m in enumerate(margins, 1):
        top.axhspan(-m, m, facecolor=BAND, alpha=BAND_ALPHA, linewidth=0, zorder=0)
        # The key's swatch shows the shade as it looks inside that band.
        shade = 1 - (1 - BAND_ALPHA) ** n
        bands.append(Patch(facecolor=BAND, alpha=shade, label=f"same within \u00b1{m:g} %"))
    top.set_ylabel("median gain from pinning, %\npositive: pinned faster")
    top.grid(True, axis="y", alpha=0.3)

    key = top.add_artist(top.legend(handles=keys, loc="lower left", bbox_to_anchor=(0, 1.01),
                                    fontsize="small", frameon=False, title="series",
                                    title_fontsize="small", alignment="left"))
    # add_artist clips it to the panel, which leaves it out of the layout's room above the
    # panel and lets the title run into it; it is drawn whole either way.
    key.set_clip_on(False)
    confidences = {s["file"]["confidence"] for s in series}
    intervals = {s["file"]["interval"] for s in series}
    if len(confidences) == 1 and len(intervals) == 1:
        # The sweep spreads its confidence over every pair and size, so that all the bars hold
        # together at the confidence it was given.
        words = f"{100 * confidences.pop():g} % {INTERVALS[intervals.pop()]},\nall sizes at once"
    else:
        words = "each sweep's interval,\nat its confidence"
    marks = bands + [Line2D([], [], linestyle="none", color=MARK_KEY, marker="|",
                            markersize=14, markeredgewidth=1.2, label=words)]
    if cut:
        marks.append(Line2D([], [], linestyle="none", color=MARK_KEY, marker="v", markersize=6,
                            label="bar runs on past the panel"))
    if unbounded:
        marks.append(Line2D([], [], linestyle="none",
                            label="no bar: too few rounds\nto bound the interval"))
    marks += [Line2D([], [], label=text, **{"linestyle": "none", "color": MARK_KEY,
                                            "marker": "o", "markersize": 8,
                                            **mark_style(mark, MARK_KEY)})
              for mark, text in MARKS if mark in seen]
    # The keys of the marks and of the passes sit to the right of their panels: above the
    # top panel the series need the whole width, and no point can hide behind a key outside.
    top.legend(handles=marks, loc="upper left", bbox_to_anchor=(1.01, 1), fontsize="small",
               title="gain and verdict", title_fontsize="small", alignment="left",
               frameon=False, labelspacing=0.8)


def draw_times(bottom, series, colors, shifts):
    """The bottom panel: the time per step of each kind of pass, and its key."""
    from matplotlib.lines import Line2D
    from matplotlib.ticker import FuncFormatter

    for s, color, marker, shift in zip(series, colors, MARKERS * len(series), shifts):
        xs = [(1 << r["buflog"]) * shift for r in s["rows"]]
        for _, key, style in KINDS:
            ys = [math.nan if r[key] is None else r[key] for r in s["rows"]]
            if any(r[key] is not None for r in s["rows"]):
                look = {"color": color, "marker": marker, "markersize": 5, "linewidth": 1.2}
                bottom.plot(xs, ys, **{**look, **style})
    bottom.set_yscale("log")
    bottom.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
    # Labels at 2 and 5 of each decade too, as the times often span less than two decades;
    # within one decade at 3 as well, or the panel may show a single number.
    times = [r[key] for s in series for r in s["rows"] for _, key, _ in KINDS if r[key]]
    digits = "235" if times and max(times) < 10 * min(times) else "25"
    bottom.yaxis.set_minor_formatter(
        FuncFormatter(lambda v, _: f"{v:g}" if f"{v:.0e}"[0] in digits else ""))
    bottom.set_ylabel("time per step, ns")
    bottom.grid(True, which="both", axis="y", alpha=0.3)
    alone = any(s["file"]["alone"] for s in series)
    handles = [Line2D([], [], color="gray", marker="o", label=kind, **style)
               for kind, _, style in KINDS if kind != "alone" or alone]
    bottom.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.01, 1), fontsize="small",
                  title="pass", title_fontsize="small", alignment="left", frameon=False)


def draw(series, out, fmt, title):
    import matplotlib

    matplotlib.use("Agg")
    matplotlib.rcParams["svg.hashsalt"] = PROG  # fixed element ids: same results, same file
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullLocator

    fig, (top, bottom) = plt.subplots(
        2, 1, sharex=True, figsize=(11, 8), constrained_layout=True,
        gridspec_kw={"height_ratios": [3, 2]},
    )
    palette = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    colors = [palette[i % len(palette)] for i in range(len(series))]
    # Each series sits a little to one side of the true size, so that error bars at the same
    # size do not hide each other; the spread stays well inside one octave.
    step = min(0.07, 0.5 / len(series))
    shifts = [2 ** ((i - (len(series) - 1) / 2) * step) for i in range(len(series))]
    draw_gains(top, series, colors, shifts)
    draw_times(bottom, series, colors, shifts)

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
        description="Plot affinity_sweep results (schema 2): gain from pinning with its "
        "interval and verdict, and time per step, by buffer size; one series per processor pair "
        "of each file.",
    )
    p.add_argument("results", nargs="+", metavar="RESULT.json",
                   help="result file of affinity_sweep --json")
    p.add_argument("-o", dest="out", required=True, metavar="OUT.png|OUT.svg",
                   help="figure to write")
    # One value per --label, so that a label can never take a result file's place.
    p.add_argument("--label", action="append", metavar="TEXT",
                   help="the name of a file's series; give one --label per result file, in "
                   "order (with several pairs in a file, each pair is added to it)")
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
    results = []
    for path in args.results:
        try:
            results.append(load(path))
        except BadResult as e:
            print(f"{PROG}: {path}: {e}", file=sys.stderr)
            return 2
    series = series_of(results, args.label)

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
