// A plan of what Relocator.exe would do on a host, and the builder its step rows describe
// themselves through. Below both the rows of every path and the planner that walks them.
#pragma once

#include <string>
#include <vector>

#include "migration/run_context.h"
#include "migration/run_guard.h"
#include "migration/run_record.h"

struct PlanProblem {
    std::string id;  // a stable key, for counting hosts by problem
    std::wstring text;
    std::wstring consequence;
    std::wstring action;
};

struct RunPlan {
    RunPath path = RunPath::Fallback;
    std::wstring fallbackReason;
    bool resumes = false;      // an interrupted migration is taken up again
    bool recordFound = false;  // a migration record is there, whatever the path
    MigrationRecord interrupted;
    // The steps of a resumed migration that the run skips, by their record names.
    std::vector<std::wstring> skipped;
    bool leftOverPolicyText = false;  // a policy.txt that the run deletes first
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

// Adds to a plan: the step rows describe themselves through it.
class PlanBuilder {
  public:
    explicit PlanBuilder(RunPlan& plan) : plan_(plan) {}
    void step(const std::wstring& text) { plan_.steps.push_back(text); }
    void problem(const char* id,
                 const std::wstring& text,
                 const std::wstring& consequence,
                 const std::wstring& action) {
        plan_.problems.push_back({id, text, consequence, action});
    }
    // A program the run starts: a step, the command line, and a problem when it is missing.
    void program(const std::wstring& commandLine, const wchar_t* installers);
    void localUi(const std::wstring& decision) { plan_.localUi = decision; }
    void fallbackReason(const std::wstring& reason) { plan_.fallbackReason = reason; }

  private:
    RunPlan& plan_;
};

// The program a command line starts: the text inside its leading quotes.
std::wstring programOf(const std::wstring& commandLine);
