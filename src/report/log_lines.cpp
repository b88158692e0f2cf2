#include "report/log_lines.h"

#include <iterator>
#include <vector>

#include "logging/log_format.h"

namespace report {

namespace {

constexpr int32_t E = logfmt::kLevelError;
constexpr int32_t I = logfmt::kLevelInfo;
constexpr int32_t W = logfmt::kLevelWarn;
constexpr Concern kNone = Concern::None;
constexpr Concern kFail = Concern::Failure;
constexpr Concern kNonZero = Concern::NonZero;
constexpr LineEnd kFeed = LineEnd::Feed;

// clang-format off
constexpr LogLine kLines[] = {
    // Start-up and path choice.
    {LineId::StartLogging, Section::StartUp, I, "starting Logging Now", kNone, false, kNoCode,
     LineEnd::FeedAndBlank, "The run started.", ""},
    {LineId::ToolStarted, Section::StartUp, I, "Relocator {TEXT} started as process {N}", kNone,
     false, kNoCode, kFeed,
     "The tool's version and process id. A log that has this line ends with the line \"Relocator ... finished with exit code ...\"; one that does not was cut off (the tool was killed or the host went down).",
     ""},
    {LineId::Other, Section::StartUp, W, "Can't take the run guard {PATH}. Errcode :{N} ", kFail,
     true, kNoCode, kFeed,
     "The file that keeps a second copy of the tool from working at the same time could not be made, and the tool does not run as an administrator (5): the run went on unguarded. (An administrator's run that cannot take the guard changes nothing, writes no log and returns 1618.)",
     "Run the tool as an administrator (or SYSTEM)."},
    {LineId::Other, Section::StartUp, I, "Deleted {PATH} left behind by an interrupted run", kNone,
     false, kNoCode, kFeed,
     "An earlier run was cut off while it read the policy and left its plain-text copy; it is deleted.",
     ""},
    {LineId::Other, Section::StartUp, E,
     "Can't delete {PATH} left behind by an interrupted run. Errcode :{N} ", kFail, true,
     kNoCode, kFeed,
     "The plain-text copy of the policy that an interrupted run left could not be deleted; it stays readable on the host.",
     "Delete `policy.txt` from the installation folder by hand."},
    {LineId::Other, Section::StartUp, W,
     "A migration begun {TEXT} by Relocator {TEXT} is not finished (last step begun: {NAME}). This run leaves it to the first run without arguments that finds {PATH}",
     kFail, false, kNoCode, kFeed,
     "A migration record is there, but this run takes the fallback or restart path (the new agent's program is missing, or an argument was given): the record stays for a run that can finish the migration.",
     "Copy the Tarvos files into the installation folder and run the tool without arguments; to give the migration up instead, delete `HKLM\\SOFTWARE\\QSX\\Relocator\\Migration` (32-bit view)."},
    {LineId::UpgradeFailed, Section::StartUp, E,
     "*** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND INSTALL LATEST VERSION MANUALLY *****.",
     kFail, false, kNoCode, kFeed,
     "Fallback path: the tool was started with an argument while the new agent is not registered, or the new agent's program `thService.exe` is not in the installation folder. Nothing is upgraded: the exit code is 2 (the program is missing) or 87 (an argument was given).",
     "Check that the Tarvos files were copied into the folder named by `HKLM\\SOFTWARE\\QSX\\Tarvos Desktop\\InstallDir` (server edition: the personality's key), and that the deployment runs the tool without arguments."},
    {LineId::StartingOldGlacis, Section::StartUp, E, "Starting old Glacis Service", kNone, false,
     kNoCode, kFeed, "Fallback: the old agent is started again.", ""},
    {LineId::GlacisStartFailed, Section::StartUp, E, "Can't Start Glacisd Service.", kFail, false,
     kNoCode, kFeed, "Fallback: the old agent could not be started either.",
     "Urgent, the host has no running agent: start the service `Glacis` by hand (`sc start Glacis`) and read the error it gives."},
    {LineId::RampartDetected, Section::StartUp, I, "Rampart DETECTED. Starting it", kNone, false,
     kNoCode, kFeed,
     "The application-protection service is registered; `Rampart.exe -s` is run from the tool's working folder. On the restart path the exit code is then the first start's code.",
     ""},

    // Migration path.
    {LineId::Resumed, Section::Migration, I,
     "Resuming the migration begun {TEXT} by Relocator {TEXT}, cut off in step {NAME}", kNone,
     false, kNoCode, kFeed,
     "An earlier run began the migration and was cut off (killed, or the host went down); this run finishes it. The steps the earlier run finished are skipped, the one it was in is done again.",
     ""},
    {LineId::Resumed, Section::Migration, I,
     "Finishing the migration begun {TEXT} by Relocator {TEXT}, which waited for a restart",
     kNone, false, kNoCode, kFeed,
     "An earlier run did the whole migration but for registering a service that was marked for deletion, and ended with 3010; this run, after the restart, registers it and starts the new agent.",
     ""},
    {LineId::MigrationStep, Section::Migration, I, "Step {NAME} was done by the interrupted run",
     kNone, false, kNoCode, kFeed,
     "Skipped: a run finished it, and the host shows its work done (services registered as the migration registers them, the user interface as decided, the drivers installed from the same files of the new agent).",
     ""},
    {LineId::MigrationStep, Section::Migration, W,
     "The migration record was written by Relocator {TEXT} on {TEXT} (another version, or more than {N} days ago): the migration is done again from the start",
     kNone, false, kNoCode, kFeed,
     "The record is not trusted to tell which steps are done: every step runs again (what the host already shows done is said as such).",
     ""},
    {LineId::MigrationStep, Section::Migration, I,
     "Waiting up to 2 minutes for {NAME} (process {N}) left running by the interrupted run",
     kNone, false, kNoCode, kFeed,
     "An installer that the cut-off run started still runs; it is given two minutes to end before its step runs again, so that two installers never work on one driver.",
     ""},
    {LineId::MigrationStep, Section::Migration, W,
     "Ended {NAME} (process {N}), left running by the interrupted run", kFail, false, kNoCode,
     kFeed,
     "The installer did not end within two minutes (it hangs, which is likely why the earlier run was killed) and was ended; its step runs again.",
     "If the installer hangs again, run it by hand with the command line the log shows for it and see where it stops."},
    {LineId::MigrationStep, Section::Migration, E,
     "Can't end {NAME} (process {N}), left running by the interrupted run. Errcode :{N} ", kFail,
     false, kNoCode, kFeed,
     "The hung installer could not be ended; its step runs again all the same.",
     "End the installer on the host by hand (`taskkill /pid N /f`) and run the tool again."},
    {LineId::MigrationStep, Section::Migration, I,
     "The policy cannot be read now: finishing the user interface step as the interrupted run decided",
     kNone, false, kNoCode, kFeed,
     "A resumed run found no usable policy (the cut-off run may have deleted it); the installation or removal that run began is finished as it decided.",
     ""},
    {LineId::MigrationStep, Section::Migration, W,
     "Can't record the migration's progress in {PATH}. Errcode :{N} ", kFail, true, kNoCode,
     kFeed,
     "The registry record that lets a later run finish a migration cut off in the middle could not be written; this run goes on.",
     "If this run does not end with \"Relocator ... finished\", finish the migration by hand."},
    {LineId::MigrationStep, Section::Migration, W,
     "Can't remove the migration record {PATH}. Errcode :{N} ", kFail, true, kNoCode, kFeed,
     "The migration is done but its record stayed: the next run will take the migration path again.",
     "Delete the key `HKLM\\SOFTWARE\\QSX\\Relocator\\Migration` (32-bit view)."},
    {LineId::MigrationStep, Section::Migration, I, "Glacis is already removed", kNone, false,
     kNoCode, kFeed, "The interrupted run had deleted the old daemon service.", ""},
    {LineId::MigrationStep, Section::Migration, I, "HotMend is already removed", kNone, false,
     kNoCode, kFeed, "The interrupted run had removed the virtual-patch service.", ""},
    {LineId::MigrationStep, Section::Migration, I, "hotmend.exe is already deleted", kNone,
     false, kNoCode, kFeed, "The interrupted run had deleted the virtual-patch program.", ""},
    {LineId::MigrationStep, Section::Migration, I,
     "Rampart is already removed. Registering it again", kNone, false, kNoCode, kFeed,
     "The interrupted run had removed `Rampart` and not yet registered it again; this run does.",
     ""},
    {LineId::MigrationStep, Section::Migration, E, "Glacisd can't be removed with errcode: {N}",
     kFail, true, 1060, kFeed,
     "The old daemon service could not be deleted. 1060: it was not registered (harmless). 1072: it was still running, so it was only marked for deletion until the host restarts; the run ends with 3010.",
     "1072: restart the host and run the tool again (a deployment system does both on 3010); next time stop `Glacis` before the run."},
    {LineId::MigrationStep, Section::Migration, E, "HotMend can't be removed with errcode: {N}",
     kFail, true, 1060, kFeed,
     "The virtual-patch service could not be removed; 1060 means it was not registered.",
     "Other codes than 1060: stop the service `HotMend` (`sc stop HotMend`), then delete it (`sc delete HotMend`)."},
    {LineId::MigrationStep, Section::Migration, E, "HotMend can't be deleted with errcode: {N}",
     kFail, true, 2, kFeed,
     "`hotmend.exe` could not be deleted; 2 means it was not there; 5 usually means it still runs.",
     "Delete it by hand after stopping the program."},
    {LineId::MigrationStep, Section::Migration, I, "Rampart Found. Removing.. ", kNone, false,
     kNoCode, kFeed,
     "The application-protection service is re-registered (the tool also prints `Ramp found` on standard output).",
     ""},
    {LineId::Other, Section::Migration, E, "Rampart can't be removed with errcode: {N}", kFail,
     true, 1060, kFeed,
     "The application-protection service could not be removed. 1060: it was not registered (on the restart path the usual case).",
     "Other codes: stop the service `Rampart` (`sc stop Rampart`) and run the tool again."},
    {LineId::MigrationStep, Section::Migration, I, "Rampart Doesnt exist. Not Removing ", kNone,
     false, kNoCode, kFeed, "Not registered; nothing to do.", ""},
    {LineId::MigrationStep, Section::Migration, E, "Glacisd can't be added with errcode: {N}",
     kFail, true, kNoCode, kFeed,
     "`Glacis` could not be registered again. 1072: the old registration is still marked for deletion (the daemon was running); the run ends with 3010 and the first run after a restart registers it.",
     "1072: restart the host, then run the tool again (a deployment system does both on 3010)."},
    {LineId::MigrationStep, Section::Migration, I, "Installing ramp.. ", kNone, false, kNoCode,
     kFeed, "`Rampart` is registered again.", ""},
    {LineId::MigrationStep, Section::Migration, E, "Rampart cant be added with errcode: {N}",
     kFail, true, kNoCode, kFeed,
     "It could not be. 1072: the old registration is still marked for deletion; the run ends with 3010 and the first run after a restart registers it.",
     "1072: restart the host, then run the tool again. Other codes: check the service registration."},
    {LineId::MigrationStep, Section::Migration, E, "TarvosAgent can't be added with errcode: {N}",
     kFail, true, kNoCode, kFeed,
     "`KLOTarvos` could not be registered (206: the installation path is too long; 1072: an old registration is marked for deletion, the run ends with 3010 if the agent runs all the same).",
     "206: use a shorter installation folder; 1072: restart the host; 5: run the deployment as SYSTEM or an administrator. Then run the tool again."},
    {LineId::RestartNeeded, Section::Migration, W,
     "Restart needed: {NAME} stays marked for deletion until the host restarts. The first run after the restart registers it and finishes the migration",
     kNone, false, kNoCode, kFeed,
     "The migration is done but for registering the named services again, which only a restart allows. The migration record stays; the exit code is 3010 (restart required) when the new agent runs.",
     "Restart the host, then run the tool once more without arguments (a deployment system that maps 3010 to a soft reboot does both)."},
    {LineId::MigrationStep, Section::Migration, E, "can't get current module name", kFail, false,
     kNoCode, kFeed,
     "The tool could not read its own path; the UI program cannot be picked up.",
     "Run the tool from a path of at most 260 characters."},
    {LineId::PickUpUi, Section::Migration, E, "Pick up GlacisUi from {PATH}", kNone, false,
     kNoCode, kFeed, "Informational despite its level: where `glacis.exe` is copied from.", ""},
    {LineId::TarvosStartFailed, Section::Migration, E,
     "TarvosAgent can't be started with errcode: {N}", kFail, true, kNoCode, kFeed,
     "The new agent did not start; `N` is also the exit code.",
     "Start `KLOTarvos` by hand (`sc start KLOTarvos`) to see the error, fix it (1058: `sc config KLOTarvos start= auto`; 1053: end a hung `thService.exe`), then run the tool again; [exit-codes.md](exit-codes.md) lists the codes."},
    {LineId::Other, Section::Migration, E, "Rogue service failed to start.", kFail, false,
     kNoCode, kFeed, "`Rampart.exe -s` could not be run or ended with a non-zero code.",
     "Put `Rampart.exe` in the folder the deployment runs the tool from (it is started from there), then run `Rampart.exe -s` from that folder by hand."},

    // Restart path (and the start of the migration).
    {LineId::AlreadyRunning, Section::Restart, I, "KLOTarvos is already running", kNone, false,
     kNoCode, kFeed,
     "The new agent's service already runs (its start answered 1056 and it was seen running): nothing is terminated. On the restart path with `Rampart` registered, and on the migration path, the exit code is 1056.",
     ""},
    {LineId::Detected, Section::Restart, I,
     "Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..", kNone, false, kNoCode, kFeed,
     "The new agent is already installed; it is started.", ""},
    {LineId::FirstStartOk, Section::Restart, I, "Successfull thService Start", kNone, false,
     kNoCode, kFeed, "It started at the first attempt.", ""},
    {LineId::NotSeenRunning, Section::Restart, E,
     "KLOTarvos was not seen running within 30 s (state: {NAME})", kFail, false, kNoCode, kFeed,
     "The start of the new agent was accepted (or answered \"already running\"), but 30 s later the service was still `start-pending` (its start hangs) or `stopped`. On the restart path the hung start is rescued next; a run that ends without the agent running returns 1053.",
     "If the run's end record does not say `new agent: running`: read the agent's own log on the host and end a hung `thService.exe` (`taskkill /im thService.exe /f`), then run the tool again."},
    {LineId::Other, Section::Restart, I,
     "thService.exe seems to be stuck in 1053. Terminating and restarting", kNone, false, kNoCode,
     kFeed,
     "The start failed, or left the service start-pending or stopped, while a `thService.exe` process runs: it is terminated (exit code 9999) and started again after one second.",
     ""},
    {LineId::Other, Section::Restart, E, "OpenProcessToken failed: {N}", kFail, true, kNoCode,
     kFeed, "The debug privilege could not be enabled; nothing was terminated.",
     "Run the tool as an administrator."},
    {LineId::Other, Section::Restart, E, "LookupPrivilegeValue error: {N} ", kFail, true, kNoCode,
     kFeed, "The debug privilege could not be enabled; nothing was terminated.",
     "Run the tool as an administrator."},
    {LineId::Other, Section::Restart, E, "AdjustTokenPrivileges error: {N}", kFail, true, kNoCode,
     kFeed, "The debug privilege could not be enabled; nothing was terminated.",
     "Run the tool as an administrator."},
    {LineId::Other, Section::Restart, I, "Terminating thService, It Should'nt be running now",
     kNone, false, kNoCode, kFeed, "The termination begins.", ""},
    {LineId::Other, Section::Restart, I, "Cant open thService, cant get PID {N}", kFail, true,
     kNoCode, kFeed, "No `thService.exe` process was found by then.", ""},
    {LineId::Other, Section::Restart, I, "Cant open thService, {N}", kFail, true, kNoCode, kFeed,
     "The process could not be opened (it may have ended by itself).", ""},
    {LineId::Other, Section::Restart, I, "Terminated thService", kNone, false, kNoCode, kFeed,
     "The hung process was terminated.", ""},
    {LineId::Other, Section::Restart, I, "Cant TERMINATE thService {N}", kFail, true, kNoCode,
     kFeed, "The hung process could not be terminated.",
     "End it by hand (`taskkill /im thService.exe /f`), then start `KLOTarvos` (`sc start KLOTarvos`)."},
    {LineId::RescueOk, Section::Restart, I, "SuccessFully Started thService", kNone, false,
     kNoCode, kFeed, "The second start succeeded.", ""},
    {LineId::TryOldAgent, Section::Restart, I,
     "Can't Start thService. Trying start Glacisd and Rampart", kFail, false, kNoCode, kFeed,
     "The new agent could not be started; the old one is started instead.",
     "Start `KLOTarvos` by hand (`sc start KLOTarvos`) to see the error and repair it; the host runs the old agent meanwhile."},
    {LineId::OldAgentFailed, Section::Restart, I, "Can't Start Glacisd.", kFail, false, kNoCode,
     kFeed, "The old agent could not be started either (after a termination).",
     "Urgent, the host has no running agent: start `Glacis` by hand (`sc start Glacis`) and read the error it gives."},
    {LineId::OldAgentFailed, Section::Restart, I, "Can't Start Glacsd.", kFail, false, kNoCode,
     kFeed, "The old agent could not be started either (without a termination).",
     "Urgent, the host has no running agent: start `Glacis` by hand (`sc start Glacis`) and read the error it gives."},
    {LineId::RemovingRampart, Section::Restart, I,
     "Removing Installed Rampart as Rampart is not supposed to be installed", kNone, false,
     kNoCode, kFeed,
     "`Rampart` is removed; the exit code becomes 0 when the new agent runs (otherwise the failed start's code, or 1053).",
     ""},

    // Drivers.
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
     "Non-zero: 2 (or 3): `NetInst.exe` is missing (a missing program is not reported otherwise): copy the agent's `NetInstall` folder for this host's bitness into the installation folder and run the tool again. Other codes: the network driver installer failed; run it by hand with the command line logged before this line to see its error, then run the tool again."},
    {LineId::Other, Section::Drivers, I,
     "QSXNET Installation Returned {N} and QSXNFH Installation Returned {N}", kNonZero, false,
     kNoCode, kFeed,
     "Exit codes of the two 32-bit installs on a host coming from the old agent.",
     "Non-zero: 2 (or 3): `NetInst.exe` is missing (a missing program is not reported otherwise): copy the agent's `NetInstall` folder for this host's bitness into the installation folder and run the tool again. Other codes: the network driver installer failed; run it by hand with the command line logged before this line to see its error, then run the tool again."},
    {LineId::MigrationStep, Section::Drivers, I,
     "UpdateminiFilterDriver:: Installing QSX IFS Drivers.", kNone, false, kNoCode, kFeed,
     "The filter driver update begins (migration path only).", ""},
    {LineId::Other, Section::Drivers, I, "User Logged in:  {NAME}", kNone, false, kNoCode, kFeed,
     "The account the tool runs as.", ""},
    {LineId::Other, Section::Drivers, I,
     "UpdateminiFilterDriver:: IFS driver un-install returned {N}", kNonZero, false, kNoCode,
     kFeed, "Exit code of `IfsInst.exe -u`.",
     "Non-zero: 2 (or 3): `IfsInst.exe` is missing: copy the agent's `IfsInstall` folder for this host's bitness into the installation folder and run the tool again. Other codes: read `qsxfltr.log` in the installation folder, fix its cause and run `IfsInst.exe` again with the command line logged before this line."},
    {LineId::Other, Section::Drivers, I,
     "UpdateminiFilterDriver:: IFS driver installer returned {N}", kNonZero, false, kNoCode,
     kFeed, "Exit code of `IfsInst.exe -i`.",
     "Non-zero: 2 (or 3): `IfsInst.exe` is missing: copy the agent's `IfsInstall` folder for this host's bitness into the installation folder and run the tool again. Other codes: read `qsxfltr.log` in the installation folder, fix its cause and run `IfsInst.exe` again with the command line logged before this line."},
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

