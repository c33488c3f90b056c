# Interrupts the updater (the Linux process of MorivaneUpdate.exe in this
# prefix) when its run reaches a chosen file event in the installation: kills
# it with SIGKILL, or, with --stop, stops it with SIGSTOP until told to go on.
# Run in the background by the scenario scripts while the driver answers the
# updater.
#
#   interrupt-at.sh [--stop STOPPED GO] DIR EVENT FILE N OUTDIR
#
# With --stop, the file STOPPED is made once the updater is stopped (the
# driver waits for it with wait-file), and the updater is let go on (SIGCONT)
# once the file GO exists (the driver makes it with write-file), or after two
# minutes at the latest (then the exit status is 1).
#
# DIR is the installation folder (Linux path), watched with inotify together
# with its dat folder. Counted are the events that change something, but
# not each write: CREATE, ATTRIB, CLOSE_WRITE, MOVED_FROM, MOVED_TO and
# DELETE of files (FILE relative to DIR, with "/"). The kernel folds an event
# into the one before it when both are the same and the first has not been
# read yet, so a run of equal events counts as one here too; that makes the
# count the same in every run, however fast this script reads. At the N-th
# event EVENT on FILE the updater is killed. The kill lands a little later
# than the event, so the run's state afterwards is at least that far on.
#
# OUTDIR gets: ready (the watches are in place), events.txt (every counted
# event up to the interruption, numbered), kill.txt ("killed PID at event K:
# EVENT FILE" or "stopped ...", with the row the run was in and whether the
# run had reached its commit by then, as the events tell). Exit status 0 when
# it interrupted the run, 1 when the event never came (the watch ended
# first), 2 for bad arguments.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

stopped_flag= go_flag=
if [ "${1:-}" = --stop ]; then
  stopped_flag=$2 go_flag=$3
  shift 3
fi
[ $# = 5 ] || {
  echo "usage: interrupt-at.sh [--stop STOPPED GO] DIR EVENT FILE N OUTDIR" >&2
  exit 2
}
dir=$1 want_event=$2 want_file=$3 want_n=$4 outdir=$5
mkdir -p "$outdir"
rm -f "$outdir/ready" "$outdir/kill.txt"
: >"$outdir/events.txt"

coproc WATCH {
  exec inotifywait -m -r -e create -e attrib -e close_write -e moved_from \
    -e moved_to -e delete --format '%e %w%f' "$dir" 2>"$outdir/inotify.err"
}
watch_pid=$WATCH_PID
trap 'kill "$watch_pid" 2>/dev/null || true' EXIT
for _ in $(seq 200); do
  grep -q 'Watches established' "$outdir/inotify.err" 2>/dev/null && break
  sleep 0.05
done
grep -q 'Watches established' "$outdir/inotify.err" || {
  echo "interrupt-at: inotifywait did not start: $(cat "$outdir/inotify.err")" >&2
  exit 2
}
touch "$outdir/ready"

count=0 seen=0 last= pid= row=0 committed=no
while IFS= read -r line <&"${WATCH[0]}"; do
  event=${line%% *}
  path=${line#* }
  case "$event" in *ISDIR*) continue ;; esac
  file=${path#"$dir"/}
  [ "$event $file" != "$last" ] || continue
  last="$event $file"
  count=$((count + 1))
  # Where the run is: each row begins with a fresh temporary file; the
  # originals are deleted only after the commit.
  [ "$event $file" != "CREATE Clone.tmp" ] || row=$((row + 1))
  case "$event $file" in "DELETE Clone"*.bak | "DELETE Clone.rec") committed=yes ;; esac
  printf '%d %s\n' "$count" "$last" >>"$outdir/events.txt"
  # The updater is looked up once, at the run's first event.
  [ -n "$pid" ] || pid=$(e2e_wine_pid MorivaneUpdate.exe) || true
  [ "$event" = "$want_event" ] && [ "$file" = "$want_file" ] || continue
  seen=$((seen + 1))
  [ "$seen" = "$want_n" ] || continue
  [ -n "$pid" ] || {
    echo "interrupt-at: no MorivaneUpdate.exe of this prefix to interrupt" >&2
    exit 1
  }
  where="at event $count: $last (row $row, after the commit: $committed)"
  if [ -z "$stopped_flag" ]; then
    kill -KILL "$pid"
    echo "killed $pid $where" >"$outdir/kill.txt"
    exit 0
  fi
  kill -STOP "$pid"
  echo "stopped $pid $where" >"$outdir/kill.txt"
  touch "$stopped_flag"
  for _ in $(seq 2400); do
    [ -e "$go_flag" ] && break
    sleep 0.05
  done
  kill -CONT "$pid"
  [ -e "$go_flag" ] || {
    echo "interrupt-at: no sign to go on within two minutes" >&2
    exit 1
  }
  exit 0
done
echo "interrupt-at: the watch ended before event $want_n of $want_event $want_file" >&2
exit 1
