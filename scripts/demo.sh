#!/usr/bin/env bash
# Sets everything up, builds the default installer and runs it silently in a
# sandbox, then shows what it did; then uninstalls the same way.
#   --gui   the same run with the windows on the user's display: the install
#           wizard, then the uninstall dialog, each waiting for its user.
set -euo pipefail
gui=false
if [ "${1:-}" = "--gui" ]; then gui=true; fi
unattended=(/s)
if $gui; then unattended=(); fi
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build

# Everything the installer touches lives in one throw-away folder: the
# machine-wide folders under LUMO_SYSROOT, the user's folders under HOME and
# XDG_*, and the temporary folder.
sandbox=$(mktemp -d "${TMPDIR:-/tmp}/lumo-demo-XXXXXX")
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/home" "$sandbox/run" "$sandbox/tmp"
export LUMO_SYSROOT="$sandbox/root"
export HOME="$sandbox/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_RUNTIME_DIR="$sandbox/run"
export TMPDIR="$sandbox/tmp"
unset XDG_DESKTOP_DIR
# The folders a desktop system has before anything is installed.
mkdir -p "$LUMO_SYSROOT/opt" "$LUMO_SYSROOT/usr/bin" "$LUMO_SYSROOT/usr/share/applications" \
  "$LUMO_SYSROOT/etc/skel/Desktop" "$HOME/Desktop" "$XDG_DATA_HOME/applications"
# Unattended runs open no window; with --gui the windows go to the display.
if ! $gui; then export QT_QPA_PLATFORM=offscreen; fi
# Statistics reports go to a closed local port instead of the Internet.
export LUMO_STATS_URL=http://127.0.0.1:9

show_log() {
  if [ -f "$1" ]; then
    echo
    echo "== execution log ${1#"$sandbox"/} (GBK, shown as UTF-8)"
    iconv -f GBK -t UTF-8 "$1" | tr -d '\r'
  fi
}

echo "== build/LumoInstaller carries:"
build/lumo-pack --list build/LumoInstaller
echo
echo "== build/LumoInstaller --version; --check"
build/LumoInstaller --version
build/LumoInstaller --check
echo
echo "== build/LumoInstaller /s --dry-run: what the installation would change"
build/LumoInstaller /s --dry-run
echo
echo "== build/LumoInstaller ${unattended[*]} (sandbox $sandbox)"
status=0
build/LumoInstaller "${unattended[@]}" || status=$?
echo "exit status: $status"
echo
echo "== files in the sandbox"
(cd "$sandbox" && find . -mindepth 1 -not -path './root/opt/Vexta/*' | LC_ALL=C sort)
echo
echo "== installed into $LUMO_SYSROOT/opt/Vexta"
ls -l "$LUMO_SYSROOT/opt/Vexta"
echo
echo "== the player, started from its menu entry's command"
"$LUMO_SYSROOT/opt/Vexta/LumoClient.exe" || true
echo
echo "== registry entries"
build/lumo-reg query 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexta影音' || true
build/lumo-reg query 'HKEY_LOCAL_MACHINE\Software\LuMo\Tarn' || true
build/lumo-reg query 'HKEY_CLASSES_ROOT\.zmv' || true
echo
echo "== shortcuts"
for entry in "$LUMO_SYSROOT"/usr/share/applications/Vexta影音/*.desktop "$LUMO_SYSROOT"/etc/skel/Desktop/*.desktop \
  "$XDG_CONFIG_HOME"/autostart/*.desktop; do
  [ -f "$entry" ] && echo "${entry#"$sandbox"/}: $(grep -E '^(Exec|URL)=' "$entry")"
done
show_log "$LUMO_SYSROOT/var/lib/LuMo/LumoClient/LumoInstaller.log"

# The installation left its uninstaller under $APPDATA; run it the way the
# uninstall entry does. With install.ini beside it, its log is there too.
uninstaller="$XDG_CONFIG_HOME/Lumo/Installer/LumoInstaller"
if [ -x "$uninstaller" ]; then
  echo
  echo "== ${uninstaller#"$sandbox"/} -uinst ${unattended[*]}"
  status=0
  "$uninstaller" -uinst "${unattended[@]}" || status=$?
  echo "exit status: $status"
  echo
  echo "== what remains in the sandbox after uninstalling (logs, the machine identity, user data, the registry store)"
  (cd "$sandbox" && find . -mindepth 1 | LC_ALL=C sort)
  echo
  echo "== the uninstall entry now"
  build/lumo-reg query 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexta影音' || true
  show_log "$(dirname "$uninstaller")/LumoInstaller.log"
fi
