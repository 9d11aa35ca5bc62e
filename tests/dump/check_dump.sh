#!/usr/bin/env bash
# check_dump.sh NETVANE_DUMP STATUS EXPECTED_STDOUT STDERR_TEXT ARGS...
# Runs netvane-dump with ARGS; fails unless it exits with STATUS, its standard
# output equals EXPECTED_STDOUT byte for byte, and its standard error contains
# STDERR_TEXT ("-": standard error must be empty).
set -u
exe=$1 status=$2 expected=$3 errtext=$4
shift 4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$exe" "$@" >"$tmp/out" 2>"$tmp/err"
got=$?
fail=0
if [ "$got" != "$status" ]; then
  echo "exit status $got, expected $status"; fail=1
fi
if ! cmp -s "$expected" "$tmp/out"; then
  echo "standard output differs from $expected:"; diff -u "$expected" "$tmp/out" | head -40; fail=1
fi
if [ "$errtext" = - ]; then
  if [ -s "$tmp/err" ]; then echo "unexpected standard error:"; cat "$tmp/err"; fail=1; fi
elif ! grep -qF -- "$errtext" "$tmp/err"; then
  echo "standard error lacks \"$errtext\":"; cat "$tmp/err"; fail=1
fi
exit $fail
