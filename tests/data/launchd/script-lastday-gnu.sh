#!/bin/bash
# BrenmorOps script v3

# Guard: only run on the last day of the month
[ "$(date -d tomorrow +%d)" != "01" ] && exit 0
cd '/tmp/it'\''s' || { _bo_exit=$?; _bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ); echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'; exit $_bo_exit; }
_bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
(
./close-books.sh
)
_bo_exit=$?
echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'
exit $_bo_exit
