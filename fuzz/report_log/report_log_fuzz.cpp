#include "report_log_fuzz.h"

#include <string>

#include "cryptfile/text_format.h"
#include "fuzz_check.h"
#include "report/run_reader.h"
#include "report/text_escape.h"

namespace {

using report::Outcome;

bool noControlBytes(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

// Escaped text is valid UTF-8 (escaping it again changes nothing) and holds no raw control
// byte where the format forbids one.
void checkEscaping(const std::string& text) {
    const std::string valid = report::validUtf8(text);
    FUZZ_CHECK(report::validUtf8(valid) == valid);
    FUZZ_CHECK(noControlBytes(report::jsonEscape(text)));
    FUZZ_CHECK(noControlBytes(report::terminalText(text)));
    const std::string html = report::htmlEscape(text);
    FUZZ_CHECK(html.find('<') == std::string::npos && html.find('"') == std::string::npos);
}

}  // namespace

int ReportLogFuzzOne(const uint8_t* data, size_t size) {
    cryptfile::MemoryByteSource source(data, size);
    report::HostReport host;
    report::readRun(source, host);

    const bool judged = host.outcome != Outcome::Incomplete && host.outcome != Outcome::NotALog &&
                        host.outcome != Outcome::Unreadable;
    // A judged outcome comes from a run that took a path; an exit code only from such a run.
    FUZZ_CHECK(!judged || host.path != report::RunPath::Unknown);
    FUZZ_CHECK(judged || host.exit.kind == report::ExitCode::Unknown);
    FUZZ_CHECK(judged || !host.reason.empty());
    FUZZ_CHECK(host.failures.size() <= report::kMaxFailures);
    FUZZ_CHECK(host.started.empty() == host.ended.empty());
    for (const report::Failure& f : host.failures) {
        FUZZ_CHECK(f.text.str().size() <= report::kMaxFailureText);
        checkEscaping(f.text.str());
    }
    checkEscaping(host.reason.str());
    checkEscaping(host.os.str());
    return 0;
}
