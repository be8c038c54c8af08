/* The peer for the service benchmarks: a bare Unix-socket frame echo, and the one client
 * used against both it and the helper, so that both sides are timed by the same code.
 *
 *   pingpong echo                    greet, then echo frames on the socket passed as
 *                                    descriptor 3 (socket activation), one process per
 *                                    connection
 *   pingpong rtt SOCKET N FILE       N round trips of one call, prints p50 and p99 in us;
 *                                    the call is perform(FILE's bytes), or getVersion
 *                                    when FILE is "-"
 *   pingpong cold SOCKET             one getVersion call; prints connect-to-reply in us
 *   pingpong load SOCKET N CLIENTS FILE   CLIENTS processes x N calls; prints calls/s
 */
#define _GNU_SOURCE
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

static int full(int fd, void* buffer, size_t size, int writing) {
    char* p = buffer;
    while (size > 0) {
        ssize_t n = writing ? send(fd, p, size, MSG_NOSIGNAL) : recv(fd, p, size, 0);
        if (n <= 0)
            return -1;
        p += n;
        size -= (size_t)n;
    }
    return 0;
}

static char* frame;
static size_t frame_size;
static char reply[1 << 20];

static void build_call(const char* file) {
    char* body = NULL;
    size_t body_size = 0;
    if (strcmp(file, "-") != 0) {
        FILE* f = fopen(file, "rb");
        if (!f)
            exit(66);
        body = malloc(1 << 20);
        body_size = fread(body, 1, 1 << 20, f);
        fclose(f);
    }
    frame_size = 4 + 9 + body_size;
    frame = malloc(frame_size);
    uint32_t length = htobe32((uint32_t)(9 + body_size));
    memcpy(frame, &length, 4);
    memset(frame + 4, 0, 8);
    frame[11] = 1;
    frame[12] = body ? 2 : 1;
    if (body)
        memcpy(frame + 13, body, body_size);
    free(body);
}

/* The helper's first frame on every connection: admitted. */
static const char greeting[5] = {0, 0, 0, 1, 1};

/* Connects and waits for the greeting, as every client must before its first call. */
static int connect_to(const char* path) {
    struct sockaddr_un a = {.sun_family = AF_UNIX};
    snprintf(a.sun_path, sizeof a.sun_path, "%s", path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, (struct sockaddr*)&a, sizeof a) != 0)
        exit(69);
    char first[sizeof greeting];
    if (full(fd, first, sizeof first, 0) || memcmp(first, greeting, sizeof first) != 0)
        exit(77);
    return fd;
}

static int round_trip(int fd) {
    uint32_t length;
    if (full(fd, frame, frame_size, 1) || full(fd, &length, 4, 0))
        return -1;
    length = be32toh(length);
    if (length > sizeof reply)
        return -1;
    return full(fd, reply, length, 0);
}

static int compare(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static void echo(void) {
    signal(SIGCHLD, SIG_IGN);
    for (;;) {
        int c = accept(3, NULL, NULL);
        if (c < 0)
            continue;
        if (fork() == 0) {
            uint32_t length;
            if (full(c, (void*)greeting, sizeof greeting, 1))
                _exit(1);
            while (full(c, &length, 4, 0) == 0) {
                uint32_t n = be32toh(length);
                if (n > sizeof reply || full(c, reply, n, 0) || full(c, &length, 4, 1) ||
                    full(c, reply, n, 1))
                    break;
            }
            _exit(0);
        }
        close(c);
    }
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "echo") == 0) {
        echo();
    } else if (argc == 5 && strcmp(argv[1], "rtt") == 0) {
        build_call(argv[4]);
        int fd = connect_to(argv[2]);
        long n = atol(argv[3]);
        double* times = malloc(sizeof(double) * (size_t)n);
        for (int i = 0; i < 100; ++i)
            round_trip(fd); /* warm */
        for (long i = 0; i < n; ++i) {
            double t = now_us();
            if (round_trip(fd))
                return 1;
            times[i] = now_us() - t;
        }
        qsort(times, (size_t)n, sizeof(double), compare);
        printf("p50_us %.1f p99_us %.1f\n", times[n / 2], times[n * 99 / 100]);
        return 0;
    } else if (argc == 3 && strcmp(argv[1], "cold") == 0) {
        build_call("-");
        double t = now_us();
        int fd = connect_to(argv[2]);
        if (round_trip(fd))
            return 1;
        printf("%.0f\n", now_us() - t);
        return 0;
    } else if (argc == 6 && strcmp(argv[1], "load") == 0) {
        build_call(argv[5]);
        long n = atol(argv[3]);
        int clients = atoi(argv[4]);
        double t = now_us();
        for (int c = 0; c < clients; ++c) {
            if (fork() == 0) {
                int fd = connect_to(argv[2]);
                for (long i = 0; i < n; ++i)
                    if (round_trip(fd))
                        _exit(1);
                _exit(0);
            }
        }
        int failed = 0, status;
        while (wait(&status) > 0)
            failed |= !WIFEXITED(status) || WEXITSTATUS(status);
        printf("calls_per_second %.0f\n", n * clients / ((now_us() - t) / 1e6));
        return failed;
    }
    fprintf(stderr, "usage: see the comment at the top of pingpong.c\n");
    return 64;
}