    // Policy and local user interface (migration path).
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

    // End of every run.
    {LineId::Other, Section::End, W, "Can't record the run's end in {PATH}. Errcode :{N} ",
     kFail, true, kNoCode, kFeed,
     "The registry record of the last run (for a detection rule) could not be written.",
     "Rely on the exit code and the log's last line for this host."},
    {LineId::EndRecord, Section::End, I,
     "Relocator {TEXT} finished with exit code {N} (path: {NAME}, new agent: {NAME}, result: {NAME})",
     kNone, false, kNoCode, kFeed,
     "The run's last record: the exit code the tool returned, the path it took, the state the new agent's service was seen in at the end (`running`; `stopped` or `start-pending`: the start was accepted but the agent was not running; `not-started`), and the result for the host: `migrated` (nothing left to finish and the new agent runs; exit code 0 or 1056), `restart-needed` (3010) or `failed`. The same facts are in the registry under `HKLM\\SOFTWARE\\QSX\\Relocator\\LastRun`.",
     ""},
    {LineId::EndRecord, Section::End, I,
     "Relocator {TEXT} finished with exit code {N} (path: {NAME}, new agent: {NAME})", kNone,
     false, kNoCode, kFeed,
     "The last record of a tool before 1.2: as above without the result; the exit code was 0 for some runs that left the new agent not running.",
     ""},
};
// clang-format on

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "{N}" or "{WORD...}" at pattern[at]; its length, 0 when there is none.
size_t placeholderAt(std::string_view pattern, size_t at, bool& number) {
    if (pattern[at] != '{')
        return 0;
    const size_t close = pattern.find('}', at);
    if (close == std::string_view::npos)
        return 0;
    number = pattern.substr(at, close + 1 - at) == "{N}";
    return close + 1 - at;
}

// An optional minus and 1 to 18 digits.
bool readNumber(std::string_view text, size_t& at, int64_t& value) {
    size_t p = at;
    const bool negative = p < text.size() && text[p] == '-';
    if (negative)
        ++p;
    const size_t first = p;
    int64_t v = 0;
    while (p < text.size() && isDigit(text[p]) && p - first < 18) {
        v = v * 10 + (text[p] - '0');
        ++p;
    }
    if (p == first || (p < text.size() && isDigit(text[p])))
        return false;
    value = negative ? -v : v;
    at = p;
    return true;
}

void capture(LineMatch& m, std::string_view text) {
    if (m.textCount < std::size(m.texts))
        m.texts[m.textCount] = text;
    ++m.textCount;
}

// Matches the piece of the pattern from p up to its next any-text placeholder (or its end)
// at text[t..]: literals and numbers only, so there is one way or none. Returns the end of the
// piece in the pattern and, in t, in the text; npos when it does not match here.
size_t matchPiece(std::string_view pattern,
                  size_t p,
                  std::string_view text,
                  size_t& t,
                  LineMatch& m) {
    while (p < pattern.size()) {
        bool number = false;
        const size_t hole = placeholderAt(pattern, p, number);
        if (hole == 0) {
            if (t >= text.size() || text[t] != pattern[p])
                return std::string_view::npos;
            ++p;
            ++t;
        } else if (number) {
            int64_t value = 0;
            if (!readNumber(text, t, value))
                return std::string_view::npos;
            if (m.numberCount < std::size(m.numbers))
                m.numbers[m.numberCount] = value;
            ++m.numberCount;
            p += hole;
        } else {
            break;
        }
    }
    return p;
}

// Matches the whole text against the pattern. Any-text placeholders take as little as they
// can: each piece after one is placed at the earliest end it can have, which leaves the most
// text for the rest, so nothing is ever tried twice. A piece that begins with a literal is
// only tried where that literal occurs, and only until a match that ends earlier is no longer
// possible: the work is linear in the text's length, whatever a hostile log holds.
bool matchFrom(std::string_view pattern, std::string_view text, LineMatch& m) {
    size_t t = 0;
    size_t p = matchPiece(pattern, 0, text, t, m);
    while (p != std::string_view::npos && p < pattern.size()) {
        bool number = false;
        p += placeholderAt(pattern, p, number);  // an any-text placeholder
        if (p == pattern.size()) {
            capture(m, text.substr(t));  // the hole takes the rest
            return true;
        }
        const size_t literalEnd = pattern.find('{', p);
        const std::string_view literal = pattern.substr(p, literalEnd - p);
        if (literal.empty())
            return false;  // two holes in a row: no line of the tool has them
        LineMatch best;
        size_t bestEnd = std::string_view::npos;
        size_t bestStart = 0;
        size_t bestP = 0;
        // A start past the best end so far cannot end earlier.
        for (size_t at = text.find(literal, t);
             at != std::string_view::npos &&
             (bestEnd == std::string_view::npos || at + literal.size() <= bestEnd);
             at = text.find(literal, at + 1)) {
            LineMatch tried = m;
            size_t end = at;
            const size_t nextP = matchPiece(pattern, p, text, end, tried);
            if (nextP == std::string_view::npos)
                continue;
            // The last piece must end the text: the first start that does is the match.
            if (nextP == pattern.size() && end != text.size())
                continue;
            if (bestEnd == std::string_view::npos || end < bestEnd) {
                best = tried;
                bestEnd = end;
                bestStart = at;
                bestP = nextP;
            }
            if (nextP == pattern.size())
                break;
        }
        if (bestEnd == std::string_view::npos)
            return false;
        capture(best, text.substr(t, bestStart - t));
        m = best;
        t = bestEnd;
        p = bestP;
    }
    return p != std::string_view::npos && t == text.size();
}

}  // namespace

