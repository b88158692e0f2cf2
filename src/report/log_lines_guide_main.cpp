// Prints docs/log-lines.md as the tables make it, or with --check FILE tells whether FILE is
// that text (exit code 0) or where it first departs from it (exit code 1).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "report/log_lines_guide.h"

namespace {

int check(const char* path, const std::string& wanted) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        std::fprintf(stderr, "%s cannot be read\n", path);
        return 1;
    }
    const std::string have((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (have == wanted)
        return 0;
    std::istringstream a(have);
    std::istringstream b(wanted);
    std::string lineA;
    std::string lineB;
    for (int n = 1;; ++n) {
        const bool moreA = static_cast<bool>(std::getline(a, lineA));
        const bool moreB = static_cast<bool>(std::getline(b, lineB));
        if (moreA != moreB || lineA != lineB) {
            std::fprintf(stderr,
                         "%s is not the generated guide; first difference at line %d:\n"
                         "  file:      %s\n  generated: %s\n"
                         "Regenerate it with log_lines_guide > docs/log-lines.md\n",
                         path, n, moreA ? lineA.c_str() : "(end)", moreB ? lineB.c_str() : "(end)");
            return 1;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string guide = report::logLinesGuide();
        if (argc == 3 && std::string(argv[1]) == "--check")
            return check(argv[2], guide);
        if (argc != 1) {
            std::fputs("usage: log_lines_guide [--check FILE]\n", stderr);
            return 2;
        }
        std::fwrite(guide.data(), 1, guide.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (...) {
        std::fputs("log_lines_guide: unexpected failure\n", stderr);
        return 1;
    }
}
