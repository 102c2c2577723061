// Standard streams moved to /dev/null for the service start (see service_start.h).
#include <fcntl.h>
#include <unistd.h>

#include "tools/orvikctl/service_start.h"

namespace orvikctl {

DetachedStandardStreams::DetachedStandardStreams() {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) return;
    for (int fd = 0; fd < 3; ++fd) {
        saved_[fd] = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (saved_[fd] >= 0) ::dup2(null, fd);
    }
    ::close(null);
}

DetachedStandardStreams::~DetachedStandardStreams() {
    for (int fd = 0; fd < 3; ++fd) {
        if (saved_[fd] < 0) continue;
        ::dup2(saved_[fd], fd);
        ::close(saved_[fd]);
    }
}

}  // namespace orvikctl
