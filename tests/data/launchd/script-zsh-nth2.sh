#!/bin/zsh
# BrenmorOps script v4
source ~/.zprofile 2>/dev/null
source ~/.zshrc 2>/dev/null

# Guard: only run on the 2nd occurrence this month
_day=$(date +%d)
[ "$_day" -lt 8 ] || [ "$_day" -gt 14 ] && exit 0
set -a
source '/Users/o'\''neil/.env'
set +a
_bo_record() { echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'; }
_bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
trap '_bo_exit=$?; trap - EXIT; _bo_record; exit "$_bo_exit"' EXIT
echo 'it'\''s time' | say
