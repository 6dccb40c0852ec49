# -*- coding: utf-8 -*-
# Copyright (c) 2026 the Zubra32 developers
# SPDX-License-Identifier: MIT
"""Test helper: appends every report a task result carries (of loops and failed
tasks too) to the JSON-lines file $ZUBRA32_REPORTS, for check_reports.py."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'zubra32_reports'
    CALLBACK_NEEDS_ENABLED = True

    def v2_runner_on_ok(self, result):
        with open(os.environ['ZUBRA32_REPORTS'], 'a') as reports:
            for item in result._result.get('results', [result._result]):
                if isinstance(item, dict) and isinstance(item.get('report'), dict):
                    reports.write(json.dumps(dict(host=result._host.get_name(), task=result._task.get_name(),
                                                  exit_code=item.get('exit_code'), report=item['report'])) + '\n')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self.v2_runner_on_ok(result)
