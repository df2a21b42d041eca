// What making a finished song durable costs: the part file's bytes synced,
// its rename, the folder synced, its side file removed.
//   bench_song_finish_sync [FOLDER=bench-sync] [SONGS=100] [MIB=4]
// Each of SONGS songs of MIB MiB is written to a part file in FOLDER (on
// the disk to be measured; made when missing, emptied at the end) with its
// identity beside it, as a download leaves it, and then given its name; the
// naming is timed. Songs alternate between the program's disk calls and a
// layer whose syncs do nothing (what naming cost before), so both see the
// same disk. Prints per kind the mean and median per song and the total,
// then the difference. Exits non-zero when a song did not arrive whole.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "download/files/DiskCalls.h"
#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"

namespace fs = std::filesystem;

namespace {

// Renames and removes as the program does; syncs nothing.
class UnsyncedCalls : public dl::DiskCalls {
public:
    int dataSync(int, const std::string&) override { return 0; }
    int folderSync(const std::string&) override { return 0; }
};

struct Figures {
    std::vector<double> ms;
    double mean() const {
        double sum = 0;
        for (double v : ms) sum += v;
        return ms.empty() ? 0 : sum / static_cast<double>(ms.size());
    }
    double median() const {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[sorted.size() / 2];
    }
    double total() const { return mean() * static_cast<double>(ms.size()); }
};

// One song written and named; the naming's milliseconds, or -1 when it failed.
double finishOne(const std::string& folder, int n, const std::string& bytes) {
    int error = 0;
    auto file = dl::PartFile::Create(folder, error);
    if (!file || file->Append(bytes.data(), bytes.size()) != 0) return -1;
    const std::string name = "song-" + std::to_string(n) + ".mp3";
    const dl::PartIdentity identity{"http://127.0.0.1/" + name, name, "\"b\"", "", bytes.size() + 1, 0, "bench"};
    (void)dl::WritePartIdentity(*file, identity);
    const std::string path = folder + "/" + name;
    const auto start = std::chrono::steady_clock::now();
    if (file->TakeName(path, 0) != 0) return -1;
    const auto end = std::chrono::steady_clock::now();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || static_cast<std::size_t>(info.st_size) != bytes.size()) return -1;
    return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "bench-sync";
    const int songs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    const int mib = argc > 3 ? std::max(1, std::atoi(argv[3])) : 4;
    fs::create_directories(folder);
    const std::string bytes(static_cast<std::size_t>(mib) << 20, 'm');

    UnsyncedCalls unsynced;
    Figures durable, plain;
    bool ok = true;
    for (int n = 0; n < 2 * songs; ++n) {
        const bool synced = n % 2 == 0;
        double ms = 0;
        if (synced) {
            ms = finishOne(folder, n, bytes);
        } else {
            const dl::ScopedDiskCalls installed(unsynced);
            ms = finishOne(folder, n, bytes);
        }
        if (ms < 0) {
            ok = false;
            break;
        }
        (synced ? durable : plain).ms.push_back(ms);
        fs::remove(folder + "/song-" + std::to_string(n) + ".mp3");
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) fs::remove(entry.path(), ignored);

    std::printf("songs of %d MiB, %d of each kind, in %s\n", mib, songs, fs::absolute(folder).c_str());
    std::printf("%-28s %10s %10s %12s\n", "naming", "mean ms", "median ms", "total ms");
    std::printf("%-28s %10.2f %10.2f %12.1f\n", "synced (the program's)", durable.mean(), durable.median(),
                durable.total());
    std::printf("%-28s %10.2f %10.2f %12.1f\n", "unsynced (before)", plain.mean(), plain.median(), plain.total());
    std::printf("%-28s %10.2f %10.2f %12.1f\n", "cost of the syncs", durable.mean() - plain.mean(),
                durable.median() - plain.median(), durable.total() - plain.total());
    if (!ok) std::fprintf(stderr, "a song did not arrive whole\n");
    return ok ? 0 : 1;
}
