#!/usr/bin/env bash
# The package check must leave a tavrold package installed on the machine,
# and the administrator's options of its service, as they were. This
# installs a stand-in for such a package (named tavrold, version
# 0.0.1~stand-in, holding only /etc/default/tavrold-publish as a conffile),
# changes that file as an administrator would, and runs the package check
# (install, start and purge of the package built, without lintian and the
# validators), once as it runs and once made to install on the machine
# itself, where it must refuse. Then the stand-in must still be installed,
# in its version, and the file hold the administrator's text. The stand-in
# is purged at the end.
#
# A machine where dpkg knows a tavrold package already is left alone: the
# check is skipped (exit status 77), as it is without root.
#
# Usage: check-package-keeps-installed.sh [build-folder]
#   (the package check's; without one it builds build-package/ first)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    exit 1
}
state() {
    dpkg-query -W -f='${Version} ${db:Status-Status}' tavrold 2>/dev/null || echo not-installed
}

[ "$(id -u)" -eq 0 ] || skip "not root: the stand-in package cannot be installed."
# Checks that install on the machine take turns with this one.
exec 9>/tmp/tavrold-check-package.lock
flock -w 900 9 || fail "another package check holds the lock"
before=$(state)
case $before in
*not-installed) ;;
*) skip "this machine has a tavrold package ($before); it is not replaced by a stand-in." ;;
esac

stand_in=0.0.1~stand-in
defaults=/etc/default/tavrold-publish
work=$(mktemp -d)
installed=0
clean_up() {
    if [ $installed -eq 1 ] && [ "$(state)" = "$stand_in installed" ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=300 tavrold \
            >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap clean_up EXIT

# --- The stand-in, installed and configured -------------------------------------
mkdir -p "$work/pkg/DEBIAN" "$work/pkg/etc/default"
cat >"$work/pkg/DEBIAN/control" <<EOF
Package: tavrold
Version: $stand_in
Architecture: all
Maintainer: Tavrolinde developers <tavrold@example.org>
Section: hamradio
Priority: optional
Description: stand-in for an installed tavrold package
 Made by check-package-keeps-installed.sh, and purged by it.
EOF
echo "$defaults" >"$work/pkg/DEBIAN/conffiles"
printf '# Options of tavrold-publish.service (the stand-in)\n' >"$work/pkg$defaults"
dpkg-deb --root-owner-group --build "$work/pkg" "$work/stand-in.deb" >/dev/null
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 \
    "$work/stand-in.deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "installing the stand-in"; }
echo 'TAVROLD_PUBLISH_OPTIONS="--broker mqtt://shack.example --id bench"' >>"$defaults"
cp "$defaults" "$work/admin"
conffiles=$(dpkg-query -W -f='${Conffiles}' tavrold)
echo "ok: stand-in $stand_in installed, $defaults changed as an administrator would"

# --- The package check, twice ------------------------------------------------------
status=0
bash "$top/scripts/check-package.sh" --installed-only "$@" || status=$?
[ $status -eq 0 ] || [ $status -eq 77 ] || fail "the package check failed (exit status $status)"
status=0
TAVROLD_PACKAGE_CHECK_ON_MACHINE=1 bash "$top/scripts/check-package.sh" --installed-only "$@" |
    tee "$work/on-machine.log" || status=$?
[ $status -eq 77 ] || fail "made to install on the machine, the package check did not refuse" \
    "(exit status $status)"
grep -q "^SKIPPED: .*tavrold package (installed)" "$work/on-machine.log" ||
    fail "the refusal does not say why"

# --- What the check left ------------------------------------------------------------
[ "$(state)" = "$stand_in installed" ] || fail "after the package check, dpkg knows: $(state)"
cmp -s "$defaults" "$work/admin" || fail "$defaults lost the administrator's text"
[ "$(dpkg-query -W -f='${Conffiles}' tavrold)" = "$conffiles" ] ||
    fail "dpkg's record of the stand-in's conffile changed"
echo "ok: the stand-in is still installed, in its version, and $defaults as the administrator left it"

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=300 tavrold \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "purging the stand-in"; }
installed=0
case $(state) in
*not-installed) [ ! -e "$defaults" ] || fail "the stand-in's purge left $defaults" ;;
*) fail "after the stand-in's purge, dpkg knows: $(state)" ;;
esac
echo "ok: the stand-in purged"
