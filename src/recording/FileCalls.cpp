#include "recording/FileCalls.h"

#include <unistd.h>

FileCalls& FileCalls::use() {
    static FileCalls calls{::write, ::pwrite, ::fdatasync, ::fsync};
    return calls;
}
