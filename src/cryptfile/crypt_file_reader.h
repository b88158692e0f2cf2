// Reader for the agent's configuration files, stored plain or enciphered: finds out by itself
// which (cryptfile::TextDecoder) and hands the text out line by line, deciphered. While a file is
// open the reader can hold the file's named lock, so that the agent does not rewrite it meanwhile.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cryptfile/file_lock_table.h"
#include "cryptfile/text_format.h"
#include "cryptfile/wide_path.h"
#include "win/scoped.h"

class CCryptFileReader {
  public:
    // Size of the line buffer before any line has made it grow.
    static constexpr int32_t kInitialLineCapacity = 12;
    // Units a path may hold without its terminator; longer paths are refused, never cut.
    static constexpr size_t kMaxPathUnits = cryptfile::kMaxPathUnits;

    // Opens the whole set of named mutexes (CFileLockTable::Initialize). Without locks (a reader
    // that must leave no trace on the host, not even a named object) no mutex is made or opened
    // and no file's lock can be taken.
    explicit CCryptFileReader(bool withLocks = true);
    // Closes the file, releases its lock and closes the mutexes.
    ~CCryptFileReader();
    CCryptFileReader(const CCryptFileReader&) = delete;
    CCryptFileReader& operator=(const CCryptFileReader&) = delete;

    // Opens path (zero-terminated UTF-8) for binary reading and classifies it with keyText.
    // With lockWhileOpen the file's lock is taken first, if it has one and it can be had within
    // the lock wait; otherwise the file is read unlocked. A file already attached is closed
    // first. False for a null path, a path whose UTF-16 form is longer than kMaxPathUnits, or a
    // file that cannot be opened; no lock is left held then.
    bool Open(const char* path, bool lockWhileOpen, const char* keyText);

    // Takes over a stream opened for binary reading and classifies it. Closes the stream of a
    // file attached before (its lock stays). False only for a null stream.
    bool AttachFile(FILE* file, const char* keyText);

    // Closes the stream and releases the lock.
    void Close();

    bool IsEncrypted() const { return decoder_.encrypted(); }
    int32_t GetEncoding() const { return decoder_.encoding(); }

    // The next whole line, zero-terminated and ending in exactly one line feed (one is added to a
    // last line without it); valid until the next call. Null at the end of the file, and also when
    // reading failed (ReadFailed tells the two apart). The buffer grows by doubling from
    // kInitialLineCapacity bytes and keeps its size. A line read as 16-bit units is handed out as
    // the UTF-8 form of the whole line.
    char* NextLine();
    // Bytes of the line NextLine last returned, its line feed included; zero bytes inside the
    // line count, so text holding them is handed on whole. 0 after a null result.
    size_t LineLength() const { return lineLength_; }
    int32_t LineCapacity() const { return lineCapacity_; }

    // One line, or its next piece when the buffer is too small, into the caller's buffer (capacity
    // in bytes / in UTF-16 units); null at the end of the file. See cryptfile::TextDecoder.
    char* ReadLineUtf8(char* buffer, int32_t capacity);
    char16_t* ReadLineUtf16(char16_t* buffer, uint32_t capacity);

    // Files read as bytes (cryptfile::ReadsAsBytes(GetEncoding())): the rest of the text as
    // NextLine would hand it out, each line written with a CR LF end, a block at a time; a last
    // line without its line feed comes without a line end. 0 at the end of the file (or when
    // reading failed: ReadFailed tells).
    size_t ReadCrLfText(char* out, size_t capacity) {
        return decoder_.ReadCrLfText(reinterpret_cast<uint8_t*>(out), capacity);
    }

    // lock false: releases the held lock. lock true: takes the lock of path (normalised as the
    // table's keys; a path that cannot be normalised is used as given), releasing any other lock
    // first; nothing changes when that lock is already held or path is null or empty.
    void SetLockedFile(bool lock, const wchar_t* path);
    // The normalised path whose lock the reader holds; empty when it holds none.
    const std::wstring& LockedPath() const { return lockedPath_; }

    // Reads, deciphers and drops count bytes.
    void SkipBytes(int32_t count);

    // True when reading stopped for a cause other than the end of the file: a read error of the
    // stream, or memory for a line that could not be had. Cleared when a file is attached.
    bool ReadFailed() const { return lineFailed_ || decoder_.error(); }

  private:
    // The attached stream as the decoder's byte source: block reads through the CRT's buffer.
    class FileSource : public cryptfile::ByteSource {
      public:
        void set(FILE* file) { file_ = file; }
        int ReadByte() override;
        bool Rewind() override;
        size_t Read(uint8_t* buf, size_t n) override;
        bool ReadFailed() const override;

      private:
        FILE* file_ = nullptr;
    };

    void CloseStream();
    bool GrowLineBuffer(size_t keep);
    size_t MeasureLine(size_t from) const;
    void ResetLineBuffer();
    char* LineFailed();

    win::ScopedFile file_;
    FileSource source_;
    cryptfile::TextDecoder decoder_;
    std::wstring lockedPath_;

    // lineBuffer_ is small_ until a line makes it grow, then heap_; never null. Bytes of it that
    // no read has written hold kUnwritten, so the end of a line that holds zero bytes can be found.
    char small_[kInitialLineCapacity];
    std::unique_ptr<char[]> heap_;
    char* lineBuffer_ = small_;
    int32_t lineCapacity_ = kInitialLineCapacity;
    size_t lineLength_ = 0;
    size_t dirty_ = 0;  // bytes from the start of lineBuffer_ that the last line wrote
    bool lineFailed_ = false;

    CFileLockTable locks_;
};
