// The main frame's side of its clients: control panels over TCP and on this machine (the same
// messages over copy-data), and the UDP event clients. What a client asks for is answered here,
// on the frame's thread, where the records live.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "main_frame.h"
#include "ups_lib/close_info.h"
#include "ups_lib/config_fields.h"
#include "ups_lib/trace.h"

namespace torvane {

namespace {

using ups::link::Direction;
namespace code = ups::link;

// A port from the environment; the default when it is unset, and when it is no port number, with
// a word about it, as a typing slip must not leave the agent unreachable.
std::uint16_t PortFrom(const char* name, std::uint16_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > 65535) {
        std::fprintf(stderr, "Torvane: %s=%s is no port number; %u is used\n", name, text,
                     static_cast<unsigned>(fallback));
        return fallback;
    }
    return static_cast<std::uint16_t>(value);
}

// Every interface unless $TORVANE_LISTEN names one address.
std::string ListenAddress() {
    const char* text = std::getenv("TORVANE_LISTEN");
    return text == nullptr ? std::string() : std::string(text);
}

// What follows the code: the data of a copy-data message.
std::string PayloadOf(const std::vector<std::uint8_t>& message) {
    return std::string(message.begin() + 4, message.end());
}

}  // namespace

std::unique_ptr<platform::CopyDataEndpoint> OpenFrameEndpoint(const CMainFrame& frame) {
    std::string error;
    auto endpoint = platform::CopyDataEndpoint::Open(kFrameTitle, frame.handle(), &error);
    if (!endpoint) {
        ups::Trace("No local link: " + error + "\n");
        std::fprintf(stderr, "Torvane: no link for a control panel on this machine: %s\n",
                     error.c_str());
    }
    return endpoint;
}

void CMainFrame::OpenClientLinks() {
    link_ = std::make_unique<CClientLink>(context(), static_cast<LinkOwner&>(*this));
    udp_ = std::make_unique<CUdpEvents>(
        context(), CUdpEvents::Clock{}, [this] { return UdpState(); },
        [this] { return countdownSeconds_.load(); });
    Listen();
}

void CMainFrame::Listen() {
    if (shuttingDown_) return;  // the clients were let go for good
    const std::string address = ListenAddress();
    std::string problems;
    if (!link_->Listening()) {
        const std::uint16_t port = PortFrom("TORVANE_TCP_PORT", code::kDefaultTcpPort);
        std::string problem;
        if (!link_->Listen(address, port, problem))
            problems = "control panels cannot connect: " + problem;
    }
    if (!udp_->Started()) {
        const std::uint16_t port = PortFrom("TORVANE_UDP_PORT", code::kDefaultUdpPort);
        if (!udp_->Start(address, port)) {
            if (!problems.empty()) problems += "; ";
            problems += "event clients cannot connect: " + udp_->LastError();
        }
    }
    ReportLinkProblem(problems);
}

void CMainFrame::ReportLinkProblem(const std::string& problem) {
    // Tried again every minute, but said only when it changes.
    if (problem == linkProblem_) return;
    linkProblem_ = problem;
    if (problem.empty()) return;
    ups::Trace(problem + "\n");
    std::fprintf(stderr, "Torvane: %s; trying again every minute\n", problem.c_str());
}

std::string CMainFrame::LinkPassword() {
    return config_.agentPassword;
}

CUdpEvents::UpsState CMainFrame::UdpState() const {
    CUdpEvents::UpsState s;
    s.ac_fail = ups_->IsACFail();
    s.battery_low = ups_->IsBatteryLow();
    s.scheduled_shutdown = ups_->ScheduledCountdownActive();
    return s;
}

void CMainFrame::Reply(ClientId client, const std::vector<std::uint8_t>& message) {
    if (client == kLocalClient) {
        std::uint32_t c = 0;
        for (int i = 3; i >= 0; --i) c = c << 8 | message[static_cast<std::size_t>(i)];
        local_.Send(c, PayloadOf(message));
    } else {
        link_->Send(client, message);
    }
}

void CMainFrame::Broadcast(const std::vector<std::uint8_t>& message) {
    Reply(kLocalClient, message);
    link_->SendAll(message);
}

void CMainFrame::BroadcastCodes(const Reaction& r) {
    for (int c : r.link_codes) {
        switch (c) {
            case kLinkStatus: {
                ups::CUPSStatus record;
                record.Set(ups_->Status());
                Broadcast(code::EncodeRecord(c, record));
                break;
            }
            case kLinkBasicInfo: {
                ups::CUPSBasicInfo record;
                record.Set(ups_->BasicInfo());
                Broadcast(code::EncodeRecord(c, record));
                break;
            }
            case kLinkRatingInfo: {
                ups::CUPSRatingInfo record;
                record.Set(ups_->RatingInfo());
                Broadcast(code::EncodeRecord(c, record));
                break;
            }
            case kLinkCountdown:
                Broadcast(code::EncodeNumber(c, r.countdown_seconds));
                break;
            default:
                Broadcast(code::Encode(c));
                break;
        }
    }
}

