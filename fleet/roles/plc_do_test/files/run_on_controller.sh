# The fleet's run on a controller (POSIX sh, busybox ash or dash; no
# Python), in two steps, so that nothing of Ansible's comes on the
# controller once the run has begun:
#   sh -c "$(cat run_on_controller.sh)" plc_do_test_fleet prepare TMPDIR FILE
# given to Ansible's script module as the shell that runs the single file:
# Ansible copies the file, this makes a run folder under TMPDIR (given, else
# the login's, else /tmp), copies FILE there, makes the FIFO end and prints
# the folder; Ansible then removes its copy. Then, by a raw command:
#   sh -c "$(cat run_on_controller.sh)" plc_do_test_fleet start LIMIT TMPDIR FOLDER ITER DELAY FIRST LAST 0
# starts `sh FILE ITER ...` in the background with its standard output and
# error in the folder's files out and err, prints the folder and returns at
# once: every controller of a play runs at the same time, however few
# Ansible reaches at a time. The run ignores SIGHUP and reads nothing of the
# session: it goes on when the session or its connection ends. After the
# run it writes the folder's file ended, last: started, ended (the
# controller's clock), "stopped LIMIT" when the run was stopped, and the
# run's status; then a line per waiting session to the FIFO end. What the
# run prints cannot forge that file. The play reads it, then out and err.
step=$1
shift
[ "$step" = start ] && { limit=$1; shift; }
given_tmpdir=$1
shift
[ -z "$given_tmpdir" ] || TMPDIR=$given_tmpdir
[ -z "${TMPDIR:-}" ] || export TMPDIR
umask 077
if [ "$step" = prepare ]; then
    file=$1
    run=${TMPDIR:-/tmp}/plc_do_test_fleet.$(date +%s).$$
    said=$(mkdir "$run" 2>&1) || {
        echo "plc_do_test fleet: no run folder in ${TMPDIR:-/tmp}${given_tmpdir:+ (plc_tmpdir)}: $said" >&2
        exit 3
    }
    said=$(cp "$file" "$run/plc_do_test.run" 2>&1) || {
        echo "plc_do_test fleet: the single file could not be copied to $run: $said" >&2
        rm -rf "$run"
        exit 3
    }
    # The FIFO the play's wait blocks on until the run's end: waiting starts
    # nothing on the controller while the run goes on.
    said=$(mkfifo "$run/end" 2>&1) || {
        echo "plc_do_test fleet: no FIFO in $run: $said" >&2
        rm -rf "$run"
        exit 3
    }
    echo "plc_do_test fleet: run folder $run"
    exit 0
fi
run=$1
shift
[ -f "$run/plc_do_test.run" ] && [ ! -e "$run/running" ] || {
    echo "plc_do_test fleet: no run to start in $run" >&2
    exit 3
}
: >"$run/running"
# kill_with_children SIGNAL PID: PID and the processes it started (the
# binary, or the loader or emulator that runs it), found by their parent in
# /proc, as busybox has no pkill everywhere.
kill_with_children() {
    for stat in /proc/[0-9]*/stat; do
        read -r child _ _ parent _ <"$stat" 2>/dev/null || continue
        [ "$parent" != "$2" ] || kill -"$1" "$child" 2>/dev/null
    done
    kill -"$1" "$2" 2>/dev/null
}
(
    trap '' HUP
    started=$(date +%s)
    # The watchdog sleeps once, for the whole limit, started before the run:
    # nothing is started beside the run while it goes on. At the limit it
    # sends TERM (the single file passes it on to the binary), 10 s later
    # KILL to the single file and what it started: a binary deaf to TERM
    # must not go on switching outputs without it. A run that ends first
    # sends it TERM, and it takes its sleep with it ($! is its sleep, or
    # none before it has one).
    (
        trap 'kill $! 2>/dev/null; exit 0' TERM
        sleep "$limit" &
        wait $!
        read -r program <"$run/program" || exit 0
        echo "stopped $limit" >"$run/stopped"
        kill -TERM "$program" 2>/dev/null
        sleep 10 &
        wait $!
        kill_with_children KILL "$program"
    ) &
    watchdog=$!
    sh "$run/plc_do_test.run" "$@" >"$run/out" 2>"$run/err" </dev/null &
    program=$!
    echo "$program" >"$run/program"
    wait "$program"
    status=$?
    kill -TERM "$watchdog" 2>/dev/null
    wait "$watchdog"
    rm -f "$run/plc_do_test.run" "$run/program"
    {
        echo "started $started"
        echo "ended $(date +%s)"
        cat "$run/stopped" 2>/dev/null
        echo "status $status"
    } >"$run/ended.part"
    mv "$run/ended.part" "$run/ended"
    # Opened for reading and writing, the FIFO never blocks its writer: a
    # session that holds it open reads a line, one that comes later finds
    # the file ended.
    exec 3<>"$run/end"
    for waiting in 1 2 3 4 5 6 7 8; do echo "$waiting"; done >&3
    exec 3>&-
) </dev/null >/dev/null 2>&1 &
echo "plc_do_test fleet: run folder $run"
