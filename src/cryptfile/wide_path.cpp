#include "cryptfile/wide_path.h"

#include <windows.h>

#include <vector>

namespace cryptfile {

bool WidePath(const char* utf8, std::wstring& wide) {
    wide.clear();
    if (!utf8)
        return false;
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (units <= 0 || static_cast<size_t>(units) > kMaxPathUnits + 1)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(units));
    if (::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer.data(), units) != units)
        return false;
    wide.assign(buffer.data(), static_cast<size_t>(units) - 1);
    return true;
}

}  // namespace cryptfile
