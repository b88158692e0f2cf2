#!/bin/bash
# A power loss in the middle of a migration: the first half kills Relocator.exe after the new
# agent's service is registered; then every process of the prefix ends, services included, and
# the next process starts the automatic-start services again, as a boot does; the second half
# runs the tool again and checks the host.
#   power-loss.sh HOST_SCENARIOS_EXE   (WINEPREFIX and RELOCATOR_BIN set)
set -u
here=$(dirname "$0")
program=$1
half() {
  "$here/../wine/run.sh" "$program" --gtest_also_run_disabled_tests --gtest_brief=1 \
    --gtest_filter="PowerLossTest.DISABLED_$1"
}
half CutAfterTheNewAgentIsRegistered || exit 1
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
half RunAgainAfterTheRestart
