#include "event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include "paths.h"

bool CheckLogFile() {
    int fd = ::open(kelvora::RootPath("vornlog").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                    0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
