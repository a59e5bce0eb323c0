#!/bin/bash
# The server of rooms behind nginx over HTTPS, with the configuration of
# doc/nginx.md taken from its nginx block: its ports, certificate and game
# address swapped for this test's own on 127.0.0.1 (a self-signed
# certificate), run by a private nginx with its pid file, logs and temporary
# files in the test's scratch folder. nginx reaches the game from 127.0.0.3,
# the proxy the server is told to trust, so that the server names a browser
# by the address nginx forwards, 127.0.0.1, only by believing it.
#   - plain HTTP is sent on to HTTPS; /rooms.json answers over HTTPS, with
#     HSTS;
#   - a terminal (a tmux pane) opens room duel; headless Chromium opens
#     https://.../r/duel and takes pilot 2's seat: the terminal says pilot 2
#     is here, the server logs 127.0.0.1 joining as pilot 2, and the
#     browser's picture shows the title.
# nginx and the server are stopped however the test ends.
# Usage: nginx_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux,
# nginx, openssl, curl, Chromium, its driver or Selenium.

set -u

binary=${1:?usage: nginx_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac
doc=$(cd "$(dirname "$0")/../../doc" && pwd)/nginx.md
nginx=$(PATH="$PATH:/usr/sbin:/sbin" command -v nginx)
for program in "${nginx:-nginx}" openssl curl chromium chromedriver /usr/bin/python3; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "$program is not installed: skipping the nginx test"
    exit 77
  fi
done
if ! /usr/bin/python3 -c 'import selenium' 2>/dev/null; then
  echo "Selenium is not installed: skipping the nginx test"
  exit 77
fi

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-nginx "the nginx test"
export LC_ALL=C.UTF-8
pane_rows=26
proxy_address=127.0.0.3

stop_all() {
  if [ -n "${browser_pid:-}" ]; then
    # Let the browser quit by itself before it is stopped.
    touch "$work/done"
    for _ in 1 2 3 4 5 6 7 8 9 10; do gone "$browser_pid" && break; sleep 0.5; done
    kill "$browser_pid" 2>/dev/null && wait "$browser_pid" 2>/dev/null
  fi
  [ -n "${nginx_pid:-}" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  tmux_harness_cleanup
}
trap stop_all EXIT

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
game_port=$(free_port)
https_port=$(free_port)
http_port=$(free_port)
origin="https://127.0.0.1:$https_port"

# --- nginx ------------------------------------------------------------------------
scenario=nginx
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" || {
  cat "$work/openssl.log"
  exit 1
}
mkdir -p "$work/www" "$work/nginx-temp"
sed -n '/^```nginx$/,/^```$/{/^```/d;p}' "$doc" |
  sed -e "s/listen 80;/listen 127.0.0.1:$http_port;/" \
    -e "s/listen 443 ssl;/listen 127.0.0.1:$https_port ssl;/" \
    -e '/listen \[::\]/d' \
    -e "s#/etc/letsencrypt/live/[^;]*/fullchain.pem#$work/cert.pem#" \
    -e "s#/etc/letsencrypt/live/[^;]*/privkey.pem#$work/key.pem#" \
    -e "s#root /var/www/html;#root $work/www;#" \
    -e "s#proxy_pass http://127.0.0.1:5151;#& proxy_bind $proxy_address;#" \
    -e "s#127.0.0.1:5151#127.0.0.1:$game_port#" >"$work/site.conf"
grep -q 'proxy_pass' "$work/site.conf" || fail "doc/nginx.md has no nginx block to test"
grep -n -e 5151 -e letsencrypt -e 'listen [^1]' "$work/site.conf" &&
  fail "doc/nginx.md's configuration changed beyond what this test rewrites"
{
  # Workers started by root would otherwise be nobody, shut out of $work.
  [ "$(id -u)" = 0 ] && echo "user root;"
  cat <<CONFIG
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 64; }
http {
  access_log $work/nginx-access.log;
  client_body_temp_path $work/nginx-temp/body;
  proxy_temp_path $work/nginx-temp/proxy;
  fastcgi_temp_path $work/nginx-temp/fastcgi;
  uwsgi_temp_path $work/nginx-temp/uwsgi;
  scgi_temp_path $work/nginx-temp/scgi;
CONFIG
  sed 's/^/  /' "$work/site.conf"
  echo "}"
} >"$work/nginx.conf"
"$nginx" -e "$work/nginx-error.log" -p "$work" -c "$work/nginx.conf" -g 'daemon off;' \
  2>>"$work/nginx-error.log" &
nginx_pid=$!

# --- The server -------------------------------------------------------------------
"$binary" --serve "127.0.0.1:$game_port" --trust-proxy "$proxy_address" --web-origin "$origin" \
  2>"$work/server.log" &
server_pid=$!
serving() { grep -q "serving on" "$work/server.log"; }
until_true "the server did not start" serving || {
  cat "$work/server.log"
  exit 1
}
answers() { curl -sk --max-time 2 -o /dev/null "$origin/rooms.json"; }
until_true "nginx did not answer over HTTPS" answers || {
  cat "$work/nginx-error.log"
  exit 1
}

began=$(date +%s%N)

# --- Through HTTPS ----------------------------------------------------------------
scenario=https
rooms=$(curl -sk --max-time 5 -D "$work/headers" "$origin/rooms.json")
echo "$rooms" | grep -q '^\[.*\]$' || fail "/rooms.json over HTTPS gave: $rooms"
grep -qi '^Strict-Transport-Security: max-age=' "$work/headers" ||
  fail "no HSTS over HTTPS: $(cat "$work/headers")"
redirect=$(curl -s --max-time 5 -o /dev/null -w '%{http_code} %{redirect_url}' \
  "http://127.0.0.1:$http_port/r/duel")
[ "$redirect" = "301 https://127.0.0.1/r/duel" ] ||
  fail "plain HTTP was not sent to HTTPS: $redirect"

# --- A browser takes pilot 2's seat ----------------------------------------------------
start_game host --join "127.0.0.1:$game_port" --new-room duel
hosting() { status_row | grep -q "^Room duel - you host, no pilot 2 yet"; }
until_true "the terminal did not open room duel" hosting

scenario=browser
/usr/bin/python3 - "$origin/r/duel" "$work" >"$work/browser.out" 2>&1 <<'BROWSER' &
import os, shutil, sys, time
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

url, work = sys.argv[1], sys.argv[2]
options = Options()
for argument in ("--headless=new", "--no-sandbox", "--ignore-certificate-errors",
                 "--window-size=1280,800", f"--user-data-dir={work}/chromium"):
    options.add_argument(argument)
browser = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
try:
    browser.get(url)
    lines, deadline = None, time.monotonic() + 20
    while time.monotonic() < deadline and not os.path.exists(f"{work}/done"):
        lines = browser.execute_script(
            "return window.skyrazorScreenText ? window.skyrazorScreenText() : null")
        if lines and "Skyrazor" in "\n".join(lines):
            print("the title is shown", flush=True)
            break
        time.sleep(0.1)
    else:
        print("the browser's picture:\n" + "\n".join(lines or []), flush=True)
    # Seated until the test has seen what it needs.
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and not os.path.exists(f"{work}/done"):
        time.sleep(0.1)
finally:
    browser.quit()
BROWSER
browser_pid=$!
shown() { grep -q "the title is shown" "$work/browser.out"; }
until_true "the browser did not show the title" shown || sed 's/^/    | /' "$work/browser.out"
scenario=host
seated() { status_row | grep -q "^Room duel - you host, pilot 2 here"; }
until_true "the terminal did not see pilot 2 arrive" seated
logged() { grep -q "room duel: 127.0.0.1 joined as pilot 2" "$work/server.log"; }
until_true "the server did not log the forwarded address joining as pilot 2" logged
touch "$work/done"
wait "$browser_pid"
browser_pid=

echo "ran for $(elapsed_ms "$began") ms"
if [ $failures -ne 0 ]; then
  echo "$failures failure(s); the server said:"
  sed 's/^/    | /' "$work/server.log"
  echo "nginx said:"
  sed 's/^/    | /' "$work/nginx-error.log"
  exit 1
fi
echo "the game behind nginx passed"
