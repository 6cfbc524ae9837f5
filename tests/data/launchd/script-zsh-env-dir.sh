#!/bin/zsh
# BrenmorOps script v3
source ~/.zprofile 2>/dev/null
source ~/.zshrc 2>/dev/null
set -a
source '/Users/ann/.config/backup.env'
set +a
cd '/Users/ann/Projects/site' || { _bo_exit=$?; _bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ); echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'; exit $_bo_exit; }
_bo_start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
(
cd public
rsync -a . "$TARGET"
)
_bo_exit=$?
echo "$_bo_start	$(date -u +%Y-%m-%dT%H:%M:%SZ)	$_bo_exit" >> '/Users/ann/Library/Application Support/BrenmorOps/Logs/3f2a9c1d.runs'
exit $_bo_exit
