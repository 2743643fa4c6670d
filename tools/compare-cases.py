#!/usr/bin/python3
"""Writes the cases that tools/compare-builds.sh runs on two builds of tarvel1.

    compare-cases.py OUTDIR [--seed N] [--count N]

Each case is a directory OUTDIR/NNN holding
    files/    the run directory as it is before the run (control.dat, the data
              file, sometimes a results file, courbe.dat or record left over)
    stdin     the console input
    args      the command-line arguments, one a line
    threads   the value of TARVEL_THREADS (1 or 3)
    about     one line: what the case exercises

The first cases are written by hand, one for each way a run ends and each
option; the rest are drawn at random from a seeded generator, so the same seed
always gives the same cases. A random case combines one way of writing each
reading path: control.dat's records (label words, nulls, slashes, repeat
counts, quoted names, blank lines, CR LF, a CR before the end), the data file
(separators, number forms, nulls, repeat counts, values spread over lines,
comments) and the console (queries in and out of range, null replies, blank
lines, the end of input at the prompt).
"""

import argparse
import os
import random

EXAMPLE = [  # examples/points.dat
    (12.3, 0.42, 0.9460, 0.0021), (21.7, 0.52, 0.9240, 0.0025), (30.4, 0.60, 0.9094, 0.0029),
    (41.8, 0.72, 0.8883, 0.0034), (52.6, 0.83, 0.8595, 0.0038), (63.1, 0.93, 0.8322, 0.0043),
    (74.9, 1.05, 0.8136, 0.0048), (86.2, 1.16, 0.7831, 0.0053), (97.5, 1.27, 0.7504, 0.0057),
    (109.8, 1.40, 0.7258, 0.0063), (121.4, 1.51, 0.6905, 0.0068), (133.0, 1.63, 0.6666, 0.0073),
    (146.7, 1.77, 0.6165, 0.0079)]
SWITCH_WORDS = ["print", "unused", "drop", "probability", "curve", "queries"]


# ---------------------------------------------------------------- numbers

def number(v, form):
    """The text of a real value in one of the forms a list-directed read takes."""
    if form == "fixed":
        return "%.4f" % v
    if form == "short":
        return "%.6g" % v
    if form == "nolead":  # .946 and -.5: no zero before the point
        t = "%.4f" % v
        return t.replace("0.", ".", 1) if t.startswith(("0.", "-0.")) else t
    if form == "E":
        return "%.5E" % v
    if form == "d":  # a D exponent, in lower case
        return ("%.5E" % v).replace("E", "d")
    if form == "signexp":  # 9.46-1: the exponent's sign directly after the digits
        m, e = ("%.4E" % v).split("E")
        return m + ("%+d" % int(e))
    if form == "plus":
        return ("+" if v >= 0 else "") + "%.5g" % v
    raise ValueError(form)


NUMBER_FORMS = ["fixed", "short", "nolead", "E", "d", "signexp", "plus"]


# ---------------------------------------------------------------- points

def draw_points(rng, order, span=None):
    """Calibration points on a smooth curve, scattered by their uncertainties.
    The span of the indices is picked to suit the order: high powers of wide
    indices make the fit too nearly singular."""
    if span is None:
        spans = ["wide", "narrow", "signed", "above1000", "below0", "example"]
        weights = [4, 3, 2, 1, 1, 2] if order <= 4 else [0, 5, 4, 0, 0, 0]
        span = rng.choices(spans, weights)[0]
    if span == "example":
        return list(EXAMPLE), span
    lo, hi = {"wide": (5.0, 200.0), "narrow": (0.5, 6.0), "signed": (-2.0, 2.0),
              "above1000": (1100.0, 1500.0), "below0": (-60.0, -5.0)}[span]
    n = rng.randint(order + 2, max(order + 3, 16))
    qs = sorted(round(rng.uniform(lo, hi), 2) for _ in range(n))
    c = [0.95, -0.35 + 0.1 * rng.random(), 0.08 * rng.random(), 0.03 * (rng.random() - 0.5)]
    points = []
    for q in qs:
        t = (q - lo) / (hi - lo)
        e_true = c[0] + c[1] * t + c[2] * t * t + c[3] * t ** 3
        ue = round(rng.uniform(0.001, 0.008), 4)
        e = round(e_true + rng.gauss(0.0, ue), 4)
        uq = round(rng.uniform(0.002, 0.02) * (hi - lo), 3)
        points.append((q, uq, e, ue))
    return points, span


