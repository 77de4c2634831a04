// The reference for small network jobs: the plainest sender there is. For
// each job it connects, sends the file with blocking sends, shuts down its
// side and waits for the printer's close; then the next job.
// Usage: plain_sender.exe ADDRESS PORT FILE COUNT
// Prints "plain: N jobs in S s" (each job whole as far as it can tell).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: plain_sender ADDRESS PORT FILE COUNT\n");
        return 2;
    }
    FILE* f = fopen(argv[3], "rb");
    if (!f) {
        fprintf(stderr, "cannot read %s\n", argv[3]);
        return 1;
    }
    std::vector<char> data;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), f)) > 0;)
        data.insert(data.end(), buf, buf + n);
    fclose(f);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &addr.sin_addr) != 1)
        return 2;
    const int count = atoi(argv[4]);
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    int ok = 0;
    for (int i = 0; i < count; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET)
            break;
        bool good = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        for (size_t at = 0; good && at < data.size();) {
            const int n = send(s, data.data() + at, static_cast<int>(data.size() - at), 0);
            good = n > 0;
            at += good ? static_cast<size_t>(n) : 0;
        }
        if (good && shutdown(s, SD_SEND) == 0) {
            char scratch[256];
            int n;
            while ((n = recv(s, scratch, sizeof(scratch), 0)) > 0) {
            }
            ok += n == 0 ? 1 : 0;
        }
        closesocket(s);
    }
    QueryPerformanceCounter(&t1);
    printf("plain: %d jobs in %.3f s\n", ok,
           static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart));
    WSACleanup();
    return ok == count ? 0 : 1;
}
