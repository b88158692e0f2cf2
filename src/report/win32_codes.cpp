#include "report/win32_codes.h"

#include <algorithm>
#include <iterator>

namespace report {

namespace {

// The codes the tool's operations return and its log lines show: service control (open,
// create, delete, start), files (delete, copy, open), folders, process and privilege calls.
constexpr Win32Code kCodes[] = {
    {0, "ERROR_SUCCESS", "The operation completed successfully."},
    {2, "ERROR_FILE_NOT_FOUND", "The system cannot find the file specified."},
    {3, "ERROR_PATH_NOT_FOUND", "The system cannot find the path specified."},
    {5, "ERROR_ACCESS_DENIED", "Access is denied."},
    {6, "ERROR_INVALID_HANDLE", "The handle is invalid."},
    {8, "ERROR_NOT_ENOUGH_MEMORY",
     "Not enough memory resources are available to process this command."},
    {18, "ERROR_NO_MORE_FILES", "There are no more files."},
    {32, "ERROR_SHARING_VIOLATION",
     "The process cannot access the file because it is being used by another process."},
    {80, "ERROR_FILE_EXISTS", "The file exists."},
    {87, "ERROR_INVALID_PARAMETER", "The parameter is incorrect."},
    {112, "ERROR_DISK_FULL", "There is not enough space on the disk."},
    {123, "ERROR_INVALID_NAME",
     "The filename, directory name, or volume label syntax is incorrect."},
    {161, "ERROR_BAD_PATHNAME", "The specified path is invalid."},
    {183, "ERROR_ALREADY_EXISTS", "Cannot create a file when that file already exists."},
    {193, "ERROR_BAD_EXE_FORMAT", "%1 is not a valid Win32 application."},
    {206, "ERROR_FILENAME_EXCED_RANGE", "The filename or extension is too long."},
    {1053, "ERROR_SERVICE_REQUEST_TIMEOUT",
     "The service did not respond to the start or control request in a timely fashion."},
    {1056, "ERROR_SERVICE_ALREADY_RUNNING", "An instance of the service is already running."},
    {1057, "ERROR_INVALID_SERVICE_ACCOUNT",
     "The account name is invalid or does not exist, or the password is invalid for the account "
     "name specified."},
    {1058, "ERROR_SERVICE_DISABLED",
     "The service cannot be started, either because it is disabled or because it has no enabled "
     "devices associated with it."},
    {1059, "ERROR_CIRCULAR_DEPENDENCY", "Circular service dependency was specified."},
    {1060, "ERROR_SERVICE_DOES_NOT_EXIST",
     "The specified service does not exist as an installed service."},
    {1067, "ERROR_PROCESS_ABORTED", "The process terminated unexpectedly."},
    {1068, "ERROR_SERVICE_DEPENDENCY_FAIL", "The dependency service or group failed to start."},
    {1069, "ERROR_SERVICE_LOGON_FAILED", "The service did not start due to a logon failure."},
    {1072, "ERROR_SERVICE_MARKED_FOR_DELETE",
     "The specified service has been marked for deletion."},
    {1073, "ERROR_SERVICE_EXISTS", "The specified service already exists."},
    {1075, "ERROR_SERVICE_DEPENDENCY_DELETED",
     "The dependency service does not exist or has been marked for deletion."},
    {1078, "ERROR_DUPLICATE_SERVICE_NAME",
     "The name is already in use as either a service name or a service display name."},
    {1223, "ERROR_CANCELLED", "The operation was canceled by the user."},
    {1313, "ERROR_NO_SUCH_PRIVILEGE", "A specified privilege does not exist."},
    {1618, "ERROR_INSTALL_ALREADY_RUNNING",
     "Another installation is already in progress. Complete that installation before proceeding "
     "with this install."},
    {3010, "ERROR_SUCCESS_REBOOT_REQUIRED",
     "The requested operation is successful. Changes will not be effective until the system is "
     "rebooted."},
};

}  // namespace

const Win32Code* win32Codes(size_t& count) {
    count = std::size(kCodes);
    return kCodes;
}

const Win32Code* findWin32Code(int64_t code) {
    const Win32Code* end = std::end(kCodes);
    const Win32Code* at = std::lower_bound(
        std::begin(kCodes), end, code, [](const Win32Code& e, int64_t c) { return e.code < c; });
    return at != end && at->code == code ? at : nullptr;
}

}  // namespace report