def index_range(points):
    """The calibrated range as the program finds it: the smallest index
    starts at 1000 and the largest at 0, not at the first point."""
    qmin, qmax = 1000.0, 0.0
    for q, _, _, _ in points:
        qmin, qmax = min(qmin, q), max(qmax, q)
    return qmin, qmax


# ---------------------------------------------------------------- records

def join_lines(lines, rng, eol=None, end=None):
    """Lines with LF or CR LF, and a last line with its end, without it, or
    with a CR alone before the end of the file."""
    eol = eol or rng.choice(["\n", "\n", "\r\n"])
    end = end or rng.choices(["eol", "none", "cr"], [6, 2, 2])[0]
    text = eol.join(lines)
    return text + {"eol": eol, "none": "", "cr": "\r"}[end], eol, end


def separator(rng):
    return rng.choices([" ", "  ", "\t", ",", ", ", " , ", " \t "], [6, 2, 1, 2, 1, 1, 1])[0]


def data_file(rng, points, urel, tags, fault=None):
    """The data file's text. `fault` spoils it in one way: a count that does
    not match, a letter for a number, a null or a slash that leaves a value
    unread, a count below 1."""
    form = rng.choice(NUMBER_FORMS)
    mixed = rng.random() < 0.2  # each number in a form of its own
    count = str(len(points))
    if fault == "fewer":
        count = str(len(points) + rng.randint(1, 3))
    elif fault == "more":
        count = str(len(points) - rng.randint(1, 2))
    elif fault == "zero":
        count = rng.choice(["0", "-3"])
    elif fault == "huge":
        count = "99999999999"
    elif fault == "real count":
        count = str(len(points)) + ".0"
    head = count + separator(rng) + number(urel, "short")
    if not fault and rng.random() < 0.15:
        # A repeat count of 1; or the relative uncertainty as a null value or
        # cut off by a slash, so that it keeps its first value.
        head = rng.choice(["1*%s " + number(urel, "short"), "%s,", "%s /", "%s 1*"]) % count
        tags.append("count line with a repeat count, a null or a slash")
    if rng.random() < 0.4:
        head += rng.choice(["     number of points, common relative uncertainty", " / count, urel", "\tpoints"])
    lines = [head]
    spoiled = rng.randrange(len(points)) if fault in ("letters", "null value", "slash early") else -1
    for i, p in enumerate(points):
        values = [number(v, rng.choice(NUMBER_FORMS) if mixed else form) for v in p]
        if i == spoiled:
            k = rng.randrange(4)
            if fault == "letters":
                values[k] = rng.choice(["abc", "0.9.4", "1e", "--1", "0x1F"])
            elif fault == "null value":
                values[k] = ""  # two commas around it make it a null value
            else:
                values = values[:k] + ["/"]
        style = rng.choices(["plain", "repeat", "null", "spread", "comment", "blank before"], [10, 1, 1, 1, 2, 1])[0]
        if i == spoiled and fault == "null value":
            line = ",".join(values)
        elif i == spoiled and fault == "slash early":
            line = " ".join(values)
        elif style == "repeat" and not fault:
            # The index's uncertainty written as the efficiency, by one
            # repeat count: q 2*e ue; or a repeat count of 1.
            if rng.random() < 0.5:
                line = "%s 2*%s %s" % (values[0], values[2], values[3])
                points[i] = (p[0], p[2], p[2], p[3])
            else:
                line = "1*%s %s 1*%s %s" % tuple(values)
            tags.append("repeat count in a point")
        elif style == "null" and not fault:
            # A null value for the index's uncertainty: its slot keeps what it held.
            line = rng.choice(["%s,,%s,%s", "%s 1* %s %s", "%s , , %s %s"]) % (values[0], values[2], values[3])
            tags.append("null in a point")
        elif style == "spread":  # over two lines, or three with a blank one; LF inside a CR LF file too
            line = values[0] + separator(rng) + values[1] + rng.choice(["\n", "\n\n"]) + values[2] + " " + values[3]
        else:
            sep = separator(rng)
            line = rng.choice(["", " ", "  ", "\t"]) + sep.join(values)
            if style == "comment":
                line += rng.choice(["  point %d" % (i + 1), " / measured twice", ", 5 extra", " 7"])
        if style == "blank before":
            lines.append(rng.choice(["", "   ", "\t"]))
        lines.append(line)
    if fault == "more":
        tags.append("more points than the count")
    text, eol, end = join_lines(lines, rng)
    tags.append("data " + form + (" mixed" if mixed else "") + " " + {"\n": "LF", "\r\n": "CRLF"}[eol] +
                {"eol": "", "none": " no-last-eol", "cr": " CR-at-end"}[end])
    return text


