#!/bin/bash
# BrenmorOps script v6

# Guard: only run on the last day of the month
[ "$(date -d tomorrow +%d)" != "01" ] && exit 0
_bo_record() { echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'; }
_bo_forward() { _bo_sig=$1; _bo_stop=$2; [ -n "$_bo_child" ] && kill -"$1" -- -"$_bo_child" 2>/dev/null; }
_bo_sig=
_bo_stop=
_bo_child=
trap '_bo_forward TERM 143' TERM
trap '_bo_forward HUP 129' HUP
trap '_bo_forward INT 130' INT
_bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
set -m
/bin/bash /dev/fd/3 3<<'BRENMOR_OPS_COMMAND' &
exec 3<&-
trap - INT QUIT
cd '/tmp/it'\''s' || exit
./close-books.sh
BRENMOR_OPS_COMMAND
_bo_child=$!
set +m
[ -n "$_bo_sig" ] && _bo_forward "$_bo_sig" "$_bo_stop"
while :; do
  _bo_sig=
  wait "$_bo_child"
  _bo_exit=$?
  [ -z "$_bo_sig" ] && break
  kill -0 "$_bo_child" 2>/dev/null && continue
  wait "$_bo_child" 2>/dev/null
  _bo_again=$?
  [ "$_bo_again" -ne 127 ] && _bo_exit=$_bo_again
  break
done
[ -n "$_bo_stop" ] && [ "$_bo_exit" -ne 0 ] && _bo_exit=$_bo_stop
_bo_record
exit "$_bo_exit"
