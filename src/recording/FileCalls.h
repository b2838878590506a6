#pragma once

#include <sys/types.h>

#include <cstddef>

// The system calls by which recordings reach the disk, as one table: the
// file thread makes every write and sync of a take through it, so a test can
// stand in a volume that stops answering (and answers again) without one.
// Set only while no take runs.
struct FileCalls {
    ssize_t (*write)(int fd, const void* bytes, std::size_t size);
    ssize_t (*pwrite)(int fd, const void* bytes, std::size_t size, off_t at);
    int (*fdatasync)(int fd);
    int (*fsync)(int fd);

    // The table in use: the system's own unless a test replaced it.
    static FileCalls& use();
};
