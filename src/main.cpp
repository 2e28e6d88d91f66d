// The program's entry: starts the engine, runs the race until the user quits, and tears
// everything down in reverse order of creation.
#include <SDL.h>

#include "orvo/orvo.h"
#include "race.h"

// SDL's header renames this to SDL_main on the platforms whose real entry SDL supplies.
int main(int argc, char* argv[])
{
    (void)argc;
    (void)argv;

    orvo::Init();
    orvo::Game* game = new orvo::Game(8, 3);
    // A little below 16/9; the race sizes its overlay from the fitted viewport, so this comes first.
    game->SetMaximizedViewport(1.777777f);
    RaceState* race = new RaceState(game);
    game->SetState(race);
    // The teardown runs when the game ends: in the browser Run() never returns (the page owns the
    // thread), so it goes to Run() rather than after it.
    game->Run([race, game] {
        delete race;
        delete game;
        orvo::Exit();
    });
    return 0;
}
