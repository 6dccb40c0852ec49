#!/usr/bin/env python3
"""The machine-readable report, backups and converging runs, seen from outside:
the built program runs on scratch directories, and every report it writes is
parsed and checked against doc/report.schema.json.

    python3 tests/report/report_test.py PROGRAM SCHEMA
"""
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

PROGRAM, SCHEMA = os.path.abspath(sys.argv[1]), json.load(open(sys.argv[2]))
failures, passed = [], 0


def check(what, condition):
    global passed
    if condition:
        passed += 1
    else:
        failures.append(what)


def run(directory, definition, *switches, files=None):
    """Writes the files (name: bytes) and the definition file, runs the program
    with a report; gives the exit code, standard output and the report."""
    for name, data in (files or {}).items():
        with open(os.path.join(os.fsencode(directory), os.fsencode(name)), 'wb') as file:
            file.write(data)
    with open(os.path.join(directory, 'd.def'), 'wb') as file:
        file.write(definition)
    done = subprocess.run([PROGRAM, 'd.def', '--report', 'r.json', *switches], cwd=directory,
                          capture_output=True, env={'USERNAME': 'demo'})
    report = json.load(open(os.path.join(directory, 'r.json'), encoding='utf-8'))
    jsonschema.validate(report, SCHEMA)
    check('the report names the exit code', report['exit_code'] == done.returncode)
    return done.returncode, done.stdout, report


def stat(directory, name):
    status = os.stat(os.path.join(directory, name))
    return status.st_ino, status.st_mtime_ns, status.st_ctime_ns


def results(report):
    return [(w['section'], w['result']) for w in report['workfiles']]


with tempfile.TemporaryDirectory() as d:
    name = b'caf\xe9.txt'  # not UTF-8
    files = {'a.bat': b'PATH=C:\\DOS\r\n', 'same.txt': b'x\r\n', 'free.txt': b'y\n', name: b'k\n'}
    definition = (b'[a.bat]\r\npath~=C=+;c:\\dos\r\n[missing.txt]\r\nEND=x\r\n[same.txt]\r\nx=x\r\n'
                  b'[free.txt]\r\n[' + name + b']\r\nEND=new\r\n')
    code, out, report = run(d, definition, '--diff', files=files)
    check('run results', results(report) == [('a.bat', 'changed'), ('missing.txt', 'missing'),
                                             ('same.txt', 'unchanged'), ('free.txt', 'unchanged'),
                                             ('caf\udce9.txt', 'changed')])
    check('a name that is not UTF-8 gives its bytes back', os.fsencode(report['workfiles'][4]['path'])
          == os.path.join(os.fsencode(os.path.realpath(d)), name))
    a, missing = report['workfiles'][0], report['workfiles'][1]
    check('sizes', (a['bytes_before'], a['bytes_after']) == (13, 20))
    check('the diff is the change', a['diff'] == '--- a.bat\r\n+++ a.bat (after)\r\n@@ -1 +1 @@\r\n'
          '-PATH=C:\\DOS\r\n+PATH=C:\\DOS;c:\\dos\r\n')
    check('the message is the printed line', (missing['message'] + '\r\n').encode() in out)
    check('summary', report['summary']['changed'] == 2 and report['summary']['missing'] == 1)
    check('a report is its owner\'s only', os.stat(os.path.join(d, 'r.json')).st_mode & 0o777 == 0o600)
    # The same run again converges: nothing changes, nothing is touched.
    untouched = {n: stat(d, n) for n in ('a.bat', 'same.txt')}
    os.remove(os.path.join(d, 'd.def'))
    code, out, report = run(d, definition.replace(b'path~=C=+;c:\\dos', b'path~=C=!PATH=C:\\DOS;c:\\dos'))
    check('a second run changes nothing', results(report)[0] == ('a.bat', 'unchanged'))
    check('and touches nothing', {n: stat(d, n) for n in untouched} == untouched)
    check('no temporary file is left', sorted(os.listdir(os.fsencode(d)))
          == sorted([b'a.bat', b'same.txt', b'free.txt', b'd.def', b'r.json', name]))

