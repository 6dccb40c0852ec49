#!/usr/bin/env python3
"""Measures the check (/T): its false alarms and how many harmful typos it catches.

  python3 tools/measure_check.py [--program PATH] [--corpus DIR] [--words FILE] [--seed N] [--per-kind N]

1. Warnings on correct definition files: examples/startup.def, the help's
   sample, the realistic files in tools/check_corpus/ and the definition file
   of every end-to-end case that is not itself about the check.
2. Warnings on dictionary words written as left sides ("word=MOON" and
   "word=rem Changed by admin"), one word a line.
3. Typos seeded into correct definition files, each kind drawn at random
   (seeded, so the figures repeat) from every place it fits. A typo counts
   only when the run with it leaves other Workfile bytes or another exit code
   than the run without it; it is caught when the check gives a Warning on
   its line.
4. The time of the check of a 2,500-line definition file.

The program is build/zubra32 unless given; the Workfiles of the realistic
files are the real configuration files in ../shared/corpus beside the
repository (--corpus); the words come from Debian's wamerican.
"""
import argparse
import json
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BOM = b'\xef\xbb\xbf'


# --- end-to-end case files (the subset of tests/e2e/README.md's format these need)

def decode(text, n=None):
    """Case-file text with its byte tokens turned into bytes."""
    simple = {'CR': b'\r', 'LF': b'\n', 'TAB': b'\t', 'NUL': b'\0', 'SUB': b'\x1a'}
    out, i = bytearray(), 0
    while i < len(text):
        if text[i] == '{':
            depth, j = 1, i + 1
            while j < len(text) and depth:
                depth += {'{': 1, '}': -1}.get(text[j], 0)
                j += 1
            token = text[i + 1:j - 1] if depth == 0 else None
            rep = re.fullmatch(r'rep (\d+) (.*)', token or '', re.S)
            if token in simple:
                out += simple[token]
            elif token and re.fullmatch(r'x[0-9A-Fa-f]{2}', token):
                out.append(int(token[1:], 16))
            elif rep:
                out += decode(rep[2], n) * int(rep[1])
            elif token == 'n' and n is not None:
                out += str(n).encode()
            else:
                out += b'{'
                i += 1
                continue
            i = j
            continue
        out += text[i].encode()
        i += 1
    return bytes(out)


def words_of(text):
    return [w[1:-1] if w.startswith('"') and w.endswith('"') else w for w in re.findall(r'"[^"]*"|\S+', text)]


def read_case(path):
    case = {'args': [], 'env': {}, 'files': {}, 'name': path.stem}
    header, lines = None, []

    def close():
        if not header:
            return
        kind, *rest = words_of(header)
        if kind == 'file':
            options = rest[1:]
            end = {'lf': b'\n', 'raw': b''}.get(next((o for o in options if o in ('lf', 'raw')), ''), b'\r\n')
            count = int(options[options.index('repeat') + 1]) if 'repeat' in options else 0
            body = [decode(line, k + 1) for k in range(max(count, 1)) for line in lines] if count else \
                [decode(line) for line in lines]
            data = end.join(body) + (end if body and 'noeol' not in options else b'')
            case['files'][decode(rest[0]).decode('latin-1')] = data
        elif kind == 'env':
            for line in lines:
                if '=' in line:
                    name, value = line.split('=', 1)
                    case['env'][name] = decode(value).decode('latin-1')

    for raw in path.read_text(encoding='utf-8').split('\n'):
        raw = raw.rstrip('\r')
        if raw.startswith('==='):
            close()
            header, lines = raw[3:].strip(), []
            m = re.match(r'args:?\s*(.*)', header)
            if m:
                case['args'] = [decode(w).decode('latin-1') for w in words_of(m[1])]
                header = None
        elif header is not None:
            lines.append(raw)
    close()
    return case


# --- running the program

