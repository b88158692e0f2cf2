// What Relocator.exe would do on this host if it were started now, from this working folder and
// without arguments, worked out without changing anything: the path (decided by choosePath, as
// the run decides it), its steps with the programs it would start (built by the functions the
// run builds them with), the local UI decision of the policy (deciphered in memory) and every
// problem that can be seen ahead. relocator-check prints it.
#pragma once

#include <string>
#include <vector>

#include "migration/run_context.h"
#include "migration/run_guard.h"
#include "migration/run_record.h"
#include "personality/personality.h"

struct PlanProblem {
    std::string id;  // a stable key, for counting hosts by problem
    std::wstring text;
    std::wstring consequence;
    std::wstring action;
};

struct RunPlan {
    RunPath path = RunPath::Fallback;
    std::wstring fallbackReason;
    bool resumes = false;  // an interrupted migration is taken up again
    MigrationRecord interrupted;
    bool lastRunKnown = false;
    LastRunRecord lastRun;
    GuardProbe runningNow = GuardProbe::Free;
    std::vector<std::wstring> steps;
    // The command lines of the programs the tool starts itself, in order: the installers and
    // the application-protection program.
    std::vector<std::wstring> programs;
    std::wstring localUi;  // what the local UI step would do, in words
    std::vector<PlanProblem> problems;
};

// The plan for the host the context describes (its paths built as the run builds them).
RunPlan planRun(const RunContext& context, const Personality& personality);

// The program a command line starts: the text inside its leading quotes.
std::wstring programOf(const std::wstring& commandLine);
