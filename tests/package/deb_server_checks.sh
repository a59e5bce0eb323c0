# Sourced by deb_test.sh once both packages are installed into "$root": what
# skyrazor-server holds and what its maintainer scripts did and would do.
# The socket is enabled (and started, under systemd) on installation; the
# service is started only by the socket, so it is never enabled nor started
# by postinst, and it is stopped before an upgrade, for the next connection
# to start the new one; the ssh door's setup script is the operator's to
# run, never a maintainer script's.

depends=$(dpkg-deb -f "$server_deb" Depends)
case ", $depends," in
  *", skyrazor (>= $version),"*) ;;
  *) fail "skyrazor-server depends on '$depends', not on skyrazor (>= $version)" ;;
esac

unit_dir="$root/lib/systemd/system"
[ -d "$unit_dir" ] || unit_dir="$root/usr/lib/systemd/system"
for unit in skyrazor-server.service skyrazor-server.socket skyrazor-server-ssh.socket; do
  shipped="$source/debian/$unit"
  [ -e "$shipped" ] || shipped="$source/debian/skyrazor-server.$unit"
  cmp -s "$shipped" "$unit_dir/$unit" || fail "$unit is not installed as debian/ has it"
done

defaults="$root/etc/default/skyrazor-server"
cmp -s "$source/debian/skyrazor-server.default" "$defaults" ||
  fail "/etc/default/skyrazor-server is not installed as debian/ has it"
dpkg-query --root="$root" -W -f='${Conffiles}' skyrazor-server | grep -q ' /etc/default/skyrazor-server ' ||
  fail "/etc/default/skyrazor-server is not a conffile"
# As shipped the server takes no options: it serves on the socket alone.
[ -z "$(SKYRAZOR_SERVER_OPTIONS=unset sh -c ". '$defaults' && echo \$SKYRAZOR_SERVER_OPTIONS")" ] ||
  fail "/etc/default/skyrazor-server does not set SKYRAZOR_SERVER_OPTIONS empty"

setup="$root/usr/sbin/skyrazor-server-ssh-setup"
cmp -s "$source/tools/skyrazor-server-ssh-setup" "$setup" && [ -x "$setup" ] ||
  fail "/usr/sbin/skyrazor-server-ssh-setup is not installed as a program"
setup_page="$root/usr/share/man/man8/skyrazor-server-ssh-setup.8.gz"
MANWIDTH=80 man -l "$setup_page" 2>&1 | grep -q "skyrazor-server-ssh-setup - make the ssh door" ||
  fail "man -l does not render usr/share/man/man8/skyrazor-server-ssh-setup.8.gz"

[ -L "$root/etc/systemd/system/sockets.target.wants/skyrazor-server.socket" ] ||
  fail "installing did not enable skyrazor-server.socket"
enabled_service=$(find "$root/etc/systemd" -name skyrazor-server.service -o -name skyrazor-server-ssh.socket 2>/dev/null)
[ -z "$enabled_service" ] || fail "installing enabled the service or the ssh entrance on its own: $enabled_service"

dpkg-deb -e "$server_deb" "$work/control"
for script in preinst postinst prerm postrm; do
  grep -q skyrazor-server-ssh-setup "$work/control/$script" 2>/dev/null &&
    fail "$script names skyrazor-server-ssh-setup"
done
invocations=$(grep 'deb-systemd-invoke' "$work/control/postinst" 2>/dev/null)
echo "$invocations" | grep -q "_dh_action 'skyrazor-server.socket' " ||
  fail "postinst does not start skyrazor-server.socket: $invocations"
echo "$invocations" | grep -q 'skyrazor-server.service' &&
  fail "postinst may start skyrazor-server.service on its own: $invocations"
grep -q "deb-systemd-invoke stop 'skyrazor-server.service'" "$work/control/preinst" 2>/dev/null ||
  fail "preinst does not stop the old server before an upgrade"