def run(program, directory, args, env, report=False):
    """Exit code and findings [(line, level, code)] of one run in `directory`."""
    extra = ['--report', 'measure-report.json'] if report else []
    result = subprocess.run([program, *args, *extra], cwd=directory, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    findings = []
    if report:
        path = Path(directory, 'measure-report.json')
        findings = [(f['line'], f['level'], f['code']) for f in json.loads(path.read_bytes())['findings']]
        path.unlink()
    return result.returncode, findings


def check(program, definition, env):
    """The check's findings on a definition file's bytes."""
    with tempfile.TemporaryDirectory() as directory:
        Path(directory, 'defs.def').write_bytes(definition)
        return run(program, directory, ['defs.def', '/T'], env, report=True)[1]


def outcome(program, base, definition):
    """Exit code and Workfile bytes after a real run of `definition` on a fresh copy of the base's Workfiles."""
    with tempfile.TemporaryDirectory() as directory:
        for name, data in base['files'].items():
            Path(directory, name).parent.mkdir(parents=True, exist_ok=True)
            Path(directory, name).write_bytes(data)
        Path(directory, base['def_name']).write_bytes(definition)
        code, _ = run(program, directory, [base['def_name']], base['env'])
        return code, {name: Path(directory, name).read_bytes() for name in base['files']
                      if Path(directory, name).exists()}


# --- the correct definition files, with what their runs need

def bases(program, corpus):
    """Each correct definition file: name, bytes, environment, Workfiles, pool."""
    found = []
    demo = {'USERNAME': 'demo'}
    examples = {name: (ROOT / 'examples' / name).read_bytes() for name in ('autoexec.bat', 'config.sys')}
    found.append({'label': 'examples/startup.def', 'pool': 'realistic', 'def_name': 'startup.def',
                  'def': (ROOT / 'examples/startup.def').read_bytes(), 'env': demo, 'files': examples})
    sample = subprocess.run([program, '/?'], stdout=subprocess.PIPE).stdout
    found.append({'label': 'the help\'s sample', 'pool': 'realistic', 'def_name': 'sample.def', 'def': sample,
                  'env': demo, 'files': {'c:\\autoexec.tst': examples['autoexec.bat'],
                                         'c:\\config.tst': examples['config.sys']}})
    workfiles = {p.name: p.read_bytes() for p in corpus.glob('*') if p.suffix.lower() in ('.bat', '.sys')}
    for path in sorted((ROOT / 'tools/check_corpus').glob('*.def')):
        found.append({'label': 'tools/check_corpus/' + path.name, 'pool': 'realistic', 'def_name': path.name,
                      'def': path.read_bytes(), 'env': demo, 'files': workfiles})
    for path in sorted((ROOT / 'tests/e2e/cases').glob('*.case')):
        case = read_case(path)
        if path.name.startswith(('check-', 'preview-and-check')) or not case['args']:
            continue
        name = case['args'][0]
        if name not in case['files'] or '/T' in (a.upper() for a in case['args']):
            continue
        files = {k: v for k, v in case['files'].items() if k != name}
        found.append({'label': 'e2e ' + path.stem, 'pool': 'e2e', 'def_name': name, 'def': case['files'][name],
                      'env': case['env'], 'files': files, 'plain': case['args'] == [name]})
    return found


# --- typos

ROWS = ['qwertyuiop', 'asdfghjkl', 'zxcvbnm']


def neighbours(letter):
    """Keys beside a letter on a typewriter keyboard, in its letter case."""
    lower = letter.lower()
    row = next(r for r, keys in enumerate(ROWS) if lower in keys)
    column = ROWS[row].index(lower)
    near = [(row, column - 1), (row, column + 1), (row - 1, column), (row - 1, column + 1), (row + 1, column - 1),
            (row + 1, column)]
    keys = [ROWS[r][c] for r, c in near if 0 <= r < 3 and 0 <= c < len(ROWS[r])]
    return [k.upper() if letter.isupper() else k for k in keys]


OTHER_KEYWORDS = ['ADD', 'APPEND', 'INSERT', 'PREPEND', 'BEGIN', 'TOP', 'FIRST', 'BOTTOM', 'LAST', 'TAIL', 'HEAD',
                  'ADDLINE']


def split_position(line):
    for i in range(1, len(line)):
        if line[i] == ord('=') and line[i - 1] != ord('~'):
            return i
    return -1


def keyword_of(line):
    m = re.match(rb'(start|end)=', line, re.I)
    return m[1] if m else None


def typos(line):
    """Every typo of each kind that fits one trimmed definition line: {kind: [new line]}."""
    kinds = {}
    if not line or line[:1] in (b"'", b'['):
        return kinds
    equals = split_position(line)
    if equals < 0:
        return kinds
    add = lambda kind, new: kinds.setdefault(kind, []).append(new)
    add('blank before "="', line[:equals] + b' ' + line[equals:])
    add('blank after "="', line[:equals + 1] + b' ' + line[equals + 1:])
    add('doubled "="', line[:equals + 1] + b'=' + line[equals + 1:])
    for m in re.finditer(rb'~%([A-Za-z_]\w*)~%', line):
        add('%NAME% for ~%NAME~%', line[:m.start()] + b'%' + m[1] + b'%' + line[m.end():])
    keyword = keyword_of(line)
    if keyword:
        rest, k = line[len(keyword):], keyword.decode()
        for i in range(len(k)):
            add('keyword: letter left out', (k[:i] + k[i + 1:]).encode() + rest)
            for key in neighbours(k[i]):
                add('keyword: letter changed', (k[:i] + key + k[i + 1:]).encode() + rest)
        for i in range(len(k) + 1):
            beside = {k[j] for j in (i - 1, i) if 0 <= j < len(k)}
            for key in sorted(beside | {n for b in beside for n in neighbours(b)}):
                add('keyword: letter added', (k[:i] + key + k[i:]).encode() + rest)
        for i in range(len(k) - 1):
            if k[i] != k[i + 1]:
                add('keyword: letters swapped', (k[:i] + k[i + 1] + k[i] + k[i + 2:]).encode() + rest)
        for word in OTHER_KEYWORDS:
            add('unknown keyword', (word if k.isupper() else word.lower()).encode() + rest)
    return kinds


def seeded_typos(program, found, seed, per_kind):
    rng = random.Random(seed)
    candidates = {}
    for base in found:
        if base['pool'] == 'e2e' and not base.get('plain'):
            continue
        lines = base['def'].split(b'\n')
        for number, raw in enumerate(lines, 1):
            end = b'\r' if raw.endswith(b'\r') else b''
            for kind, news in typos(raw.strip()).items():
                for new in news:
                    candidates.setdefault(kind, []).append((base, number, lines, new + end))
        if lines[0].strip() and base['pool'] == 'e2e':
            candidates.setdefault('byte-order mark', []).append((base, 1, lines, BOM + lines[0]))
    results = {}
    originals = {}
    for kind in sorted(candidates):
        pool = candidates[kind]
        rng.shuffle(pool)
        pool.sort(key=lambda c: c[0]['pool'] != 'realistic')  # realistic files first, shuffled within
        taken, caught, misses, seen, realistic = 0, 0, [], set(), 0
        for base, number, lines, new in pool:
            if taken == per_kind:
                break
            if (id(base), new) in seen:
                continue
            seen.add((id(base), new))
            mutated = b'\n'.join(lines[:number - 1] + [new] + lines[number:])
            key = id(base)
            if key not in originals:
                originals[key] = outcome(program, base, base['def'])
            if outcome(program, base, mutated) == originals[key]:
                continue  # harmless here: not a typo that counts
            taken += 1
            realistic += base['pool'] == 'realistic'
            if any(line == number and level == 'warning' for line, level, _ in check(program, mutated, base['env'])):
                caught += 1
            else:
                misses.append(f"{base['label']} line {number}: {new.strip().decode('latin-1')[:100]}")
        results[kind] = (caught, taken, realistic, misses)
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', default=str(ROOT / 'build/zubra32'))
    parser.add_argument('--corpus', default=str(ROOT.parent / 'shared/corpus'))
    parser.add_argument('--words', default='/usr/share/dict/american-english')
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--per-kind', type=int, default=20)
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    found = bases(program, Path(options.corpus))

    print('== Warnings on correct definition files')
    for pool in ('realistic', 'e2e'):
        lines = warned = notes = 0
        for base in (b for b in found if b['pool'] == pool):
            findings = check(program, base['def'], base['env'])
            lines += base['def'].count(b'\n') + (0 if base['def'].endswith(b'\n') else 1)
            for number in sorted({line for line, level, _ in findings if level == 'warning'}):
                warned += 1
                codes = ','.join(sorted({c for line, level, c in findings if line == number and level == 'warning'}))
                text = base['def'].split(b'\n')[number - 1].strip().decode('latin-1')
                print(f"   {base['label']} line {number} [{codes}]: {text}")
            notes += len({line for line, level, _ in findings if level == 'note'})
        files = sum(1 for b in found if b['pool'] == pool)
        print(f'{pool}: {files} files, {lines} lines, {warned} with a Warning ({100 * warned / max(lines, 1):.2f}%), '
              f'{notes} with a Note')

    if Path(options.words).exists():
        print('== Warnings on dictionary words as left sides')
        words = sorted({w.strip() for w in open(options.words, encoding='utf-8', errors='replace')
                        if w.strip().isascii() and w.strip().isalpha()}, key=str.upper)
        words = list({w.upper(): w for w in words}.values())
        for right in (b'MOON', b'rem Changed by admin'):
            definition = b'[w.txt]\r\n' + b''.join(w.encode() + b'=' + right + b'\r\n' for w in words)
            findings = check(program, definition, {})
            hit = sorted({words[line - 2] for line, level, _ in findings if level == 'warning' and line > 1})
            print(f'word={right.decode()}: {len(hit)} of {len(words)} words: {" ".join(hit)}')

    print('== Seeded typos caught (a Warning on the line)')
    total_caught = total = 0
    for kind, (caught, taken, realistic, misses) in seeded_typos(program, found, options.seed,
                                                                 options.per_kind).items():
        total_caught, total = total_caught + caught, total + taken
        print(f'{kind}: {caught} of {taken} ({realistic} of them in the realistic files)')
        for miss in misses:
            print('   missed ' + miss)
    print(f'all: {total_caught} of {total} ({100 * total_caught / max(total, 1):.1f}%)')

    print('== Time of the check of a 2,500-line definition file')
    realistic = [b['def'].replace(b'\r\n', b'\n').split(b'\n') for b in found if b['pool'] == 'realistic']
    lines = []
    while len(lines) < 2500:
        for part in realistic:
            lines += [line.replace(b'[', b'[' + str(len(lines)).encode() + b'-', 1) for line in part]
    definition = b'\r\n'.join(lines[:2500]) + b'\r\n'
    with tempfile.TemporaryDirectory() as directory:
        Path(directory, 'big.def').write_bytes(definition)
        Path(directory, 'empty.def').write_bytes(b'')
        timings = {}
        for name in ('big.def', 'empty.def'):
            times = []
            for _ in range(21):
                start = time.perf_counter()
                subprocess.run([program, name, '/T'], cwd=directory, stdout=subprocess.DEVNULL,
                               env={'USERNAME': 'demo'})
                times.append(time.perf_counter() - start)
            timings[name] = statistics.median(times) * 1000
    print(f"2,500 lines: {timings['big.def']:.1f} ms the whole process (median of 21), "
          f"{timings['empty.def']:.1f} ms of it for an empty definition file")
    return 0


if __name__ == '__main__':
    sys.exit(main())