void CMainFrame::SendState(ClientId client) {
    if (ups_->IsConnected()) {
        Reply(client, code::Encode(code::kConnected));
        for (int c : StateBurst(View())) Reply(client, code::Encode(c));
        ups::CUPSBasicInfo basic;
        basic.Set(ups_->BasicInfo());
        Reply(client, code::EncodeRecord(code::kBasicInfo, basic));
        ups::CUPSRatingInfo rating;
        rating.Set(ups_->RatingInfo());
        Reply(client, code::EncodeRecord(code::kRatingInfo, rating));
    } else {
        Reply(client, code::Encode(code::kNotConnected));
    }
    // The report of the last closing goes out once, to the first panel that comes; a panel can
    // still ask for it while the file holds it.
    if (config_.closeApps != 0 && ups::CCloseInfo::ShowMsg(ups::CCloseInfo::DefaultFile()) != 0) {
        ups::CCloseInfo info;
        info.Load();
        if (!info.IsEmpty()) Reply(client, code::EncodeRecord(code::kCloseInfo, info));
    }
}

void CMainFrame::OnClientAccepted(ClientId client) {
    SendState(client);
}

void CMainFrame::OnClientMessage(ClientId client, ups::link::Message& message) {
    switch (message.code) {
        case code::kGetConfig:
            if (client != kLocalClient && link_->ReadOnly(client)) {
                // Anyone may watch while no password is set; the one set later is not theirs.
                ups::CConfig shown = config_;
                shown.agentPassword.clear();
                Reply(client, code::EncodeRecord(code::kConfig, shown));
            } else {
                Reply(client, code::EncodeRecord(code::kConfig, config_));
            }
            break;
        case code::kConfig:
            if (auto* record = message.As<ups::CConfig>()) {
                // Whoever sent it, a value the agent cannot work with is never stored: a delay
                // of 0 minutes or a warning every second would be worse than the old record.
                if (const std::string problem = ups::ConfigProblem(*record); !problem.empty()) {
                    ups::Trace("Configuration refused: " + problem + "\n");
                    break;
                }
                const bool newPassword = record->agentPassword != config_.agentPassword;
                {
                    std::lock_guard lock(recordsMutex_);
                    config_ = *record;
                }
                // Whoever logged on under the old password logs on again under the new one.
                if (newPassword) link_->DropAll();
                if (!config_.Store()) ups::Trace("The configuration could not be saved\n");
                ups_->SetDelays(config_.acFailDelay, config_.batteryLowDelay,
                                config_.scheduleWarnTime);
                Connect();
            }
            break;
        case code::kGetMsgTab:
            Reply(client, code::EncodeRecord(code::kMsgTab, msgTab_));
            break;
        case code::kMsgTab:
            if (auto* record = message.As<ups::CMsgTab>()) {
                {
                    std::lock_guard lock(recordsMutex_);
                    msgTab_ = *record;
                }
                if (!msgTab_.Store()) ups::Trace("The notification texts could not be saved\n");
            }
            break;
        case code::kGetEventLog:
            eventLog_->ReadAll();
            Reply(client, code::EncodeRecord(code::kEventLog, *eventLog_));
            break;
        case code::kClearEventLog:
            eventLog_->Clear();
            break;
        case code::kGetSchedule:
            Reply(client, code::EncodeRecord(code::kSchedule, schedule_));
            break;
        case code::kSchedule:
            if (auto* record = message.As<ups::CSchedule>()) {
                if (const std::string problem = ups::ScheduleProblem(*record); !problem.empty()) {
                    ups::Trace("Schedule refused: " + problem + "\n");
                    break;
                }
                schedule_.CopyFrom(*record);  // under the schedule's own lock
                if (!schedule_.WriteAll()) ups::Trace("The schedule could not be saved\n");
            }
            break;
        case code::kGetDataLog:
            dataLog_->ReadAll();
            Reply(client, code::EncodeRecord(code::kDataLog, *dataLog_));
            break;
        case code::kClearDataLog:
            dataLog_->Clear();
            break;
        case code::kToggleBeeper:
            ups_->ToggleBeeper();
            break;
        case code::kTest10s:
            ups_->StartTest(0);
            break;
        case code::kTestToLow:
            ups_->StartTest(-1);
            break;
        case code::kTestMinutes:
            ups_->StartTest(message.number);
            break;
        case code::kCancelTest:
            ups_->CancelTest();
            break;
        case code::kCloseInfo: {
            ups::CCloseInfo info;
            info.Load();
            Reply(client, code::EncodeRecord(code::kCloseInfo, info));
            break;
        }
        case code::kCloseAndShutDown:
            handle().Post(kWmCloseAndShutDown);
            break;
        default:
            break;  // what only the agent sends, or a newer client's codes
    }
}

std::intptr_t CMainFrame::OnCopyData(const platform::CopyDataMessage& data) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data.data());
    if (data.identifier == code::kPassword) {
        // A panel may send its window's handle with it; this link finds the panel by its title.
        if (shuttingDown_) return 0;
        local_.Register();
        SendState(kLocalClient);
        return 1;
    }
    ups::link::Message message;
    if (!ups::link::DecodePayload(Direction::ToAgent, static_cast<std::int32_t>(data.identifier),
                                  std::span(bytes, data.data.size()), message)) {
        ups::Trace("Get copy data error\n");
        return 0;
    }
    if (message.code == code::kGoodbye) {
        local_.Forget();
    } else {
        // Only this user or root can reach the endpoint: no password on this link.
        OnClientMessage(kLocalClient, message);
    }
    return 1;
}

void CMainFrame::DropClients() {
    local_.Forget();
    link_->CloseAll();
}

}  // namespace torvane
