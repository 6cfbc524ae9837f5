#!/bin/bash
backup --all
echo "$(date -u +%Y-%m-%dT%H:%M:%SZ)	$?" >> '/home/ann/.local/share/BrenmorOps/Logs/3f2a9c1d.runs'
