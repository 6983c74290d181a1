/* Preloaded into a program whose server listens on every interface (Qt's VNC
 * platform does): a bind to the wildcard address becomes a bind to loopback,
 * so that only this machine can reach it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

int bind(int fd, const struct sockaddr* address, socklen_t length)
{
    typedef int (*Bind)(int, const struct sockaddr*, socklen_t);
    static Bind real;
    if (!real)
        real = (Bind)dlsym(RTLD_NEXT, "bind");
    if (address && address->sa_family == AF_INET6 && length >= sizeof(struct sockaddr_in6)) {
        struct sockaddr_in6 local;
        memcpy(&local, address, sizeof local);
        if (IN6_IS_ADDR_UNSPECIFIED(&local.sin6_addr)) {
            local.sin6_addr = in6addr_loopback;
            return real(fd, (const struct sockaddr*)&local, sizeof local);
        }
    }
    if (address && address->sa_family == AF_INET && length >= sizeof(struct sockaddr_in)) {
        struct sockaddr_in local;
        memcpy(&local, address, sizeof local);
        if (local.sin_addr.s_addr == htonl(INADDR_ANY)) {
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            return real(fd, (const struct sockaddr*)&local, sizeof local);
        }
    }
    return real(fd, address, length);
}
