// The frame's side of the watchers: the NUT server, the metrics endpoint and the webhooks get a
// copy of what the UPS said, published from the frame's thread; they never call back into the
// frame except through its message queue.
#include <chrono>
#include <cstdio>
#include <thread>

#include "frame_reactions.h"
#include "main_frame.h"
#include "ups_lib/trace.h"
#include "watch/notify/secure_mail.h"

namespace torvane {

namespace {

using namespace std::chrono_literals;

// How long this system's shutdown waits for the machines that share the UPS to log out of the
// NUT server, counted from when they were told: what upsmon waits for its secondaries.
constexpr auto kSecondariesTime = 15s;

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

void Report(const std::string& line) {
    ups::Trace(line + "\n");
    std::fprintf(stderr, "Torvane: %s\n", line.c_str());
}

}  // namespace

void CMainFrame::ReadWatchSettings() {
    std::vector<std::string> problems;
    watchSettings_ = watch::WatchSettingsFromEnvironment(problems);
    for (const std::string& problem : problems) Report(problem);
}

Mailer CMainFrame::MailerForSettings() const {
    if (watchSettings_.mail.Plain()) return MakeSmtpMailer();
    return watch::MakeSecureMailer(watchSettings_.mail, std::chrono::seconds(30), &mailStopping_);
}

void CMainFrame::OpenWatchers() {
    board_.Update([this](watch::UpsSnapshot& s) { s.startedAt = Now(); });
    PublishSnapshot();
    StartWatchers();
    if (!watchSettings_.webhooks.empty()) {
        webhooks_ = std::make_unique<watch::Webhooks>(
            watchSettings_.webhooks, watch::Webhooks::Options{},
            [](const std::string& url, bool ok, const std::string& why) {
                ups::Trace("Webhook " + url + (ok ? ": sent\n" : ": failed: " + why + "\n"));
            });
    }
}

void CMainFrame::StartWatchers() {
    // An address that is not there yet (the agent starts before the network) is tried again
    // every minute; each problem is reported once.
    auto report = [](std::string& last, const std::string& problem) {
        if (problem != last) Report(problem);
        last = problem;
    };
    if (watchSettings_.nut.enabled && !nut_) {
        auto frame = handle();
        auto server = std::make_unique<watch::NutServer>(
            board_, watch::NutAccess{watchSettings_.nutUser, watchSettings_.nutPassword},
            [frame] { frame.Post(kWmForcedShutdown); });
        std::string problem;
        if (server->Start(watchSettings_.nut, problem)) {
            nut_ = std::move(server);
            nutProblem_.clear();
        } else {
            report(nutProblem_, "no NUT server: " + problem);
        }
    }
    if (watchSettings_.http.enabled && !metrics_) {
        auto server = std::make_unique<watch::MetricsServer>(board_);
        std::string problem;
        if (server->Start(watchSettings_.http, problem)) {
            metrics_ = std::move(server);
            metricsProblem_.clear();
        } else {
            report(metricsProblem_, "no metrics endpoint: " + problem);
        }
    }
}

void CMainFrame::CloseWatchers() {
    nut_.reset();
    metrics_.reset();
    webhooks_.reset();
}

void CMainFrame::PublishSnapshot() {
    const ups::UPSStatusValues status = ups_->Status();
    ups::UPSBasicValues basic = ups_->BasicInfo();
    basic.company = Trimmed(basic.company);
    basic.model = Trimmed(basic.model);
    basic.version = Trimmed(basic.version);
    const ups::UPSRatingValues rating = ups_->RatingInfo();
    const UpsView view = View();
    const bool connected = ups_->IsConnected();
    const std::int64_t now = Now();
    board_.Update([&](watch::UpsSnapshot& s) {
        s.connected = connected;
        s.status = status;
        s.basic = basic;
        s.rating = rating;
        s.acFail = view.ac_fail;
        s.batteryLow = view.battery_low;
        s.selfTest = view.self_test;
        s.boost = view.boost;
        s.buck = view.buck;
        s.bypass = view.bypass;
        s.upsOff = (status.status & ups::kShutdownActive) != 0;
        s.countdownSeconds = countdownLeft_;
        s.updatedAt = now;
    });
}

void CMainFrame::NoteCountdown(int code, int value) {
    if (code == kNotifyCountdownStart || code == kNotifyCountdown) countdownLeft_ = value;
    if (code == kNotifyCountdownStop) countdownLeft_ = 0;
}

void CMainFrame::TellWatchers(watch::EventKind kind, const std::string& text) {
    PublishSnapshot();
    board_.CountEvent(kind);
    if (webhooks_) webhooks_->Post(kind, text, board_.Get());
}

void CMainFrame::ForceSecondariesDown() {
    if (secondariesToldAt_) return;
    secondariesToldAt_ = std::chrono::steady_clock::now();
    board_.Update([](watch::UpsSnapshot& s) { s.forcedShutdown = true; });
    ups::Trace("The machines that share the UPS are told to shut down\n");
}

void CMainFrame::WaitForSecondaries() {
    if (!nut_ || !secondariesToldAt_) return;
    const auto until = *secondariesToldAt_ + kSecondariesTime;
    // On the frame's thread, as the wait for the UPS's confirmation is: a stop request queued
    // meanwhile must not cut this system's shutdown short. The watchers keep seeing the UPS.
    auto published = std::chrono::steady_clock::now();
    while (nut_->Logins() > 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(100ms);
        if (std::chrono::steady_clock::now() - published >= 1s) {
            PublishSnapshot();
            published = std::chrono::steady_clock::now();
        }
    }
    if (nut_->Logins() > 0) {
        ups::Trace("Shutting down with " + std::to_string(nut_->Logins()) +
                   " NUT client(s) still logged in\n");
    }
}

}  // namespace torvane
