// orvo-drive: runs the game's own race state through scripted manoeuvres with no window, writes
// each run as CSV and prints the figures measured from them, so that changes to the car model
// show up as numbers and plots (scripts/drive-report) rather than only as a feel at the keyboard.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "drive_report.h"

namespace {

namespace fs = std::filesystem;

const char* const kUsage =
    "usage: orvo-drive [FOLDER]\n"
    "Drives the race's car through scripted manoeuvres (acceleration, braking, reversing, steady\n"
    "cornering, step steer) with no window, writes one CSV per manoeuvre and one of the tyre curves\n"
    "into FOLDER (default report/) and prints the measured figures. Progress goes to stderr.\n"
    "Run it from the project root, where res/gfx/ holds the game's images.\n";

// The images the race state loads; a missing one would stop the program by assertion.
const char* const kImages[] = {"res/gfx/car.png",     "res/gfx/tyre.png", "res/gfx/carshade.png", "res/gfx/reddot.png",
                               "res/gfx/bluedot.png", "res/gfx/hud.png",  "res/gfx/grid.png"};

struct Row {
    std::string manoeuvre;
    drive::Figure figure;
};

template <typename Data> bool WriteCsvFile(const fs::path& path, const Data& data)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        std::fprintf(stderr, "orvo-drive: cannot write %s\n", path.c_str());
        return false;
    }
    drive::WriteCsv(file, data);
    return std::fclose(file) == 0;
}

void PrintTable(const std::vector<Row>& rows)
{
    int manoeuvreWidth = 9;
    int figureWidth = 6;
    for (const Row& row : rows) {
        manoeuvreWidth = std::max(manoeuvreWidth, static_cast<int>(row.manoeuvre.size()));
        figureWidth = std::max(figureWidth, static_cast<int>(row.figure.name.size()));
    }
    std::printf("%-*s  %-*s  %11s  %s\n", manoeuvreWidth, "manoeuvre", figureWidth, "figure", "value", "unit");
    for (const Row& row : rows) {
        const drive::Figure& figure = row.figure;
        std::printf("%-*s  %-*s  ", manoeuvreWidth, row.manoeuvre.c_str(), figureWidth, figure.name.c_str());
        if (std::isnan(figure.value)) {
            std::printf("%11s  %s\n", "not reached", figure.unit.c_str());
        } else {
            std::printf("%11.3f  %s\n", figure.value, figure.unit.c_str());
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    fs::path folder = "report";
    bool folderGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "orvo-drive: unknown option '%s' (see --help)\n", argv[i]);
            return 2;
        }
        if (folderGiven) {
            std::fprintf(stderr, "orvo-drive: one output folder only, got '%s' and '%s'\n", folder.c_str(), argv[i]);
            return 2;
        }
        folder = argument;
        folderGiven = true;
    }

    for (const char* image : kImages) {
        if (!fs::is_regular_file(image)) {
            std::fprintf(stderr, "orvo-drive: %s not found; run from the project root\n", image);
            return 1;
        }
    }
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "orvo-drive: cannot create %s: %s\n", folder.c_str(), error.message().c_str());
        return 1;
    }

    // No window: the dummy video driver with the software renderer, whatever the caller's
    // environment asks for.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_RENDER_DRIVER", "software", 1);
    orvo::Init();
    orvo::Game game(8, 3);
    game.SetMaximizedViewport(1.777777f);

    std::vector<drive::Manoeuvre> runs;
    const auto run = [&runs](RaceState& race, const char* name, drive::Manoeuvre (*manoeuvre)(RaceState&)) {
        std::fprintf(stderr, "running %s...\n", name);
        runs.push_back(manoeuvre(race));
    };
    {
        // Braking starts where the acceleration run ends.
        RaceState race(&game);
        run(race, "acceleration", drive::Accelerate);
        run(race, "braking", drive::Brake);
    }
    const std::pair<const char*, drive::Manoeuvre (*)(RaceState&)> fromRest[] = {
        {"reversing", drive::Reverse}, {"cornering", drive::CornerSteadily}, {"step steer", drive::SteerStep}};
    for (const auto& [name, manoeuvre] : fromRest) {
        RaceState race(&game);
        run(race, name, manoeuvre);
    }
    std::fprintf(stderr, "running tyre curves...\n");
    const drive::TyreCurves curves = drive::SampleTyreCurves();

    std::vector<Row> rows;
    for (const drive::Manoeuvre& manoeuvre : runs) {
        if (!WriteCsvFile(folder / (manoeuvre.name + ".csv"), manoeuvre.trace)) {
            return 1;
        }
        for (const drive::Figure& figure : manoeuvre.figures) {
            rows.push_back({manoeuvre.name, figure});
        }
    }
    if (!WriteCsvFile(folder / "tyre-curves.csv", curves.samples)) {
        return 1;
    }
    for (const drive::Figure& figure : curves.figures) {
        rows.push_back({"tyre curves", figure});
    }
    PrintTable(rows);

    orvo::Exit();
    return 0;
}
