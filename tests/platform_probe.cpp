// Test helper, not a test: starts the engine the way its arguments say so that
// platform_error_test can watch from outside how start-up and loading failures end the process.
//   platform_probe init          Init() and Exit()
//   platform_probe load <path>   Init(), then load <path> into a sprite
#include <cstdio>
#include <cstring>

#include "orvo/orvo.h"

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "init") == 0) {
        orvo::Init();
        orvo::Exit();
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "load") == 0) {
        orvo::Init();
        {
            orvo::Sprite sprite(nullptr);
            sprite.LoadFile(argv[2], orvo::FILTER_NEAREST);
        }
        orvo::Exit();
        return 0;
    }
    std::fprintf(stderr, "usage: %s init | load <path>\n", argv[0]);
    return 2;
}
