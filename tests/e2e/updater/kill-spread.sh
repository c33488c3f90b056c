# Checks, after the kill scenarios (kill.sh) have run, from the events at
# which each kill was made, that the kills really were spread over the run:
# at least one in each of the five rows before the commit, at least MIN_AFTER
# after it, and at least MIN_ALL in all.
#
#   kill-spread.sh MIN_ALL MIN_AFTER RESULT_FOLDER...
#
# Each RESULT_FOLDER is a kill scenario's result folder, whose kNN/kill.txt
# files (written by interrupt-at.sh) end with "(row R, after the commit: yes|no)".
set -euo pipefail
[ $# -ge 3 ] || {
  echo "usage: kill-spread.sh MIN_ALL MIN_AFTER RESULT_FOLDER..." >&2
  exit 2
}
min_all=$1 min_after=$2
shift 2
all=0 after=0 bad=0
declare -A rows=()
for folder in "$@"; do
  for file in "$folder"/k*/kill.txt; do
    [ -e "$file" ] || continue
    line=$(cat "$file")
    [[ "$line" =~ \(row\ ([0-9]+),\ after\ the\ commit:\ (yes|no)\)$ ]] || {
      echo "kill-spread: cannot read $file: $line" >&2
      exit 2
    }
    all=$((all + 1))
    if [ "${BASH_REMATCH[2]}" = yes ]; then
      after=$((after + 1))
    else
      rows[${BASH_REMATCH[1]}]=$((${rows[${BASH_REMATCH[1]}]:-0} + 1))
    fi
  done
done
for row in 1 2 3 4 5; do
  echo "row $row before the commit: ${rows[$row]:-0} kills"
  [ "${rows[$row]:-0}" -ge 1 ] || bad=1
done
echo "after the commit: $after kills (at least $min_after wanted)"
echo "in all: $all kills (at least $min_all wanted)"
[ "$after" -ge "$min_after" ] && [ "$all" -ge "$min_all" ] || bad=1
[ "$bad" = 0 ] || {
  echo "kill-spread: FAIL: the kills do not cover the run" >&2
  exit 1
}
echo "kill-spread: PASS"
