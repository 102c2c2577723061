#!/usr/bin/env bash
# Installs the Debian package on this machine, checks what it put where, purges it and checks
# that nothing of it is left. Root only: it changes the machine's package database. The
# package never stays installed, whatever fails.
#   deb_install_test.sh PACKAGE.deb UNIT_FILE_PROGRAM
set -euo pipefail
deb=$1
unit_file=$2
[ "$(id -u)" = 0 ] || { echo "package tests need root (dpkg); skipped"; exit 77; }
[ -f "$deb" ] || { echo "no $deb: build it with scripts/package" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

package=$(dpkg-deb -f "$deb" Package)
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    fail "$package is installed on this machine already; the test leaves it alone"
fi
unit=$("$unit_file" --name)
# What the package and its scripts may leave: its own paths and the unit's links and state.
contents=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^$')
new_paths=$(while read -r path; do [ -e "$path" ] || [ -L "$path" ] || echo "$path"; done <<<"$contents")
unit_traces() { find /etc/systemd /var/lib/systemd -name "$unit" 2>/dev/null | sort; }
traces_before=$(unit_traces)

trap 'dpkg --purge "$package" >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb"

# The programs in one folder, which only root can change (the service's rule for what it runs),
# reached from the PATH; the runtime directory holds no tools, only the users' state folder.
client=$(readlink -f /usr/bin/orvik)
home=${client%/*}
[ -x "$client" ] && [ -x "$(readlink -f /usr/bin/orvikctl)" ] || fail "the PATH's links lead nowhere"
[ -x "$home/orvik_service" ] || fail "no service beside the client in $home"
[ -z "$(find "$home" ! -user root -o -perm /022 ! -path "$home/runtime/state")" ] ||
    fail "$home holds what others than root can change"
[ "$(stat -c '%U %a' "$home/runtime" "$home/runtime/state")" = $'root 755\nroot 1733' ] ||
    fail "runtime directory or its state folder has the wrong owner or mode"
[ -z "$(find "$home/runtime" -mindepth 1 ! -path "$home/runtime/state")" ] || fail "the runtime directory is not empty"
env -i PATH=/usr/bin:/bin orvikctl --help | grep -q '^usage: orvikctl' || fail "orvikctl --help"

# The unit is the one "orvik_service --install" would write, and it is enabled.
cmp <("$unit_file" "$home/orvik_service" "$home/runtime") "/lib/systemd/system/$unit" || fail "unit text differs"
[ "$(readlink "/etc/systemd/system/multi-user.target.wants/$unit")" = "/lib/systemd/system/$unit" ] ||
    fail "the unit is not enabled"

# The menu entry starts the client and finds its icon; the password prompt names the service
# the client runs.
desktop=$(grep '^/usr/share/applications/.*\.desktop$' <<<"$contents")
desktop-file-validate "$desktop"
[ "$(readlink -f "$(env -i PATH=/usr/bin:/bin sh -c "command -v $(sed -n 's/^Exec=//p' "$desktop")")")" = "$client" ] ||
    fail "the desktop entry does not start the client"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] && [ -f "/usr/share/icons/hicolor/48x48/apps/$icon.png" ] ||
    fail "no icon $icon"
policy=$(grep '^/usr/share/polkit-1/actions/.*\.policy$' <<<"$contents")
[ "$(sed -n 's|.*"org.freedesktop.policykit.exec.path">\([^<]*\)<.*|\1|p' "$policy")" = "$home/orvik_service" ] ||
    fail "the polkit action does not name $home/orvik_service"
! grep -q auth_admin_keep "$policy" || fail "the polkit action keeps an authorisation for later starts"

# What use leaves behind, which a purge removes too: a user's sign-in and the service's log.
install -d -m 0700 -o nobody "$home/runtime/state/65534"
touch "$home/runtime/state/65534/session.json" "$home/runtime/orvik-service.log" "$home/runtime/orvik-service.log.1"

# A kill switch's block left standing goes with the package: the removal runs in a network
# namespace of the test's own, where the service's table stands in for one.
netns=orvik-package-$$
ip netns add "$netns"
trap 'ip netns delete "$netns" 2>/dev/null || true; dpkg --purge "$package" >/dev/null 2>&1 || true' EXIT
ip netns exec "$netns" nft add table inet orvik
ip netns exec "$netns" dpkg --purge "$package"
! ip netns exec "$netns" nft list table inet orvik >/dev/null 2>&1 || fail "the firewall's table outlived the package"
ip netns delete "$netns"
trap - EXIT
left=$(while read -r path; do
    if [ -n "$path" ] && { [ -e "$path" ] || [ -L "$path" ]; }; then echo "$path"; fi
done <<<"$new_paths")
[ -z "$left" ] || fail "left after purge: $left"
[ "$(unit_traces)" = "$traces_before" ] || fail "unit links or state left after purge: $(unit_traces)"
echo "installed, checked and purged $deb"
