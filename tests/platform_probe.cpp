// Test helper, not a test: platform_error_test runs it as a child process to watch from outside how
// start-up and loading failures end the process. `platform_probe [image]` starts the engine, loads
// the image into a sprite if one is given, and stops the engine.
#include "orvo/orvo.h"

int main(int argc, char** argv)
{
    orvo::Init();
    if (argc > 1) {
        orvo::Sprite sprite(nullptr);
        sprite.LoadFile(argv[1], orvo::FILTER_NEAREST);
    }
    orvo::Exit();
    return 0;
}
