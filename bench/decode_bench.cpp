// Throughput of the cryptfile decoder: an enciphered text file of many lines is deciphered and
// cut into lines the way NextLine does (buffer from 12 bytes, doubling), each line searched for
// the policy marker. Portable, so it runs natively and on Wine. Rates are given per second of
// processor time (user + system) as well as per second of wall time, since a shared machine
// can stretch the latter at will.
//
//   cryptfile_bench [file [MiB]]   makes the file (enciphered, CR LF lines) when it is missing.
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "cryptfile/text_format.h"

namespace {

using Clock = std::chrono::steady_clock;

// A FILE* source with block reads, as the Windows readers use it.
class FileSource : public cryptfile::ByteSource {
  public:
    explicit FileSource(std::FILE* f) : f_(f) {}
    int ReadByte() override { return std::fgetc(f_); }
    bool Rewind() override { return std::fseek(f_, 0, SEEK_SET) == 0; }
    size_t Read(uint8_t* buf, size_t n) override { return std::fread(buf, 1, n, f_); }
    bool ReadFailed() const override { return std::ferror(f_) != 0; }

  private:
    std::FILE* f_;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool MakeFile(const char* path, size_t bytes) {
    File f(std::fopen(path, "wb"));
    if (!f)
        return false;
    cryptfile::Rc4State state;
    cryptfile::Rc4Init(state, reinterpret_cast<const uint8_t*>(cryptfile::kKeyText),
                       sizeof(cryptfile::kKeyText) - 1);
    std::mt19937 rng(1);
    std::vector<uint8_t> chunk;
    size_t written = 0;
    while (written < bytes) {
        chunk.clear();
        while (chunk.size() < (1u << 20)) {
            const size_t len = 20 + rng() % 100;
            for (size_t k = 0; k < len; ++k)
                chunk.push_back(static_cast<uint8_t>(' ' + rng() % 95));
            chunk.push_back('\r');
            chunk.push_back('\n');
        }
        if (written + chunk.size() > bytes)
            chunk.resize(bytes - written);
        cryptfile::Rc4Apply(state, chunk.data(), chunk.size());
        if (std::fwrite(chunk.data(), 1, chunk.size(), f.get()) != chunk.size())
            return false;
        written += chunk.size();
    }
    return true;
}

// NextLine over the decoder; returns the number of lines. With search, counts the lines that
// hold the marker (the C library's strstr, slow on some runtimes, so measured apart).
size_t ReadAllLines(cryptfile::TextDecoder& decoder, bool search, size_t& hits) {
    std::vector<char> buffer(12);
    size_t lines = 0;
    for (;;) {
        if (!decoder.ReadLineUtf8(buffer.data(), static_cast<int32_t>(buffer.size())))
            break;
        size_t len = std::strlen(buffer.data());
        while (len > 0 && buffer[len - 1] != '\n') {
            buffer.resize(buffer.size() * 2);
            if (!decoder.ReadLineUtf8(buffer.data() + len,
                                      static_cast<int32_t>(buffer.size() - len)))
                break;
            len += std::strlen(buffer.data() + len);
        }
        if (search && std::strstr(buffer.data(), "IncludeLocalGUI='true'"))
            ++hits;
        ++lines;
    }
    return lines;
}

// Processor time of this process so far, in seconds.
double CpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& t) {
        return (uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return ticks(kernel) + ticks(user);
#else
    return double(std::clock()) / CLOCKS_PER_SEC;
#endif
}

struct Timer {
    Clock::time_point wall = Clock::now();
    double cpu = CpuSeconds();
    void Report(const char* what, double bytes) const {
        const double w = std::chrono::duration<double>(Clock::now() - wall).count();
        const double c = CpuSeconds() - cpu;
        std::printf("%-16s %8.1f MB/s cpu (%.3f s), %8.1f MB/s wall (%.3f s)\n", what,
                    bytes / c / 1e6, c, bytes / w / 1e6, w);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "cryptfile_bench.dat";
    const size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    File probe(std::fopen(path, "rb"));
    if (!probe) {
        std::printf("making %s (%zu MiB)\n", path, mib);
        if (!MakeFile(path, mib << 20)) {
            std::printf("cannot write %s\n", path);
            return 1;
        }
    }
    probe.reset();

    // The cipher alone, in memory.
    {
        std::vector<uint8_t> buf(64u << 20, 0x41);
        cryptfile::Rc4State state;
        cryptfile::Rc4Init(state, reinterpret_cast<const uint8_t*>("key"), 3);
        const Timer t;
        cryptfile::Rc4Apply(state, buf.data(), buf.size());
        t.Report("rc4 in memory:", double(buf.size()));
        if (buf[12345] == 0x41)
            std::printf("(keystream byte was zero)\n");
    }

    File f(std::fopen(path, "rb"));
    if (!f)
        return 1;
    std::fseek(f.get(), 0, SEEK_END);
    const double bytes = static_cast<double>(std::ftell(f.get()));
    std::fseek(f.get(), 0, SEEK_SET);
    cryptfile::TextDecoder decoder;
    for (bool search : {false, true}) {
        std::fseek(f.get(), 0, SEEK_SET);
        FileSource source(f.get());
        const Timer t;
        decoder.Attach(&source, cryptfile::kKeyText);
        size_t hits = 0;
        const size_t lines = ReadAllLines(decoder, search, hits);
        t.Report(search ? "lines + strstr:" : "file to lines:", bytes);
        std::printf("  %.0f bytes, %u lines, code %d, enciphered %d, error %d, marker lines %u\n",
                    bytes, unsigned(lines), int(decoder.encoding()), int(decoder.encrypted()),
                    int(decoder.error()), unsigned(hits));
    }
    return decoder.error() ? 1 : 0;
}
