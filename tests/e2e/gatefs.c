/* A file system that stops answering, as a network share or a cloud folder
 * can: it holds one file, slow.bin, whose reads wait until a file named GATE
 * exists (outside the mount). Everything else answers at once.
 *
 * Usage: gatefs GATE MOUNTPOINT [FUSE options]
 * Runs in the foreground until unmounted (fusermount3 -u MOUNTPOINT, or
 * umount as root).
 */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { SlowSize = 64 * 1024 };
static const char SlowName[] = "/slow.bin";
static const char* gate;

static int gateGetattr(const char* path, struct stat* info, struct fuse_file_info* file)
{
    (void)file;
    memset(info, 0, sizeof *info);
    if (strcmp(path, "/") == 0) {
        info->st_mode = S_IFDIR | 0755;
        info->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, SlowName) == 0) {
        info->st_mode = S_IFREG | 0444;
        info->st_nlink = 1;
        info->st_size = SlowSize;
        return 0;
    }
    return -ENOENT;
}

static int gateReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                       struct fuse_file_info* file, enum fuse_readdir_flags flags)
{
    (void)offset, (void)file, (void)flags;
    if (strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buffer, ".", NULL, 0, 0);
    fill(buffer, "..", NULL, 0, 0);
    fill(buffer, SlowName + 1, NULL, 0, 0);
    return 0;
}

static int gateOpen(const char* path, struct fuse_file_info* file)
{
    if (strcmp(path, SlowName) != 0)
        return -ENOENT;
    if ((file->flags & O_ACCMODE) != O_RDONLY)
        return -EACCES;
    file->direct_io = 1; /* every read reaches here, none comes from the cache */
    return 0;
}

static int gateRead(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* file)
{
    (void)path, (void)file;
    /* Bounded, so that a test that forgets the gate cannot leave it for good. */
    const struct timespec step = {0, 10 * 1000 * 1000};
    for (int waited = 0; access(gate, F_OK) != 0 && waited < 60 * 100; ++waited)
        nanosleep(&step, NULL);
    if (offset >= SlowSize)
        return 0;
    if (size > (size_t)(SlowSize - offset))
        size = (size_t)(SlowSize - offset);
    memset(buffer, 's', size);
    return (int)size;
}

static const struct fuse_operations gateOperations = {
    .getattr = gateGetattr,
    .readdir = gateReaddir,
    .open = gateOpen,
    .read = gateRead,
};

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: gatefs GATE MOUNTPOINT [FUSE options]\n");
        return 2;
    }
    gate = argv[1];
    /* fuse_main then takes the program name, "-f" (the foreground) in place
     * of GATE, the mount point and the options; it answers several requests
     * at once, so the held read does not hold the look-ups of other names. */
    argv[1] = "-f";
    return fuse_main(argc, argv, &gateOperations, NULL);
}
