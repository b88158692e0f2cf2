#include "policy_ui/policy_reader.h"

#include <windows.h>
#include <share.h>
#include <shlwapi.h>

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "cryptfile/crypt_file_reader.h"
#include "cryptfile/decrypt_file.h"
#include "logging/logger.h"
#include "policy_ui/policy_scan.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

// Closes the plain text and deletes it; a failed deletion is logged and changes no result.
void cleanUp(win::ScopedFile& text, const std::wstring& textPath) {
    text.reset();
    if (!DeleteFileW(textPath.c_str())) {
        const DWORD error = GetLastError();
        if (gLogger) {
            logMessage(gLogger, LOG_ERROR, L"Can't delete policy.txt file. Errcode :%d \n", error);
        }
    }
}

// Bytes read from policy.txt at a time: few calls for a policy of hundreds of megabytes.
constexpr size_t kScanBlockBytes = 1 << 20;

// Scans the text as the C runtime's text mode hands it out, in large blocks of bytes; None when
// it ends (or a read fails) before a marker.
policy_ui::PolicyMarker scan(FILE* text) {
    // Out of memory: no decision, so that the caller still deletes the plain text.
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kScanBlockBytes]);
    if (!block)
        return policy_ui::PolicyMarker::None;
    // The blocks are read straight into ours: no stream buffer to copy through.
    std::setvbuf(text, nullptr, _IONBF, 0);
    policy_ui::TextModeScan scanner;
    size_t n = 0;
    while ((n = std::fread(block.get(), 1, kScanBlockBytes, text)) > 0) {
        if (!scanner.Push(block.get(), n))
            break;
    }
    return scanner.Finish();
}

}  // namespace

std::string toUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    // Three bytes hold any unit's UTF-8 form (a surrogate pair needs four for its two units).
    std::vector<char> buffer(text.size() * 3 + 1);
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer.data(),
                                      static_cast<int>(buffer.size()), nullptr, nullptr);
    if (n <= 0)
        return std::string();
    return std::string(buffer.data());
}

bool readPolicy(const std::wstring& installDir, bool& includeLocalGUI) try {
    const std::wstring policyPath = installDir + L"\\policy.xml";
    const std::wstring textPath = installDir + L"\\policy.txt";

    // A path that does not fit is not cut: the cut path would name another file.
    if (!win::fitsPath(policyPath) || !PathFileExistsW(policyPath.c_str())) {
        if (gLogger)
            logMessage(gLogger, LOG_ERROR, L"Can't find policy file. %s\n", policyPath.c_str());
        return false;
    }
    if (gLogger)
        logMessage(gLogger, LOG_INFO, L"Found policy file \n");

    win::ScopedFile text;
    if (!DecryptFileToFile(toUtf8(policyPath).c_str(), toUtf8(textPath).c_str())) {
        if (gLogger) {
            logMessage(gLogger, LOG_ERROR, L"Can't decrypt policy file. %s\n", policyPath.c_str());
        }
        cleanUp(text, textPath);
        return false;
    }

    text.reset(_wfsopen(textPath.c_str(), L"rb", _SH_DENYNO));
    if (!text) {
        const DWORD error = GetLastError();
        if (gLogger)
            logMessage(gLogger, LOG_ERROR, L"Can't open policy file. Errcode :%d \n", error);
        cleanUp(text, textPath);
        return false;
    }

    switch (scan(text.get())) {
        case policy_ui::PolicyMarker::True:
            includeLocalGUI = true;
            if (gLogger)
                logMessage(gLogger, LOG_INFO, L"LocalUI Set. \n");
            cleanUp(text, textPath);
            return true;
        case policy_ui::PolicyMarker::False:
            includeLocalGUI = false;
            if (gLogger)
                logMessage(gLogger, LOG_INFO, L"LocalUI not Set. \n");
            cleanUp(text, textPath);
            return true;
        case policy_ui::PolicyMarker::None:
            break;
    }
    cleanUp(text, textPath);
    return false;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return false;
}

namespace {

constexpr size_t kPreviewBlockBytes = 64 * 1024;

// The bytes of the policy as DecryptFileToFile writes them (a plain file as stored, an
// enciphered one line by line with CR LF), pushed into the scan; false when it cannot be read
// to its end. The whole file is read even after the decision, as the run deciphers it whole.
bool pushPolicy(const std::wstring& policyPath, policy_ui::TextModeScan& scan) {
    win::ScopedFile classified(_wfsopen(policyPath.c_str(), L"rb", _SH_DENYNO));
    if (!classified)
        return false;
    CCryptFileReader reader(false);
    reader.AttachFile(classified.release(), cryptfile::kKeyText);
    if (reader.IsEncrypted()) {
        bool more = true;
        while (const char* line = reader.NextLine()) {
            if (more) {
                more = scan.Push(reinterpret_cast<const uint8_t*>(line), reader.LineLength() - 1) &&
                       scan.Push(reinterpret_cast<const uint8_t*>("\r\n"), 2);
            }
        }
        return !reader.ReadFailed();
    }
    reader.Close();
    win::ScopedFile plain(_wfsopen(policyPath.c_str(), L"rb", _SH_DENYNO));
    if (!plain)
        return false;
    std::vector<uint8_t> block(kPreviewBlockBytes);
    bool more = true;
    size_t n = 0;
    while ((n = std::fread(block.data(), 1, block.size(), plain.get())) > 0) {
        if (more)
            more = scan.Push(block.data(), n);
    }
    return !std::ferror(plain.get());
}

}  // namespace

PolicyPreview previewPolicy(const std::wstring& installDir) try {
    const std::wstring policyPath = installDir + L"\\policy.xml";
    if (!win::fitsPath(policyPath) || !PathFileExistsW(policyPath.c_str()))
        return PolicyPreview::Missing;
    policy_ui::TextModeScan scan;
    if (!pushPolicy(policyPath, scan))
        return PolicyPreview::CannotDecipher;
    switch (scan.Finish()) {
        case policy_ui::PolicyMarker::True:
            return PolicyPreview::IncludeUi;
        case policy_ui::PolicyMarker::False:
            return PolicyPreview::ExcludeUi;
        case policy_ui::PolicyMarker::None:
            break;
    }
    return PolicyPreview::NoMarker;
} catch (...) {
    // Out of memory: the policy could not be read here.
    return PolicyPreview::CannotDecipher;
}
