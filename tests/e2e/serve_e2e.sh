#!/bin/bash
# harborlight-serve seen from outside: started in a fresh directory, driven
# by curl and by a raw client, checked byte for byte, then stopped by signal;
# then started where a virtual adapter comes first, to see which address it
# takes.
# Usage: tests/e2e/serve_e2e.sh [--wine] BUILD/harborlight-serve[.exe]
#        (inside tools/netns-run.sh; --wine runs the Windows build under Wine)
set -u
# shellcheck source=tests/e2e/e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"
wine=""
if [ "${1:-}" = --wine ]; then
  wine=1
  shift
fi
e2e_require_netns serve_e2e
serve_path=$(realpath "$1")
host=10.231.0.1
port=18080
# A zone away from UTC: the log's day and hour must be Tokyo's (the C runtime
# of Windows would read this TZ as UTC). Both ends of the run are read in the
# C locale, as the log writes them: under Wine the locale turns Japanese.
export TZ=Asia/Tokyo
log_hour_first=$(LC_ALL=C date '+%a %b %d %H')
log_day_first=$(LC_ALL=C date +%Y%-m%-d)

# Under Wine: the build's prefix, a Japanese locale, and a wineserver of this
# namespace (it makes the sockets). Wine turns SIGINT into Ctrl-C; it has no
# SIGTERM of Windows' own.
stop_signal=TERM
start_wait=50
if [ -n "$wine" ]; then
  root=$(cd "$(dirname "$0")/../.." && pwd)
  e2e_wine_prefix "${WINEPREFIX:-$root/build/wineprefix}"
  stop_signal=INT
  start_wait=300
fi
serve() {
  if [ -n "$wine" ]; then wine "$serve_path" "$@"; else "$serve_path" "$@"; fi
}

e2e_workdir e2e

# same NAME FILE-A FILE-B: byte-exact comparison
same() { if cmp -s "$2" "$3"; then pass "$1"; else fail "$1"; cmp "$2" "$3" | head -3 >&2; fi; }

# Sends stdin as one request, ends our side, prints all the server sends.
raw() {
  python3 -c '
import socket, sys
s = socket.create_connection((sys.argv[1], int(sys.argv[2])), timeout=15)
s.sendall(sys.stdin.buffer.read())
s.shutdown(socket.SHUT_WR)
out = b""
while True:
    got = s.recv(65536)
    if not got:
        break
    out += got
sys.stdout.buffer.write(out)' "$host" "${1:-$port}"
}

