#!/usr/bin/env python3
"""How strong are the tests? Small faults, one at a time, in the product's
sources; each is tried against the test cases that execute its line.

A mutant is killed when a test fails (or the process ends before
GoogleTest's summary), timed out when the tests hang, and survives when
they all pass. A fixed seed picks the sample, so that two runs compare.
The sample is compiled in once, each mutant behind a switch that the
environment turns on (PV_MUTANT), and `--jobs` mutants are tried side by
side, each test run in a network namespace of its own (run as root); a
mutant that cannot be switched is built on its own afterwards. Everything
happens on a copy of the sources (build/mutate*/src), so the working tree
is never touched, in build folders of its own (the native build, without
the soak, namespace and tool tests).

  scripts/mutate.sh                       300 mutants, seed 1
  scripts/mutate.sh --seed 7 --count 50   another sample
  scripts/mutate.sh --files tvnLib/sync.cpp,sessions/
  scripts/mutate.sh --tests-from acbb047  the same mutants against that commit's tests
  scripts/mutate.sh --share               the test share of the code, and nothing else
"""
import argparse
import collections
import concurrent.futures
import json
import os
import random
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, 'build', 'mutate')
SRC = os.path.join(WORK, 'src')
PRODUCT = ('driver/', 'sessions/', 'protocol/', 'dmx_net/', 'tvnLib/')
NOT_HERE = ('tvnLib/WINDOWS/',)  # the native build compiles the POSIX side only
# The test programs a mutant is tried against, when they execute its line
# (the soak programs, long by design, are left out).
TESTS = ('network_tests', 'runtime_tests', 'library_tests', 'driver_tests')


def run(cmd, cwd, timeout=None, env=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout, env=env)


def counted_lines(path):
    with open(path, errors='replace') as f:
        return sum(1 for line in f if not re.match(r'^\s*(//.*)?$', line))


def share():
    """Test lines against the rest: non-blank lines that are not only a //
    comment, in the repository's .c/.cpp/.h/.py/.sh files."""
    files = run(['git', 'ls-files'], ROOT).stdout.decode().split()
    files = [f for f in files if re.search(r'\.(c|cpp|h|py|sh)$', f)]
    tests = sum(counted_lines(os.path.join(ROOT, f)) for f in files if re.match(r'(tests|fuzz)/', f))
    code = sum(counted_lines(os.path.join(ROOT, f)) for f in files if not re.match(r'(tests|fuzz)/', f))
    print(f'test lines {tests}, code lines {code}: tests are {100.0 * tests / code:.1f}% of the code')


# ---------------------------------------------------------------- mutants

RELATIONS = [(' < ', ' <= '), (' <= ', ' < '), (' > ', ' >= '), (' >= ', ' > '), (' == ', ' != '), (' != ', ' == ')]
RETURNS = [('return true;', 'return false;'), ('return false;', 'return true;'), ('return 0;', 'return 1;'),
           ('return 1;', 'return 0;'), ('return -1;', 'return 0;'), ('return nullptr;', 'return {};')]
CALL = re.compile(r'^(\s*)((?:[A-Za-z_][\w:]*(?:\.|->))*[A-Za-z_][\w:]*\(.*\));\s*(//.*)?$')
NOT_A_CALL = re.compile(r'^\s*(return|if|while|for|switch|case|delete|throw|else|do)\b|=|^\s*[A-Z_]+\(')
IF = re.compile(r'^(\s*)(?:\} else )?if \(')
LOCK = re.compile(r'^(\s*)RESOURCE_LOCK \w+\(.*\);')
NUMBER = re.compile(r'(?<![\w.])(\d+)(?![\w.])')


