#!/usr/bin/python
# -*- coding: utf-8 -*-

# Copyright (c) 2026 the Zubra32 developers
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: definition
short_description: Edit text files with a zubra32 definition file
version_added: 2.0.0
description:
  - Runs C(zubra32) once on the target with a definition file. Its section lines (C([path])) name the
    Workfiles, the text files to edit; the directive lines below each one say how to edit it
    (C(START=text), C(END=text), C(left=right), C(left=@text), C(left=-text), C(left=+text), C(left=!text)).
    C(~%NAME~%) in any line is replaced by the environment variable C(NAME), which I(variables) sets.
  - Whether the task changed anything, and which Workfile failed, is read from the JSON report the program
    writes at the end of the run (C(--report)); its printed output is only passed on.
  - A Workfile whose new bytes equal its old ones is left alone, inode and times included. A definition
    file whose directives converge (C(left=@text), C(left=!text)) therefore reports C(changed=false) when
    it runs again; C(START=), C(END=) and C(left=+text) add their text on every run.
  - Written-back Workfiles get CR LF line ends.
  - In check mode the program previews the run (C(/L)) and writes nothing; C(changed) then says whether a
    Workfile would change. In diff mode the task shows the unified diff of each Workfile that changed, or
    would change.
options:
  definition:
    description:
      - Path of the definition file on the target.
      - A relative path is taken against I(chdir) when that is given.
      - Exactly one of I(definition) and I(content) is required.
    type: path
  content:
    description:
      - The text of the definition file, given inline.
      - It is written with CR LF line ends to a private temporary file on the target, which is removed
        after the run. The program's error lines name that file.
      - Exactly one of I(definition) and I(content) is required.
    type: str
  variables:
    description:
      - Environment variables for the run, for the C(~%NAME~%) references of the definition file, on top of
        the environment the module runs in. Set them here rather than relying on the login environment,
        which C(become) resets.
      - The program matches names without regard to letter case, so a variable given here replaces an
        inherited one whose name differs from it only in case.
      - Values are strings or numbers. A boolean, list or mapping fails the task (quote C(yes) and C(no));
        a null value is the empty string. A name may not be empty or hold C(=).
    type: dict
    default: {}
  backup:
    description:
      - C(false) makes no backup.
      - C(true) keeps the old text of each Workfile whose bytes change beside it, as
        C(NAME.YYYY-MM-DDTHHMMSS.bak) (C(-2), C(-3) added when that name exists).
      - A number N of at least 1 does the same, then keeps only the newest N backups of that Workfile,
        removing older ones that the program made.
      - Check mode makes no backup.
    type: raw
    default: false
  missing:
    description:
      - What a Workfile that does not exist does to the task.
      - C(fail) fails the task with the program's error line.
      - C(warn) turns that line into a warning; the task succeeds unless something else failed.
    type: str
    choices: [fail, warn]
    default: fail
  executable:
    description:
      - Path of the program on the target.
      - By default C(zubra32) is looked up on the C(PATH) (and the C(sbin) directories); where it is not
        found the task fails, naming the package C(zubra32) to install.
    type: path
  chdir:
    description:
      - Directory to run the program in. Relative Workfile names in section lines, and a relative
        I(definition), are taken against it.
      - By default the module's own working directory, which depends on the connection.
    type: path
notes:
  - The program runs once per task; C(changed) and the failure come from its report alone.
  - The task fails with the program's own error line (several are joined by semicolons) for a Workfile
    that is missing (unless I(missing=warn)), has too many lines or too many added at its start or end,
    cannot be read or written, stays locked by another run for 30 seconds, or was changed by another
    program during the run; and for a definition file that cannot be found or read.
  - The run goes on past a Workfile that fails, so the others are still written. A failed task therefore
    reports C(changed=true) when some Workfile did change, and its report says which.
  - The program's exit code is returned as I(exit_code). I(rc) is set only when the task fails, since a
    preview that finds changes ends with 6 and a warned missing Workfile with 2.
  - For Windows targets, run C(zubra32.exe) with C(--report) and read the report in the play; the program's
    README shows how.
