#!/usr/bin/env bash
# Succeeds when this machine can execute 32-bit x86 programs, which the
# 32-bit Wine loader needs. Some sandboxed kernels cannot.
/lib/ld-linux.so.2 --help >/dev/null 2>&1
