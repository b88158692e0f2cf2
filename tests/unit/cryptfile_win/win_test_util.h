// Helpers of the Windows cryptfile tests: enciphered test files (RC4 is symmetric), paths as the
// reader takes them, the lock helper program and waits on a mutex from another thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "cryptfile/text_format.h"
#include "stored_form.h"
#include "host_support.h"
#include "win/scoped.h"

namespace cryptfile_win_test {

// The stored form of a plain text under the system's key text.
inline std::string Encipher(const std::string& plain) {
    return testsupport::encipher(plain);
}

inline std::string Utf16LeBytes(const std::u16string& text) {
    std::string out;
    for (char16_t u : text) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

// An enciphered file that classification reads as 16-bit units: its stored bytes open with a
// UTF-8 mark and a zero byte. Deciphered, they are two units of no meaning, which the file puts
// on a first line of their own; the text follows.
inline std::string UnitFile(const std::u16string& text) {
    cryptfile::Rc4State ks;
    cryptfile::Rc4Init(ks, reinterpret_cast<const uint8_t*>(cryptfile::kKeyText),
                       std::strlen(cryptfile::kKeyText));
    std::string plain;
    for (uint8_t stored : {0xEF, 0xBB, 0xBF, 0x00}) {
        plain.push_back(static_cast<char>(stored ^ cryptfile::Rc4NextByte(ks)));
    }
    return Encipher(plain + Utf16LeBytes(u"\n" + text));
}

inline std::string Utf8(const std::wstring& w) {
    if (w.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

// The executable's folder with its trailing backslash: where the lock table keys its files.
inline std::wstring ExeFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    std::wstring s(path);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

// What a wait of waitMs on the named mutex gives on a thread of its own (WAIT_OBJECT_0,
// WAIT_ABANDONED, WAIT_TIMEOUT, WAIT_FAILED); a mutex taken there is released before it returns.
inline DWORD WaitElsewhere(const wchar_t* name, DWORD waitMs = 0) {
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        win::ScopedHandle m(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
        if (!m)
            return;
        result = WaitForSingleObject(m.get(), waitMs);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
            ReleaseMutex(m.get());
    });
    other.join();
    return result;
}

// The helper program that owns a named mutex in another process: "hold" keeps it until the
// done event is set (or holdMs passes), "abandon" ends without releasing it.
class MutexHolder {
  public:
    MutexHolder(const std::wstring& mutexName, const std::wstring& mode, DWORD holdMs = 60000) {
        const std::wstring tag = mutexName + L"_" + std::to_wstring(GetCurrentProcessId());
        ready_.reset(CreateEventW(nullptr, TRUE, FALSE, (tag + L"_ready").c_str()));
        done_.reset(CreateEventW(nullptr, TRUE, FALSE, (tag + L"_done").c_str()));
        const std::wstring cmd = L"\"" + host::binDir() + L"\\mutex_holder.exe\" " + mutexName +
                                 L" " + tag + L" " + mode + L" " + std::to_wstring(holdMs);
        process_.reset(host::spawn(cmd, L""));
    }
    ~MutexHolder() {
        if (done_)
            SetEvent(done_.get());
        if (process_)
            WaitForSingleObject(process_.get(), 10000);
    }
    // True once the helper owns the mutex.
    bool WaitReady(DWORD ms = 20000) {
        if (!process_ || !ready_)
            return false;
        HANDLE both[] = {ready_.get(), process_.get()};
        return WaitForMultipleObjects(2, both, FALSE, ms) == WAIT_OBJECT_0;
    }
    void Finish() {
        SetEvent(done_.get());
        WaitForSingleObject(process_.get(), 10000);
    }
    bool Exited(DWORD ms = 10000) {
        return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0;
    }

  private:
    win::ScopedHandle ready_;
    win::ScopedHandle done_;
    win::ScopedHandle process_;
};

}  // namespace cryptfile_win_test
