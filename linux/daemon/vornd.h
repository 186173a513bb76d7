// vornd: owns the UPS connection, polls it, publishes what it says and carries out the
// console's requests. Single-threaded; it ends only when asked to stop or by shutting down.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "config.h"
#include "daemon_events.h"
#include "daemon_queues.h"
#include "file_util.h"
#include "instance_lock.h"
#include "msgq.h"
#include "state_machine.h"
#include "status_files.h"

class Vornd {
  public:
    // Runs the daemon; returns the process's exit status.
    int Run(int argc, char** argv);

  private:
    enum class LoopEnd { kReconnect, kStop };

    bool TakeInstanceLock();
    void StartUp();
    bool Initializers();  // false: a stop request arrived, or the system was shut down
    int InitUPS();
    int TryPort(const char* path, bool is_fallback);
    bool StillWaiting();
    int GetUPSStatus(std::string& reply);
    int GetSnmpStatus(std::string& reply);
    void QueryModelAndRating();
    LoopEnd PollLoop();
    bool RetryConfigWrite();
    void DoIssCmnds();
    int DoRdWrtConfig();
    void HandOverAgent();
    int GetShutdownCmd();
    bool DebugEcho();
    void Heartbeat(std::string_view text);
    void CreateQueues();
    void CreateQueuesAtStart();
    void KeepQueuesAndLock();
    void ReclaimQueues();
    void RemoveQueues();
    void CloseSerial();
    void ClosePort();
    void ProcStop();
    void BlankStatusFiles();
    ShutdownContext ShutdownContextNow();

    kelvora::InstanceLock lock_;
    long long locked_at_ = 0;  // when the lock was taken: control messages older are stale
    UpsConfig config_{};
    WeekSchedule schedule_{};
    bool config_unsaved_ = false;  // the files could not be written; monitoring goes on
    int ups_ = -1;
    bool port_open_ = false;  // ups_ is a serial descriptor of ours (in SNMP mode it is 1)
    StatusBlock block_;
    std::string shutdown_cmd_;
    DaemonQueues queues_;
    int64_t next_shutdown_ = -1;
    int32_t restart_minutes_ = -1;
    int32_t schedule_day_ = -1;
    bool connected_ = true;
    StatusFile status_file_;
    kelvora::FilePtr debug_switch_;
    int debug_retry_in_ = 0;  // polls until the next look for a missing debug switch
    int keep_check_in_ = 0;   // polls until the next look at the queues and the lock file
    DaemonEvents events_;
    PowerStateMachine machine_{[] { return static_cast<int64_t>(std::time(nullptr)); }, events_};
};
