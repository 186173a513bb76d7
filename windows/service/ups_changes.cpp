#include "ups_changes.h"

namespace torvane {

ChangeOutcome ChangeDetector::OnStatusParsed(const ChangeInput& input) {
    using ups::kBatteryLowBit, ups::kBeeperOn, ups::kBoostBuckBypass, ups::kSelfTestRunning,
        ups::kShutdownActive, ups::kStandbyType, ups::kUpsFailed, ups::kUtilityFail;
    ChangeOutcome out;
    Reactions& r = out.reactions;
    const std::uint8_t now = input.status.status;
    const std::uint8_t changed = now ^ previous_;
    const auto isSet = [&](std::uint8_t bit) { return (now & bit) != 0; };
    const auto hasChanged = [&](std::uint8_t bit) { return (changed & bit) != 0; };

    r.Post(kNotifyStatus);

    // The style is told once; a UPS does not change its type, so later flips of the bit are
    // read as noise and stay quiet.
    if (!firstSeen_) {
        firstSeen_ = true;
        if (isSet(kStandbyType)) {
            r.Post(kNotifyStandby);
            r.Trace("UPS style is standby\n");
        } else {
            r.Post(kNotifyOnline);
            r.Trace("UPS style is on_line\n");
        }
    }

    if (hasChanged(kBeeperOn)) {
        if (isSet(kBeeperOn)) {
            r.Post(kNotifyBeeperOn);
            r.Trace("UPS beep on\n");
        } else {
            r.Post(kNotifyBeeperOff);
            r.Trace("UPS beep off\n");
        }
    }

    if (isSet(kShutdownActive) && input.shutdownCommandSent) out.commands.shutdownConfirmed = true;
    if (hasChanged(kShutdownActive)) {
        if (isSet(kShutdownActive)) {
            r.Post(kNotifyUpsShutdown);
            r.Trace("UPS is in shutdown process\n");
        } else {
            r.Post(kNotifyUpsShutdownAborted);
            r.Trace("UPS abort shutdown\n");
        }
    }

    if (isSet(kSelfTestRunning) && input.selfTestCommandSent) out.commands.selfTestConfirmed = true;
    if (hasChanged(kSelfTestRunning)) {
        if (isSet(kSelfTestRunning)) {
            r.Post(kNotifyTestStarted);
            r.Trace("UPS is testing\n");
            out.commands.selfTestStarted = true;
        } else {
            r.Post(kNotifyTestDone);
            r.Trace("UPS test complete\n");
        }
    }

    if (hasChanged(kUpsFailed)) {
        if (isSet(kUpsFailed)) {
            r.Post(kNotifyUpsFailed);
            r.Trace("UPS fail,may got a bad one\n");
        } else {
            r.Post(kNotifyUpsGood);
            r.Trace("UPS from bad one become good ups\n");
        }
    }

    // A standby UPS that boosts or bucks is told on every status, so the owner's picture
    // follows the input voltage as long as the correction lasts.
    if (isSet(kBoostBuckBypass) && isSet(kStandbyType)) {
        if (input.status.inputVoltage < input.status.outputVoltage) {
            boost_ = true;
            r.Post(kNotifyBoost);
            r.Trace("UPS(Style:Standby) detect input power low and boost power\n");
        } else {
            buck_ = true;
            r.Post(kNotifyBuck);
            r.Trace("UPS(Style:Standby) detect input power high and buck power\n");
        }
    }

    if (hasChanged(kBoostBuckBypass)) {
        if (isSet(kBoostBuckBypass)) {
            if (!isSet(kStandbyType)) {
                bypass_ = true;
                r.Post(kNotifyBypass);
                r.Trace("UPS(Style:Online) bypass ac power directly\n");
            }
        } else if (isSet(kStandbyType)) {
            boost_ = false;
            buck_ = false;
            r.Post(kNotifyBoostBuckEnded);
            r.Trace("UPS(Style:Standby) ac power had normally. So don't need collimate power\n");
        } else {
            bypass_ = false;
            r.Post(kNotifyBypassEnded);
            r.Trace("UPS(Style:Online) do not bypass ac power\n");
        }
    }

    if (hasChanged(kBatteryLowBit)) {
        if (isSet(kBatteryLowBit)) {
            batteryLowTime_ = input.now;
            r.Post(kNotifyBatteryLow);
            r.Trace("UPS battery low\n");
        } else {
            r.Post(kNotifyBatteryRecovered);
            r.Trace("UPS battery low recovered\n");
        }
    }

    if (hasChanged(kUtilityFail)) {
        if (isSet(kUtilityFail)) {
            acFailTime_ = input.now;
            r.Post(kNotifyAcFail);
            r.Trace("UPS ac fail\n");
        } else {
            r.Post(kNotifyAcRestored);
            r.Trace("UPS ac fail recovered\n");
        }
    }

    previous_ = now;
    return out;
}

}  // namespace torvane
