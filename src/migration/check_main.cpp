// relocator-check: tells what Relocator.exe would do on this host if it were started now from
// this folder without arguments, and what would go wrong, without changing anything on the
// host. Exit code: 0 migration or restart without problems, 1 with problems, 2 fallback, 3 the
// check could not run.
#include <windows.h>

#include <cstdio>
#include <string>

#include "migration/host_queries.h"
#include "migration/paths.h"
#include "migration/plan.h"
#include "migration/version.h"
#include "personality/personality_win.h"
#include "text/utf8_text.h"
#include "win/library_search.h"
#include "win/strings.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitProblems = 1;
constexpr int kExitFallback = 2;
constexpr int kExitCannotCheck = 3;

std::string utf8(const std::wstring& text) {
    return win::toNarrowUtf8(text);
}

std::string json(const std::wstring& text) {
    return "\"" + text::jsonEscape(utf8(text)) + "\"";
}

std::wstring hostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? std::wstring(name, size) : std::wstring();
}

const char* runningNowText(GuardProbe probe) {
    switch (probe) {
        case GuardProbe::Held:
            return "yes";
        case GuardProbe::Free:
            return "no";
        case GuardProbe::Unknown:
            break;
    }
    return "unknown";
}

int exitCodeOf(const RunPlan& plan) {
    if (plan.path == RunPath::Fallback)
        return kExitFallback;
    return plan.problems.empty() ? kExitClean : kExitProblems;
}

std::string jsonPlan(const RunPlan& plan, const RunContext& context) {
    std::string out = "{\"tool\":\"relocator-check\",\"version\":" + json(kRelocatorVersion) +
                      ",\"host\":" + json(hostName()) +
                      ",\"workingFolder\":" + json(context.startStop.workingFolder()) +
                      ",\"installDir\":" + json(context.installDir) +
                      ",\"path\":" + json(pathName(plan.path)) +
                      ",\"resumes\":" + (plan.resumes ? "true" : "false") + ",\"runningNow\":\"" +
                      runningNowText(plan.runningNow) + "\"" +
                      ",\"localUi\":" + json(plan.localUi) + ",\"steps\":[";
    for (size_t i = 0; i < plan.steps.size(); ++i)
        out += (i ? "," : "") + json(plan.steps[i]);
    out += "],\"skipped\":[";
    for (size_t i = 0; i < plan.skipped.size(); ++i)
        out += (i ? "," : "") + json(plan.skipped[i]);
    out += std::string("],\"leftOverPolicyText\":") + (plan.leftOverPolicyText ? "true" : "false");
    out += ",\"programs\":[";
    for (size_t i = 0; i < plan.programs.size(); ++i)
        out += (i ? "," : "") + json(plan.programs[i]);
    out += "],\"problems\":[";
    for (size_t i = 0; i < plan.problems.size(); ++i) {
        const PlanProblem& p = plan.problems[i];
        out += std::string(i ? "," : "") + "{\"id\":\"" + p.id + "\",\"text\":" + json(p.text) +
               ",\"consequence\":" + json(p.consequence) + ",\"action\":" + json(p.action) + "}";
    }
    out += "],\"lastRun\":";
    if (plan.lastRunKnown) {
        out += "{\"path\":" + json(plan.lastRun.path) +
               ",\"exitCode\":" + std::to_string(plan.lastRun.exitCode) +
               ",\"version\":" + json(plan.lastRun.version) +
               ",\"ended\":" + json(plan.lastRun.ended) +
               ",\"newAgent\":" + json(plan.lastRun.newAgent) + "}";
    } else {
        out += "null";
    }
    return out + ",\"exitCode\":" + std::to_string(exitCodeOf(plan)) + "}\n";
}

void print(const std::wstring& text) {
    const std::string bytes = utf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void printPlan(const RunPlan& plan, const RunContext& context) {
    print(L"Relocator.exe started now on " + hostName() + L" from " +
          context.startStop.workingFolder() + L", without arguments, would take the " +
          pathName(plan.path) + L" path" +
          (plan.resumes ? L" (resuming an interrupted migration)" : L"") + L".\n");
    print(L"Installation folder: " + context.installDir + L"\n");
    if (plan.runningNow == GuardProbe::Held)
        print(L"A run is going on now.\n");
    print(L"\nSteps:\n");
    for (size_t i = 0; i < plan.steps.size(); ++i)
        print(L"  " + std::to_wstring(i + 1) + L". " + plan.steps[i] + L"\n");
    print(L"\nPrograms it starts itself:\n");
    for (const std::wstring& program : plan.programs)
        print(L"  " + program + L"\n");
    if (plan.programs.empty())
        print(L"  none\n");
    if (!plan.localUi.empty())
        print(L"\nLocal user interface: " + plan.localUi + L"\n");
    if (plan.lastRunKnown) {
        print(L"\nLast run: ended " + plan.lastRun.ended + L" on the " + plan.lastRun.path +
              L" path with exit code " + std::to_wstring(plan.lastRun.exitCode) + L", new agent " +
              plan.lastRun.newAgent + L" (Relocator " + plan.lastRun.version + L")\n");
    }
    print(L"\nProblems: " + std::to_wstring(plan.problems.size()) + L"\n");
    for (const PlanProblem& p : plan.problems) {
        print(L"  ! " + p.text + L"\n      Consequence: " + p.consequence + L"\n      Next: " +
              p.action + L"\n");
    }
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

int check(int argc, wchar_t** argv) {
    std::wstring jsonPath;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--json" && i + 1 < argc) {
            jsonPath = argv[++i];
        } else {
            std::fputs("usage: relocator-check [--json FILE]\n", stderr);
            return kExitCannotCheck;
        }
    }
    RunContext context;
    buildRunContext(context, getInstallDir());
    const RunPlan plan = planRun(context, *GetPersonality());
    printPlan(plan, context);
    if (!jsonPath.empty() && !writeFile(jsonPath, jsonPlan(plan, context))) {
        std::fprintf(stderr, "relocator-check: cannot write %s\n", utf8(jsonPath).c_str());
        return kExitCannotCheck;
    }
    return exitCodeOf(plan);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // As the tool itself: no library from the program's or the current folder.
    win::hardenLibrarySearch();
    try {
        return check(argc, argv);
    } catch (...) {
        std::fputs("relocator-check: the check could not be completed (out of memory?)\n", stderr);
        return kExitCannotCheck;
    }
}