def control_file(rng, data_name, order, opt, results_name, tags, fault=None):
    """control.dat: a heading and nine records of a value and a label word,
    each written in one of the ways a list-directed read takes. `fault` spoils
    it: a value without its label, a bad integer or name, a null setting
    (which keeps its first value), the file ending early, an empty first
    line."""
    heading = rng.choice(["'Tritium quench curve, LSC counter 2'", "Tritium quench curve", '"C-14 curve, tube 3"',
                          "'it''s a test'", "''", "  'spaced heading'  ", "heading\twith a tab",
                          "'" + "a" * 40 + "'"])
    records = [("name", data_name, "datafile"), ("int", order, "order")]
    records += [("int", o, SWITCH_WORDS[k]) for k, o in enumerate(opt)]
    records.append(("name", results_name, "resfile"))
    lines = [heading]
    unlabelled = rng.randrange(len(records)) if fault == "no label" else -1
    spoiled = rng.randrange(1, len(records)) if fault in ("bad integer", "null switch") else -1
    for i, (kind, value, word) in enumerate(records):
        text = value if kind == "name" else str(value)
        variant = rng.choices(["plain", "quoted", "repeat", "slash", "comment", "based", "plus", "null"],
                              [12, 2, 1, 1, 2, 1, 1, 1])[0]
        if i == spoiled:
            if fault == "bad integer" and kind == "int":
                text = rng.choice(["2.0", "two", "99999999999", "0x2", "1e0"])
            elif fault == "bad integer":
                text = "'" + text + "  trailing'"  # a quoted name with blanks
            variant = "null" if fault == "null switch" else "plain"
        sep = separator(rng)
        if variant == "quoted" and kind == "name":
            q = rng.choice(["'", '"'])
            line = q + text + q + sep + word
            tags.append("quoted name")
        elif variant == "repeat" and kind == "int":
            if rng.random() < 0.5:
                line = "1*" + text + sep + word
            else:
                line = "2*" + text  # the value and the label word from one repeat count
            tags.append("repeat count in control.dat")
        elif variant == "slash":
            line = text + rng.choice(["/", " / ignored", ",/"])  # the label keeps its value
            tags.append("slash in control.dat")
        elif variant == "based" and kind == "int" and int(value) >= 0:
            line = "10#" + text + sep + word
        elif variant == "plus" and kind == "int":
            line = ("+" if int(value) >= 0 else "-") + "0" + str(abs(int(value))) + sep + word
        elif variant == "null" and (kind == "int" or i == spoiled):
            line = rng.choice([",", " , ", "1*,"]) + word  # a null value: the setting keeps its initial value
            tags.append("null in control.dat")
        else:
            line = text + sep + word
            if variant == "comment":
                line += rng.choice(["  the setting's comment", " and more words", ", 7, 8"])
        if i == unlabelled:
            line = text
        if rng.random() < 0.08:
            lines.append(rng.choice(["", "  ", "\t"]))
            tags.append("blank line in control.dat")
        lines.append(line)
    if fault == "ends early":
        lines = lines[:rng.randint(1, len(lines) - 1)]
    elif fault == "empty heading":
        lines[0] = ""
    text, eol, end = join_lines(lines, rng)
    tags.append("control " + {"\n": "LF", "\r\n": "CRLF"}[eol] + {"eol": "", "none": " no-last-eol", "cr": " CR-at-end"}[end])
    return text


