#!/usr/bin/env python3
"""The mutation check: does the suite notice when the code is broken?

Mutants are made by rule over src/ (a comparison flipped, && and || swapped, a call deleted, a
constant one up or down, a branch condition negated, a returned status replaced by success). A
fixed-seed sample of them, plus the planted faults of planted.txt, are applied one at a time to a
copy of the tree; the copy is rebuilt incrementally in one build folder and the tests of the
mutated file's layer run (ctest -L LAYER). A mutant the tests do not notice survives and is
printed. Mutants listed in equivalent.txt cannot change behaviour and leave the count. --key runs
chosen mutants by key (a survivor of a sample, once its test is strengthened).

Run it through scripts/mutants.sh; see HACKING.md.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# The layer whose tests guard a file, by path prefix (first match wins).
LAYERS = [
    ("src/nwclient/ldap/", "ldap"),
    ("src/nwclient/", "nwclient"),
    ("src/nwapi/", "nwapi"),
    ("src/browse/", "browse"),
    ("src/settings/ui/", "gui"),
    ("src/settings/", "settings"),
    ("src/platform/qt/", "gui"),
    ("src/platform/", "platform"),
    ("src/deny/", "deny"),
    ("src/ctl/", "ctl"),
    ("src/main/", "gui"),
    ("src/dialogs/", "gui"),
]
SKIPPED = ("src/app/",)


def layer_of(path):
    for prefix, layer in LAYERS:
        if path.startswith(prefix):
            return layer
    return None


# ---- generating mutants ----------------------------------------------------------------------

class Mutant:
    def __init__(self, path, line_no, rule, original, mutated, key):
        self.path = path
        self.line_no = line_no  # 1-based
        self.rule = rule
        self.original = original  # the whole line
        self.mutated = mutated
        self.key = key
        self.name = "%s:%d %s" % (path, line_no, rule)
        self.layer = layer_of(path)

    def describe(self):
        return "%s\n    - %s\n    + %s" % (self.name, self.original.strip(), self.mutated.strip())


def code_part(line):
    """The line with string and character literals and a trailing // comment blanked out, so
    rules never match inside them (positions stay the same)."""
    out = []
    i = 0
    quote = None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\" and i + 1 < len(line):
                out.append("  ")
                i += 2
                continue
            if c == quote:
                quote = None
                out.append(c)
            else:
                out.append(" ")
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


COMPARISONS = [(" == ", " != "), (" != ", " == "), (" <= ", " > "), (" >= ", " < "), (" < ", " >= "), (" > ", " <= ")]
LOGICAL = [(" && ", " || "), (" || ", " && ")]
CALL_STATEMENT = re.compile(r"^(\s*)((?:[A-Za-z_][\w]*(?:::|\.|->))*[A-Za-z_]\w*\s*\(.*\)\s*;)\s*$")
NOT_A_CALL = re.compile(r"^\s*(return|if|while|for|switch|case|delete|throw|using|typedef|static_assert|else)\b")
DECLARATION = re.compile(r"^\s*(?:const\s+)?[A-Za-z_][\w:<>,\s*&]*\s+[A-Za-z_]\w*\s*\(")
NUMBER = re.compile(r"(?<![\w.])(\d+)(?![\w.])")
BRANCH = re.compile(r"\b(if|while)\s*\(")
STATUS_RETURN = re.compile(
    r"\breturn\s+((?:nw::)?(?:ERR_|NWE_|TARVEL_)\w+|rc|status|st|error|result|false)\s*;")


def matching_paren(text, open_at):
    depth = 0
    for i in range(open_at, len(text)):
        if text[i] == "(":
            depth += 1
        elif text[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def mutants_of_line(path, line_no, line, in_block_comment):
    code = code_part(line)
    stripped = code.strip()
    if not stripped or stripped.startswith("#") or in_block_comment or stripped.startswith("*"):
        return []
    found = []

    def add(rule, start, end, replacement, occurrence):
        mutated = line[:start] + replacement + line[end:]
        if mutated == line:
            return
        digest = hashlib.sha1((rule + "|" + line.strip() + "|" + str(occurrence)).encode()).hexdigest()[:10]
        found.append(Mutant(path, line_no, rule, line, mutated, "%s|%s" % (path, digest)))

    for rule, pairs in (("comparison", COMPARISONS), ("logical", LOGICAL)):
        n = 0
        for old, new in pairs:
            for m in re.finditer(re.escape(old), code):
                # Skip template brackets and stream operators: only spaced binary operators count.
                add(rule, m.start(), m.end(), new, n)
                n += 1

    if CALL_STATEMENT.match(code) and not NOT_A_CALL.match(code) and not DECLARATION.match(code):
        indent = CALL_STATEMENT.match(code).group(1)
        add("call deleted", 0, len(line.rstrip("\n")), indent + ";", 0)

    for n, m in enumerate(NUMBER.finditer(code)):
        value = int(m.group(1))
        add("constant +1", m.start(), m.end(), str(value + 1), n)
        if value > 0:
            add("constant -1", m.start(), m.end(), str(value - 1), n)

    for n, m in enumerate(BRANCH.finditer(code)):
        open_at = m.end() - 1
        close_at = matching_paren(code, open_at)
        if close_at < 0:
            continue
        condition = line[open_at + 1:close_at]
        if ";" in code[open_at:close_at]:
            continue
        add("condition negated", open_at + 1, close_at, "!(" + condition + ")", n)

    for n, m in enumerate(STATUS_RETURN.finditer(code)):
        value = m.group(1)
        success = "true" if value == "false" else "0"
        add("status to success", m.start(1), m.end(1), success, n)
    return found


def generate(only=None):
    mutants = []
    for base, _dirs, files in sorted(os.walk(os.path.join(ROOT, "src"))):
        for name in sorted(files):
            if not name.endswith(".cpp"):
                continue
            path = os.path.relpath(os.path.join(base, name), ROOT)
            if path.startswith(SKIPPED) or not layer_of(path):
                continue
            if only and not path.startswith(only):
                continue
            with open(os.path.join(ROOT, path), encoding="utf-8") as f:
                lines = f.read().split("\n")
            in_comment = False
            for i, line in enumerate(lines):
                code = code_part(line)
                starts = "/*" in code
                mutants += mutants_of_line(path, i + 1, line, in_comment or code.strip().startswith("/*"))
                if starts and "*/" not in code[code.index("/*"):]:
                    in_comment = True
                elif in_comment and "*/" in code:
                    in_comment = False
    return mutants


# ---- planted faults and equivalent mutants ---------------------------------------------------

PLANTED_GONE = set()  # planted faults whose text is no longer in the code: the run fails


def read_planted():
    """planted.txt: blocks of
         @ NAME PATH [LAYER]
         -text as it is (one or more whole lines, right after the sign)
         +text as the fault makes it
    """
    planted = []
    current = None
    with open(os.path.join(HERE, "planted.txt"), encoding="utf-8") as f:
        for raw in f.read().split("\n"):
            if raw.startswith("#") or not raw.strip():
                continue
            if raw.startswith("@ "):
                parts = raw[2:].split()
                current = {"name": parts[0], "path": parts[1], "layer": parts[2] if len(parts) > 2 else None,
                           "old": [], "new": []}
                planted.append(current)
            elif raw.startswith("-"):
                current["old"].append(raw[1:])
            elif raw.startswith("+"):
                current["new"].append(raw[1:])
    out = []
    for p in planted:
        with open(os.path.join(ROOT, p["path"]), encoding="utf-8") as f:
            text = f.read()
        old, new = "\n".join(p["old"]), "\n".join(p["new"])
        at = text.find(old)
        if at < 0:
            print("planted fault %s: its text is no longer in %s; update planted.txt" % (p["name"], p["path"]))
            PLANTED_GONE.add(p["name"])
            continue
        line_no = text.count("\n", 0, at) + 1
        m = Mutant(p["path"], line_no, "planted " + p["name"], old, new, "planted|" + p["name"])
        m.layer = p["layer"] or layer_of(p["path"])
        m.text_old, m.text_new = old, new
        out.append(m)
    return out


def read_equivalent():
    keys = {}
    path = os.path.join(HERE, "equivalent.txt")
    if not os.path.exists(path):
        return keys
    with open(path, encoding="utf-8") as f:
        for raw in f:
            raw = raw.strip()
            if not raw or raw.startswith("#"):
                continue
            key, _, reason = raw.partition(" ")
            if not reason.strip():
                sys.exit("equivalent.txt: %s has no reason" % key)
            keys[key] = reason.strip()
    return keys


# ---- running ----------------------------------------------------------------------------------

def run(cmd, cwd, log, timeout=None):
    with open(log, "a") as out:
        out.write("\n$ %s\n" % " ".join(cmd))
        out.flush()
        try:
            return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def copy_tree(work):
    """The project's files (tracked and new, not ignored) into work/tree, keeping their times so
    the build folder stays valid between runs."""
    tree = os.path.join(work, "tree")
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT, check=True,
                           stdout=subprocess.PIPE).stdout.decode().split("\0")
    for rel in files:
        if not rel or not os.path.isfile(os.path.join(ROOT, rel)):
            continue
        src, dst = os.path.join(ROOT, rel), os.path.join(tree, rel)
        if os.path.exists(dst):
            if open(src, "rb").read() == open(dst, "rb").read():
                continue
            shutil.copyfile(src, dst)  # a new time stamp: also a mutant a killed run left behind is rebuilt
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(src, dst)
    # Files the project no longer has (renamed, deleted) go too: the build would still see them.
    wanted = set(f for f in files if f)
    for folder, dirs, names in os.walk(tree):
        rel_folder = os.path.relpath(folder, tree)
        if rel_folder == "build" or rel_folder.startswith("build" + os.sep):
            dirs[:] = []
            continue
        for name in names:
            rel = os.path.normpath(os.path.join(rel_folder, name))
            if rel not in wanted:
                os.remove(os.path.join(folder, name))
    return tree


def targets_for(build, layers):
    names = []
    for layer in layers.split(","):
        names += targets_of_layer(build, layer)
    return sorted(set(names))


def targets_of_layer(build, layer):
    if layer == "ldap":
        return ["test_ldap"]
    if layer == "gui":
        return ["gui_tests"]  # every QtTest program (tests/CMakeLists.txt)
    return ["test_" + layer]


def main():
    parser = argparse.ArgumentParser(description="Mutation check of the test suite.")
    parser.add_argument("--max", type=int, default=None, help="run at most N mutants (planted faults first)")
    parser.add_argument("--only", default=None, help="only mutants in files below this path (e.g. src/nwapi)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--sample", type=int, default=100, help="size of the rule sample (default 100)")
    parser.add_argument("--no-planted", action="store_true", help="leave out the planted faults")
    parser.add_argument("--planted-only", action="store_true", help="only the planted faults")
    parser.add_argument("--key", action="append", default=[], metavar="KEY",
                        help="run the mutant with this key (the first field of --list; repeatable), taken from "
                             "every mutant made by rule and the planted faults, whatever the sample")
    parser.add_argument("--list", action="store_true", help="print the chosen mutants and stop")
    parser.add_argument("--work", default=os.path.join(ROOT, "build-mutants"),
                        help="scratch folder with the tree copy and its build folder (kept between runs)")
    args = parser.parse_args()

    everything = generate()
    equivalent = read_equivalent()
    # The sample: the mutants whose hash with the seed ranks lowest. A mutant's place depends on
    # its own line only, so an edit elsewhere (or a new test) leaves the sample as it was, and
    # --only picks that sample's mutants below a path. Equivalent ones leave the sample, not
    # make room for others.
    def rank(m):
        return hashlib.sha1(("%d|%s|%s" % (args.seed, m.key, m.mutated.strip())).encode()).hexdigest()
    ranked = sorted(everything, key=lambda m: (rank(m), m.path, m.line_no))
    whole_sample = ranked[:args.sample]
    sample = [m for m in whole_sample if m.key not in equivalent and (not args.only or m.path.startswith(args.only))]
    sample.sort(key=lambda m: (m.path, m.line_no))
    planted = [] if args.no_planted else read_planted()
    if args.only:
        planted = [m for m in planted if m.path.startswith(args.only)]
    chosen = planted + ([] if args.planted_only else sample)
    if args.key:
        # Survivors of an earlier run, checked again after the tests were strengthened. A key
        # names every mutant of the same rule on an identical line of the file.
        wanted = set(args.key)
        candidates = read_planted() + everything
        chosen = [m for m in candidates if m.key in wanted]
        unknown = sorted(wanted - set(m.key for m in chosen))
        if unknown:
            sys.exit("mutants: no mutant has the key %s (its line changed, or the planted fault's text is gone?)" %
                     ", ".join(unknown))
        for m in chosen:
            if m.key in equivalent:
                print("mutants: %s is listed as equivalent (%s); run anyway" % (m.key, equivalent[m.key]))
    if args.max is not None:
        chosen = chosen[:args.max]
    left_out = len([m for m in whole_sample if m.key in equivalent])
    print("mutants: %d made by rule (%d of the sample listed as equivalent), %d chosen (%s)" %
          (len(everything), left_out, len(chosen), "by key" if args.key else "seed %d" % args.seed))
    if args.list:
        for m in chosen:
            print(m.key, m.describe())
        return 1 if PLANTED_GONE else 0

    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    log = os.path.join(work, "mutants.log")
    open(log, "w").close()
    tree = copy_tree(work)
    build = os.path.join(tree, "build")
    env_launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    if run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Debug", "-DTARVEL_WERROR=OFF",
            "-DTARVEL_BUILD_BENCH=OFF"] + env_launcher, tree, log) != 0:
        sys.exit("mutants: cmake failed, see " + log)
    layers = sorted(set(m.layer for m in chosen))
    targets = sorted(set(t for layer in layers for t in targets_for(build, layer)))
    print("mutants: building the unmutated copy (%s)" % " ".join(targets), flush=True)
    if run(["cmake", "--build", build, "-j2", "--target"] + targets, tree, log) != 0:
        sys.exit("mutants: the unmutated copy does not build, see " + log)
    targets_by_layer = {layer: targets_for(build, layer) for layer in layers}
    for layer in layers:
        # A label that selects nothing but the time-zone reruns would let every mutant survive.
        listed = subprocess.run(["ctest", "--test-dir", build, "-N", "-L", "^(%s)$" % layer.replace(",", "|")],
                                cwd=tree, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
        names = re.findall(r"^\s*Test\s+#\d+: (\S+)", listed, re.M)
        if not [n for n in names if not n.startswith("zone.") and not n.endswith("_NOT_BUILT")]:
            sys.exit("mutants: ctest -L %s selects none of that layer's tests; are the labels in place?" % layer)

    killed, survived, stillborn = [], [], []
    started = time.time()
    for i, m in enumerate(chosen, 1):
        path = os.path.join(tree, m.path)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        if m.rule.startswith("planted"):
            mutated = original.replace(m.text_old, m.text_new, 1)
        else:
            lines = original.split("\n")
            if lines[m.line_no - 1] != m.original:
                print("[%d/%d] %s: line changed since the list was made, skipped" % (i, len(chosen), m.name))
                continue
            lines[m.line_no - 1] = m.mutated
            mutated = "\n".join(lines)
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(mutated)
            if run(["cmake", "--build", build, "-j2", "--target"] + targets_by_layer[m.layer], tree, log) != 0:
                verdict = "does not build"
                stillborn.append(m)
            else:
                rc = run(["ctest", "--test-dir", build, "-L", "^(%s)$" % m.layer.replace(",", "|"), "-j2", "--stop-on-failure",
                          "--timeout", "300"], tree, log, timeout=3600)
                if rc == 0:
                    verdict = "SURVIVED"
                    survived.append(m)
                else:
                    verdict = "killed"
                    killed.append(m)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)  # a new time stamp, so the next build compiles it again
        print("[%d/%d] %-14s %s (ctest -L %s, %ds)" % (i, len(chosen), verdict, m.name, m.layer,
                                                     int(time.time() - started)), flush=True)
        if verdict == "SURVIVED":
            print("    " + m.describe().replace("\n", "\n    "), flush=True)

    counted = len(killed) + len(survived)
    print()
    print("mutants: %d killed, %d survived, %d did not build" % (len(killed), len(survived), len(stillborn)))
    if counted:
        print("mutants: the suite kills %.0f%% of the mutants that build" % (100.0 * len(killed) / counted))
    missed_planted = [m for m in survived if m.rule.startswith("planted")]
    for m in survived:
        print("survivor: %s  (key %s)" % (m.name, m.key))
    return 1 if missed_planted or PLANTED_GONE else 0


if __name__ == "__main__":
    sys.exit(main())
