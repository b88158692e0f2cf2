// The collection's files as each platform shows them. On Windows the library's filesystem
// layer does not serve a report over a file share: it follows junctions and symbolic links
// (is_symlink never sees a reparse point), cannot look at paths over 260 characters, and throws
// on names that do not convert to UTF-8 (an unpaired UTF-16 surrogate is legal on NTFS). So
// folders are listed with the system's own calls there, through the \\?\ form of each path,
// and names are shown escaped where they do not convert.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace report {

// The path's text in UTF-8 for people; never throws. What does not convert is shown escaped:
// an unpaired surrogate as \uD800, a byte that is no UTF-8 as \xFF.
std::string pathText(const std::filesystem::path& path);

// The form in which the system opens the path: on Windows absolute and with the \\?\ prefix
// (\\?\UNC\ for a share), so that no length limit applies; elsewhere the path itself.
std::filesystem::path systemPath(const std::filesystem::path& path);

// Special: a device, FIFO or socket (on Windows a file whose attributes say device), which a
// report never reads: a device named like a log never ends, a FIFO waits for a writer.
enum class EntryKind { File, Folder, Link, Special, Unknown };

struct FolderEntry {
    std::filesystem::path path;  // the folder's path joined with the entry's name
    EntryKind kind = EntryKind::Unknown;
    // For Unknown: why the kind cannot be told; for Special: what it is ("a FIFO, not a
    // regular file").
    std::string error;
};

// Visits the entries of one folder (not "." and ".."). A reparse point (junction, symbolic
// link, mount point) is a Link whatever it points to. Returns empty when the whole folder was
// listed, else why not (and how far it got is what was visited).
std::string listFolder(const std::filesystem::path& folder,
                       const std::function<void(const FolderEntry&)>& visit);

// What a path named on the command line is, following links (the user named it): a link to a
// device is Special, with what it is in `error`. Unknown with the reason when it cannot be
// looked at, "no such file" when it does not exist.
EntryKind kindOf(const std::filesystem::path& path, std::string& error);

#ifdef _WIN32
// What an open handle (a HANDLE) leads to, by its type and attributes, without reading: File,
// Folder, or Special with what it is in `what`.
EntryKind kindOfHandle(void* handle, std::string& what);
#endif

// What a file that is no regular file is, for the report ("a FIFO, not a regular file"). The
// type is an st_mode on Linux, a GetFileType answer on Windows (FILE_TYPE_DISK for one whose
// attributes say device).
std::string specialText(unsigned type);

}  // namespace report
