#!/bin/bash
# Two halves of a scenario with a restart of the host between them: the first half leaves the
# host as it is; then every process of the prefix ends, services included, and the next process
# starts the automatic-start services again, as a boot does; the second half runs the tool again
# and checks the host.
#   restart-between.sh HOST_SCENARIOS_EXE FIRST_TEST SECOND_TEST   (WINEPREFIX, RELOCATOR_BIN set)
set -u
here=$(dirname "$0")
program=$1
half() {
  "$here/../wine/run.sh" "$program" --gtest_also_run_disabled_tests --gtest_brief=1 \
    --gtest_filter="$1"
}
half "$2" || exit 1
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
half "$3"
