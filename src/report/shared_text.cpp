#include "report/shared_text.h"

#include <mutex>
#include <unordered_set>

namespace report {

namespace {

const std::string kNoText;

// Never freed: one copy of each distinct text for the life of the report.
const std::string* sharedCopy(std::string_view text) {
    static std::mutex lock;
    static std::unordered_set<std::string>* texts = new std::unordered_set<std::string>();
    const std::lock_guard<std::mutex> guard(lock);
    return &*texts->emplace(text).first;
}

}  // namespace

SharedText::SharedText() : text_(&kNoText) {}

SharedText::SharedText(std::string_view text) : text_(text.empty() ? &kNoText : sharedCopy(text)) {}

}  // namespace report
