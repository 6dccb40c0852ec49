#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Copyright (c) 2026 the Zubra32 developers
# SPDX-License-Identifier: MIT
"""check_reports.py SCHEMA REPORTS.jsonl...: checks every report the module returned in
the plays (kept by the zubra32_reports callback) against the schema, and against what
the schema cannot say: the summary counts the results, the exit code is the one the
module returned, an unchanged Workfile keeps its size. The plays must have brought
reports of every kind they exercise, from every host. Then the schema must reject
broken copies of a real report."""

import collections
import copy
import json
import sys

import jsonschema

# Each breaks a copy of a report of a changed Workfile (0) and a missing one (1).
BREAKAGES = {
    'no message on a failure': lambda r: r['workfiles'][1].pop('message'),
    'an unknown result': lambda r: r['workfiles'][1].update(result='skipped'),
    'a message with its line end': lambda r: r['workfiles'][1].update(message='Error\r\n'),
    'a backup of a missing Workfile': lambda r: r['workfiles'][1].update(backup='/srv/a.2026-12-07T163012.bak'),
    'a diff with LF line ends': lambda r: r['workfiles'][0].update(diff='--- a\n+++ a (after)\n'),
    'a changed Workfile without its size': lambda r: r['workfiles'][0].pop('bytes_after'),
    'another report format': lambda r: r.update(report_format=2),
    'a field the format does not have': lambda r: r.update(comment='x'),
    'an unknown result in the summary': lambda r: r['summary'].update(skipped=1),
    'a run ending as only a preview may': lambda r: r.update(mode='run', exit_code=6),
}
WANTED = {('preview', 'changed'), ('preview', 'unchanged'), ('run', 'changed'), ('run', 'unchanged'),
          ('run', 'missing'), ('run', 'cannot-write'), ('run', 'locked')}


def problems(record, validator):
    report = record['report']
    found = ['%s: %s' % ('/'.join(map(str, e.absolute_path)), e.message) for e in validator.iter_errors(report)]
    if found:
        return found
    results = collections.Counter(w['result'] for w in report['workfiles'])
    if {k: v for k, v in report['summary'].items() if v} != dict(results):
        found.append('summary %s does not count the results %s' % (report['summary'], dict(results)))
    if record['exit_code'] != report['exit_code']:
        found.append('the module returned exit code %s, the report says %s' % (record['exit_code'], report['exit_code']))
    found += ['%s is unchanged but its size is not' % w['path'] for w in report['workfiles']
              if w['result'] == 'unchanged' and w['bytes_before'] != w['bytes_after']]
    return found


def main():
    with open(sys.argv[1]) as schema_file:
        schema = json.load(schema_file)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    records = [json.loads(line) for path in sys.argv[2:] for line in open(path)]
    found = ['%s, %s: %s' % (r['host'], r['task'], p) for r in records for p in problems(r, validator)]

    seen = set((r['report']['mode'], w['result']) for r in records for w in r['report']['workfiles'])
    hosts = set(r['host'] for r in records)
    if WANTED - seen or len(hosts) < 4:
        found.append('no report of %s, or reports from %d hosts only' % (sorted(WANTED - seen), len(hosts)))
    sample = [r['report'] for r in records if [w['result'] for w in r['report']['workfiles']] == ['changed', 'missing']]
    for name, breakage in BREAKAGES.items() if sample else []:
        broken = copy.deepcopy(sample[0])
        breakage(broken)
        if validator.is_valid(broken):
            found.append('the schema accepts a report with %s' % name)
    for problem in found:
        print(problem)
    print('%d reports from %d hosts checked, %d broken copies tried; %d problems'
          % (len(records), len(hosts), len(BREAKAGES) if sample else 0, len(found)))
    return 1 if found or not sample else 0


if __name__ == '__main__':
    sys.exit(main())
