#!/bin/bash
# BrenmorOps script v3
_bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
(
backup --all
)
_bo_exit=$?
echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'
exit $_bo_exit