const LogLine* logLines(size_t& count) {
    count = std::size(kLines);
    return kLines;
}

const LogLine& logLine(LineId id) {
    for (const LogLine& line : kLines) {
        if (line.id == id)
            return line;
    }
    return kLines[0];
}

namespace {

// The lines a message can be, by its level and first byte, in the table's order: every record
// of every log is matched, a million logs' worth in a fleet, and most lines' first byte alone
// rules them out. A line that begins with a placeholder is in every list of its level.
struct LineIndex {
    static constexpr int kLevels = 8;  // level values are 1, 2 and 4
    std::vector<uint8_t> lines[kLevels][256];
    std::string_view prefix[std::size(kLines)];  // the literal text before the first placeholder

    LineIndex() {
        static_assert(std::size(kLines) < 256, "line numbers are kept in a byte");
        for (size_t i = 0; i < std::size(kLines); ++i) {
            const LogLine& line = kLines[i];
            const std::string_view text = line.text;
            prefix[i] = text.substr(0, text.find('{'));
            if (line.level < 0 || line.level >= kLevels)
                continue;
            for (int c = 0; c < 256; ++c) {
                if (prefix[i].empty() || static_cast<uint8_t>(prefix[i][0]) == c)
                    lines[line.level][c].push_back(static_cast<uint8_t>(i));
            }
        }
    }
};

}  // namespace

bool matchLogLine(int32_t level, std::string_view message, LineMatch& match) {
    static const LineIndex index;
    if (level < 0 || level >= LineIndex::kLevels)
        return false;
    const uint8_t first = message.empty() ? 0 : static_cast<uint8_t>(message[0]);
    for (const uint8_t i : index.lines[level][first]) {
        const std::string_view prefix = index.prefix[i];
        if (message.substr(0, prefix.size()) != prefix)
            continue;
        LineMatch m;
        if (matchFrom(kLines[i].text, message, m)) {
            m.line = &kLines[i];
            match = m;
            return true;
        }
    }
    return false;
}

}  // namespace report
