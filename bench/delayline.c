/* The delay line: a link like a phone's Wi-Fi between two network namespaces,
 * for the benchmark. It makes a TUN device in each namespace and forwards
 * every IP packet from one to the other, in both directions, after
 *   - a rate limit: the packets of one direction leave one after another, each
 *     taking its length's time at RATE bits per second;
 *   - a drop-tail queue: a packet is dropped when the bytes still waiting for
 *     the rate limit would exceed QUEUE with it;
 *   - a delay: each packet arrives DELAY milliseconds after it has left.
 * The kernel here has no netem; this is that, for one link, in one process.
 *
 * Usage: delayline NETNS_A NETNS_B DEVICE_A DEVICE_B DELAY_MS RATE_BPS QUEUE_BYTES
 * NETNS_* are paths such as /proc/PID/ns/net. The devices are made down; the
 * caller gives them addresses and brings them up. Prints "delayline ready"
 * once both exist, and on SIGTERM or SIGINT the counts of what it forwarded
 * and dropped, then ends.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

enum { PacketCapacity = 2048, Slots = 8192 };

struct Packet {
    int64_t dueNs;
    int length;
    unsigned char bytes[PacketCapacity];
};

/* One direction: packets read from `from`, written to `to` when due. Due
 * times only grow, so a ring in arrival order is the whole schedule. */
struct Direction {
    int from, to;
    struct Packet* ring;
    unsigned head, count;
    int64_t lastLeavesNs;  /* when the latest packet has passed the rate limit */
    uint64_t forwarded, dropped, bytes;
    int64_t peakQueued;
};

static volatile sig_atomic_t ending;
static int64_t delayNs, rateBps, queueBytes;

static void onSignal(int signal)
{
    (void)signal;
    ending = 1;
}

static int64_t nowNs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static int openTun(const char* netns, const char* name)
{
    int space = open(netns, O_RDONLY | O_CLOEXEC);
    if (space < 0 || setns(space, CLONE_NEWNET) != 0) {
        perror(netns);
        exit(1);
    }
    close(space);
    int tun = open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    struct ifreq request;
    memset(&request, 0, sizeof request);
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    snprintf(request.ifr_name, sizeof request.ifr_name, "%s", name);
    if (tun < 0 || ioctl(tun, TUNSETIFF, &request) != 0) {
        perror(name);
        exit(1);
    }
    return tun;
}

/* The bytes that have not yet passed the rate limit at `now`. */
static int64_t queuedBytes(const struct Direction* d, int64_t now)
{
    return d->lastLeavesNs > now ? (d->lastLeavesNs - now) * rateBps / 8000000000 : 0;
}

static void take(struct Direction* d, int64_t now)
{
    for (;;) {
        if (d->count == Slots) {
            /* A full ring (only a flood of tiny packets fills it) drops too. */
            unsigned char discard[PacketCapacity];
            if (read(d->from, discard, sizeof discard) <= 0)
                return;
            d->dropped++;
            continue;
        }
        struct Packet* p = &d->ring[(d->head + d->count) % Slots];
        ssize_t got = read(d->from, p->bytes, sizeof p->bytes);
        if (got <= 0)
            return;
        int64_t queued = queuedBytes(d, now);
        if (queued + got > queueBytes) {
            d->dropped++;
            continue;
        }
        if (queued + got > d->peakQueued)
            d->peakQueued = queued + got;
        int64_t starts = d->lastLeavesNs > now ? d->lastLeavesNs : now;
        d->lastLeavesNs = starts + (int64_t)got * 8000000000 / rateBps;
        p->length = (int)got;
        p->dueNs = d->lastLeavesNs + delayNs;
        d->count++;
    }
}

/* Writes what is due; gives the next due time, or -1 when nothing waits. */
static int64_t deliver(struct Direction* d, int64_t now)
{
    while (d->count > 0) {
        struct Packet* p = &d->ring[d->head];
        if (p->dueNs > now)
            return p->dueNs;
        if (write(d->to, p->bytes, (size_t)p->length) == p->length) {
            d->forwarded++;
            d->bytes += (uint64_t)p->length;
        } else {
            d->dropped++;
        }
        d->head = (d->head + 1) % Slots;
        d->count--;
    }
    return -1;
}

int main(int argc, char** argv)
{
    if (argc != 8) {
        fprintf(stderr, "usage: delayline NETNS_A NETNS_B DEVICE_A DEVICE_B DELAY_MS RATE_BPS QUEUE_BYTES\n");
        return 2;
    }
    delayNs = (int64_t)(atof(argv[5]) * 1e6);
    rateBps = atoll(argv[6]);
    queueBytes = atoll(argv[7]);
    if (delayNs < 0 || rateBps <= 0 || queueBytes <= 0) {
        fprintf(stderr, "delayline: delay, rate and queue must be positive\n");
        return 2;
    }
    int a = openTun(argv[1], argv[3]);
    int b = openTun(argv[2], argv[4]);
    struct Direction ways[2] = {{.from = a, .to = b}, {.from = b, .to = a}};
    for (int i = 0; i < 2; ++i) {
        ways[i].ring = malloc(sizeof(struct Packet) * Slots);
        if (!ways[i].ring) {
            perror("delayline");
            return 1;
        }
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);
    printf("delayline ready: %s <-> %s, %s ms each way, %lld bit/s, queue %lld bytes\n", argv[3], argv[4],
           argv[5], (long long)rateBps, (long long)queueBytes);
    fflush(stdout);

    while (!ending) {
        int64_t now = nowNs();
        int64_t due = -1;
        for (int i = 0; i < 2; ++i) {
            int64_t next = deliver(&ways[i], now);
            if (next >= 0 && (due < 0 || next < due))
                due = next;
        }
        struct pollfd waited[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        struct timespec limit;
        if (due >= 0) {
            int64_t left = due - nowNs();
            if (left < 0)
                left = 0;
            limit.tv_sec = left / 1000000000;
            limit.tv_nsec = left % 1000000000;
        }
        if (ppoll(waited, 2, due >= 0 ? &limit : NULL, NULL) < 0 && errno != EINTR)
            break;
        now = nowNs();
        if (waited[0].revents & POLLIN)
            take(&ways[0], now);
        if (waited[1].revents & POLLIN)
            take(&ways[1], now);
    }
    for (int i = 0; i < 2; ++i)
        printf("delayline %s->%s: %llu packets, %llu bytes forwarded, %llu dropped, peak queue %lld bytes\n",
               argv[3 + i], argv[4 - i], (unsigned long long)ways[i].forwarded,
               (unsigned long long)ways[i].bytes, (unsigned long long)ways[i].dropped,
               (long long)ways[i].peakQueued);
    return 0;
}
