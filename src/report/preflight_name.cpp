#include "report/preflight_name.h"

#include <algorithm>

#include "report/file_system.h"

namespace report {

namespace {

constexpr char kName[] = "relocator-check.json";
constexpr char kNameSuffix[] = "_relocator-check.json";

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<long>(end.size()),
                      [](char a, char b) { return (a | 0x20) == (b | 0x20); });
}

}  // namespace

bool isPreflightName(const std::string& fileName) {
    return endsWithIgnoringCase(fileName, kNameSuffix) ||
           (fileName.size() == sizeof(kName) - 1 && endsWithIgnoringCase(fileName, kName));
}

std::string hostOfPreflightFile(const std::filesystem::path& path) {
    const std::string name = pathText(path.filename());
    if (name.size() > sizeof(kNameSuffix) - 1 && endsWithIgnoringCase(name, kNameSuffix))
        return name.substr(0, name.size() - (sizeof(kNameSuffix) - 1));
    const std::filesystem::path folder = path.parent_path().filename();
    return folder == "." || folder == ".." ? std::string() : pathText(folder);
}

}  // namespace report
