#!/bin/bash
# A CUPS scheduler of the tests' own (Debian's cups-daemon) on 127.0.0.1, in
# the folder DIR, with one raw queue QUEUE whose device keeps each job's
# bytes: what a label printer behind a CUPS queue is sent. The Linux tests
# and the wine checks print through it alike.
#
#   tests/support/cups_server.sh DIR QUEUE
#
# Prints the server's address (127.0.0.1:PORT, for CUPS_SERVER) once the
# queue takes jobs, then runs until it is sent TERM or INT, and stops the
# scheduler. Each job's bytes land in DIR/jobs/job-ID, its title in
# DIR/jobs/job-ID.title, each whole or not at all. Exit status 77: this
# machine cannot run one (not root: cupsd runs as root; no cupsd); 1: it did
# not start; the reason on standard error.
set -uo pipefail
dir=$1 queue=$2
[ "$(id -u)" = 0 ] || { echo "cupsd runs as root" >&2; exit 77; }
[ -x /usr/sbin/cupsd ] && [ -x /usr/sbin/lpadmin ] || { echo "no cupsd (Debian's cups-daemon and cups-client)" >&2; exit 77; }

mkdir -p "$dir" && cd "$dir" && mkdir -p spool cache state log tmp bin/backend jobs || exit 1
dir=$PWD
# The scheduler's own helpers from the system, the backend the tests'.
for helper in daemon filter notifier; do ln -sfn "/usr/lib/cups/$helper" "bin/$helper"; done
# The job's bytes are in the file named by the sixth argument, else on
# standard input. Root's and 0700: CUPS runs such a backend as root, and no
# other.
cat >bin/backend/kv20jobs <<'EOF'
#!/bin/sh
[ $# -eq 0 ] && exit 0
dir=${DEVICE_URI#kv20jobs:}
printf '%s' "$3" > "$dir/title.part" && mv "$dir/title.part" "$dir/job-$1.title"
if [ -n "$6" ]; then cat "$6"; else cat; fi > "$dir/job.part" && mv "$dir/job.part" "$dir/job-$1"
EOF
chmod 0700 bin/backend/kv20jobs
cat >cups-files.conf <<EOF
ServerRoot $dir
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/state
TempDir $dir/tmp
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
ServerBin $dir/bin
DataDir /usr/share/cups
EOF

cupsd=
trap '[ -n "$cupsd" ] && kill "$cupsd" 2>/dev/null && wait "$cupsd"; exit 0' TERM INT
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# A port nobody listens on, taken by the scheduler; another if somebody
# took it first.
for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 30000))
    listening "$port" && continue
    cat >cupsd.conf <<EOF
Listen 127.0.0.1:$port
WebInterface No
Browsing No
LogLevel warn
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    /usr/sbin/cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" </dev/null >>log/cupsd.out 2>&1 &
    cupsd=$!
    # Up once it takes connections, within 10 s.
    for ((i = 0; i < 100; i++)); do
        listening "$port" && break
        kill -0 "$cupsd" 2>/dev/null || break
        sleep 0.1
    done
    listening "$port" && break
    kill "$cupsd" 2>/dev/null; wait "$cupsd" 2>/dev/null; cupsd=
done
[ -n "$cupsd" ] || { echo "cupsd did not start: $(tail -n 5 log/cupsd.out log/error_log 2>/dev/null)" >&2; exit 1; }
export CUPS_SERVER=127.0.0.1:$port
timeout 10 /usr/sbin/lpadmin -p "$queue" -E -v "kv20jobs:$dir/jobs" \
    || { echo "lpadmin could not make the queue $queue" >&2; kill "$cupsd"; wait "$cupsd"; exit 1; }
echo "$CUPS_SERVER"
wait "$cupsd"