# ---------------------------------------------------------------- console

def replies(rng, points, tags, nulls):
    """Console replies at the query prompt: answered indices, refused ones,
    blank lines, and (when `nulls`) null replies and slashes; then the end:
    0 in one of its forms, the end of input, a Ctrl-Z line or a bad reply."""
    qmin, qmax = index_range(points)
    out = []
    for _ in range(rng.randint(1, 6)):
        kind = rng.choices(["in", "edge", "out", "blank", "repeat", "forms", "two values", "null"],
                           [6, 2, 2, 1, 1, 1, 1, 3 if nulls else 0])[0]
        if kind == "in":
            out.append("%.2f" % rng.uniform(qmin, qmax))
        elif kind == "edge":
            out.append(rng.choice(["%r" % qmin, "%r" % qmax]))
            tags.append("query at the range's end")
        elif kind == "out":
            out.append(rng.choice(["%.2f" % (qmax + 0.01), "%.2f" % (qmin - 0.01), "-1e5", "1e5", "12345.6"]))
            tags.append("query out of range")
        elif kind == "blank":
            out.append(rng.choice(["", "   ", "\t"]))
        elif kind == "repeat":
            out.append("2*%.1f" % rng.uniform(qmin, qmax))
        elif kind == "forms":
            out.append(number(rng.uniform(qmin, qmax), rng.choice(NUMBER_FORMS)) + rng.choice(["", " comment", ",9"]))
        elif kind == "two values":
            out.append(rng.choice(["75,5", "60 1", "50,2", " 35.5 , rest"]))
        else:
            out.append(rng.choice([",", " , ", ", 12", "/", " / ", "2*", "3*,", " , rest"]))
            tags.append("null reply or slash at the prompt")
    end = rng.choices(["0", "0.0", "-0", " 0 end", "eof", "ctrl-z", "bad", "0d0"], [6, 2, 1, 1, 3, 1, 1, 1])[0]
    if end == "ctrl-z":
        out.append(rng.choice(["\x1a", "later\x1a"]))
    elif end == "bad":
        out.append(rng.choice(["abc", "1.2.3", "q"]))
    elif end != "eof":
        out.append(end)
    tags.append("queries end: " + end)
    text, _, _ = join_lines(out, rng, end="eol" if end != "eof" else None)
    return text


# ---------------------------------------------------------------- cases

class Case:
    def __init__(self, about):
        self.about = about
        self.files = {}      # name -> text (bytes 0 to 255); a name ending in / is a directory
        self.stdin = ""
        self.args = []
        self.threads = "1"

    def write(self, root, index):
        d = os.path.join(root, "%03d" % index)
        os.makedirs(os.path.join(d, "files"))
        for name, text in self.files.items():
            path = os.path.join(d, "files", name)
            if name.endswith("/"):
                os.makedirs(path, exist_ok=True)
            else:
                with open(path, "wb") as f:
                    f.write(text.encode("latin-1"))
        for name, text in (("stdin", self.stdin), ("args", "".join(a + "\n" for a in self.args)),
                           ("threads", self.threads + "\n"), ("about", self.about + "\n")):
            with open(os.path.join(d, name), "wb") as f:
                f.write(text.encode("latin-1"))


def plain_control(order=2, opt="000000", data="points.dat", results="results.dat"):
    lines = ["'test calibration'", data + " datafile", "%d order" % order]
    lines += ["%s %s" % (o, w) for o, w in zip(opt, SWITCH_WORDS)]
    return "\n".join(lines + [results + " resfile"]) + "\n"


