#!/bin/bash
# BrenmorOps script v6
_bo_record() { echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/home/ann/.local/share/BrenmorOps/Logs/3f2a9c1d.runs'; }
_bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
trap '_bo_exit=$?; trap - EXIT; _bo_record; exit "$_bo_exit"' EXIT
backup --all
