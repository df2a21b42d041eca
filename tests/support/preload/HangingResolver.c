/* A name lookup that hangs, for tests: getaddrinfo of a host ending in
 * ".hang.test" never returns, so a test can show that Cancel and the
 * termination signals do not wait for a resolver. Any other host goes to the
 * system's getaddrinfo. Linked into a test binary it takes the place of the
 * system's for the whole process; built as a library it is preloaded into a
 * tool (LD_PRELOAD). Each hanging lookup counts in brelvo_hanging_lookups()
 * and, when BRELVO_HANGING_RESOLVER_MARK names a file, creates it, so a test
 * waits for the lookup to have begun rather than for a time. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static atomic_int hanging;

int brelvo_hanging_lookups(void) { return atomic_load(&hanging); }

static int hangs(const char* node) {
    static const char suffix[] = ".hang.test";
    const size_t length = node ? strlen(node) : 0;
    return length >= sizeof suffix - 1 && strcmp(node + length - (sizeof suffix - 1), suffix) == 0;
}

int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints, struct addrinfo** result) {
    if (hangs(node)) {
        atomic_fetch_add(&hanging, 1);
        const char* mark = getenv("BRELVO_HANGING_RESOLVER_MARK");
        if (mark && *mark) {
            const int fd = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            if (fd >= 0) close(fd);
        }
        for (;;) {
            const struct timespec second = {1, 0};
            nanosleep(&second, NULL);
        }
    }
    typedef int (*Real)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static Real real;
    if (!real) real = (Real)dlsym(RTLD_NEXT, "getaddrinfo");
    return real ? real(node, service, hints, result) : EAI_FAIL;
}