with tempfile.TemporaryDirectory() as d:
    # A preview's report holds what the preview prints; a check's its findings.
    code, out, report = run(d, b'[w.txt]\r\nEND=one\r\nEN=two\r\n', '/L', '--diff', files={'w.txt': b'w\r\n'})
    check('preview', (code, report['mode'], results(report)) == (6, 'preview', [('w.txt', 'changed')]))
    check('its diff is the printed one', report['workfiles'][0]['diff'].encode() in out)
    check('a line that adds on every run keeps it from converging', report['workfiles'][0]['changes_again'] == [2]
          and b'\\ A second run would change this file again: line 2\r\n' in out)
    code, out, report = run(d, b'[w.txt]\r\nw=@v\r\n[w.txt]\r\nv=@w\r\n', '/L')
    check('a change a later section takes back counts as none', code == 0 and b'Preview: 0 Workfile' in out)
    code, out, report = run(d, b'[w.txt]\r\nSTRAT=rem x\r\nEND=y\r\n', '/T')
    check('check', (report['mode'], [(f['line'], f['level'], f['code']) for f in report['findings']])
          == ('check', [(2, 'warning', 'keyword-misspelt'), (3, 'note', 'adds-every-run'),
                        (3, 'note', 'changes-again')]))
    # A link planted at the report's name is replaced, never written through.
    os.remove(os.path.join(d, 'r.json'))
    with open(os.path.join(d, 'victim'), 'wb') as file:
        file.write(b'keep\n')
    os.symlink('victim', os.path.join(d, 'r.json'))
    run(d, b'[w.txt]\r\n')
    check('the link is replaced', not os.path.islink(os.path.join(d, 'r.json'))
          and open(os.path.join(d, 'victim'), 'rb').read() == b'keep\n')
    # A definition file that is missing still gets its report.
    done = subprocess.run([PROGRAM, 'none.def', '--report', 'r.json'], cwd=d, capture_output=True)
    report = json.load(open(os.path.join(d, 'r.json')))
    jsonschema.validate(report, SCHEMA)
    check('missing definition file', (done.returncode, report['exit_code'], report['workfiles'], report['message'])
          == (2, 2, [], "Can't find the definition file none.def"))

with tempfile.TemporaryDirectory() as d:
    # Backups: made only when the bytes change, the old file itself, the newest N kept, nothing else removed.
    decoys = ['w.txt.2000-01-01T000000.bak.old', 'w.txt.old.bak', 'w.txtx.2000-01-01T000000.bak']
    for decoy in decoys:
        open(os.path.join(d, decoy), 'wb').close()
    made = []
    for round_ in range(4):
        old_inode = stat(d, 'w.txt')[0] if round_ else None
        _, _, report = run(d, b'[w.txt]\r\nEND=%d\r\n' % round_, '--backup=2',
                           files={'w.txt': b'v%d\r\n' % round_} if round_ == 0 else None)
        made.append(report['workfiles'][0]['backup'])
        check('the backup is the old file itself', round_ == 0 or os.stat(made[-1]).st_ino == old_inode)
    _, _, report = run(d, b'[w.txt]\r\nv0=v0\r\n', '--backup=2')
    check('no change, no backup', 'backup' not in report['workfiles'][0])
    backups = sorted(n for n in os.listdir(d) if n.startswith('w.txt.') and n.endswith('.bak') and n not in decoys)
    check('the newest two stay', [os.path.join(os.path.realpath(d), n) for n in backups] == sorted(made[-2:]))
    check('the others are not ours to remove', all(os.path.exists(os.path.join(d, n)) for n in decoys))

for failure in failures:
    print('failed:', failure)
print(f'{passed} passed, {len(failures)} failed')
sys.exit(1 if failures else 0)
