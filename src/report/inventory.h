// The fleet's inventory (--hosts): every host that should have sent a log, so that a host where
// the deployment never ran, or whose log was never collected, is counted instead of invisible.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace report {

class Fleet;

// Reads the host names: one a line, or a CSV (comma or semicolon) whose header has a column
// named like host ("host", "Host Name", "hostname", ...) or a plain heading ("Name",
// "Computername"). The text is UTF-8, with or without a byte-order mark, or UTF-16 (either byte
// order) with one, as Windows PowerShell 5.1 writes with `>`; lines end in CR LF or LF. A
// list's heading line (and the dashes a console table puts under it), blank lines and lines
// beginning with '#' are skipped. False with the reason when the file cannot be read, is no
// regular file, or holds no host.
bool readInventory(const std::filesystem::path& path,
                   std::vector<std::string>& hosts,
                   std::string& error);

// The key a host name is matched by: lower case, without its domain ("WS-1.corp" is "ws-1").
std::string hostKey(const std::string& name);

}  // namespace report
