// Judges one run of the tool from its records alone: the path it took, whether it got to the
// end of that path, the outcome for the host, the exit code the tool returned where the
// records determine it, and the failure lines.
//
// A log whose run wrote the tool's start record ("Relocator V started as process N") is
// complete when it ends with the end record, which also gives the exit code, the path and the
// state of the new agent's service. A log of a tool before those records is complete when the
// last step its path always logs is there:
// - fallback: "Starting old Glacis Service" (the start of the old agent follows);
// - restart: "Rampart DETECTED. Starting it" or "Removing Installed Rampart ..." after the
//   start's outcome;
// - migration: "Pick up GlacisUi from ..." and the local UI step's decision. A successful
//   start of the new agent writes nothing, so a run stopped between that decision and the end
//   of the start cannot be told from a finished one.
#pragma once

#include <string>

#include "report/host_report.h"
#include "report/run_facts.h"

namespace report {

// Gathers the records as RunFacts (record, cutAtEnd) and decides once the file is read: what a
// record tells and what a run comes to are kept apart, each readable on its own.
class RunJudge : public RunFacts {
  public:
    // Fills path, outcome, exit code, reason, stamps and failures. `damage` describes bytes
    // that are no text of the log (empty when there are none); it is added to the reason.
    void judge(HostReport& report, const std::string& damage) const;

  private:
    bool complete() const;
    void outcome(HostReport& report) const;
    // The cause of the outcome from the records that explain it; a run that started the new
    // agent with a failure that needs a person becomes FollowUp.
    void explain(HostReport& report) const;
    RunPath endPath() const;
};

}  // namespace report
