// mkstore PATH: creates an empty song store with table tab1 (title, url2, keys).
#include <cstdio>
#include <cstring>

#include "store/SongStore.h"
#include "tools/common/StandardStreams.h"

namespace {
constexpr const char* kUsage =
    "usage: mkstore PATH\n"
    "  Creates an empty song store (table tab1: title, url2, keys) at PATH.\n"
    "  BrelvoMP3 opens mysong.mdb in its working directory and never creates it.\n";
}

int main(int argc, char** argv) {
    tools::guardStandardStreams();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return tools::finishStandardOutput("mkstore") ? 0 : 1;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        store::CreateEmptyStore(argv[1]);
    } catch (const store::StoreError& e) {
        std::fprintf(stderr, "mkstore: %s\n", e.what());
        return 1;
    }
    return 0;
}