requirements:
  - zubra32 2.0.0 or later on the target (the package C(zubra32); the role C(zubra32.textfile.install)
    installs it on Debian and Ubuntu).
attributes:
  check_mode:
    description: Can run in check_mode and return changed status prediction without modifying target.
    support: full
  diff_mode:
    description: Will return details on what has changed (or possibly needs changing in check_mode), when in diff mode.
    support: full
  platform:
    description: Target OS/families that can be operated against.
    support: full
    platforms: posix
author:
  - the Zubra32 developers
'''

EXAMPLES = r'''
- name: Apply the site's definition file, kept on the host
  zubra32.textfile.definition:
    definition: /etc/zubra32/site.def

- name: Set the search path and sign the file for the host's owner
  zubra32.textfile.definition:
    content: |
      [/srv/dos/autoexec.bat]
      PATH=!PATH=C:\DOS;C:\APPS\~%SITE~%
      rem owner=!rem owner ~%OWNER~%
    variables:
      SITE: "{{ site_code }}"
      OWNER: "{{ owner_name }}"
    backup: 3

- name: Edit the Workfiles named relative to a folder; warn about missing ones
  zubra32.textfile.definition:
    definition: startup.def
    chdir: /srv/startup
    missing: warn
  register: startup

- name: Show which Workfiles changed
  ansible.builtin.debug:
    msg: "{{ startup.report.workfiles | selectattr('result', 'eq', 'changed') | map(attribute='path') | list }}"

- name: Preview only, with the diff (check mode and diff mode for this task alone)
  zubra32.textfile.definition:
    definition: /etc/zubra32/site.def
  check_mode: true
  diff: true
'''

RETURN = r'''
exit_code:
  description:
    - The program's exit code. 0 clean; in check mode 6 when a Workfile would change; 2 a missing Workfile
      or definition file; 3 too many lines; 4 a Workfile that could not be read or written, was locked or
      was changed by another program; 1 an unexpected failure.
    - Where several Workfiles fail, the last one decides.
  returned: when the program ran
  type: int
  sample: 0
rc:
  description: The program's exit code, set only when the task fails.
  returned: failure after the program ran
  type: int
  sample: 2
report:
  description: The report the program wrote, as it wrote it.
  returned: when the program wrote one
  type: dict
  contains:
    report_format:
      description: The version of the report's layout; this module reads 1.
      type: int
      sample: 1
    program:
      description: C(zubra32).
      type: str
    version:
      description: The program's version.
      type: str
      sample: 2.0.0
    mode:
      description: C(run), or C(preview) in check mode.
      type: str
      sample: run
    exit_code:
      description: The program's exit code.
      type: int
    definition_file:
      description: The definition file as the program was given it.
      type: str
    workfiles:
      description:
        - One entry per section line, in the order of the definition file.
        - Text that is not valid UTF-8 (Workfile names, diffs) carries each such byte as a lone surrogate
          (U+DC80 to U+DCFF), so that the bytes can be had back exactly.
      type: list
      elements: dict
      contains:
        section:
          description: The Workfile's name as the section line gives it.
          type: str
        path:
          description: The Workfile's full path.
          type: str
        line:
          description: The number of the section line in the definition file.
          type: int
        result:
          description:
            - C(changed) (in check mode, would change), C(unchanged), or the failure C(missing),
              C(too-long), C(head-full), C(tail-full), C(cannot-read), C(cannot-write), C(locked) or
              C(changed-by-another).
          type: str
        bytes_before:
          description: The Workfile's size before the run.
          type: int
        bytes_after:
          description: Its size after the run (in check mode, as it would be).
          type: int
        notes:
          description: What a write-back changes that the diff's lines do not show, such as line ends.
          type: list
          elements: str
        diff:
          description: The unified diff of a changed Workfile, with CR LF line ends; in diff mode only.
          type: str
        backup:
          description: Path of the backup made of the Workfile.
          type: str
        message:
          description: The program's error line, for every result other than changed and unchanged.
          type: str
    findings:
      description: Findings about lines of the definition file, each with line, level, code and message.
      type: list
      elements: dict
    summary:
      description: How many Workfiles ended with each result.
      type: dict
      sample: {"changed": 1, "unchanged": 2}
