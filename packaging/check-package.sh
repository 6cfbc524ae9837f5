#!/usr/bin/env bash
# Checks the built package the way a user meets it (run by `./dev package-check` and CI):
#   1. `cmake --install` into a temporary prefix lays out every file, and the files that name a
#      program name the installed one;
#   2. in a private home and D-Bus session, the installed brenmor-ops adds a task that runs at
#      load, and the installed agent runner runs it (its run lands in the task's history);
#   3. the installed application starts offscreen and is still running two seconds later;
#   4. the .deb unpacked into an empty root reports the package's version;
#   5. as root, `apt-get install ./brenmor-ops_*.deb` and `apt-get purge` leave nothing behind.
# Usage: bash packaging/check-package.sh [build folder]
set -euo pipefail
BUILD=$(cd "${1:-build-package}" && pwd)
shopt -s nullglob
debs=("$BUILD"/brenmor-ops_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one package in $BUILD, found ${#debs[@]}" >&2; exit 1; }
DEB=${debs[0]}
VERSION=$(dpkg-deb -f "$DEB" Version)

WORK=$(mktemp -d)
RUNNER_PIDS=()
cleanup() {
  # The agent runner leaves once its socket is gone; one that does not is ended here.
  rm -rf "$WORK/home/run"
  local pid
  for pid in "${RUNNER_PIDS[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
step() { echo "== $*"; }

# Runs a command with nothing of the caller's environment but PATH and a private home.
private() {
  local home=$WORK/home
  mkdir -p "$home/.local/share" "$home/.local/state" "$home/.config" "$home/.cache" "$home/run"
  chmod 700 "$home/run"
  env -i PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 USER="${USER:-$(id -un)}" SHELL=/bin/bash \
    HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_STATE_HOME="$home/.local/state" \
    XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" \
    "$@"
}

step "cmake --install into $WORK/prefix"
PREFIX=$WORK/prefix
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
expected=(bin/BrenmorOps bin/brenmor-ops
  libexec/brenmor-ops/launchctl libexec/brenmor-ops/brenmor-agent-runner
  libexec/brenmor-ops/pmset libexec/brenmor-ops/osascript libexec/brenmor-ops/post-notification
  share/applications/brenmor-ops.desktop share/icons/hicolor/scalable/apps/brenmor-ops.svg
  lib/systemd/user/brenmor-ops-agent-runner.service etc/xdg/autostart/brenmor-ops-agent-runner.desktop
  share/man/man1/brenmor-ops.1.gz share/man/man1/BrenmorOps.1.gz
  share/bash-completion/completions/brenmor-ops share/zsh/vendor-completions/_brenmor-ops
  share/doc/brenmor-ops/copyright share/doc/brenmor-ops/changelog.gz)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/brenmor-ops.png")
done
for file in "${expected[@]}"; do
  [ -f "$PREFIX/$file" ] || fail "not installed: $file"
done
for size in 16 256; do
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  read -r -a header < <(od -An -tu1 -j16 -N8 "$PREFIX/share/icons/hicolor/${size}x${size}/apps/brenmor-ops.png")
  width=$(( (header[2] << 8) + header[3] )) height=$(( (header[6] << 8) + header[7] ))
  [ "$width $height" = "$size $size" ] || fail "icon $size is ${width}x$height"
done
for entry in share/applications/brenmor-ops.desktop etc/xdg/autostart/brenmor-ops-agent-runner.desktop; do
  desktop-file-validate "$PREFIX/$entry" || fail "$entry does not validate"
done
grep -qx "Exec=$PREFIX/bin/BrenmorOps" "$PREFIX/share/applications/brenmor-ops.desktop" ||
  fail "the desktop entry does not start the installed application"
grep -qx "ExecStart=$PREFIX/libexec/brenmor-ops/brenmor-agent-runner" \
  "$PREFIX/lib/systemd/user/brenmor-ops-agent-runner.service" ||
  fail "the systemd unit does not start the installed agent runner"
for program in "$PREFIX"/bin/* "$PREFIX"/libexec/brenmor-ops/*; do
  if readelf -d "$program" | grep -E 'RPATH|RUNPATH' | grep -q "$BUILD"; then
    fail "$program still looks for libraries in the build tree"
  fi
done
man -l "$PREFIX/share/man/man1/brenmor-ops.1.gz" >/dev/null 2>&1 || fail "man cannot read the page"

step "installed brenmor-ops adds a task the installed agent runner runs"
out=$(private dbus-run-session -- "$PREFIX/bin/brenmor-ops" add --name ci --command 'echo hi' --run-at-load)
[ "$out" = "Added task: ci (Run at load)" ] || fail "add printed: $out"
id=$(private "$PREFIX/bin/brenmor-ops" list | awk '$2 == "ci" { print $NF }')
[[ $id =~ ^[0-9a-f]{8}$ ]] || fail "no ID for the task in: $(private "$PREFIX/bin/brenmor-ops" list)"
mapfile -t RUNNER_PIDS < <(pgrep -f -- "$PREFIX/libexec/brenmor-ops/brenmor-agent-runner")
[ ${#RUNNER_PIDS[@]} -gt 0 ] || fail "launchctl did not start the installed agent runner"
runs=$WORK/home/.local/share/BrenmorOps/Logs/$id.runs
for _ in $(seq 300); do [ -s "$runs" ] && break; sleep 0.1; done
[ -s "$runs" ] || fail "no run recorded in $runs within 30 s"
status=$(head -1 "$runs" | cut -f3)
[ "$status" = 0 ] || fail "the run ended with status '$status': $(cat "$runs")"
grep -qx hi "$WORK/home/.local/share/BrenmorOps/Logs/$id.stdout.log" || fail "no output logged"
out=$(private dbus-run-session -- "$PREFIX/bin/brenmor-ops" remove ci)
[ "$out" = "Removed task: ci" ] || fail "remove printed: $out"

step "installed application starts offscreen"
# It has no quit argument; still running after two seconds is the pass, TERM then ends it.
status=0
private QT_QPA_PLATFORM=offscreen dbus-run-session -- \
  timeout -s TERM 3 "$PREFIX/bin/BrenmorOps" >"$WORK/app.log" 2>&1 || status=$?
[ $status -eq 124 ] || fail "BrenmorOps ended early with status $status: $(cat "$WORK/app.log")"
if grep -Eiq 'fatal|could not load the qt platform plugin' "$WORK/app.log"; then
  fail "BrenmorOps reported: $(cat "$WORK/app.log")"
fi

step "unpacked into an empty root, the package reports version $VERSION"
dpkg -x "$DEB" "$WORK/root"
out=$(private "$WORK/root/usr/bin/brenmor-ops" version)
[ "$out" = "brenmor-ops $VERSION" ] || fail "version printed: $out"
[ -x "$WORK/root/usr/libexec/brenmor-ops/launchctl" ] || fail "launchctl missing from the package"

if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W brenmor-ops >/dev/null 2>&1; then
  step "apt-get install and purge"
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -qq "$DEB" >/dev/null
  [ "$(private /usr/bin/brenmor-ops version)" = "brenmor-ops $VERSION" ] || fail "installed version"
  installed=$(dpkg -L brenmor-ops | while read -r f; do [ -f "$f" ] && echo "$f"; done)
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 purge -y -qq brenmor-ops >/dev/null
  left=$(for f in $installed; do if [ -e "$f" ]; then echo "$f"; fi; done)
  [ -z "$left" ] || fail "left after purge: $left"
else
  echo "(apt-get install check skipped: needs root and no installed brenmor-ops)"
fi
echo "package check passed: $DEB"
