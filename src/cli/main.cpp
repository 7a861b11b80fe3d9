#include <cstdio>

int main() {
    std::puts("orvane-extract");
    return 0;
}