backup_files:
  description: Paths of the backups this run made.
  returned: when the program wrote a report
  type: list
  elements: str
  sample: ["/srv/dos/autoexec.bat.2026-12-07T163012.bak"]
stdout:
  description: What the program printed, with LF line ends. Meant for people; the report is what to read.
  returned: when the program ran
  type: str
stdout_lines:
  description: I(stdout) split into lines.
  returned: when the program ran
  type: list
  elements: str
'''

import json
import os
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_bytes, to_text
from ansible.module_utils.parsing.convert_bool import boolean
from ansible.module_utils.six import integer_types, string_types

REPORT_FORMAT = 1
SUCCESSFUL_RESULTS = ('changed', 'unchanged')

ARGUMENT_SPEC = dict(
    definition=dict(type='path'),
    content=dict(type='str'),
    variables=dict(type='dict', default={}),
    backup=dict(type='raw', default=False),
    missing=dict(type='str', choices=['fail', 'warn'], default='fail'),
    executable=dict(type='path'),
    chdir=dict(type='path'),
)


def backup_switch(value):
    """The program's switch for the backup option: None, --backup or --backup=N."""
    if isinstance(value, bool):
        return '--backup' if value else None
    if isinstance(value, string_types) and value.strip().isdigit():
        value = int(value)
    if isinstance(value, integer_types):
        if value < 1:
            raise ValueError('backup is a number of backups to keep, at least 1, or true or false; got %d' % value)
        return '--backup=%d' % value
    try:
        return '--backup' if boolean(value, strict=True) else None
    except TypeError:
        raise ValueError('backup must be true, false or a number of backups to keep; got %r' % (value,))


def run_environment(variables):
    """The environment update for the run, and the inherited names it hides.

    The program looks names up without regard to case: an inherited USERNAME
    would otherwise compete with a given 'username'.
    """
    update = {}
    for name, value in variables.items():
        if not name or '=' in name or '\0' in name:
            raise ValueError('variables: %r is no environment variable name' % (name,))
        if value is None:
            value = ''
        elif isinstance(value, bool) or not isinstance(value, string_types + integer_types + (float,)):
            raise ValueError('variables: %s is a %s; give a string (quote yes, no, true and false)'
                             % (name, type(value).__name__))
        value = to_text(value, errors='surrogate_or_strict')
        if '\0' in value:
            raise ValueError('variables: the value of %s holds a NUL character' % name)
        update[name] = value
    folded = {}
    for name in update:
        other = folded.setdefault(name.upper(), name)
        if other != name:
            raise ValueError('variables: %s and %s differ only in case, and the program does not tell them apart'
                             % (other, name))
    hidden = [name for name in os.environ if name.upper() in folded and name not in update]
    return update, hidden


def definition_bytes(text):
    """The definition file for inline content: its lines ended with CR LF."""
    lines = text.replace('\r\n', '\n').split('\n')
    if lines[-1] == '':
        lines.pop()
    return b''.join(to_bytes(line, errors='surrogate_or_strict') + b'\r\n' for line in lines)


def read_report(path):
    """The report as a dict, or None when the program wrote none or it is not one."""
    try:
        with open(path, 'rb') as report_file:
            report = json.loads(report_file.read().decode('utf-8', 'surrogatepass'))
    except (IOError, OSError, ValueError):
        return None
    return report if isinstance(report, dict) else None


def last_line(text):
    lines = [line for line in text.splitlines() if line.strip()]
    return lines[-1].strip() if lines else '(no output)'


def find_program(module, executable):
    if executable:
        if not (os.path.isfile(executable) and os.access(executable, os.X_OK)):
            module.fail_json(msg='executable %s is not an executable file on this host' % executable)
        return executable
    found = module.get_bin_path('zubra32')
    if not found:
        module.fail_json(msg='zubra32 is not installed on this host: install the package zubra32 (the role '
                             'zubra32.textfile.install installs it from its .deb), or give its path in executable '
                             '(looked for on the PATH %s and in the sbin directories)' % os.environ.get('PATH', ''))
    return found


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENT_SPEC,
        mutually_exclusive=[('definition', 'content')],
        required_one_of=[('definition', 'content')],
        supports_check_mode=True,
    )
    params = module.params
    try:
        backup = backup_switch(params['backup'])
        environ_update, hidden = run_environment(params['variables'])
    except ValueError as e:
        module.fail_json(msg=to_text(e))
    chdir = params['chdir']
    if chdir and not os.path.isdir(chdir):
        module.fail_json(msg='chdir %s is not a directory on this host' % chdir)
    program = find_program(module, params['executable'])

    workdir = tempfile.mkdtemp(prefix='zubra32-', dir=module.tmpdir)
    try:
        definition = params['definition']
        if params['content'] is not None:
            definition = os.path.join(workdir, 'content.def')
            with open(definition, 'wb') as definition_file:
                definition_file.write(definition_bytes(params['content']))
        elif not os.path.isabs(definition) and definition.startswith('-'):
            definition = os.path.join('.', definition)  # a name, not a switch

        report_path = os.path.join(workdir, 'report.json')
        args = [program, definition]
        if module.check_mode:
            args.append('/L')
        args.append('--report=' + report_path)
        if module._diff:
            args.append('--diff')
        if backup and not module.check_mode:
            args.append(backup)
        for name in hidden:
            del os.environ[name]
        rc, stdout, stderr = module.run_command(args, cwd=chdir, environ_update=environ_update,
                                                expand_user_and_vars=False)
        report = read_report(report_path)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    stdout = stdout.replace('\r\n', '\n')
    result = dict(changed=False, exit_code=rc, stdout=stdout, stdout_lines=stdout.splitlines())
    if stderr:
        result['stderr'] = stderr
    if report is None:
        module.fail_json(msg='zubra32 wrote no report that could be read (exit code %d: %s), so what it changed is '
                             'not known; the module needs a zubra32 that writes one (--report)'
                             % (rc, last_line(stdout)), rc=rc, **result)
    if report.get('report_format') != REPORT_FORMAT or not isinstance(report.get('workfiles'), list):
        module.fail_json(msg='zubra32 wrote a report of format %r; this module reads format %d'
                             % (report.get('report_format'), REPORT_FORMAT), rc=rc, report=report, **result)

    workfiles = [w for w in report['workfiles'] if isinstance(w, dict)]
    failed = [w for w in workfiles if w.get('result') not in SUCCESSFUL_RESULTS]
    warned = [w for w in failed if w.get('result') == 'missing' and params['missing'] == 'warn']
    fatal = [w for w in failed if w not in warned]
    result.update(
        changed=any(w.get('result') == 'changed' for w in workfiles),
        report=report,
        backup_files=[w['backup'] for w in workfiles if w.get('backup')],
    )
    if module._diff:
        prepared = ''.join(w['diff'] for w in workfiles if w.get('result') == 'changed' and w.get('diff'))
        if prepared:
            result['diff'] = dict(prepared=prepared.replace('\r\n', '\n'))
    for workfile in warned:
        module.warn(workfile.get('message') or 'Workfile %s not found' % workfile.get('path'))

    if fatal:
        module.fail_json(msg='; '.join(w.get('message') or '%s: %s' % (w.get('path'), w.get('result'))
                                       for w in fatal), rc=rc, **result)
    expected = set([0, 6] if module.check_mode else [0])
    if warned:
        expected.add(2)  # the last failure decides, and each one was a missing Workfile
    if rc not in expected:
        line = report.get('message') or last_line(stdout)
        module.fail_json(msg='%s (exit code %d)' % (line, rc), rc=rc, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
