#!/bin/bash
# What snp reads and how it writes, against the real system: a full disk (a
# 64 KiB tmpfs, when the test runs as root) under a symbolic link, a regular
# file, a device node and an HTML report; a folder with an old report; - as
# standard output; devices refused as input, pipes read; the same run merged
# twice.
source "$(dirname "$0")/common.sh"

"$SNP_FIXTURE" small small.snp
"$SNP_FIXTURE" large large.snp 2000

# Runs snp, expecting exit code $1 and standard error $2 exactly.
expect() {
  local code=$1 message=$2 got=0
  shift 2
  "$SNP" "$@" > out.txt 2> err.txt || got=$?
  [ "$got" = "$code" ] || fail "snp $*: exit $got, not $code: $(cat err.txt)"
  [ "$(cat err.txt)" = "$message" ] || fail "snp $*: said '$(cat err.txt)', not '$message'"
}

# Nothing but the named entries in a folder: no temporary file left behind.
only() {
  local folder=$1
  shift
  [ "$(ls -A "$folder" | sort | tr '\n' ' ')" = "$* " ] || fail "$folder holds: $(ls -A "$folder")"
}

if [ "$(id -u)" = 0 ] && mkdir -p full && mount -t tmpfs -o size=64k tmpfs full 2> /dev/null; then
  trap 'umount "$work/full"' EXIT
  "$SNP" html small.snp -o full/report
  cp full/report/index.html index.before
  # The large report does not fit: the old one stays as it was, whole.
  code=0
  "$SNP" html large.snp -o full/report 2> err.txt || code=$?
  [ "$code" = 1 ] || fail "html on a full disk: exit $code"
  grep -q '^snp: full/report: cannot write .*: No space left on device$' err.txt \
    || fail "html on a full disk: $(cat err.txt)"
  cmp -s index.before full/report/index.html || fail "the old report's index changed"
  [ "$(find full/report -name '*.html' | wc -l)" = 9 ] || fail "the old report lost or gained pages"
  only full report

  printf 'old tracefile\n' > full/real.info
  ln -s real.info full/link.info
  mknod full/device c 1 7  # /dev/full: every write fails
  cat /dev/zero > full/filler 2> /dev/null || true
  # Larger than the space the old file's blocks would free if it were cut.
  for target in full/link.info full/real.info full/device; do
    expect 1 "snp: $target: cannot write: No space left on device" lcov large.snp -o $target
  done
  [ -L full/link.info ] || fail "the link was removed"
  [ "$(cat full/real.info)" = "old tracefile" ] || fail "the file was not kept as it was"
  [ -c full/device ] || fail "the device node was removed"
  expect 1 "snp: full/merged.snp: cannot write: No space left on device" \
    merge large.snp -o full/merged.snp
  only full device filler link.info real.info report
  umount full
  trap - EXIT
else
  echo "outputs: no tmpfs to fill (needs root): full-disk cases skipped"
fi

# An old report is replaced whole; a folder holding anything else is left alone.
"$SNP" html small.snp -o report
touch report/app.tools/Stale.java.html
"$SNP" html small.snp -o report
[ ! -e report/app.tools/Stale.java.html ] || fail "a stale page survived"
mkdir mine
echo notes > mine/notes.txt
expect 1 "snp: mine: holds files that are not an snp report: left alone (choose another folder)" \
  html small.snp -o mine
only mine notes.txt

# - is standard output everywhere, never a file named -.
"$SNP" lcov small.snp -o lcov.info
"$SNP" lcov small.snp -o - > lcov-dash.info
cmp -s lcov.info lcov-dash.info || fail "lcov -o - differs from the file"
"$SNP" merge small.snp large.snp -o merged.snp
"$SNP" merge small.snp large.snp -o - > merged-dash.snp
cmp -s merged.snp merged-dash.snp || fail "merge -o - differs from the file"
[ ! -e ./- ] || fail "a file named - was written"

# The same run twice is said; two different runs are not.
expect 0 "snp: warning: small.snp is the same run as small.snp (same Signature and counters): its counts are added twice" \
  merge small.snp small.snp -o double.snp
"$SNP_FIXTURE" half-a a.snp
"$SNP_FIXTURE" half-b b.snp
expect 0 "" merge a.snp b.snp -o halves.snp

# Devices are refused at once (before, /dev/zero was read up to 2 GiB); pipes are read.
for command in summary dump; do
  expect 1 "snp: /dev/zero: a character device, not a snapshot file (only regular files and pipes are read)" \
    $command /dev/zero
done
# A file that declares more bytes than any snapshot holds is refused by its
# size, before a byte is read: under a 1 GiB address-space limit (not under
# a sanitizer, which reserves far more), reading it first would fail.
truncate -s 3G huge.snp
limit="ulimit -v 1048576"
if ldd "$SNP" | grep -qE 'lib(asan|tsan)'; then limit=":"; fi
code=0
(eval "$limit" && exec "$SNP" summary huge.snp) > out.txt 2> err.txt || code=$?
[ "$code" = 1 ] || fail "a 3 GiB file: exit $code"
[ "$(cat err.txt)" = "snp: huge.snp: larger than 2147483647 bytes: not a snapshot" ] \
  || fail "a 3 GiB file: $(cat err.txt)"
rm huge.snp
"$SNP" summary small.snp > direct.txt
"$SNP" summary <(cat small.snp) > piped.txt || fail "a pipe was not read"
cmp -s direct.txt piped.txt || fail "the pipe gave another summary"
# snp pull writes as every command does: - is standard output, and a failed
# write behind a link removes neither. A stand-in for the live viewer answers
# every request with the snapshot.
if command -v python3 > /dev/null; then
  python3 - small.snp > port.txt <<'PY' &
import http.server, sys
data = open(sys.argv[1], "rb").read()
class Answer(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Answer)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
  viewer=$!
  for _ in $(seq 50); do [ -s port.txt ] && break; sleep 0.1; done
  url="http://127.0.0.1:$(cat port.txt)/#token=t"
  "$SNP" pull "$url" -o - > pulled.snp 2> err.txt || fail "pull -o -: $(cat err.txt)"
  cmp -s pulled.snp small.snp || fail "pull -o - gave other bytes"
  if [ -c /dev/full ]; then
    ln -s /dev/full pull-link
    expect 1 "snp: pull-link: cannot write: No space left on device" pull "$url" -o pull-link
    [ -L pull-link ] || fail "pull removed the link"
  fi
  kill $viewer
  wait $viewer 2> /dev/null || true
else
  echo "outputs: no python3 for a stand-in viewer: snp pull cases skipped"
fi
[ ! -e ./- ] || fail "a file named - was written"
echo "outputs: nothing lost, nothing removed, every misuse named"
