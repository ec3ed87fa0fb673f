// Placeholder until URL decomposition lands: echoes the URLs it is given.
#include <cstdio>

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        std::printf("%s\n", argv[i]);
    return 0;
}
