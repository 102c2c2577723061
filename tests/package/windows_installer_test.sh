#!/usr/bin/env bash
# Runs the Windows installer silently under wine in a throw-away prefix, checks what it
# installed, runs its uninstaller in place and checks that it removed everything it installed.
# Under wine the service is not registered: wine's files carry no Windows ACLs, so
# "orvik_service --install" refuses a program that, as far as it can tell, others may replace;
# the installer reports that with exit code 2 and goes on. Root only, like the other package tests.
#   windows_installer_test.sh SETUP.exe [CLIENT.exe]
# With the cross build's client given (and built), the installer must carry it and its
# Start-menu shortcut.
set -euo pipefail
installer=$1
client=${2:-}
[ "$(id -u)" = 0 ] || { echo "package tests need root; skipped"; exit 77; }
[ -f "$installer" ] || { echo "no $installer: build it with scripts/package" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

scratch=$(mktemp -d)
export WINEPREFIX=$scratch/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
wine wineboot -i >/dev/null 2>&1 </dev/null
drive=$WINEPREFIX/drive_c
snapshot() { (cd "$drive" && find . | sort); }
before=$(snapshot)
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velora'

code=0
wine "$installer" /S </dev/null || code=$?
case $code in
0) wine sc query OrvikService >/dev/null || fail "the installer succeeded but the service is not registered" ;;
2) echo "note: the installer could not register the service (expected under wine)" ;;
*) fail "the installer exited with $code" ;;
esac

# Add/Remove Programs knows where it went; the programs and an empty runtime\ are there.
location=$(wine reg query "$key" /v InstallLocation | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
[ -n "$location" ] || fail "no Add/Remove Programs entry"
folder=$(readlink -f "$(winepath -u "$location")")
for file in orvik_service.exe orvikctl.exe uninstall.exe; do
    [ -f "$folder/$file" ] || fail "$file not installed"
done
[ -d "$folder/runtime" ] && [ -z "$(ls -A "$folder/runtime")" ] || fail "no empty runtime folder"
wine "$folder/orvikctl.exe" --help </dev/null | grep -q 'usage: orvikctl' || fail "the installed orvikctl does not run"
if [ -n "$client" ] && [ -f "$client" ]; then
    [ -f "$folder/Orvik.exe" ] || fail "the client is not installed"
    shortcut="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Velora.lnk"
    [ -f "$shortcut" ] || fail "no Start-menu shortcut"
    grep -aq 'Orvik\.exe' "$shortcut" || fail "the shortcut does not open the client"
else
    echo "note: no Windows client build, the installer carries none"
fi

# "_?=" must reach the uninstaller unquoted, as Windows tools pass it, so that it runs in place
# and is waited for; wine would quote an argument with spaces, a batch file does not.
printf '"%s\\uninstall.exe" /S _?=%s\r\nexit %%ERRORLEVEL%%\r\n' "$location" "$location" >"$scratch/uninstall.bat"
wine cmd /c "$(winepath -w "$scratch/uninstall.bat")" >/dev/null || fail "the uninstaller failed"
! wine reg query "$key" >/dev/null 2>&1 || fail "the Add/Remove Programs entry is left"
! wine sc query OrvikService >/dev/null 2>&1 || fail "the service is still registered"

# Run in place, the uninstaller cannot delete its own file (nor so its folder); the caller
# does. Nothing else of the installation may be left.
inside=./${folder#"$drive"/}
expected=$(printf '%s\n%s/uninstall.exe' "$inside" "$inside")
left=$(comm -13 <(echo "$before") <(snapshot))
[ "$left" = "$expected" ] || fail "left after uninstalling: $left"
echo "installed, checked and uninstalled $installer"