def example_data():
    return "13 0.005\n" + "".join("%s %s %s %s\n" % p for p in EXAMPLE)


def hand_cases():
    """One case for each way a run ends, each option and each odd input that a
    random case would seldom reach."""
    x = example_data()
    cases = []

    def add(about, control, data=x, stdin="", args=(), threads="1", extra=None):
        c = Case(about)
        if control is not None:
            c.files["control.dat"] = control
        if data is not None:
            c.files["points.dat"] = data
        c.files.update(extra or {})
        c.stdin, c.args, c.threads = stdin, list(args), threads
        cases.append(c)

    queries = "12.3\n146.7\n146.71\n,\n 35.5 , rest\n,\n\n0.0\n"
    add("the example, every switch on, queries with null replies", plain_control(3, "111111"), stdin=queries)
    add("the example, queries with null replies, 3 threads", plain_control(3, "101011"), stdin=queries, threads="3")
    add("a first null reply after the curve table, then 0", plain_control(3, "000011"), stdin=",\n0\n")
    add("a first null reply without the curve table, then 0", plain_control(3, "000001"), stdin=",\n0\n")
    add("repeated nulls and a slash at the prompt", plain_control(2, "000001"), stdin="50\n,\n2*\n/\n60\n/\n0\n")
    add("the end of input right after a null reply", plain_control(2, "000011"), stdin="50\n,")
    add("queries in and out of range, at both ends", plain_control(2, "100101"),
        stdin="12.3\n146.7\n12.29\n146.71\n-5\n1e5\n75,5\n60 1\n\n  \n0\n")
    add("a reply that is not a number", plain_control(2, "000001"), stdin="50\nfifty\n")
    add("the end of input at the prompt", plain_control(2, "000001"), stdin="50\n")
    add("a Ctrl-Z line at the prompt", plain_control(2, "000001"), stdin="50\r\nlater\x1a\r\n7\n")
    add("queries with CR LF and a CR before the end", plain_control(2, "000011"), stdin="50\r\n\r\n60\r\n0\r")
    add("missing control.dat", None)
    add("missing data file", plain_control(2, "000000", "absent.dat"))
    add("data file is a directory", plain_control(2, "000000", "."))
    add("results file is a directory", plain_control(2), extra={"results.dat/": ""})
    add("results file is the data file", plain_control(2, "000000", "points.dat", "points.dat"))
    add("results written to courbe.dat with the curve on", plain_control(2, "000011", "points.dat", "courbe.dat"),
        stdin="50\n0\n")
    add("order 9", plain_control(9))
    add("order -1", plain_control(-1))
    add("a point count of 0", plain_control(2), "0 0.005\n")
    add("fewer points than coefficients", plain_control(3), "3 0.005\n10 1 .9 .01\n20 1 .8 .01\n30 1 .7 .01\n")
    three = "3 0.005\r\n10 .5 .9 .01\r\n20 .5 .8 .01\r\n30 .5 .71 .01\r"
    add("as many points as coefficients, with the report", plain_control(2, "101111"), three)
    add("as many points as coefficients, without the report", plain_control(2), three)
    add("more points than memory holds", plain_control(2), "2147483647 0.005\n1 1 1 1\n")
    add("fewer points than declared", plain_control(2), "15" + x[2:])
    add("more points than declared", plain_control(2), "10" + x[2:] + "measured 2026-12-01\n1,,2,3 4\n")
    add("a zero uncertainty: division by zero", plain_control(1, "001111"), "2 0.005\n1 1 1 1\n3 1 1 0\n")
    add("a singular matrix: the pause, then division by zero", plain_control(1), "2 0.005\n0 .5 .9 .01\n0 .5 .8 .01\n",
        stdin="touch ran\n")
    add("a singular matrix, the end of input at the pause", plain_control(1), "2 0.005\n0 .5 .9 .01\n0 .5 .8 .01\n")
    near = "13 .005\n" + "".join("%d .5 %.6f .0025\n" % (300 + 50 * i, 0.95 - 0.5 * (i / 12.0) ** 1.5)
                                 for i in range(13))
    add("a negative variance at order 7", plain_control(7), near)
    huge = "13 .005\n" + "".join("%r %r %r %r\n" % (q, uq * 1.7e18, e, ue) for q, uq, e, ue in EXAMPLE)
    add("an overflow in a Monte Carlo trial, 3 threads", plain_control(8, "100110"), huge, threads="3")
    add("an overflow in a Monte Carlo trial, 1 thread", plain_control(8, "100110"), huge)
    doubtful = "10 .005\n10 -.5 .9 0\n20 .5 0 -.01\n" + "".join("%d .5 94.6 .3\n" % (10 * i) for i in range(3, 11))
    add("doubtful points and their warnings", plain_control(1, "100110"), doubtful, args=["--json", "rec.json"])
    add("uncertainties in percent, each fit of the dropping", plain_control(4, "101000"),
        "13 -0.01\n" + "".join("%s %s %s 1.5\n" % p[:3] for p in EXAMPLE))
    add("a relative uncertainty in percent", plain_control(2), "13 0.4" + x[8:])
    add("a decimal comma in the data", plain_control(2), "13 0.1\n12.3,0.42,0.9460,0.0021,5 a comment\n21,7 0.9240 0.0025\n"
        "30.4 .6 .9094 .0029 0,5\n" + x[x.index("41.8"):])
    add("letters for a real", plain_control(2), "13 0.005\n12.3 0.42 abc 0.0021\n")
    add("control.dat ending early", "'head'\npoints.dat datafile\n2 order\n1\n")
    add("a setting without its label", "'head'\n\npoints.dat datafile\n2\n1 a\n0 b\n0 c\n1 d\n1 e\n0 f\nresults.dat g\n")
    add("an empty control.dat", "")
    add("names from the command line", plain_control(0, "000000", "''", "''"), args=["points.dat", "out1.dat"])
    add("a name from the console after an empty answer", plain_control(0, "000001", "''", "''"),
        stdin="\n  out2.dat  \n50\n0\n", args=["points.dat"])
    add("no name from the console", plain_control(0, "000000", "''", "''"), args=["points.dat"])
    add("both names from the console, then queries and a null reply", plain_control(1, "000011", "''", "''"),
        stdin="points.dat\r\nres.dat\r\n40\r\n,\r\n0\r\n")
    add("a data file's name with a blank, quoted", plain_control(2, "000000", "'my points.dat'"),
        extra={"my points.dat": x})
    add("a data file's name longer than 15 characters", plain_control(2, "000000", "averyverylongname.dat"),
        extra={"averyverylongna": x})
    add("an unquoted name with a slash", plain_control(2, "000000", "sub/points.dat"), extra={"sub/": "", "sub/points.dat": x})
    add("--json: the record", plain_control(3, "111111"), stdin="50\n0\n", args=["--json", "rec.json"])
    add("--json over an earlier record", plain_control(2, "101010"), args=["--json", "rec.json"],
        extra={"rec.json": '{"program": "tarvel1"}\n'})
    add("--json of a run that ends in an error", plain_control(2), "13 0.005\n12.3 0.42 abc 0.0021\n",
        args=["--json", "rec.json"], extra={"rec.json": '{"program": "tarvel1"}\n'})
    add("--json naming the data file", plain_control(2), args=["--json", "points.dat"])
    add("--json without a name", plain_control(2), args=["--json"])
    add("--json twice", plain_control(2), args=["--json", "a", "--json", "b"])
    add("--json with a blank name", plain_control(2), args=["--json", " "])
    add("an unknown option", plain_control(2), args=["--jsn", "rec.json"])
    add("a name after --", plain_control(0, "000000", "points.dat", "''"), args=["--", "-out.dat"])
    add("--version", plain_control(2), args=["--version"])
    add("--help", plain_control(2), args=["--help", "out.dat"])
    add("-h", plain_control(2), args=["-h"])
    add("a longer results file and courbe.dat left by an earlier run", plain_control(2, "000010"),
        extra={"results.dat": "x" * 30000 + "\r\n", "courbe.dat": "y" * 30000 + "\r\n"})
    add("switches of 2 and -1", plain_control(2, ["2", "1", "-1", "1", "-1", "2"]), stdin="50\n0\n")
    return cases


