// Network interface queries.
#include "velmora/qxif.h"

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" {

int qxif_get_ipv4_addr(const char *ifname, struct in_addr *addr) noexcept
{
    if (ifname == nullptr || ifname[0] == '\0' || std::strlen(ifname) >= IFNAMSIZ) {
        errno = EINVAL;
        return -1;
    }
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0)
        return -1;
    struct ifreq request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(request.ifr_name, ifname, std::strlen(ifname));
    if (ioctl(sock, SIOCGIFADDR, &request) != 0) {
        int saved = errno;
        close(sock);
        errno = saved;
        return -1;
    }
    close(sock);
    if (request.ifr_addr.sa_family != AF_INET) {
        errno = EPROTO;
        return -1;
    }
    if (addr == nullptr) {
        errno = EINVAL;
        return -1;
    }
    struct sockaddr_in inet;
    std::memcpy(&inet, &request.ifr_addr, sizeof inet);
    *addr = inet.sin_addr;
    return 0;
}

} // extern "C"
