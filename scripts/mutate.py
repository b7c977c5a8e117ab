#!/usr/bin/env python3
"""How strong are the tests? Small faults, one at a time, in the product's
sources; each is rebuilt and run against the tests that execute its line.

A mutant is killed when a test fails, timed out when the tests hang, and
survives when they all pass. A fixed seed picks the sample, so that two runs
compare. Everything happens on a copy of the sources (build/mutate/src), so
the working tree is never touched, and in build folders of its own (the
native build, without the soak, namespace and tool tests).

  scripts/mutate.sh                       300 mutants, seed 1
  scripts/mutate.sh --seed 7 --count 50   another sample
  scripts/mutate.sh --files tvnLib/sync.cpp,sessions/
  scripts/mutate.sh --share               the test share of the code, and nothing else
"""
import argparse
import collections
import json
import os
import random
import re
import shutil
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


def copy_sources():
    """The checkout's files into SRC; a file whose content differs (a run cut
    short may have left a mutant behind) is written anew, so that its new
    time makes the builds take it."""
    files = run(['git', 'ls-files'], ROOT).stdout.decode().split()
    for f in files:
        source, copy = os.path.join(ROOT, f), os.path.join(SRC, f)
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        with open(source, 'rb') as fh:
            content = fh.read()
        if os.path.exists(copy):
            with open(copy, 'rb') as fh:
                if fh.read() == content:
                    continue
        with open(copy, 'wb') as fh:
            fh.write(content)
        shutil.copymode(source, copy)


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
                    path = f['file'] if os.path.isabs(f['file']) else os.path.join(root, f['file'])
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


def try_mutant(folder, mutant, cases, limits):
    """cases: {program: [test case, ...]} that execute the mutant's line."""
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
        for test, names in cases.items():
            # A failure counts when it comes twice: a test that fails once
            # under load is not a fault found.
            outcomes = []
            for _ in range(2):
                try:
                    r = run([os.path.join(folder, test), '--gtest_fail_fast', '--gtest_filter=' + ':'.join(names)],
                            folder, timeout=limits[test])
                    outcomes.append('killed' if r.returncode != 0 else 'passed')
                except subprocess.TimeoutExpired:
                    outcomes.append('timed out')
                if outcomes[-1] == 'passed':
                    break
            if outcomes[-1] != 'passed':
                return outcomes[-1], test
        return 'survived', None
    finally:
        with open(full, 'w') as f:
            f.write(original)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--count', type=int, default=300)
    p.add_argument('--files', default='', help='comma-separated files or folders of the product')
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
    os.makedirs(WORK, exist_ok=True)
    copy_sources()
    covered = {k: v for k, v in coverage(TESTS).items() if k == EXECUTABLE or k.split(' ')[0] in TESTS}
    folder = os.path.join(WORK, 'build')
    configure(folder, [])
    if not build(folder, list(TESTS) + ['PvTrivane']):
        sys.exit('the unmutated build failed')
    limits = {}
    for test in TESTS:  # each program's own time, as the limit's base
        start = time.time()
        r = run([os.path.join(folder, test)], folder, timeout=1200)
        if r.returncode:
            sys.exit(f'{test} fails without any mutant:\n' + r.stdout.decode()[-3000:])
        limits[test] = max(30.0, 3 * (time.time() - start))
    # A run that was cut short goes on where it stopped: the mutants already
    # tried keep their outcome.
    results, done = [], {}
    path = os.path.join(WORK, f'results-{a.seed}.jsonl')
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                r = json.loads(line)
                done[(r['file'], r['line'], r['mutation'])] = (r['outcome'], r['by'])
    log = open(path, 'a')
    for i, m in enumerate(chosen, 1):
        if (m[0], m[1], m[2]) in done:
            results.append((m, *done[(m[0], m[1], m[2])]))
            continue
        # Another job that needs the machine quiet can hold the run between
        # two mutants (build/mutate/PAUSE).
        while os.path.exists(os.path.join(WORK, 'PAUSE')):
            time.sleep(5)
        cases = collections.defaultdict(list)
        where = (m[0], m[1])
        for key, lines in covered.items():
            # A line without code of its own (a constant, a declaration)
            # may change any of them: every test case then.
            if key != EXECUTABLE and (where in lines or where not in covered[EXECUTABLE]):
                test, case = key.split(' ', 1)
                cases[test].append(case)
        outcome, by = ('not covered', None) if not cases else try_mutant(folder, m, cases, limits)
        results.append((m, outcome, by))
        log.write(json.dumps({'file': m[0], 'line': m[1], 'mutation': m[2], 'outcome': outcome, 'by': by}) + '\n')
        log.flush()
        print(f'[{i}/{len(chosen)}] {m[0]}:{m[1]} {m[2]}: {outcome}' + (f' ({by})' if by else ''), flush=True)
    report(results, a.seed)


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
