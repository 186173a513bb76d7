// The status screen's cost per pass, in process: read the three status files, parse them, draw
// both panes and send the changes to a terminal (here /dev/null, as an xterm). Run:
//   build/bench/console/status_pass_bench
#include <benchmark/benchmark.h>
#include <curses.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "screen_data.h"
#include "status_draw.h"
#include "status_source.h"

namespace {

class Terminal {
  public:
    Terminal() {
        setenv("LINES", "24", 1);
        setenv("COLUMNS", "80", 1);
        out_ = std::fopen("/dev/null", "w");
        in_ = std::fopen("/dev/null", "r");
        screen_ = newterm("xterm", out_, in_);
        set_term(screen_);
    }
    ~Terminal() {
        endwin();
        delscreen(screen_);
        std::fclose(out_);
        std::fclose(in_);
    }

  private:
    std::FILE* out_;
    std::FILE* in_;
    SCREEN* screen_;
};

class Root {
  public:
    Root() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "kelvora-bench-XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
        setenv("KELVORA_ROOT", dir_.c_str(), 1);
        Write("kelvora.q1", "(230.4 190.0 229.8 023 50.1 13.6 25.0 10000000\r");
        Write("kelvora.mdl", "#Stavlen         SIM-1000   1.0       \r");
        Write("kelvora.rtg", "#230.0 004 24.00 50.0\r");
    }
    ~Root() { std::filesystem::remove_all(dir_); }

  private:
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::string dir_;
};

void BM_StatusPass(benchmark::State& state) {
    Root root;
    Terminal terminal;
    UpsConfig config;
    WeekSchedule week;
    InitConfig(&config, &week);
    ScreenData data;
    int flag = 0;
    GetFromConfig(data, config, week, flag);
    DrawState draw;
    int failures = 0;
    for (auto _ : state) {
        GetData(data, failures);
        DrawScreen(data, flag, true, draw);
        wrefresh(stdscr);
    }
}
BENCHMARK(BM_StatusPass)->MeasureProcessCPUTime()->UseRealTime();

void BM_ParseOnly(benchmark::State& state) {
    ScreenData data;
    for (auto _ : state) {
        InitScreenData(data);
        GetFromQ1(data, "(230.4 190.0 229.8 023 50.1 13.6 25.0 10000000");
        GetFromF(data, "#230.0 004 24.00 50.0");
        GetFromI(data, "#Stavlen         SIM-1000   1.0       ");
        benchmark::DoNotOptimize(data);
    }
}
BENCHMARK(BM_ParseOnly);

}  // namespace

BENCHMARK_MAIN();
