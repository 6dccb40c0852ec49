#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 the Zubra32 developers
# SPDX-License-Identifier: MIT
"""Test helper: every file below a directory, with its bytes, inode and times,
so that a play can tell a file left alone from one rewritten with the same
bytes; and the name of the host that looked."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import base64
import os
import socket
import stat

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(argument_spec=dict(path=dict(type='path', required=True)), supports_check_mode=True)
    top = module.params['path']
    files = {}
    for folder, dummy, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            status = os.lstat(path)
            with open(path, 'rb') as data:
                content = base64.b64encode(data.read()).decode('ascii')
            files[os.path.relpath(path, top)] = dict(content=content, inode=status.st_ino, mode='%04o' % stat.S_IMODE(status.st_mode),
                                                     mtime_ns=status.st_mtime_ns, ctime_ns=status.st_ctime_ns)
    module.exit_json(changed=False, files=files, hostname=socket.gethostname())


if __name__ == '__main__':
    main()
