#include <cstdio>
int main() {
    std::puts("tellwick_server: not built yet");
    return 0;
}
