#include "simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "command_input.h"
#include "command_log.h"
#include "control_requests.h"
#include "control_server.h"
#include "pty_link.h"
#include "q1_dialect.h"
#include "reply_mode.h"
#include "sec_dialect.h"
#include "sec_input.h"
#include "state_file.h"
#include "ups_state.h"

namespace upssim {
namespace {

// Longest sleep between looks at the clock, even with no timer running.
constexpr int kMaxPollMs = 1000;

// Termination signals arrive as readable data on a descriptor, so the loop ends in its
// own time and every destructor (symlink, socket) runs.
UniqueFd termination_signals(std::string& error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        error = std::string("sigprocmask: ") + std::strerror(errno);
        return {};
    }
    UniqueFd fd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!fd.valid()) error = std::string("signalfd: ") + std::strerror(errno);
    return fd;
}

int poll_timeout(const UpsState& ups, TimePoint now) {
    const auto deadline = ups.next_deadline();
    if (!deadline) return kMaxPollMs;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, kMaxPollMs));
}

class Simulator {
  public:
    explicit Simulator(const Options& options)
        : options_(options),
          ups_(options.time_scale),
          requests_(ups_, replies_, control_log_),
          state_file_(options.state_file) {}

    bool start(std::string& error);
    void run();

  private:
    void serve_serial();
    void serve_sec();

    const Options& options_;
    UniqueFd signals_;
    CommandLog log_;
    CommandLog control_log_;
    PtyLink pty_;
    ControlServer control_;
    UpsState ups_;
    ReplyShaper replies_;
    ControlRequests requests_;
    CommandInput input_;
    SecInput sec_input_;
    SecDialect sec_;
    StateFile state_file_;
};

bool Simulator::start(std::string& error) {
    signals_ = termination_signals(error);
    if (!signals_.valid()) return false;
    if (!options_.log.empty() && !log_.open(options_.log, error)) return false;
    if (!options_.control_log.empty() && !control_log_.open(options_.control_log, error))
        return false;
    if (!pty_.open(options_.link, error)) return false;
    if (!options_.control.empty() && !control_.open(options_.control, error)) return false;
    state_file_.update(ups_, replies_.mode());
    std::printf("upssim: ready %s -> %s\n", options_.link.c_str(), pty_.slave_path().c_str());
    std::fflush(stdout);
    return true;
}

void Simulator::run() {
    std::vector<pollfd> fds;
    const ControlServer::Handler answer = [this](std::string_view request) {
        return requests_.answer(request, Clock::now());
    };
    while (!requests_.quit_requested()) {
        const TimePoint now = Clock::now();
        ups_.tick(now);
        state_file_.update(ups_, replies_.mode());

        fds.clear();
        fds.push_back({signals_.get(), POLLIN, 0});
        fds.push_back({pty_.master(), POLLIN, 0});
        if (control_.is_open()) control_.add_poll_fds(fds);

        if (::poll(fds.data(), fds.size(), poll_timeout(ups_, now)) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "upssim: poll: %s\n", std::strerror(errno));
            return;
        }
        if (fds[0].revents & POLLIN) return;
        if (fds[1].revents & POLLIN) serve_serial();
        if (control_.is_open()) control_.service(&fds[2], answer);
    }
    control_.flush();
}

void Simulator::serve_serial() {
    if (options_.dialect == Dialect::sec) return serve_sec();
    for (const std::string& line : input_.feed(pty_.read_available())) {
        log_.append(line);
        const Outcome outcome = handle_command(command_text(line), ups_, Clock::now());
        if (outcome.kind == Outcome::Kind::query) pty_.send(replies_.shape(outcome.reply));
    }
}

void Simulator::serve_sec() {
    for (const std::string& message : sec_input_.feed(pty_.read_available())) {
        log_.append(message);
        const Outcome outcome = sec_.handle(message, ups_, Clock::now());
        if (outcome.kind == Outcome::Kind::query) pty_.send(replies_.shape_sec(outcome.reply));
    }
}

}  // namespace

int run_simulator(const Options& options) {
    // A control client that hangs up early must not end the simulator.
    ::signal(SIGPIPE, SIG_IGN);
    Simulator simulator(options);
    std::string error;
    if (!simulator.start(error)) {
        std::fprintf(stderr, "upssim: %s\n", error.c_str());
        return 1;
    }
    simulator.run();
    return 0;
}

}  // namespace upssim
