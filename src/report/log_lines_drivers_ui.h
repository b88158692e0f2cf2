// The lines of the driver updates (the installers run, their exit codes, the filter library)
// and of the policy and local user interface step. log_lines.cpp joins the tables in the
// guide's order.
#pragma once

#include "report/log_lines_shorthand.h"

namespace report::line_tables {

// What to do about an installer's non-zero exit code: the same for every line that logs its codes.
// clang-format off
inline constexpr char kNetInstNonZero[] =
    "Non-zero: 2 (or 3): `NetInst.exe` is missing (a missing program is not reported otherwise): copy the agent's `NetInstall` folder for this host's bitness into the installation folder and run the tool again. Other codes: the network driver installer failed; run it by hand with the command line logged before this line to see its error, then run the tool again.";
inline constexpr char kIfsInstNonZero[] =
    "Non-zero: 2 (or 3): `IfsInst.exe` is missing: copy the agent's `IfsInstall` folder for this host's bitness into the installation folder and run the tool again. Other codes: read `qsxfltr.log` in the installation folder, fix its cause and run `IfsInst.exe` again with the command line logged before this line.";
// clang-format on

// Drivers.
// clang-format off
inline constexpr LogLine kDriverLines[] = {
    {LineId::Other, Section::Drivers, I,
     "IsLongHornServer()::returned true...skipping driver update", kNone, false, kNoCode, kFeed,
     "Windows Server 2008: the network drivers are not touched.", ""},
    {LineId::Other, Section::Drivers, I, "ExecuteCommand: {COMMAND LINE} ", kNone, false,
     kNoCode, kFeed,
     "An installer (`NetInst.exe`, `IfsInst.exe`) is run hidden and waited for.", ""},
    {LineId::Other, Section::Drivers, E,
     "ExecuteCommand: ERROR:: Failed to create process :: {COMMAND LINE} ", kFail, false,
     kNoCode, kFeed,
     "The installer could not be started (code in the next report line); a missing program (2) is not reported here.",
     "Most often its folder is missing (the report line shows 3): copy the agent's `NetInstall` or `IfsInstall` folder (the command line names which) for the host's bitness into the installation folder, then run the tool again."},
    {LineId::Other, Section::Drivers, E,
     "ExecuteCommand: ERROR:: Command line of {N} characters is longer than 32766, not run",
     kFail, false, kNoCode, kFeed,
     "A command line beyond Windows' own limit (32767 characters with the terminator); nothing is run and the report line shows 206.",
     "Use a shorter installation folder."},
    {LineId::Other, Section::Drivers, I,
     "Previous QSXNET uninstallation Returned {N} and latest QSXNET Installation Returned {N} ",
     kNonZero, false, kNoCode, kFeed,
     "Exit codes of the network driver un-install and install (64-bit, or 32-bit with the new agent registered).",
     kNetInstNonZero},
    {LineId::Other, Section::Drivers, I,
     "QSXNET Installation Returned {N} and QSXNFH Installation Returned {N}", kNonZero, false,
     kNoCode, kFeed,
     "Exit codes of the two 32-bit installs on a host coming from the old agent.",
     kNetInstNonZero},
    {LineId::MigrationStep, Section::Drivers, I,
     "UpdateminiFilterDriver:: Installing QSX IFS Drivers.", kNone, false, kNoCode, kFeed,
     "The filter driver update begins (migration path only).", ""},
    {LineId::Other, Section::Drivers, I, "User Logged in:  {NAME}", kNone, false, kNoCode, kFeed,
     "The account the tool runs as.", ""},
    {LineId::Other, Section::Drivers, I,
     "UpdateminiFilterDriver:: IFS driver un-install returned {N}", kNonZero, false, kNoCode,
     kFeed, "Exit code of `IfsInst.exe -u`.",
     kIfsInstNonZero},
    {LineId::Other, Section::Drivers, I,
     "UpdateminiFilterDriver:: IFS driver installer returned {N}", kNonZero, false, kNoCode,
     kFeed, "Exit code of `IfsInst.exe -i`.",
     kIfsInstNonZero},
    {LineId::Other, Section::Drivers, I,
     "UpdateminiFilterDriver::Failed to copy driver dll from system32 folder", kFail, false,
     kNoCode, kFeed, "32-bit: `QsxFFilter.dll` could not be copied into the product folder.",
     "Copy `QsxFFilter.dll` from the system folder (`System32`) into the product's installation folder."},
    {LineId::Other, Section::Drivers, I,
     "UpdateminiFilterDriver::Failed to copy driver dll from {PATH} folder to {PATH}. Errcode {N}",
     kFail, true, kNoCode, kFeed, "64-bit: the same.",
     "Copy `QsxFFilter.dll` from the first folder the line names to the path it names (5: the file there is in use; restart the host first)."},
    {LineId::Other, Section::Drivers, I,
     "UpdateminiFilterDriver()::NOT INSTALLING Rogue SERVICE...64", kNone, false, kNoCode, kFeed,
     "64-bit host: always logged.", ""},
};
// clang-format on

// Policy and local user interface (migration path).
// clang-format off
inline constexpr LogLine kPolicyUiLines[] = {
    {LineId::Other, Section::PolicyUi, E, "Can't find policy file. {PATH}", kFail, false, kNoCode,
     kFeed, "No `policy.xml` in the installation folder.",
     "Put `policy.xml` into the installation folder with the agent files, then run the tool again."},
    {LineId::Other, Section::PolicyUi, I, "Found policy file ", kNone, false, kNoCode, kFeed,
     "The policy is read.", ""},
    {LineId::Other, Section::PolicyUi, E, "Can't decrypt policy file. {PATH}", kFail, false,
     kNoCode, kFeed, "The policy could not be turned into `policy.txt`.",
     "Check the file and the folder's free space and rights."},
    {LineId::Other, Section::PolicyUi, E, "Can't open policy file. Errcode :{N} ", kFail, true,
     kNoCode, kFeed, "`policy.txt` could not be opened.",
     "Check the installation folder's rights and free space, then run the tool again."},
    {LineId::Other, Section::PolicyUi, I, "LocalUI Set. ", kNone, false, kNoCode, kFeed,
     "The policy asks for the local user interface.", ""},
    {LineId::Other, Section::PolicyUi, I, "LocalUI not Set. ", kNone, false, kNoCode, kFeed,
     "The policy asks against the local user interface.", ""},
    {LineId::Other, Section::PolicyUi, E, "Can't delete policy.txt file. Errcode :{N} ", kFail,
     true, 2, kFeed,
     "The temporary plain copy could not be deleted (2: it was never made).",
     "Delete it by hand if present."},
    {LineId::PolicyOutcome, Section::PolicyUi, E, "Something went wrong with reading policy file",
     kFail, false, kNoCode, kFeed,
     "The policy had no usable `IncludeLocalGUI` marker or could not be read: the user interface is left as it is.",
     "Put a valid `policy.xml` (with an `IncludeLocalGUI` marker) into the installation folder and run the tool again, or install or remove the user interface by hand as the policy asks."},
    {LineId::PolicyOutcome, Section::PolicyUi, I, "UI should be installed and exists", kNone,
     false, kNoCode, kFeed, "Nothing to change.", ""},
    {LineId::PolicyOutcome, Section::PolicyUi, I,
     "UI should NOT be installed and doesn't exists. Doing nothing...", kNone, false, kNoCode,
     kFeed, "Nothing to change.", ""},
    {LineId::PolicyOutcome, Section::PolicyUi, I,
     "UI should be installed and and doesnt exist. Installing..", kNone, false, kNoCode, kFeed,
     "`glacis.exe` is copied and three shortcuts made.", ""},
    {LineId::PolicyOutcome, Section::PolicyUi, I,
     "UI should NOT be installed and exists. deleting..", kNone, false, kNoCode, kFeed,
     "`glacis.exe` and its shortcuts are removed (also on Server Core, which has no desktop).",
     ""},
    {LineId::PolicyOutcome, Section::PolicyUi, I,
     "UI installation was cut off by an earlier run. Installing again..", kNone, false, kNoCode,
     kFeed, "`glacis.exe` is copied again and its shortcuts made.", ""},
    {LineId::PolicyOutcome, Section::PolicyUi, I,
     "UI removal was cut off by an earlier run. Deleting its shortcuts..", kNone, false, kNoCode,
     kFeed, "`glacis.exe` was deleted; its shortcuts are deleted now.", ""},
    {LineId::Other, Section::PolicyUi, E, "UI can't be installed ", kFail, false, kNoCode, kFeed,
     "The program copy failed.", "Fix what the line before it names (2: put `glacis.exe` beside the tool; 5: close the program), then run the tool again."},
    {LineId::Other, Section::PolicyUi, E, "UI can't be removed", kFail, false, kNoCode, kFeed,
     "The program deletion failed.", "Close `glacis.exe` on the host and delete it by hand."},
    {LineId::Other, Section::PolicyUi, I, "Copying file {PATH} to {PATH}", kNone, false, kNoCode,
     kFeed, "The UI program is copied.", ""},
    {LineId::Other, Section::PolicyUi, I, "Deleting file {PATH} ", kNone, false, kNoCode, kFeed,
     "The UI program is deleted.", ""},
    {LineId::Other, Section::PolicyUi, E, "File can't  be copied with errcode : {N}", kFail, true,
     kNoCode, kFeed, "2: `glacis.exe` is not beside `Relocator.exe`; 5: it is in use.",
     "Put `glacis.exe` beside the tool / close the program."},
    {LineId::Other, Section::PolicyUi, E, "File can't  be deleted with errcode : {N}", kFail, true,
     kNoCode, kFeed, "5: `glacis.exe` is in use.", "Close the program."},
    {LineId::Other, Section::PolicyUi, E,
     "RegCntrl.getStartupDir(): Can't get 'Common Startup' value.", kFail, false, kNoCode, kFeed,
     "The all-users shell folders could not be read.", ""},
    {LineId::Other, Section::PolicyUi, E,
     "RegCntrl.getStartupDir(): Can't get 'Common Programs' value.", kFail, false, kNoCode,
     kFeed, "The all-users shell folders could not be read.", ""},
    {LineId::Other, Section::PolicyUi, E, "installUI(): getStartupDir() failed", kFail, false,
     kNoCode, kFeed, "Shortcuts were not made or deleted.",
     "Make or delete the three `glacis.exe` shortcuts by hand, as the policy asks."},
    {LineId::Other, Section::PolicyUi, E, "installUI(): getStartMenuDir() failed", kFail, false,
     kNoCode, kFeed, "Shortcuts were not made or deleted.",
     "Make or delete the three `glacis.exe` shortcuts by hand, as the policy asks."},
    {LineId::Other, Section::PolicyUi, E,
     "FileCntrl.CreateDir() failed on directory {PATH}.  Error: ({N}) {TEXT}", kFail, true,
     kNoCode, kFeed, "The start-menu folder could not be created.", ""},
    {LineId::Other, Section::PolicyUi, E, "{PATH} not found. Shortcut cant be created", kFail,
     false, kNoCode, LineEnd::None, "The menu folder is missing or is a junction.", ""},
    {LineId::Other, Section::PolicyUi, E, "{PATH} not found. Shortcut cant be deleted", kFail,
     false, kNoCode, kFeed, "The menu folder is missing or is a junction.", ""},
};
// clang-format on

}  // namespace report::line_tables
