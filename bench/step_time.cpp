// The car's physics step timed with the standard clock alone, so that the same program builds
// natively and to WebAssembly (run under node) and the two times can be compared. It drives the
// car tests' scripted drive over and over, each time from rest, and prints the best of five runs
// in nanoseconds per step. Run through scripts/bench-web.
#include <chrono>
#include <cstdio>
#include <utility>

#include "race.h"

using orvo::Vector2;

int main()
{
    orvo::Init();
    orvo::Game game(8, 3);
    RaceState race(&game);
    Car& car = *race.car;
    const std::pair<Vector2, int> script[] = {{{0, 1}, 900}, {{1, 1}, 400},  {{-1, 1}, 300},  {{-1, 0}, 250},
                                              {{1, 0}, 200}, {{0, -1}, 600}, {{-1, -1}, 300}, {{0, 0}, 400}};
    constexpr int kDrives = 30;
    double best = 0.0;
    for (int run = 0; run < 5; ++run) {
        long steps = 0;
        double seconds = 0.0;
        for (int drive = 0; drive < kDrives; ++drive) {
            car.body->spatial.position = Vector2();
            car.body->spatial.rotation = 0.0f;
            car.velocity = Vector2();
            car.angularVelocity = car.steerAngle = car.wheelAngle = car.throttle = 0.0f;
            const auto start = std::chrono::steady_clock::now();
            for (const auto& [keys, count] : script) {
                for (int i = 0; i < count; ++i) {
                    car.OnStepPhysicsTime(keys);
                }
                steps += count;
            }
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        const double perStep = seconds * 1e9 / static_cast<double>(steps);
        best = run == 0 || perStep < best ? perStep : best;
    }
    std::printf("car step: %.1f ns (best of 5 runs of %d drives)\n", best, kDrives);
    orvo::Exit();
    return 0;
}