# Starts harborlight-serve with ARGS in the background and waits for its URL
# ($url, by default http://$host:$port/). in_netns, when set, names the
# command that starts it in another network namespace.
in_netns=()
start_serve() {
  local url=${url:-http://$host:$port/}
  # Started directly, not through serve(): $! must be the server itself.
  if [ -n "$wine" ]; then
    "${in_netns[@]}" wine "$serve_path" "$@" > serve.out 2> serve.err &
  else
    "${in_netns[@]}" "$serve_path" "$@" > serve.out 2> serve.err &
  fi
  app_pid=$!
  for _ in $(seq 1 "$start_wait"); do
    grep -qF "$url" serve.out 2>/dev/null && return 0
    sleep 0.1
  done
  fail "harborlight-serve did not print $url"; cat serve.out serve.err >&2
  return 1
}
stop_serve() {
  kill -"$stop_signal" "$app_pid" 2>/dev/null
  wait "$app_pid"
  app_pid=
}

# The texts the server answers with.
printf 'HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: 78\n\n<HTML><HEAD><TITLE>\x83\x47\x83\x89\x81\x5b</TITLE></HEAD><BODY><H1>Not found</H1></BODY></HTML>' > expected.notfound
printf 'HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: 279\n\n' > expected.rootheader

# --- options --------------------------------------------------------------
serve --help > help.out 2>&1; status=$?
if [ $status = 0 ] && grep -q -- "--port N" help.out && grep -q -- "--log" help.out; then pass "--help"; else fail "--help ($status)"; fi
serve --port 65535 --help > /dev/null 2>&1 && pass "--port 65535" || fail "--port 65535 refused"
for bad in --bogus "--port 70000" "--port x" "--port" "--port=" "--port=x"; do
  # shellcheck disable=SC2086
  serve $bad > bad.out 2>&1; status=$?
  if [ $status = 2 ] && grep -q "Usage" bad.out; then pass "bad option $bad"; else fail "bad option $bad gave $status"; fi
done
grep -q "65535: x" bad.out && pass "--port=x names x" || fail "--port=x: $(head -1 bad.out)"
# Without --port: port 80, which root may bind and another user may not.
url="http://$host/" start_serve && pass "port 80 without --port"
stop_serve
if [ -z "$wine" ]; then
  timeout 10 setpriv --reuid=65534 --regid=65534 --clear-groups "$serve_path" > user.out 2> user.err; status=$?
  [ $status = 1 ] && grep -q "need root" user.err && pass "port 80 as another user: needs root" \
    || fail "port 80 as another user gave $status: $(cat user.err)"
fi

# No address at all (a namespace with nothing up and a hosts file without
# this host's name): no start, exit 1 with the reason. Under Wine the
# wineserver, which makes the sockets, runs in that namespace and ends there.
printf '127.0.0.1 localhost\n' > hosts.none
[ -n "$wine" ] && wineserver -k >/dev/null 2>&1
unshare --net --mount --propagation private sh -c 'umount /etc/hosts 2>/dev/null; mount --bind hosts.none /etc/hosts
  timeout 60 "$@" > none.out 2> none.err; status=$?; wineserver -k >/dev/null 2>&1; exit $status' \
  no-address $([ -n "$wine" ] && echo wine) "$serve_path" --port "$port"; status=$?
[ $status = 1 ] && grep -q "no IPv4 address" none.err && ! grep -q http none.out \
  && pass "no address: exit 1 with reason" || fail "no address gave $status: $(cat none.out none.err)"
# Only loopback up (a PC offline): served on 127.0.0.1. Natively only: the
# Windows build takes what the lookup of the host's name says, and Wine's
# then comes from the hosts file here.
if [ -z "$wine" ]; then
  lo_netns=hl-lo-$$
  ip netns add "$lo_netns"
  ip netns exec "$lo_netns" ip link set lo up
  in_netns=(ip netns exec "$lo_netns")
  host=127.0.0.1 start_serve --port "$port" && pass "only loopback up: served on 127.0.0.1"
  stop_serve
  in_netns=()
  ip netns delete "$lo_netns"
fi

# --- serving ----------------------------------------------------------------
start_serve --port="$port" --log --qr || exit 1
grep -qF "Logging is on (LOG/)" serve.out && pass "logging on is said" || fail "logging: $(cat serve.out)"
tr -d '\r' <serve.out | grep -qx "No QR code: standard output is not a $([ -n "$wine" ] && echo console || echo terminal)." &&
  pass "--qr into a file: one line says why" || fail "--qr into a file: $(cat serve.out)"
# In a terminal a decoder reads the URL off the terminal's cells alone, on a
# dark scheme (tests/e2e/terminal_qr.py), and 4 light modules lie around the
# code, which a phone needs where zbar does not: half blocks in 80 x 24, here
# in RGB; blank pairs where an East Asian locale would draw half blocks wide;
# and none where the code and a column to spare do not fit (the URL below,
# version 2, is 25 + 8 modules wide), with one line saying so. The bytes of a
# light module are checked too.
if [ -z "$wine" ]; then
  while read -r lang colorterm columns lines qr_port drawing module; do
    qr_url="http://$host$([ "$qr_port" = 80 ] || echo ":$qr_port")/" drawing=${drawing//_/ }
    [ "$colorterm" = - ] && colorterm=
    LANG=$lang COLORTERM=$colorterm COLUMNS=$columns LINES=$lines \
      e2e_python "$e2e_dir/terminal_qr.py" qr "$serve_path" --port "$qr_port" --qr > qr.out
    qr_read=$(zbarimg -q --raw qr.pgm 2>/dev/null)
    terminal="--qr in a $lang terminal of $columns x $lines${colorterm:+, COLORTERM=$colorterm}"
    if [ "$drawing" = none ]; then
      [ -z "$qr_read" ] && grep -qx "No QR code: the terminal has 33 columns and the code needs 34." qr.out &&
        pass "$terminal: no code, one line says why" || fail "$terminal: read '$qr_read', said $(cat qr.out)"
      continue
    fi
    [ "$qr_read" = "$qr_url" ] && grep -qx "drawing: $drawing" qr.out && grep -qx "quiet zone: 4 modules" qr.out &&
      pass "$terminal: $drawing, read $qr_read" || fail "$terminal: read '$qr_read', $(head -2 qr.out)"
    # shellcheck disable=SC2059
    grep -qF "$(printf "$module")" qr.raw && pass "$terminal: a light module's bytes" ||
      fail "$terminal: no light module written as $module"
  done <<'EOF'
C.UTF-8 truecolor 80 24 18081 half_blocks \e[38;2;0;0;0m\e[48;2;255;255;255m\x20
ja_JP.UTF-8 - 100 50 80 blank_pairs \e[30;107m\x20\x20
C.UTF-8 - 33 24 18081 none -
EOF
else
  # The console's code page stays the user's: a change would outlive the
  # program, and a killed one could not put it back.
  x86_64-w64-mingw32-objdump -p "$serve_path" | grep -qw SetConsoleOutputCP &&
    fail "harborlight-serve.exe imports SetConsoleOutputCP" || pass "the console's code page is left alone"
  # Wine's console in a terminal: its window is the terminal, and it takes
  # escape sequences as Windows 10 does but shows them as text, so that what
  # the program writes for a module can be read off. A window exactly as wide
  # as the code refuses it (version 2 again: 33 modules, 66 columns).
  while read -r columns said; do
    COLUMNS=$columns LINES=40 e2e_python "$e2e_dir/terminal_qr.py" qr wine "$serve_path" --port 18081 --qr > qr.out
    if [ "$said" = code ]; then
      written=$(sed 's/\x1b\[?25[hl]//g' qr.raw)
      for module in '\e[48;2;255;255;255m' '\e[48;2;0;0;0m' '\e[0m'; do
        grep -qF "$(printf "$module")" <<<"$written" && pass "--qr in Wine's console of $columns columns: $module written" ||
          fail "--qr in Wine's console of $columns columns: no $module written"
      done
    else
      grep -qx "$said" qr.out && pass "--qr in Wine's console of $columns columns: one line says why" ||
        fail "--qr in Wine's console of $columns columns: said $(cat qr.out)"
    fi
  done <<'EOF'
66 No QR code: the console has 66 columns and the code needs 67.
100 code
EOF
fi

printf 'GET / HTTP/1.1\r\nHost: %s\r\nUser-Agent: raw\r\n\r\n' "$host" | raw > root.answer
head -c 61 root.answer > root.header
tail -c +62 root.answer > root.body
same "root answer header" root.header expected.rootheader
same "root answer body is DATA/index.html" root.body DATA/index.html
[ "$(stat -c %s root.answer)" = 340 ] && pass "root answer is 340 bytes" || fail "root answer size $(stat -c %s root.answer)"
[ "$(stat -c %s DATA/index.html)" = 279 ] && pass "test page is 279 bytes" || fail "test page size"
[ "$(grep -c $'\r$' DATA/index.html)" = 11 ] && pass "test page has 11 CR LF lines" || fail "test page line ends"

curl -s --max-time 10 "http://$host:$port/" -o curl.root && same "curl gets the test page" curl.root DATA/index.html

printf 'GET /missing.txt HTTP/1.0\r\n\r\n' | raw > missing.answer
same "not found is 138 exact bytes" missing.answer expected.notfound

head -c 3000 /dev/urandom > DATA/photo.JPG
curl -s --max-time 10 -D photo.headers "http://$host:$port/photo.JPG" -o photo.body
same "a 3000-byte image arrives whole" photo.body DATA/photo.JPG
grep -q '^Content-Type: image/jpeg$' photo.headers && grep -q '^Content-Length: 3000$' photo.headers \
  && pass "image headers" || fail "image headers: $(cat photo.headers)"

printf 'HEAD / HTTP/1.0\r\n\r\n' | raw > head.answer
[ ! -s head.answer ] && pass "HEAD gets nothing" || fail "HEAD got an answer"
# A request that would colour and clear the terminal it is printed on.
printf 'GET /\x1b[31m\x1b[2J\xe5\x86\x99 HTTP/1.0\r\n\r\n' | raw > escape.answer

# Hostile paths: all refused alike, nothing outside DATA reaches the client.
echo secret > secret.txt
for path in ../secret.txt nope/../../secret.txt '..\secret.txt' 'C:secret.txt' AUX com1.txt 'aux .txt' CONIN\$ 'NUL.txt' 'sub/..' ...; do
  printf 'GET /%s HTTP/1.0\r\n\r\n' "$path" | raw > hostile.answer
  cmp -s hostile.answer expected.notfound && pass "hostile path $path" || fail "hostile path $path"
done
curl -s --max-time 10 --path-as-is "http://$host:$port/../secret.txt" -o curl.hostile
same "curl --path-as-is ../ is refused" curl.hostile <(tail -c 78 expected.notfound)

# An empty client ends only its own connection.
python3 -c 'import socket, sys; socket.create_connection((sys.argv[1], int(sys.argv[2]))).close()' "$host" "$port"
printf 'GET /missing.txt HTTP/1.0\r\n\r\n' | timeout 5 bash -c "$(declare -f raw); host=$host port=$port raw" > after-empty.answer
same "served after an empty client" after-empty.answer expected.notfound

# Large cookies: the whole answer arrives, no reset.
{ printf 'GET / HTTP/1.1\r\nCookie: '; head -c 6144 /dev/zero | tr '\0' c; printf '\r\n\r\n'; } | raw > cookie.answer
same "6 KiB request gets the whole answer" cookie.answer root.answer

# The access log: one line per HTML page (three roots above), in the day's
# file, or in two when Tokyo's midnight fell during the run.
log_hour_last=$(LC_ALL=C date '+%a %b %d %H')
log_day_last=$(LC_ALL=C date +%Y%-m%-d)
log=LOG/HarborlightLog_$log_day_last.log
for day in $(echo "$log_day_first" "$log_day_last" | tr ' ' '\n' | uniq); do
  cat "LOG/HarborlightLog_$day.log"
done > log.out 2>/dev/null
if [ -s log.out ]; then
  lines=$(grep -c . log.out)
  bad=$(LC_ALL=C grep -cv $'^10\\.231\\.0\\.1 \x81\x46 [A-Z][a-z][a-z] [A-Z][a-z][a-z] [0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9] 20[0-9][0-9]\r$' log.out)
  [ "$lines" = 3 ] && [ "$bad" = 0 ] && pass "log has 3 well-formed lines" || fail "log: $lines lines, $bad malformed"
  other=$(cut -d' ' -f3-6 log.out | LC_ALL=C grep -cv -e "^$log_hour_first" -e "^$log_hour_last")
  [ "$other" = 0 ] && pass "log lines in Tokyo's local time" ||
    fail "log: $other lines not at $log_hour_first or $log_hour_last (TZ=$TZ)"
else
  fail "no log file $log"; ls -R LOG >&2
fi

# A second server on the same port fails, naming the first by its program
# and process (Wine tells no listener's process: "another program").
serve --port "$port" > second.out 2> second.err; status=$?
holder="[(, ]process $app_pid)"
[ -n "$wine" ] && holder="another program"
[ $status = 1 ] && grep -q "port $port is held by .*$holder.*: choose another port (--port 8080)" second.err \
  && pass "port taken: exit 1 naming the holder" || fail "port taken gave $status: $(cat second.err)"
# Another user may not look into root's process: "another program".
if [ -z "$wine" ]; then
  timeout 10 setpriv --reuid=65534 --regid=65534 --clear-groups "$serve_path" --port "$port" > user.out 2> user.err
  grep -q "port $port is held by another program" user.err && pass "port taken, holder not this user's: another program" \
    || fail "port taken as another user: $(cat user.err)"
fi

# SIGTERM (Ctrl-C under Wine) stops the server: exit 0, port closed.
kill -"$stop_signal" "$app_pid"
for _ in $(seq 1 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
wait "$app_pid"; status=$?
app_pid=
[ $status = 0 ] && grep -q Stopped serve.out && pass "SIG$stop_signal: exit 0" || fail "SIG$stop_signal gave $status"
# A line for each request, as it ended; of a request's bytes none as it came.
time_re='[0-2][0-9]:[0-5][0-9]:[0-5][0-9] 10\.231\.0\.1'
for line in "GET / test page, 279 bytes" "GET /missing.txt not found" \
    "GET /photo.JPG sent 3000 bytes in [0-9]+\.[0-9][0-9] s" "HEAD / not GET" \
    'GET /\.\.\\\\secret\.txt not found' 'GET /\\x1B\[31m\\x1B\[2J\\xE5\\x86\\x99 not found'; do
  grep -qE "^$time_re $line"$'\r?$' serve.out && pass "request line: $line" || fail "no request line: $line"
done
# One kind of line end, the system's: CR LF on Windows, LF alone natively.
other_ends=$(LC_ALL=C grep -c ${wine:+-v} $'\r$' serve.out)
[ "$other_ends" = 0 ] && [ -z "$(tail -c 1 serve.out)" ] && pass "every line of the output ends alike" ||
  fail "lines of the output ending otherwise: $other_ends"
LC_ALL=C grep -q $'\x1b' serve.out && fail "an escape reached the output" || pass "no escape in the output"
printf 'GET / HTTP/1.0\r\n\r\n' | raw > /dev/null 2>&1 && fail "port still open after stop" || pass "port closed after stop"

# Nothing else lies in the working directory.
extra=$(ls -A | grep -v -e '^DATA$' -e '^LOG$' -e '\.out$' -e '\.err$' -e '\.answer$' -e '\.header$' \
  -e '\.body$' -e '^expected\.' -e '^curl\.' -e '^photo\.' -e '^hosts\.none$' -e '^none\.' -e '^root\.' -e '^secret\.txt$' -e '\.headers$' -e '\.pgm$' -e '\.raw$')
[ -z "$extra" ] && pass "no stray files" || fail "stray files: $extra"

# --- a storm of clients ---------------------------------------------------------
# Every kind of client at once for 12 s (tests/e2e/storm.py): every answer
# read to its end is exact, and no request that came is lost.
mkdir "$work/storm" && cd "$work/storm" || exit 1
if start_serve --port "$port"; then
  e2e_python "$e2e_dir/storm.py" "$host" "$port" DATA 12 24 "$(date +%s)" > storm.out; status=$?
  sed 's/^/  /' storm.out
  [ $status = 0 ] && pass "storm: every answer exact, none lost" || fail "storm gave $status"
  stop_serve
fi
cd "$work" || exit 1

# --- the first seconds ------------------------------------------------------------
# Requests made from the moment the port answers, while the firewall's
# reading is awaited, more than the engine's record keeps: each gets its
# line, and the reading's still follows the banner. Natively ufw's switch is
# a pipe that answers once they are made; Wine answers its firewall at once.
mkdir -p "$work/first/etc/ufw" "$work/first/etc.work" && cd "$work/first" || exit 1
[ -z "$wine" ] && mkfifo etc/ufw/ufw.conf && in_netns=(unshare --mount --propagation private sh -c '
  mount -t overlay overlay -o "lowerdir=/etc,upperdir=$PWD/etc,workdir=$PWD/etc.work" /etc || exit 1
  (for _ in $(seq 1 100); do [ -e release ] && break; sleep 0.05; done; echo ENABLED=yes > /etc/ufw/ufw.conf) &
  exec "$@"' first)
"${in_netns[@]}" ${wine:+wine} "$serve_path" --port "$port" > serve.out 2> serve.err &
app_pid=$!
asked=$(python3 -c '
import socket, sys, time
def ask(n):
    with socket.create_connection((sys.argv[1], int(sys.argv[2])), timeout=10) as s:
        s.sendall(b"GET /first-%d HTTP/1.0\r\n\r\n" % n)
        while s.recv(4096):
            pass
for _ in range(3000):
    try:
        ask(0)
        break
    except ConnectionRefusedError:
        time.sleep(0.01)
end, asked = time.monotonic() + 1.2, 1
while asked < 1200 and time.monotonic() < end:
    ask(asked)
    asked += 1
print(asked)' "$host" "$port")
touch release
stop_serve
lines=$(grep -c " GET /first-[0-9]* not found" serve.out)
[ "$lines" = "${asked:-none}" ] && { [ -n "$wine" ] || [ "$asked" -gt 1000 ]; } && ! grep -q "not shown" serve.out &&
  pass "the first seconds: $asked requests, as many lines" || fail "the first seconds: $lines lines for ${asked:-no} requests"
[ -z "$wine" ] && { sed -n 3p serve.out | grep -q "^The firewall ufw is enabled" && pass "the firewall's line follows the banner" ||
  fail "the firewall's line is not the third: $(head -4 serve.out)"; }
in_netns=()
cd "$work" || exit 1

# --- an output that takes nothing ----------------------------------------------
# Standard output a pipe that nobody reads: serving goes on, the lines left
# out meanwhile are counted once the output moves again, and with the pipe
# full once more Ctrl-C still ends the program within two seconds. The
# output moves again as the program ends, so that the writer goes on while
# the exit runs: a build with ThreadSanitizer reports any object it reaches
# that the exit has destroyed.
mkdir "$work/stalled" && cd "$work/stalled" || exit 1
e2e_python - "$host" "$port" ${wine:+wine} "$serve_path" --port "$port" > stalled.out <<'PYTHON'; status=$?
import os, re, signal, socket, subprocess, sys, threading, time
host, port, command = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
out, into = os.pipe()
server = subprocess.Popen(command, stdout=into, stderr=open("stalled.err", "wb"))
os.close(into)
seen = b""
while b"Ctrl-C" not in seen:
    seen += os.read(out, 4096)
def ask(name):
    with socket.create_connection((host, port), timeout=10) as s:
        s.sendall(b"GET /" + name + b" HTTP/1.0\r\n\r\n")
        while s.recv(65536):
            pass
def stall(count):  # long lines fill the pipe soon
    begun = time.time()
    for i in range(count):
        ask(b"%d-" % i + b"x" * 190)
    return time.time() - begun
print("served 3000 with nobody reading in %.1f s" % stall(3000))
def read():
    global seen
    while b"... " not in seen or not re.search(rb" /moved not found\r?\n", seen):
        got = os.read(out, 65536)
        if not got:
            return
        seen += got
reader = threading.Thread(target=read, daemon=True)
reader.start()
ask(b"moved")
reader.join(20)
moved = not reader.is_alive()
shown = re.findall(rb"\.\.\. (\d+) requests not shown", seen)
print("then shown: %d lines, and %s left out" % (seen.count(b"\n"), shown))
stall(1000)
begun = time.time()
server.send_signal(signal.SIGINT)
time.sleep(0.7)  # past the writer's last chance
while os.read(out, 65536):
    pass
server.wait(10)
took = time.time() - begun
print("stopped with the pipe full in %.2f s, exit %d" % (took, server.returncode))
sys.exit(0 if shown and moved and took < 2 and server.returncode == 0 else 1)
PYTHON
sed 's/^/  /' stalled.out
[ $status = 0 ] && pass "an output that takes nothing holds neither serving nor the stop" ||
  fail "an output that takes nothing"
grep -q ThreadSanitizer stalled.err && { fail "the exit with a stalled output: a thread reached a destroyed object"; cat stalled.err >&2; }
cd "$work" || exit 1

# --- the address the LAN can reach --------------------------------------------
# A namespace whose first adapter is virtual (as WSL's, Hyper-V's or docker0
# are: no gateway, an address no other machine reaches) and whose second
# leaves through the LAN's gateway: the server must take the second. In the
# second arrangement the virtual adapter also has a preferred default route
# without a gateway, so that Wine's lookup of the host's name lists it first,
# as Windows' binding order does on such machines. In the third a route to
# another network leaves the virtual adapter through a gateway (a lab router):
# only a default route's gateway marks the adapter the LAN reaches.
host=10.77.0.5
# Named for this run alone: the name is a file that every namespace sees.
lan_netns=hl-lan-$$
in_netns=(ip netns exec "$lan_netns")
for virtual_route in "" "default dev virt0 metric 50" "192.168.50.0/24 via 172.28.16.254 dev virt0"; do
  arrangement="virtual adapter first${virtual_route:+, with the route $virtual_route}"
  ip netns add "$lan_netns"
  "${in_netns[@]}" sh -e -c '
    ip link set lo up
    ip link add virt0 type veth peer name virt1
    ip addr add 172.28.16.1/20 dev virt0
    ip link add lan0 type veth peer name lan1
    ip addr add 10.77.0.5/24 dev lan0
    for link in virt0 virt1 lan0 lan1; do ip link set "$link" up; done
    [ -z "$1" ] || ip route add $1
    ip route add default via 10.77.0.1 dev lan0 metric 100' - "$virtual_route"
  # The wineserver makes the sockets: the next one must start in there.
  [ -n "$wine" ] && wineserver -k >/dev/null 2>&1 && wineserver -w
  if start_serve --port "$port"; then
    rm -f curl.lan
    "${in_netns[@]}" curl -s --max-time 10 "http://$host:$port/" -o curl.lan
    same "$arrangement: served on the LAN's address" curl.lan DATA/index.html
  fi
  stop_serve
  [ -n "$wine" ] && wineserver -k >/dev/null 2>&1 && wineserver -w
  ip netns delete "$lan_netns"
done

# --- a file read that hangs ----------------------------------------------------
# DATA on a file system whose slow.bin answers no read until a gate opens, as
# a share that stopped answering does: a stop during that read says so within
# two seconds, a second server takes the port meanwhile, and the first ends
# once the read returns. Natively and under Wine, whose read of a file is the
# same blocking read.
host=10.231.0.1
in_netns=()
mkdir -p "$work/hung/DATA" "$work/beside"
cd "$work/hung" || exit 1
# shellcheck disable=SC2046
if cc -O -o gatefs "$e2e_dir/gatefs.c" $(pkg-config --cflags --libs fuse3); then
  ./gatefs "$work/hung/gate" DATA &
  fs_pid=$!
  for _ in $(seq 1 100); do [ -e DATA/slow.bin ] && break; sleep 0.1; done
  if start_serve --port "$port"; then
    python3 -c '
import socket, sys, time
s = socket.create_connection((sys.argv[1], int(sys.argv[2])), timeout=30)
s.sendall(b"GET /slow.bin HTTP/1.0\r\n\r\n")
s.recv(65536)' "$host" "$port" &
    client_pid=$!
    sleep 1  # the server is inside the read
    held_pid=$app_pid
    begun=$(date +%s%N)
    kill -"$stop_signal" "$held_pid"
    for _ in $(seq 1 50); do grep -q Stopped serve.out && break; sleep 0.1; done
    took=$((($(date +%s%N) - begun) / 1000000))
    grep -q Stopped serve.out && [ "$took" -lt 2000 ] && pass "stop with a read held: said so in $took ms" \
      || fail "stop with a read held: nothing said in $took ms"
    cd "$work/beside" || exit 1
    if start_serve --port "$port"; then
      curl -s --max-time 10 "http://$host:$port/" -o curl.beside
      same "a second server takes the port meanwhile" curl.beside DATA/index.html
      kill -"$stop_signal" "$app_pid"; wait "$app_pid"
    fi
    cd "$work/hung" || exit 1
    : > gate
    app_pid=$held_pid
    for _ in $(seq 1 100); do kill -0 "$held_pid" 2>/dev/null || break; sleep 0.1; done
    wait "$held_pid"; status=$?
    app_pid=
    [ $status = 0 ] && pass "the first server ends once the read returns" || fail "the first server gave $status"
    wait "$client_pid"
  fi
  : > gate
  umount -l DATA
  wait "$fs_pid"
else
  fail "gatefs does not build (libfuse3-dev)"
fi
cd "$work" || exit 1

if [ $failures -ne 0 ]; then
  echo "serve_e2e: $failures failure(s)" >&2
  exit 1
fi
echo "serve_e2e: all passed"
