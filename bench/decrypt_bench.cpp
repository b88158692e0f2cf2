// Throughput of DecryptFileToFile, the Windows build on Wine.
//
//   decrypt_bench make <plain> <enciphered> [MiB]  writes an XML-like text of CR LF lines (a
//                                                  policy marker near its end) and its stored form
//   decrypt_bench run <enciphered> <out> [rounds]  deciphers it to <out> and reports the rate
//   decrypt_bench read <enciphered> [rounds]       the reader alone: NextLine to the end, no output
//   decrypt_bench step <folder> [rounds]           the policy step as the run takes it: readPolicy
//                                                  on <folder>\policy.xml (decipher into
//                                                  policy.txt, scan it for the marker, delete it)
//
// Rates are MiB of the stored file per second of wall time and per second of processor time
// (user + system), since a shared machine can stretch the former at will; the best round counts.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "cryptfile/crypt_file_reader.h"
#include "cryptfile/decrypt_file.h"
#include "cryptfile/text_format.h"
#include "policy_ui/policy_reader.h"
#include "win/scoped.h"

namespace {

constexpr char kMarkerLine[] = "  <Settings IncludeLocalGUI='true' Mode='enforce'/>\r\n";

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

double ProcessorSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

long long FileBytes(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One line of the generated policy, n counting from 0.
std::string Line(unsigned n) {
    char line[256];
    std::snprintf(line, sizeof(line),
                  "  <Rule Id='%u' Name='rule-%u' Action='%s' Path='C:\\Program "
                  "Files\\Vendor%u\\bin\\tool%u.exe' "
                  "Hash='%08x%08x'/>\r\n",
                  n, n * 7 % 1000, n % 3 ? "allow" : "block", n % 97, n % 13, n * 2654435761u,
                  ~n * 40503u);
    return line;
}

int Make(const char* plainPath, const char* storedPath, size_t mib) {
    const size_t total = mib * 1024 * 1024;
    win::ScopedFile plain(std::fopen(plainPath, "wb"));
    win::ScopedFile stored(std::fopen(storedPath, "wb"));
    if (!plain || !stored) {
        std::fprintf(stderr, "decrypt_bench: cannot create %s or %s\n", plainPath, storedPath);
        return 1;
    }
    cryptfile::Rc4State state;
    cryptfile::Rc4Init(state, reinterpret_cast<const uint8_t*>(cryptfile::kKeyText),
                       std::strlen(cryptfile::kKeyText));
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Policy Name='Bench'>\r\n";
    const std::string tail = "</Policy>\r\n";
    const size_t markerAt = total - total / 64;  // near the end
    std::string chunk = head;
    size_t written = 0;
    bool markerDone = false;
    for (unsigned n = 0;; ++n) {
        std::string line = Line(n);
        if (!markerDone && written + chunk.size() + line.size() >= markerAt) {
            line = kMarkerLine + line;
            markerDone = true;
        }
        if (written + chunk.size() + line.size() + tail.size() > total)
            break;
        chunk += line;
        if (chunk.size() >= (1u << 20)) {
            std::fwrite(chunk.data(), 1, chunk.size(), plain.get());
            cryptfile::Rc4Apply(state, reinterpret_cast<uint8_t*>(&chunk[0]), chunk.size());
            std::fwrite(chunk.data(), 1, chunk.size(), stored.get());
            written += chunk.size();
            chunk.clear();
        }
    }
    chunk += tail;
    std::fwrite(chunk.data(), 1, chunk.size(), plain.get());
    cryptfile::Rc4Apply(state, reinterpret_cast<uint8_t*>(&chunk[0]), chunk.size());
    std::fwrite(chunk.data(), 1, chunk.size(), stored.get());
    written += chunk.size();
    FILE* p = plain.release();
    FILE* s = stored.release();
    if (std::fclose(p) != 0 || std::fclose(s) != 0) {
        std::fprintf(stderr, "decrypt_bench: write failed\n");
        return 1;
    }
    std::printf("decrypt_bench: wrote %zu bytes (plain and enciphered)\n", written);
    return 0;
}

void Report(const char* what, long long bytes, double wall, double cpu) {
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf(
        "%s: %lld bytes, %.3f s wall, %.3f s processor: %.1f MiB/s wall, %.1f MiB/s processor\n",
        what, bytes, wall, cpu, mib / wall, mib / cpu);
}

// Runs `round` the given number of times and reports the best wall and processor times; false
// (and no report) when a round fails.
template <typename Round>
bool Best(const char* what, long long bytes, int rounds, Round round) {
    double bestWall = 1e30, bestCpu = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const double w0 = Now(), c0 = ProcessorSeconds();
        if (!round())
            return false;
        const double wall = Now() - w0, cpu = ProcessorSeconds() - c0;
        if (wall < bestWall)
            bestWall = wall;
        if (cpu < bestCpu)
            bestCpu = cpu;
    }
    Report(what, bytes, bestWall, bestCpu);
    return true;
}

int Run(const char* source, const char* out, int rounds) {
    const long long bytes = FileBytes(source);
    if (bytes < 0)
        return 1;
    const bool ok = Best("DecryptFileToFile", bytes, rounds, [&] {
        if (DecryptFileToFile(source, out))
            return true;
        std::fprintf(stderr, "decrypt_bench: DecryptFileToFile failed\n");
        return false;
    });
    return ok ? 0 : 1;
}

int Read(const char* source, int rounds) {
    const long long bytes = FileBytes(source);
    if (bytes < 0)
        return 1;
    double bestWall = 1e30, bestCpu = 1e30;
    unsigned long long lines = 0;
    for (int r = 0; r < rounds; ++r) {
        const double w0 = Now(), c0 = ProcessorSeconds();
        CCryptFileReader reader;
        if (!reader.Open(source, true, cryptfile::kKeyText))
            return 1;
        lines = 0;
        while (reader.NextLine())
            ++lines;
        reader.Close();
        const double wall = Now() - w0, cpu = ProcessorSeconds() - c0;
        if (wall < bestWall)
            bestWall = wall;
        if (cpu < bestCpu)
            bestCpu = cpu;
    }
    Report("CCryptFileReader::NextLine", bytes, bestWall, bestCpu);
    std::printf("  %llu lines\n", lines);
    return 0;
}

int Step(const char* folder, int rounds) {
    const std::string policy = std::string(folder) + "\\policy.xml";
    const long long bytes = FileBytes(policy.c_str());
    if (bytes < 0)
        return 1;
    std::wstring wideFolder;
    for (const char* c = folder; *c; ++c)
        wideFolder.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    const std::string text = std::string(folder) + "\\policy.txt";
    const bool ok = Best("policy step (readPolicy)", bytes, rounds, [&] {
        bool includeUi = false;
        if (readPolicy(wideFolder, includeUi) && includeUi && FileBytes(text.c_str()) < 0)
            return true;
        std::fprintf(stderr,
                     "decrypt_bench: the policy step did not find the marker, or left "
                     "policy.txt\n");
        return false;
    });
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "make") == 0) {
        return Make(argv[2], argv[3], argc >= 5 ? std::strtoul(argv[4], nullptr, 10) : 256);
    }
    if (argc >= 4 && std::strcmp(argv[1], "run") == 0) {
        return Run(argv[2], argv[3], argc >= 5 ? std::atoi(argv[4]) : 1);
    }
    if (argc >= 3 && std::strcmp(argv[1], "step") == 0) {
        return Step(argv[2], argc >= 4 ? std::atoi(argv[3]) : 1);
    }
    if (argc >= 3 && std::strcmp(argv[1], "read") == 0) {
        return Read(argv[2], argc >= 4 ? std::atoi(argv[3]) : 1);
    }
    std::fprintf(
        stderr,
        "usage: decrypt_bench make <plain> <enciphered> [MiB] | run <enciphered> <out> [rounds] | "
        "read <enciphered> [rounds] | step <folder> [rounds]\n");
    return 2;
}
