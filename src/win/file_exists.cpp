#include "win/file_exists.h"

#include <windows.h>

#include "win/strings.h"

bool fileExists(const std::wstring& path) {
    if (!win::fitsPath(path))
        return false;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
           error != ERROR_INVALID_NAME;
}
