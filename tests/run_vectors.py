#!/usr/bin/env python3
"""Runs the conformance vectors beside the project with the built converter.

Usage: run_vectors.py VECTORS_DIR QUARLIX_BINARY NAME_SUBSTRINGS
Exits 77 (skipped) when the vectors are not there.
"""
import os, subprocess, sys

vectors, binary, only = sys.argv[1], sys.argv[2], sys.argv[3]
check = os.path.join(vectors, "check.py")
if not os.path.isfile(check):
    print(f"conformance vectors not found at {vectors}: skipped")
    sys.exit(77)
sys.exit(subprocess.call([sys.executable, check, "--bin", binary, "--only", only]))
