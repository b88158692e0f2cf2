#include "policy_scan_fuzz.h"

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "policy_ui/policy_scan.h"

namespace {

using namespace policy_ui;

// The decision by a different road: join the visible parts of the pieces that continue one line,
// find every marker in the joined text, and credit each to the piece where it ends.
PolicyMarker Oracle(const std::vector<std::string>& pieces) {
    size_t i = 0;
    while (i < pieces.size()) {
        std::string joined;
        std::vector<size_t> ends;  // end offset of each piece of this run within joined
        for (;;) {
            const std::string visible(pieces[i].c_str());
            joined += visible;
            ends.push_back(joined.size());
            const bool continues = visible.size() == kPolicyPieceChars && visible.back() != '\n';
            ++i;
            if (!continues || i == pieces.size())
                break;
        }
        // For each piece of the run in order: does a marker end inside it?
        for (size_t k = 0; k < ends.size(); ++k) {
            const size_t lo = k == 0 ? 0 : ends[k - 1];
            const size_t hi = ends[k];
            bool hasTrue = false;
            bool hasFalse = false;
            for (size_t pos = joined.find(kMarkerTrue); pos != std::string::npos;
                 pos = joined.find(kMarkerTrue, pos + 1)) {
                const size_t end = pos + kMarkerTrueChars;
                if (end > lo && end <= hi)
                    hasTrue = true;
            }
            for (size_t pos = joined.find(kMarkerFalse); pos != std::string::npos;
                 pos = joined.find(kMarkerFalse, pos + 1)) {
                const size_t end = pos + kMarkerFalseChars;
                if (end > lo && end <= hi)
                    hasFalse = true;
            }
            if (hasTrue)
                return PolicyMarker::True;
            if (hasFalse)
                return PolicyMarker::False;
        }
    }
    return PolicyMarker::None;
}

void CheckPieces(const uint8_t* data,
                 size_t size,
                 const std::vector<std::string>& pieces,
                 size_t most) {
    std::string joined;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string& p = pieces[k];
        FUZZ_CHECK(!p.empty() && p.size() <= most);
        const size_t lf = p.find('\n');
        FUZZ_CHECK(lf == std::string::npos || lf == p.size() - 1);
        // Short of a line feed and of the full size only at the end of the text.
        if (lf == std::string::npos && p.size() < most)
            FUZZ_CHECK(k + 1 == pieces.size());
        joined += p;
    }
    FUZZ_CHECK(joined.size() == size && (size == 0 || std::memcmp(joined.data(), data, size) == 0));
}

}  // namespace

int PolicyScanFuzzOne(const uint8_t* data, size_t size) {
    const std::vector<std::string> pieces = SplitLikeFgets(data, size);
    CheckPieces(data, size, pieces, kPolicyPieceChars);
    if (size > 0) {
        // Other buffer sizes cut the same way.
        const size_t small = 2 + data[0] % 30;
        CheckPieces(data, size, SplitLikeFgets(data, size, small), small - 1);
    }

    PolicyScanner scanner;
    PolicyMarker fed = PolicyMarker::None;
    for (const std::string& p : pieces) {
        fed = scanner.Feed(p.c_str());
        if (fed != PolicyMarker::None)
            break;
    }
    FUZZ_CHECK(fed == scanner.result());
    FUZZ_CHECK(ScanPolicyText(data, size) == fed);
    FUZZ_CHECK(Oracle(pieces) == fed);
    return 0;
}
