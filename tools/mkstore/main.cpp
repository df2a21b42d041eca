// mkstore PATH: creates an empty song store with table tab1 (title, url2, keys).
#include <cstdio>

#include "store/SongStore.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkstore PATH\n");
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
