/* Preloaded into Wine for the many-camera test: makes Linux treat IP_UNICAST_IF on a TCP socket the
 * way Windows does. Windows sends a TCP connection out through the interface that IP_UNICAST_IF
 * names; Linux honours that option only for UDP and raw sockets, so under plain Wine every
 * connection to the cameras' one address would leave through the first matching route. When a
 * program sets IP_UNICAST_IF on a stream socket, this also binds the socket to that interface
 * (SO_BINDTOIFINDEX), as Windows itself would route it.
 *
 * It proves only that the Windows programs find the adapters and hand each socket the right index;
 * the binding itself is Windows' own. Each binding is noted on standard error when
 * ORV_UNICAST_IF_TRACE is set, so the test can see which indexes were asked for.
 *
 *   cc -shared -fPIC -O2 -o tcp_unicast_if.so tcp_unicast_if.c -ldl
 *   LD_PRELOAD=$PWD/tcp_unicast_if.so wine orvctl.exe ... */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#ifndef IP_UNICAST_IF
#define IP_UNICAST_IF 50
#endif
#ifndef SO_BINDTOIFINDEX
#define SO_BINDTOIFINDEX 62
#endif

typedef int (*setsockopt_fn)(int, int, int, const void*, socklen_t);

static setsockopt_fn real_setsockopt(void)
{
    static setsockopt_fn real;
    if (real == NULL) {
        real = (setsockopt_fn)dlsym(RTLD_NEXT, "setsockopt");
    }
    return real;
}

static int is_stream_socket(int fd)
{
    int type = 0;
    socklen_t size = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM;
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t size)
{
    const setsockopt_fn real = real_setsockopt();
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    const int result = real(fd, level, name, value, size);
    if (result != 0 || level != IPPROTO_IP || name != IP_UNICAST_IF || value == NULL || size < sizeof(uint32_t)
        || !is_stream_socket(fd)) {
        return result;
    }
    /* Like Windows, Linux takes the IPv4 interface index in network byte order here. */
    uint32_t networkOrder = 0;
    memcpy(&networkOrder, value, sizeof networkOrder);
    const int index = (int)ntohl(networkOrder);
    const int bound = real(fd, SOL_SOCKET, SO_BINDTOIFINDEX, &index, sizeof index);
    if (getenv("ORV_UNICAST_IF_TRACE") != NULL) {
        fprintf(stderr, "tcp_unicast_if: stream socket %d bound to interface %d%s%s\n", fd, index,
                bound == 0 ? "" : ": ", bound == 0 ? "" : strerror(errno));
    }
    return bound;
}