def code_part(line):
    """The line without its comment and string literals (blanked), so that
    patterns match code only."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            out.append(' ' if c != quote else c)
            if c == '\\':
                out.append(' ')
                i += 1
            elif c == quote:
                quote = None
        elif c in '"\'':
            quote = c
            out.append(c)
        elif line.startswith('//', i):
            break
        else:
            out.append(c)
        i += 1
    return ''.join(out)


def matching_paren(text, open_at):
    depth = 0
    for i in range(open_at, len(text)):
        depth += {'(': 1, ')': -1}.get(text[i], 0)
        if depth == 0:
            return i
    return -1


def mutants_of(path, text):
    """Every mutant of one file: (line number, kind, replacement line)."""
    found = []
    lines = text.split('\n')
    in_comment = False
    for n, line in enumerate(lines, 1):
        stripped = line.strip()
        if in_comment or stripped.startswith('/*'):
            in_comment = '*/' not in stripped
            continue
        if not stripped or stripped.startswith(('#', '//', 'static_assert', 'template', 'using ', 'enum ', '} while')):
            continue
        code = code_part(line)
        if 'constexpr' in code and '=' in code and '(' not in code:
            found += [(n, 'constant off by one', line[:m.start()] + str(int(m.group(1)) + 1) + line[m.end():])
                      for m in NUMBER.finditer(code)][:1]
            continue
        for old, new in RELATIONS:
            at = code.find(old)
            if at >= 0 and '<<' not in code and 'template' not in code:
                found.append((n, f'{old.strip()} -> {new.strip()}', line[:at] + new + line[at + len(old):]))
        for old, new in RETURNS:
            if code.strip() == old:
                found.append((n, f'{old} -> {new}', line.replace(old, new)))
        for m in NUMBER.finditer(code):
            if code[:m.start()].rstrip().endswith(('[', '<')):
                continue  # sizes and template arguments: changes the types, not the behaviour
            found.append((n, f'{m.group(1)} -> {int(m.group(1)) + 1}',
                          line[:m.start()] + str(int(m.group(1)) + 1) + line[m.end():]))
            break
        m = IF.match(code)
        if m and code.rstrip().endswith(('{', ';')):
            open_at = code.index('(', m.end() - 1)
            close = matching_paren(code, open_at)
            if close > 0:
                found.append((n, 'condition negated',
                              line[:open_at + 1] + '!(' + line[open_at + 1:close] + ')' + line[close:]))
        m = LOCK.match(code)
        if m:
            found.append((n, 'lock removed', m.group(1) + '(void)0;'))
        elif CALL.match(code) and not NOT_A_CALL.match(code) and code.rstrip().endswith(';'):
            kind = 'lock call removed' if re.search(r'\b(Lock|Unlock|TryLockFor)\(', code) else 'call removed'
            found.append((n, kind, CALL.match(code).group(1) + '(void)0;'))
    return found


def product_files(only):
    files = run(['git', 'ls-files', *PRODUCT], ROOT).stdout.decode().split()
    files = [f for f in files if f.endswith(('.cpp', '.h')) and not f.startswith(NOT_HERE)]
    if only:
        files = [f for f in files if any(f == o or f.startswith(o) for o in only)]
    return sorted(files)


def kind_class(kind):
    if kind[0].isdigit() or kind.startswith('constant'):
        return 'constant'
    if kind.startswith('return'):
        return 'return'
    if 'removed' in kind:
        return 'call'
    return 'condition' if kind.startswith('condition') else 'comparison'


def sample(files, count, seed):
    """`count` mutants spread over every file: each file's mutants shuffled,
    then taken round-robin over the files (in a shuffled order)."""
    rng = random.Random(seed)
    pools = []
    for f in files:
        with open(os.path.join(ROOT, f)) as fh:
            ms = [(f, *m) for m in mutants_of(f, fh.read())]
        # Within a file, the kinds of fault take turns: literals are many,
        # comparisons and calls fewer, and each matters.
        kinds = collections.defaultdict(list)
        for m in ms:
            kinds[kind_class(m[2])].append(m)
        for k in kinds.values():
            rng.shuffle(k)
        order = sorted(kinds)
        rng.shuffle(order)
        mixed = []
        while any(kinds.values()):
            for k in order:
                if kinds[k]:
                    mixed.append(kinds[k].pop())
        if mixed:
            pools.append(mixed[::-1])
    rng.shuffle(pools)
    chosen = []
    while len(chosen) < count and any(pools):
        for pool in pools:
            if pool and len(chosen) < count:
                chosen.append(pool.pop())
    return chosen


# ---------------------------------------------------------------- schemata

# Every sampled mutant is compiled in at once, each behind a switch read from
# the environment (PV_MUTANT=<its number>): one build serves the whole
# sample, and a mutant costs only its tests' time. A mutant whose switched
# form does not compile (a constant expression, a case label) is built on
# its own instead, as a plain replacement of its line.
SWITCH_HEADER = r"""#pragma once
#include <cstdlib>
inline int tvnMutantActive() {
  static const int id = [] { const char* s = std::getenv("PV_MUTANT"); return s ? std::atoi(s) : 0; }();
  return id;
}
inline bool tvnM(int id) { return tvnMutantActive() == id; }
// a OP b becomes a OP tvnMutOp{n} OP b: the same operator twice, so the
// expression parses as before, and the second one decides.
struct tvnMutOp { int id; };
template <class A> struct tvnMutL { const A& a; int id; };
#define TVN_MUT_REL(OP, NEW)                                                        \
  template <class A> tvnMutL<A> operator OP(const A& a, tvnMutOp m) { return {a, m.id}; } \
  template <class A, class B> bool operator OP(tvnMutL<A> l, const B& b) {          \
    return tvnM(l.id) ? bool(l.a NEW b) : bool(l.a OP b);                            \
  }