def random_case(rng):
    """A whole run with every reading path written one of its ways; one case
    in four is spoiled by one fault in control.dat or the data file."""
    tags = []
    order = rng.choices(range(9), [2, 3, 4, 4, 3, 2, 2, 1, 1])[0]  # the high orders are the slow ones
    opt = [rng.choices([1, 0, 2, -1], [5, 4, 1, 1])[0] for _ in range(6)]
    if rng.random() < 0.5:
        opt[5] = 1  # half the cases ask queries
    points, span = draw_points(rng, order)
    urel = rng.choice([0.0, 0.005, 0.01, 0.02, 0.1])
    fault = None
    if rng.random() < 0.25:
        fault = rng.choice(["fewer", "more", "zero", "huge", "real count", "letters", "null value", "slash early",
                            "no label", "bad integer", "ends early", "empty heading", "null switch"])
    if opt[2] == 1:
        tags.append("dropping on")  # the curve is at most cubic: higher coefficients are often negligible
    data_name = rng.choice(["points.dat", "points.dat", "pts", "cal-2.dat", "DATA.TXT"])
    results_name = rng.choice(["results.dat", "results.dat", "out.txt", "r"])
    data_fault = fault if fault in ("fewer", "more", "zero", "huge", "real count", "letters", "null value",
                                    "slash early") else None
    control_fault = fault if fault and not data_fault else None
    case = Case("")
    blank_names = []
    shown_data, shown_results = data_name, results_name
    if rng.random() < 0.08:
        shown_data = "''"
        blank_names.append(data_name)
    if rng.random() < 0.08:
        shown_results = "''"
        blank_names.append(results_name)
    case.files["control.dat"] = control_file(rng, shown_data, order, opt, shown_results, tags, control_fault)
    case.files[data_name] = data_file(rng, points, urel, tags, data_fault)
    stdin = ""
    if blank_names:
        tags.append("blank file names")
        if rng.random() < 0.5:
            case.args += blank_names
            tags.append("names from the command line")
        else:
            stdin = "".join(rng.choice(["", "", "\n", "  \n"]) + "  " + n + " \n" for n in blank_names)
            tags.append("names from the console")
    if opt[5] == 1:
        stdin += replies(rng, points, tags, nulls=rng.random() < 0.4)
    elif rng.random() < 0.2:
        stdin += "50\n0\n"  # input that the run never reads
    case.stdin = stdin
    if rng.random() < 0.3:
        case.args = ["--json", rng.choice(["rec.json", "run record.json"])] + case.args
        tags.append("--json")
    if rng.random() < 0.15:
        case.files["results.dat"] = "old results\r\n" * 400
        case.files["courbe.dat"] = "old curve\r\n" * 400
        tags.append("files of an earlier run")
    case.threads = rng.choice(["1", "3"])
    case.about = "random: order %d, opt %s, %s points (%s)%s; %s" % (
        order, ",".join(map(str, opt)), len(points), span, ", fault: " + fault if fault else "", "; ".join(dict.fromkeys(tags)))
    return case


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("outdir")
    ap.add_argument("--seed", type=int, default=22)
    ap.add_argument("--count", type=int, default=330)
    a = ap.parse_args()
    cases = hand_cases()
    rng = random.Random(a.seed)
    while len(cases) < a.count:
        cases.append(random_case(rng))
    for i, c in enumerate(cases):
        c.write(a.outdir, i + 1)
    print(len(cases))


if __name__ == "__main__":
    main()
