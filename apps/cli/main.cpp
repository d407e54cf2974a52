#include <cstdio>

int main()
{
    std::puts("tagrelay-cli: not ready yet");
    return 0;
}