TVN_MUT_REL(<, <=) TVN_MUT_REL(<=, <) TVN_MUT_REL(>, >=) TVN_MUT_REL(>=, >) TVN_MUT_REL(==, !=) TVN_MUT_REL(!=, ==)
"""


def switched(line, kind, number):
    """The line with the mutant behind switch `number`, or None where the
    mutant has no switched form (it is then built on its own)."""
    code = code_part(line)
    on = f'tvnM({number})'
    if kind_class(kind) == 'comparison':
        old = ' ' + kind.split(' -> ')[0] + ' '
        at = code.find(old)
        return line[:at] + old + f'tvnMutOp{{{number}}}' + old + line[at + len(old):]
    if kind_class(kind) == 'return':
        old, new = kind.split(' -> ')
        indent = line[:len(line) - len(line.lstrip())]
        return f'{indent}return {on} ? {new[7:-1]} : {old[7:-1]};'
    if kind[0].isdigit():
        for m in NUMBER.finditer(code):
            if not code[:m.start()].rstrip().endswith(('[', '<')):
                return line[:m.start()] + f'({m.group(1)} + {on})' + line[m.end():]
    if kind == 'condition negated':
        m = IF.match(code)
        open_at = code.index('(', m.end() - 1)
        close = matching_paren(code, open_at)
        cond = line[open_at + 1:close]
        return line[:open_at + 1] + f'{on} ? !({cond}) : !!({cond})' + line[close:]
    if kind in ('call removed', 'lock call removed'):
        m = CALL.match(code)  # the call's text from the line itself: `code` has its strings blanked
        return f'{m.group(1)}{{ if (!{on}) {line[m.start(2):m.end(2)]}; }}'
    return None  # constants of constant expressions, locks


def switch_plan(chosen, alone):
    """The switched lines ({path: {line: text}}) and the numbers of the
    mutants behind them. Mutants of one line are stacked: the constant
    first (its switch's number would be taken for a constant otherwise),
    then comparisons, the condition, and a call or return last; a return
    that would hide another switch is built on its own."""
    order = {'constant': 0, 'comparison': 1, 'condition': 2, 'return': 3, 'call': 3}
    per_line = collections.defaultdict(list)
    for number, (f, line, kind, _) in enumerate(chosen, 1):
        if number not in alone:
            per_line[(f, line)].append((order[kind_class(kind)], number, kind))
    edits, numbers = collections.defaultdict(dict), set()
    for (f, line), ms in sorted(per_line.items()):
        with open(os.path.join(ROOT, f)) as fh:
            text = fh.read().split('\n')[line - 1]
        changed = False
        for _, number, kind in sorted(ms):
            new = None if changed and kind.startswith('return') else switched(text, kind, number)
            if new is not None:
                text, changed = new, True
                numbers.add(number)
        if changed:
            edits[f][line] = text
    return edits, numbers


def schematize(text, edits):
    lines = text.split('\n')
    for line, new in edits.items():
        lines[line - 1] = new
    return '\n'.join(lines)


# ---------------------------------------------------------------- builds

def configure(folder, extra):
    os.makedirs(folder, exist_ok=True)
    if not os.path.exists(os.path.join(folder, 'build.ninja')):
        r = run(['cmake', '-S', SRC, '-B', folder, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release',
                 '-DCMAKE_CXX_FLAGS_RELEASE=-O0', *extra], ROOT)
        if r.returncode:
            sys.exit(r.stdout.decode())


def build(folder, targets, timeout=900):
    return run(['ninja', '-C', folder, *targets], ROOT, timeout=timeout).returncode == 0


def sources(tests_from):
    """{path: content} of the sources the runs build: the checkout's, with
    tests/ and fuzz/ taken from commit `tests_from` when one is given (the
    same mutants against another version of the tests)."""
    files = {}
    for f in run(['git', 'ls-files'], ROOT).stdout.decode().split():
        if not (tests_from and f.startswith(('tests/', 'fuzz/'))):
            with open(os.path.join(ROOT, f), 'rb') as fh:
                files[f] = fh.read()
    if tests_from:
        listed = run(['git', 'ls-tree', '-r', '--name-only', tests_from, 'tests', 'fuzz'], ROOT).stdout.decode()
        for f in listed.split():
            files[f] = run(['git', 'show', f'{tests_from}:{f}'], ROOT).stdout
    # Warnings that a switched mutant brings (a signed comparison in the
    # switch's template) must not stop the build.
    files['CMakeLists.txt'] = files['CMakeLists.txt'].replace(b' -Werror', b'')
    return files


def write_sources(files):
    """Writes each file whose content differs from the copy in SRC, so that
    only what changed is rebuilt."""
    for f, content in files.items():
        copy = os.path.join(SRC, f)
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        if os.path.exists(copy):
            with open(copy, 'rb') as fh:
                if fh.read() == content:
                    continue
        with open(copy, 'wb') as fh:
            fh.write(content)
        if f.endswith('.sh') or os.access(os.path.join(ROOT, f), os.X_OK):
            os.chmod(copy, 0o755)


EXECUTABLE = ' executable'  # the coverage key of every line that compiles to code


def gcov_lines(folder, executable=None):
    """The product lines executed since the last reset of the counters;
    `executable` collects every line that has code at all."""
    lines = set()
    for root, _, names in os.walk(folder):
        for name in (n for n in names if n.endswith('.gcda')):
            out = run(['gcov', '--json-format', '--stdout', name], root).stdout.decode(errors='replace')
            for doc in out.splitlines():
                try:
                    data = json.loads(doc)
                except ValueError:
                    continue
                for f in data.get('files', []):
                    # A relative name is the compiler's: from its working
                    # directory, or from the sources.
                    path = f['file']
                    if not os.path.isabs(path):
                        path = next((c for c in (os.path.join(data.get('current_working_directory', root), path),
                                                 os.path.join(SRC, path)) if os.path.exists(c)), path)
                    rel = os.path.relpath(os.path.realpath(path), os.path.realpath(SRC))
                    if rel.startswith(PRODUCT):
                        lines.update((rel, l['line_number']) for l in f['lines'] if l['count'] > 0)
                        if executable is not None:
                            executable.update((rel, l['line_number']) for l in f['lines'])
            os.remove(os.path.join(root, name))
    return lines


def coverage(tests):
    """The product lines that each test case executes (gcov, once per
    sample of sources): {"program test.case": [[file, line], ...]}."""
    cache = os.path.join(WORK, 'coverage.json')
    if os.path.exists(cache):
        with open(cache) as f:
            return {k: set(map(tuple, v)) for k, v in json.load(f).items()}
    folder = os.path.join(WORK, 'coverage')
    configure(folder, ['-DCMAKE_CXX_FLAGS=--coverage', '-DCMAKE_EXE_LINKER_FLAGS=--coverage',
                       '-DCMAKE_SHARED_LINKER_FLAGS=--coverage'])
    if not build(folder, list(tests) + ['PvTrivane']):
        sys.exit('the coverage build failed')
    gcov_lines(folder)
    covered = {EXECUTABLE: set()}
    for test in tests:
        listing = run([os.path.join(folder, test), '--gtest_list_tests'], folder).stdout.decode()
        suite = ''
        for line in listing.splitlines():
            if not line.startswith(' '):
                suite = line.split()[0]
                continue
            case = suite + line.split()[0]
            print(f'coverage of {test} {case} ...', flush=True)
            run([os.path.join(folder, test), f'--gtest_filter={case}'], folder, timeout=1200)
            covered[f'{test} {case}'] = gcov_lines(folder, covered[EXECUTABLE])
    with open(cache, 'w') as f:
        json.dump({k: sorted(v) for k, v in covered.items()}, f)
    return covered


# Each test run gets a network of its own, so that mutants tried side by side
# never hear each other's consoles (the tests wait far more than they
# compute: several at once use the machine's time that one leaves idle).
ALONE_NET = ['unshare', '-n', 'sh', '-c', 'ip link set lo up && exec "$@"', 'sh']


def run_cases(folder, cases, limits, env):
    """cases: {program: [test case, ...]} that execute the mutant's line."""
    for test, names in cases.items():
        # A failure counts when it comes twice: a test that fails once under
        # load is not a fault found.
        outcomes = []
        for _ in range(2):
            try:
                r = run([*ALONE_NET, os.path.join(folder, test), '--gtest_fail_fast',
                         '--gtest_filter=' + ':'.join(names)], folder, timeout=limits[test], env=env)
                # The assertion handler ends the process with code 0: a run
                # passed only when GoogleTest got to its summary, and found
                # nothing failed (the end of a failed run may assert too).
                passed = r.returncode == 0 and b'[  PASSED  ]' in r.stdout and b'[  FAILED  ]' not in r.stdout
                outcomes.append('passed' if passed else 'killed')
            except subprocess.TimeoutExpired:
                outcomes.append('timed out')
            if outcomes[-1] == 'passed':
                break
        if outcomes[-1] != 'passed':
            return outcomes[-1], test
    return 'survived', None


def try_alone(folder, mutant, cases, limits):
    """A mutant without a switch: its line replaced, rebuilt, tried, put back."""
    path, line, kind, replacement = mutant
    full = os.path.join(SRC, path)
    with open(full) as f:
        original = f.read()
    lines = original.split('\n')
    lines[line - 1] = replacement
    try:
        with open(full, 'w') as f:
            f.write('\n'.join(lines))
        # The library itself only for the programs that load it.
        if not build(folder, list(cases) + (['PvTrivane'] if 'library_tests' in cases else [])):
            return 'not built', None
        return run_cases(folder, cases, limits, quiet_env())
    finally:
        with open(full, 'w') as f:
            f.write(original)


def quiet_env(number=None):
    """The environment of a test run: mutant `number` switched on, or none."""
    env = {k: v for k, v in os.environ.items() if k != 'PV_MUTANT'}
    if number:
        env['PV_MUTANT'] = str(number)
    return env


def build_switched(folder, chosen, seed, tests_from):
    """Writes the sources with the sample behind switches and builds them;
    a mutant whose switched line does not compile is set aside to be built
    on its own. Returns the numbers of those set aside."""
    store = os.path.join(WORK, f'alone-{seed}.json')
    alone = set(json.load(open(store))) if os.path.exists(store) else set()
    for _ in range(100):
        files = sources(tests_from)
        for f, edits in switch_plan(chosen, alone)[0].items():
            files[f] = schematize(files[f].decode(), edits).encode()
        write_sources(files)
        r = run(['ninja', '-k', '0', '-C', folder, *TESTS, 'PvTrivane'], ROOT, timeout=3600)
        if r.returncode == 0:
            return alone
        out = r.stdout.decode(errors='replace')
        wrong = set()
        for ref in re.finditer(r'([\w./-]+):(\d+):(?:\d+:)? (?:error|required from)', out):
            rel = os.path.relpath(os.path.realpath(os.path.join(folder, ref.group(1))), os.path.realpath(SRC))
            wrong |= {n for n, m in enumerate(chosen, 1) if (m[0], m[1]) == (rel, int(ref.group(2)))}
        if not wrong - alone:
            sys.exit('the build with the mutants behind switches failed:\n' + out[-5000:])
        alone |= wrong
        with open(store, 'w') as fh:
            json.dump(sorted(alone), fh)
    sys.exit('the switched build does not converge')


def main():
    global WORK, SRC
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--count', type=int, default=300)
    p.add_argument('--files', default='', help='comma-separated files or folders of the product')
    p.add_argument('--tests-from', default='', help='a commit whose tests/ and fuzz/ are tried instead')
    p.add_argument('--jobs', type=int, default=4, help='switched mutants tried side by side')
    p.add_argument('--alone-only', action='store_true',
                   help='only the mutants built on their own, in a folder of their own (beside a run of the rest)')
    p.add_argument('--switched-only', action='store_true', help='only the switched mutants')
    p.add_argument('--share', action='store_true')
    p.add_argument('--list', action='store_true', help='print the sample and stop')
    a = p.parse_args()
    if a.share:
        share()
        return
    chosen = sample(product_files([x for x in a.files.split(',') if x]), a.count, a.seed)
    if a.list:
        for m in chosen:
            print(f'{m[0]}:{m[1]}: {m[2]}')
        return
    if a.tests_from or a.alone_only:
        WORK = os.path.join(ROOT, 'build', 'mutate' + (a.tests_from and '-' + a.tests_from[:12]) +
                            ('-alone' if a.alone_only else ''))
        SRC = os.path.join(WORK, 'src')
    os.makedirs(WORK, exist_ok=True)
    if not os.path.exists(os.path.join(WORK, 'coverage.json')) or not os.path.isdir(SRC):
        write_sources(sources(a.tests_from))
    covered = {k: v for k, v in coverage(TESTS).items() if k == EXECUTABLE or k.split(' ')[0] in TESTS}
    # Written only when it changes: every file includes it.
    write_sources({'../switch.h': SWITCH_HEADER.encode()})
    folder = os.path.join(WORK, 'build')
    configure(folder, ['-DCMAKE_CXX_FLAGS=-include ' + os.path.join(WORK, 'switch.h')])
    alone = build_switched(folder, chosen, a.seed, a.tests_from)
    switches = switch_plan(chosen, alone)[1]
    limits = {}
    for test in TESTS:  # each program's own time, as the limit's base
        start = time.time()
        r = run([os.path.join(folder, test)], folder, timeout=1200, env=quiet_env())
        if r.returncode:
            sys.exit(f'{test} fails without any mutant:\n' + r.stdout.decode()[-3000:])
        limits[test] = max(30.0, 3 * (time.time() - start))
    # A run that was cut short goes on where it stopped: the mutants already
    # tried keep their outcome.
    results, done = {}, {}
    path = os.path.join(WORK, f'results-{a.seed}.jsonl')
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                r = json.loads(line)
                done[(r['file'], r['line'], r['mutation'])] = (r['outcome'], r['by'])
    log = open(path, 'a')
    todo = []
    for number, m in enumerate(chosen, 1):
        if (m[0], m[1], m[2]) in done:
            results[number] = (m, *done[(m[0], m[1], m[2])])
        elif not (a.alone_only and number in switches) and not (a.switched_only and number not in switches):
            todo.append(number)

    def cases_of(m):
        cases = collections.defaultdict(list)
        where = (m[0], m[1])
        for key, lines in covered.items():
            # A line without code of its own (a constant, a declaration)
            # may change any of them: every test case then.
            if key != EXECUTABLE and (where in lines or where not in covered[EXECUTABLE]):
                test, case = key.split(' ', 1)
                cases[test].append(case)
        return cases

    def attempt(number):
        # Another job that needs the machine quiet can hold the run between
        # two mutants (PAUSE in the run's folder).
        while os.path.exists(os.path.join(WORK, 'PAUSE')):
            time.sleep(5)
        m = chosen[number - 1]
        cases = cases_of(m)
        if not cases:
            return 'not covered', None
        if number in switches:
            return run_cases(folder, cases, limits, quiet_env(number))
        return try_alone(folder, m, cases, limits)

    def record(number, outcome, by):
        m = chosen[number - 1]
        results[number] = (m, outcome, by)
        log.write(json.dumps({'file': m[0], 'line': m[1], 'mutation': m[2], 'outcome': outcome, 'by': by}) + '\n')
        log.flush()
        print(f'[{len(results)}/{len(chosen)}] {m[0]}:{m[1]} {m[2]}: {outcome}' + (f' ({by})' if by else ''),
              flush=True)

    # The switched mutants side by side, `--jobs` at a time; then those built
    # on their own, one by one, since each changes the binaries.
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        running = {pool.submit(attempt, n): n for n in todo if n in switches}
        for f in concurrent.futures.as_completed(running):
            record(running[f], *f.result())
    for number in (n for n in todo if n not in switches):
        record(number, *attempt(number))
    report([results[n] for n in sorted(results)], a.seed)


def report(results, seed):
    per = collections.defaultdict(collections.Counter)
    for (path, *_), outcome, _ in results:
        per[path.split('/')[0] + '/'][outcome] += 1
    print(f'\nseed {seed}: {len(results)} mutants')
    print(f'{"folder":<12}{"killed":>8}{"timed out":>11}{"survived":>10}{"not covered":>13}{"not built":>11}{"score":>8}')
    total = collections.Counter()
    for folder in sorted(per):
        c = per[folder]
        total.update(c)
        print(row(folder, c))
    print(row('all', total))
    print('\nsurvivors (and mutants no test executes):')
    for (path, line, kind, _), outcome, _ in results:
        if outcome in ('survived', 'not covered'):
            print(f'  {path}:{line}: {kind} ({outcome})')


def row(name, c):
    tried = c['killed'] + c['timed out'] + c['survived'] + c['not covered']
    score = 100.0 * (c['killed'] + c['timed out']) / tried if tried else 0
    return (f'{name:<12}{c["killed"]:>8}{c["timed out"]:>11}{c["survived"]:>10}{c["not covered"]:>13}'
            f'{c["not built"]:>11}{score:>7.1f}%')


if __name__ == '__main__':
    main()
