#!/bin/bash
# BrenmorOps script v4

# Guard: only run on the last day of the month
[ "$(date -v+1d +%d)" != "01" ] && exit 0
_bo_record() { echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'; }
cd '/tmp/it'\''s' || { _bo_exit=$?; _bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ); _bo_record; exit "$_bo_exit"; }
_bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
trap '_bo_exit=$?; trap - EXIT; _bo_record; exit "$_bo_exit"' EXIT
./close-books.sh
