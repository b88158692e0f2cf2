#include "migration/plan_builder.h"

#include "win/file_exists.h"

void PlanBuilder::program(const std::wstring& commandLine, const wchar_t* installers) {
    plan_.programs.push_back(commandLine);
    if (installers == nullptr) {
        step(L"Run " + commandLine + L" and wait for it");
        return;
    }
    step(L"Run " + commandLine);
    const std::wstring program = programOf(commandLine);
    if (!program.empty() && !fileExists(program)) {
        problem("installer-missing", program + L" is missing.",
                L"That driver is not reinstalled; the run logs code 2 or 3 for it and goes on.",
                std::wstring(L"Copy the agent's ") + installers +
                    L" folder for this host's bitness into the installation folder.");
    }
}

std::wstring programOf(const std::wstring& commandLine) {
    if (commandLine.empty() || commandLine[0] != L'"')
        return std::wstring();
    const size_t close = commandLine.find(L'"', 1);
    return close == std::wstring::npos ? std::wstring() : commandLine.substr(1, close - 1);
}
