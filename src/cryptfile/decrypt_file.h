// Plain copies of the agent's configuration files: a stored file deciphered to a destination that
// only SYSTEM and administrators can read. Windows only.
#pragma once

#include <string>

class CCryptFileReader;

// Turns the configuration file at source into plain text at destination (both zero-terminated
// UTF-8 paths), holding the source's lock while it is read enciphered. A plain source is copied
// byte for byte; an enciphered one is written line by line with CR LF line ends, a final line
// end added (WriteLinesToFile). False when the source cannot be opened, a path's UTF-16 form is
// longer than 260 units, the destination cannot be created or fully written, or reading the source
// stops before its end; a destination that was created or truncated and not finished is removed.
bool DecryptFileToFile(const char* source, const char* destination);

// The enciphered half of DecryptFileToFile: writes every line the open reader hands out to
// destination as a text-mode write would (each line feed becomes carriage return and line
// feed). False when the destination cannot be created or fully written or
// the reader stops before the end of its file; the destination is then removed.
bool WriteLinesToFile(CCryptFileReader& reader, const std::wstring& destination);
